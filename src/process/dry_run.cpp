#include "process/dry_run.h"

#include <cstdio>

namespace {

bool is_safe_byte(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ',' ||
           c == '-' || c == '.' || c == '/' || c == ':' || c == '=' || c == '_';
}

// In command position a bare NAME=value word is taken as an assignment and a bare reserved
// word opens a compound command, so a pasted line would not run the program it names.
bool misread_as_command(std::string_view word) {
    static constexpr std::string_view reserved[] = {
        "case",      "coproc", "do",     "done",    "elif",     "else",  "end",
        "esac",      "fi",     "for",    "foreach", "function", "if",    "in",
        "nocorrect", "repeat", "select", "then",    "time",     "until", "while"};
    for (const std::string_view r : reserved) {
        if (word == r) {
            return true;
        }
    }
    const std::size_t equals = word.find('=');
    if (equals == std::string_view::npos || equals == 0 || (word[0] >= '0' && word[0] <= '9')) {
        return false;
    }
    for (const char c : word.substr(0, equals)) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '_')) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string shell_quote(std::string_view element) {
    bool safe = !element.empty();
    for (const char c : element) {
        safe = safe && is_safe_byte(c);
    }
    if (safe) {
        return std::string{element};
    }
    std::string quoted = "'";
    for (const char c : element) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += '\'';
    return quoted;
}

std::string shell_command_line(const FfmpegArgv& argv) {
    std::string line;
    for (std::size_t index = 0; index < argv.size(); ++index) {
        if (index > 0) {
            line += ' ';
        }
        const std::string word = shell_quote(argv[index]);
        if (index == 0 && word == argv[index] && misread_as_command(word)) {
            line += "'" + word + "'"; // a bare word holds no apostrophe to escape
        } else {
            line += word;
        }
    }
    return line;
}

void print_shell_command(const FfmpegArgv& argv) {
    const std::string line = shell_command_line(argv);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

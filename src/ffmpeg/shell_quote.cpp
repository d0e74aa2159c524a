#include "ffmpeg/shell_quote.h"

namespace {

bool is_safe_byte(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ',' ||
           c == '-' || c == '.' || c == '/' || c == ':' || c == '=' || c == '_';
}

// In command position a bare word with '=' may be taken as an assignment (NAME=value, in any
// POSIX shell) and a reserved word opens a compound command, so a pasted line would not run the
// program it names.
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
    return word.find('=') != std::string_view::npos;
}

} // namespace

std::string shell_quote(std::string_view element) {
    // zsh expands a word that begins with '=' to the path of a command of that name.
    bool safe = !element.empty() && !element.starts_with('=');
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

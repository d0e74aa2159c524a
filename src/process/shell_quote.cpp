#include "process/shell_quote.h"

#include <cstdio>

namespace {

bool is_safe_byte(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ',' ||
           c == '-' || c == '.' || c == '/' || c == ':' || c == '=' || c == '_';
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
        line += shell_quote(argv[index]);
    }
    return line;
}

void print_shell_command(const FfmpegArgv& argv) {
    const std::string line = shell_command_line(argv);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

#include "live/live_lines.h"

std::string live_line(std::string_view text) {
    std::string line = "Live: ";
    line += text;
    return line + '\n';
}

std::string live_duration(std::chrono::steady_clock::duration duration) {
    const long total = std::chrono::duration_cast<std::chrono::seconds>(duration).count();
    const auto two_digits = [](long value) {
        return (value < 10 ? "0" : "") + std::to_string(value);
    };
    if (total < 60) {
        return std::to_string(total) + "s";
    }
    if (total < 3600) {
        return std::to_string(total / 60) + "m" + two_digits(total % 60) + "s";
    }
    return std::to_string(total / 3600) + "h" + two_digits(total % 3600 / 60) + "m";
}

std::string plural(long long count, std::string_view word) {
    std::string text = std::to_string(count);
    text += ' ';
    text += word;
    return count == 1 ? text : text + 's';
}

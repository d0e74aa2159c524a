#include "ffmpeg/log_line.h"

#include <algorithm>

LogLine read_log_line(std::string_view line) {
    const std::size_t end = line.find("] ");
    const std::size_t at = line.substr(0, end).find(" @ ");
    if (!line.starts_with('[') || end == std::string_view::npos || at == std::string_view::npos) {
        return {{}, line};
    }
    return {line.substr(1, at - 1), line.substr(end + 2)};
}

bool from_avfoundation(const LogLine& line) {
    constexpr std::string_view name = "avfoundation";
    return line.context.empty() ||
           (line.context.size() >= name.size() &&
            std::equal(name.begin(), name.end(), line.context.begin(),
                       [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? b + 32 : b); }));
}

#include "ffmpeg/log_line.h"

#include <algorithm>
#include <charconv>

namespace {

bool starts_with_ignoring_case(std::string_view text, std::string_view lower_case_start) {
    return text.size() >= lower_case_start.size() &&
           std::equal(lower_case_start.begin(), lower_case_start.end(), text.begin(),
                      [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? b + 32 : b); });
}

// "in#0", "in#12": how FFmpeg 8.1 and later name an input in its log.
bool names_an_input(std::string_view context) {
    constexpr std::string_view prefix = "in#";
    return context.size() > prefix.size() && context.starts_with(prefix) &&
           context.find_first_not_of("0123456789", prefix.size()) == std::string_view::npos;
}

} // namespace

LogLine read_log_line(std::string_view line) {
    const std::size_t end = line.find("] ");
    const std::size_t at = line.substr(0, end).find(" @ ");
    if (!line.starts_with('[') || end == std::string_view::npos || at == std::string_view::npos) {
        return {{}, line};
    }
    return {line.substr(1, at - 1), line.substr(end + 2)};
}

std::optional<int> repeats_of_last_line(std::string_view line) {
    constexpr std::string_view before = "Last message repeated ";
    constexpr std::string_view after = " times";
    const std::size_t start = line.find_first_not_of(' ');
    if (start == std::string_view::npos || !line.substr(start).starts_with(before) ||
        !line.ends_with(after)) {
        return std::nullopt;
    }
    const std::string_view count =
        line.substr(start + before.size(), line.size() - start - before.size() - after.size());
    int repeats = 0;
    const auto [end, error] = std::from_chars(count.data(), count.data() + count.size(), repeats);
    return error == std::errc{} && end == count.data() + count.size() && repeats > 0
               ? std::optional<int>{repeats}
               : std::nullopt;
}

bool from_avfoundation(const LogLine& line) {
    return line.context.empty() || starts_with_ignoring_case(line.context, "avfoundation") ||
           names_an_input(line.context);
}

#include "config/targets.h"

#include "config/text_file.h"
#include "core/options.h"
#include "core/utf8.h"

#include <array>
#include <cstdio>
#include <string>

namespace {

constexpr std::array<std::string_view, 3> target_schemes{"rtmp://", "rtmps://", "srt://"};

bool has_target_scheme(std::string_view url) {
    for (const std::string_view scheme : target_schemes) {
        if (url.starts_with(scheme)) {
            return true;
        }
    }
    return false;
}

} // namespace

bool add_target(StudioOptions& options, std::string_view url, std::string_view label) {
    if (url.empty()) {
        return true;
    }
    if (!has_target_scheme(url)) {
        std::fprintf(stderr, "Target must start with rtmp://, rtmps://, or srt://: %s\n",
                     terminal_safe(url).c_str());
        return false;
    }
    // '|' separates outputs and ']' closes an output's options in FFmpeg's tee list.
    if (url.find_first_of("|]") != std::string_view::npos) {
        std::fputs("Target URL cannot contain pipe or closing bracket characters.\n", stderr);
        return false;
    }
    if (options.targets.size() >= static_cast<std::size_t>(max_targets)) {
        report_too_many_targets();
        return false;
    }
    options.targets.push_back({std::string{url}, std::string{label}});
    return true;
}

void report_too_many_targets() {
    std::fprintf(stderr, "Too many targets. Maximum is %d.\n", max_targets);
}

std::string_view target_from_line(std::string_view trimmed_line) {
    const std::size_t equals = trimmed_line.find('=');
    const std::size_t scheme_mark = trimmed_line.find("://");
    if (equals != std::string_view::npos && scheme_mark != std::string_view::npos &&
        scheme_mark > equals) {
        return trim_whitespace(trimmed_line.substr(equals + 1));
    }
    return trimmed_line;
}

bool load_target_file(StudioOptions& options) {
    const std::string& path = options.target_file;
    if (path.empty()) {
        return true;
    }
    const FileHandle file = open_text_file(path, "target file");
    if (!file) {
        return false;
    }
    LineReader reader{file.get()};
    while (const auto line = reader.next()) {
        if (is_blank_or_comment(*line)) {
            continue;
        }
        const std::string_view url = target_from_line(*line);
        const std::string_view label =
            url.size() == line->size() ? "" : trim_whitespace(line->substr(0, line->find('=')));
        if (!add_target(options, url, label)) {
            std::fprintf(stderr, "Invalid target on line %lu of %s.\n", reader.line_number(),
                         terminal_safe(path).c_str());
            return false;
        }
    }
    return true;
}

#include "config/targets.h"

#include "config/text_file.h"
#include "core/options.h"
#include "core/utf8.h"

#include <array>
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

std::optional<Failure> add_target(StudioOptions& options, std::string_view url,
                                  std::string_view label) {
    if (url.empty()) {
        return std::nullopt;
    }
    if (!has_target_scheme(url)) {
        return Failure{
            "Target must start with rtmp://, rtmps://, or srt://: " + terminal_safe(url) + "\n"};
    }
    // '|' separates outputs and ']' closes an output's options in FFmpeg's tee list.
    if (url.find_first_of("|]") != std::string_view::npos) {
        return Failure{"Target URL cannot contain pipe or closing bracket characters.\n"};
    }
    if (options.targets.size() >= static_cast<std::size_t>(max_targets)) {
        return too_many_targets();
    }
    options.targets.push_back({std::string{url}, std::string{label}});
    return std::nullopt;
}

Failure too_many_targets() {
    return Failure{"Too many targets. Maximum is " + std::to_string(max_targets) + ".\n"};
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

std::optional<Failure> load_target_file(StudioOptions& options) {
    const std::string& path = options.target_file;
    if (path.empty()) {
        return std::nullopt;
    }
    const auto take = [&](std::string_view line, unsigned long) {
        const std::string_view url = target_from_line(line);
        const std::string_view label =
            url.size() == line.size() ? "" : trim_whitespace(line.substr(0, line.find('=')));
        return add_target(options, url, label);
    };
    return read_text_lines(path, "target file", take, [&](unsigned long number) {
        return "Invalid target on line " + std::to_string(number) + " of " + terminal_safe(path) +
               ".\n";
    });
}

#include "live/ffmpeg_progress.h"

#include <charconv>
#include <cstdlib>
#include <string>

namespace {

// The value after "name=" (FFmpeg pads numbers with spaces after the '='), up to the next space.
std::optional<std::string_view> field(std::string_view line, std::string_view name) {
    for (std::size_t at = line.find(name); at != std::string_view::npos;
         at = line.find(name, at + 1)) {
        if ((at == 0 || line[at - 1] == ' ') && line.substr(at + name.size()).starts_with('=')) {
            std::string_view value = line.substr(at + name.size() + 1);
            value.remove_prefix(std::min(value.find_first_not_of(' '), value.size()));
            return value.substr(0, value.find(' '));
        }
    }
    return std::nullopt;
}

std::optional<long long> whole(std::optional<std::string_view> text) {
    long long value = 0;
    if (!text || text->empty() ||
        std::from_chars(text->data(), text->data() + text->size(), value).ptr !=
            text->data() + text->size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> decimal(std::optional<std::string_view> text, std::string_view unit = {}) {
    if (!text || !text->ends_with(unit) || text->size() == unit.size()) {
        return std::nullopt;
    }
    const std::string number{text->substr(0, text->size() - unit.size())};
    char* end = nullptr;
    const double value = std::strtod(number.c_str(), &end);
    return end == number.c_str() + number.size() && value >= 0 ? std::optional<double>{value}
                                                               : std::nullopt;
}

} // namespace

std::optional<FfmpegProgress> read_progress_line(std::string_view line) {
    if (!line.starts_with("frame=")) {
        return std::nullopt;
    }
    FfmpegProgress progress;
    progress.frame = whole(field(line, "frame"));
    progress.fps = decimal(field(line, "fps"));
    progress.speed = decimal(field(line, "speed"), "x");
    progress.duplicated = whole(field(line, "dup")).value_or(0);
    progress.dropped = whole(field(line, "drop")).value_or(0);
    return progress;
}

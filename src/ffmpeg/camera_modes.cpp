#include "ffmpeg/camera_modes.h"

#include "ffmpeg/log_line.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// AVFoundation matches a frame rate to a range's top within this.
constexpr double rate_tolerance = 0.01;
// A camera's 29.97 (30000/1001) is a 30 fps rate, 59.94 a 60 and 23.976 a 24: they differ by 0.1%.
constexpr double same_rate_share = 0.001 + 1e-9;

std::optional<int> whole_number(std::string_view text) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::optional<double> rate(std::string_view text) {
    const std::string copy{text};
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    return !copy.empty() && end == copy.c_str() + copy.size() && value > 0 && value < 1000
               ? std::optional<double>{value}
               : std::nullopt;
}

// "WxH", or nothing.
std::optional<std::pair<int, int>> size(std::string_view text) {
    const std::size_t x = text.find('x');
    const auto width = whole_number(text.substr(0, x));
    const auto height =
        x == std::string_view::npos ? std::nullopt : whole_number(text.substr(x + 1));
    return width && height && *width > 0 && *height > 0
               ? std::optional<std::pair<int, int>>{{*width, *height}}
               : std::nullopt;
}

// "1280x720@[1.000000 30.000000]fps": the size and the range's top.
std::optional<CaptureMode> read_offered(std::string_view text) {
    const std::size_t at = text.find("@[");
    const std::size_t space = text.find(' ', at);
    if (at == std::string_view::npos || space == std::string_view::npos ||
        !text.ends_with("]fps")) {
        return std::nullopt;
    }
    const auto dimensions = size(text.substr(0, at));
    const auto top = rate(text.substr(space + 1, text.size() - 4 - space - 1));
    return dimensions && top
               ? std::optional<CaptureMode>{{dimensions->first, dimensions->second, *top}}
               : std::nullopt;
}

} // namespace

void CameraLines::take_line(std::string_view line) {
    const LogLine log = read_log_line(line);
    if (!from_avfoundation(log)) {
        return;
    }
    const std::string_view message = log.message;
    if (message.starts_with("Selected video size (") ||
        message.starts_with("Selected framerate (")) {
        refused_ = message.ends_with(") is not supported by the device.");
        listing_ = false;
    } else if (message == "Falling back to default.") {
        // A muxed (DV) device takes a rate it does not offer as its default one and goes on.
        ignored_ = ignored_ || refused_;
        refused_ = false;
    } else if (message == "Configuration of video device failed, falling back to default.") {
        ignored_ = true;
    } else if (refused_ && message == "Supported modes:") {
        listing_ = true;
    } else if (listing_ && !repeats_of_last_line(message)) {
        const std::size_t start = message.find_first_not_of(' ');
        const auto mode =
            read_offered(start == std::string_view::npos ? "" : message.substr(start));
        if (mode) {
            offered_.push_back(*mode);
        } else {
            listing_ = false;
        }
    }
}

std::optional<CaptureMode> choose_capture_mode(const std::vector<CaptureMode>& offered,
                                               const CaptureMode& wanted) {
    if (offered.empty()) {
        return std::nullopt;
    }
    const auto area = [](const CaptureMode& m) { return static_cast<long>(m.width) * m.height; };
    const auto large_enough = [&](const CaptureMode& m) {
        return m.width >= wanted.width && m.height >= wanted.height;
    };
    const bool any_large_enough = std::any_of(offered.begin(), offered.end(), large_enough);
    // The format: by area, the smallest that is large enough, else the largest of all.
    const CaptureMode* format = nullptr;
    for (const CaptureMode& mode : offered) {
        if (any_large_enough && !large_enough(mode)) {
            continue;
        }
        if (format == nullptr ||
            (any_large_enough ? area(mode) < area(*format) : area(mode) > area(*format))) {
            format = &mode;
        }
    }
    if (format == nullptr) {
        return std::nullopt;
    }
    // Its rate: one that is the wanted rate but for a broadcast rate's 0.1% (29.97 for 30), else
    // the lowest top above the wanted rate, else the highest.
    std::optional<double> same;
    std::optional<double> above;
    double highest = 0;
    for (const CaptureMode& mode : offered) {
        if (mode.width != format->width || mode.height != format->height) {
            continue;
        }
        highest = std::max(highest, mode.fps);
        const double distance = std::abs(mode.fps - wanted.fps);
        if (distance <= wanted.fps * same_rate_share &&
            (!same || distance < std::abs(*same - wanted.fps))) {
            same = mode.fps;
        }
        if (mode.fps > wanted.fps && (!above || mode.fps < *above)) {
            above = mode.fps;
        }
    }
    return CaptureMode{format->width, format->height, same.value_or(above.value_or(highest))};
}

std::string rate_text(double fps) {
    if (std::abs(fps - std::round(fps)) < rate_tolerance / 2) {
        return std::to_string(static_cast<long>(std::round(fps)));
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", fps);
    std::string trimmed = text;
    trimmed.erase(trimmed.find_last_not_of('0') + 1);
    return trimmed;
}

std::string mode_text(const CaptureMode& mode) {
    return std::to_string(mode.width) + "x" + std::to_string(mode.height) + " at " +
           rate_text(mode.fps) + " fps";
}

bool same_rate(double a, double b) {
    return std::abs(a - b) < rate_tolerance;
}

std::string remembered_mode_text(const CaptureMode& mode) {
    return std::to_string(mode.width) + "x" + std::to_string(mode.height) + "@" +
           rate_text(mode.fps);
}

std::optional<CaptureMode> read_remembered_mode(std::string_view text) {
    const std::size_t at = text.find('@');
    const auto dimensions = size(text.substr(0, at));
    const auto fps = at == std::string_view::npos ? std::nullopt : rate(text.substr(at + 1));
    return dimensions && fps
               ? std::optional<CaptureMode>{{dimensions->first, dimensions->second, *fps}}
               : std::nullopt;
}

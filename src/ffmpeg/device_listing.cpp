#include "ffmpeg/device_listing.h"

#include "core/utf8.h"
#include "ffmpeg/log_line.h"

namespace {

// A device line: "[N] name", N being digits.
std::optional<CaptureDevice> read_device(std::string_view line) {
    const std::size_t close = line.find("] ");
    if (!line.starts_with('[') || close == std::string_view::npos || close == 1 ||
        line.substr(1, close - 1).find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    return CaptureDevice{std::string{line.substr(1, close - 1)},
                         std::string{line.substr(close + 2)}};
}

void add_section(std::string& text, std::string_view heading,
                 const std::vector<CaptureDevice>& devices) {
    text += heading;
    for (const CaptureDevice& device : devices) {
        const bool screen = device.name.starts_with("Capture screen ");
        text += "  " + device.index + "  " + terminal_safe(device.name) +
                (screen ? " (screen)\n" : "\n");
    }
    if (devices.empty()) {
        text += "  none\n";
    }
}

} // namespace

std::optional<DeviceListing> read_device_listing(std::string_view ffmpeg_errors) {
    DeviceListing listing;
    std::vector<CaptureDevice>* section = nullptr;
    for (std::size_t at = 0; at < ffmpeg_errors.size();) {
        const std::size_t end = std::min(ffmpeg_errors.find('\n', at), ffmpeg_errors.size());
        std::string_view line = ffmpeg_errors.substr(at, end - at);
        at = end + 1;
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        const LogLine log = read_log_line(line);
        if (!from_avfoundation(log)) {
            continue;
        }
        const std::string_view message = log.message;
        if (message == "AVFoundation video devices:") {
            section = &listing.video;
        } else if (message == "AVFoundation audio devices:") {
            section = &listing.audio;
        } else if (const auto device = read_device(message); device && section != nullptr) {
            section->push_back(*device);
        }
    }
    return section != nullptr ? std::optional<DeviceListing>{listing} : std::nullopt;
}

std::string device_listing_text(const DeviceListing& listing) {
    std::string text;
    add_section(text, "Video devices (--video-input):\n", listing.video);
    add_section(text, "Audio devices (--audio-input):\n", listing.audio);
    return text;
}

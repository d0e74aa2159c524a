#include "ffmpeg/components.h"

#include <algorithm>
#include <array>

namespace {

using enum ComponentKind;

constexpr std::array<Component, 15> component_table{{
    {"avfoundation", input_device, "camera and screen capture"},
    {"h264_videotoolbox", encoder, "VideoToolbox encoding"},
    {"aac", encoder, "audio"},
    {"scale", filter, "fitting the picture to the profile"},
    {"pad", filter, "fitting the picture to the profile"},
    {"drawtext", filter, "text overlays"},
    {"tee", muxer, "several destinations or a recording"},
    {"fifo", muxer, "healing destinations"},
    {"flv", muxer, "RTMP and RTMPS destinations"},
    {"mpegts", muxer, "SRT destinations"},
    {"matroska", muxer, "recording"},
    {"rtmp", protocol, "RTMP destinations"},
    {"rtmps", protocol, "RTMPS destinations"},
    {"srt", protocol, "SRT destinations"},
    {"file", protocol, "recording"},
}};

constexpr std::array<ListingQuery, 6> listing_queries{{
    {"-version", std::nullopt},
    {"-devices", input_device},
    {"-encoders", encoder},
    {"-filters", filter},
    {"-muxers", muxer},
    {"-protocols", protocol},
}};

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> found;
    for (std::size_t at = line.find_first_not_of(" \t"); at != std::string_view::npos;
         at = line.find_first_not_of(" \t", at)) {
        const std::size_t end = std::min(line.find_first_of(" \t", at), line.size());
        found.push_back(line.substr(at, end - at));
        at = end;
    }
    return found;
}

template <typename EachLine>
void for_each_line(std::string_view text, EachLine each_line) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        each_line(line);
        at = end + 1;
    }
}

// The heading each listing starts with; 5.x and later releases word the muxers' differently.
bool has_heading(ComponentKind kind, std::string_view first_line) {
    switch (kind) {
    case input_device:
        return first_line == "Devices:";
    case encoder:
        return first_line == "Encoders:";
    case filter:
        return first_line == "Filters:";
    case muxer:
        return first_line == "File formats:" || first_line == "Formats:";
    case protocol:
        return first_line == "Supported file protocols:";
    }
    return false;
}

bool only_of(std::string_view flags, std::string_view allowed) {
    return !flags.empty() && flags.find_first_not_of(allowed) == std::string_view::npos;
}

// The names a listing gives, or nothing when it is not one castora can read. Devices, encoders
// and muxers list a column of flags, then the name (muxers may give several, joined by commas),
// after a line of dashes; filters list flags, name and "in->out"; protocols list one name a
// line under "Output:".
std::optional<std::set<std::string>> read_listing(ComponentKind kind, std::string_view text) {
    const std::string_view first_line = text.substr(0, text.find('\n'));
    if (!has_heading(kind, first_line)) {
        return std::nullopt;
    }
    std::set<std::string> names;
    bool in_table = false;
    for_each_line(text, [&](std::string_view line) {
        const std::vector<std::string_view> w = words(line);
        if (kind == protocol) {
            if (line == "Input:" || line == "Output:") {
                in_table = line == "Output:";
            } else if (in_table && w.size() == 1) {
                names.emplace(w[0]);
            }
            return;
        }
        if (w.size() == 1 && only_of(w[0], "-")) {
            in_table = true;
            return;
        }
        if (kind == filter && w.size() >= 3 && w[2].find("->") != std::string_view::npos) {
            names.emplace(w[1]);
        } else if (kind != filter && in_table && w.size() >= 2 &&
                   only_of(w[0], kind == encoder ? "ABCDEFGHIJKLMNOPQRSTUVWXYZ." : "DEd.")) {
            std::string_view list = w[1];
            for (std::size_t at = 0; at <= list.size();) {
                const std::size_t comma = std::min(list.find(',', at), list.size());
                names.emplace(list.substr(at, comma - at));
                at = comma + 1;
            }
        }
    });
    return names;
}

// "ffmpeg version 9.0.2 Copyright ..." gives "9.0.2"; only the first line is read.
std::optional<std::string> read_version(std::string_view text) {
    constexpr std::string_view banner = "ffmpeg version ";
    std::string_view first_line = text.substr(0, text.find('\n'));
    if (first_line.ends_with('\r')) {
        first_line.remove_suffix(1);
    }
    if (!first_line.starts_with(banner)) {
        return std::nullopt;
    }
    const std::vector<std::string_view> w = words(first_line.substr(banner.size()));
    return w.empty() ? std::nullopt : std::optional<std::string>{w[0]};
}

} // namespace

std::span<const Component> ffmpeg_components() {
    return component_table;
}

std::string_view component_kind_name(ComponentKind kind) {
    switch (kind) {
    case input_device:
        return "input device";
    case encoder:
        return "encoder";
    case filter:
        return "filter";
    case muxer:
        return "muxer";
    case protocol:
        return "protocol";
    }
    return "";
}

std::vector<const Component*> components_used(const LaunchUse& use) {
    const bool tee = use.tee;
    const auto any_output = [&](std::string_view scheme) {
        return std::any_of(use.outputs.begin(), use.outputs.end(),
                           [scheme](const std::string& url) { return url.starts_with(scheme); });
    };
    const auto used = [&](std::string_view name) {
        if (name == "aac") {
            return use.audio;
        }
        if (name == "drawtext") {
            return use.draws_text;
        }
        if (name == "tee") {
            return tee;
        }
        if (name == "fifo") {
            return tee && !use.outputs.empty(); // every destination of a tee list heals
        }
        if (name == "flv") {
            return std::any_of(use.outputs.begin(), use.outputs.end(),
                               [](const std::string& u) { return container_format(u) == "flv"; });
        }
        if (name == "mpegts" || name == "srt") {
            return any_output("srt://");
        }
        if (name == "matroska" || name == "file") {
            return use.recording;
        }
        if (name == "rtmp" || name == "rtmps") {
            return any_output(std::string{name} + "://");
        }
        return true; // the capture, the encoder and the fitting of the picture
    };
    std::vector<const Component*> components;
    for (const Component& component : component_table) {
        if (used(component.name)) {
            components.push_back(&component);
        }
    }
    return components;
}

std::span<const ListingQuery> ffmpeg_listing_queries() {
    return listing_queries;
}

Expected<FfmpegFindings, std::string>
read_ffmpeg_answers(std::span<const std::optional<std::string>> answers) {
    if (answers.size() != listing_queries.size() || !answers[0]) {
        return std::string{"its -version query failed"};
    }
    const std::optional<std::string> version = read_version(*answers[0]);
    if (!version) {
        return FfmpegFindings{};
    }
    std::set<std::string> present;
    for (std::size_t i = 1; i < listing_queries.size(); ++i) {
        const std::string option{listing_queries[i].option};
        if (!answers[i]) {
            return "its " + option + " listing failed";
        }
        const auto names = read_listing(*listing_queries[i].kind, *answers[i]);
        if (!names) {
            return "its " + option + " listing cannot be read";
        }
        for (const Component& component : component_table) {
            if (component.kind == *listing_queries[i].kind &&
                names->contains(std::string{component.name})) {
                present.emplace(component.name);
            }
        }
    }
    return FfmpegFindings{true, *version, std::move(present)};
}

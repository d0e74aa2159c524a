#include "core/option_table.h"

#include "core/edit_distance.h"

#include <array>

namespace {

using O = StudioOptions;
using enum OptionAction;

// The one list of options: the command-line walk, the config keys and the help text all come
// from it. Switches only ever set their flag; a config file is the only way to clear one, and
// the mode switches and the config and sample paths come from the command line only.
constexpr std::array<OptionSpec, 43> option_rows{{
    {"--version", "", {}, "", "Show version.", show_version},
    {"--list-profiles", "", &O::list_profiles, "", "Show low-power ingest profiles."},
    {"--print-devices", "", &O::print_devices, "", "Ask FFmpeg to list capture devices."},
    {"--list-scenes", "", &O::list_scenes, "", "Show Brevalo studio scene presets."},
    {"--list-automation", "", &O::list_automation, "",
     "Show supported gift/device automation bridge actions."},
    {"--list-platforms", "", &O::list_platforms, "",
     "Show common multistream destination examples."},
    {"--brand-kit", "", &O::brand_kit, "", "Show built-in Brevalo branding values."},
    {"--config", "PATH", &O::config_path, "", "Load a Brevalo key=value studio config.",
     load_config},
    {"--write-sample-config", "PATH", &O::sample_config_path, "",
     "Write a starter studio config file and exit."},
    {"--profile", "KEY", &O::profile_key, "profile", "Profile key. Default: balanced_480p."},
    {"--scene", "KEY", &O::scene_key, "scene",
     "Scene preset. Default: camera_clean or screen_clean."},
    {"--ingest-url", "URL", &O::ingest_url, "ingest_url",
     "RTMP/SRT endpoint or URL containing {stream_key}."},
    {"--stream-key", "KEY", &O::stream_key, "stream_key", "Stream key appended to ingest URL.",
     store, true},
    {"--target",
     "URL",
     {},
     "target",
     "Add a full RTMP/RTMPS/SRT output. Repeat for multistream.",
     add_target},
    {"--target-file", "PATH", &O::target_file, "target_file",
     "Read one output URL per line. Lines may be label=URL."},
    {"--record-file", "PATH", &O::record_file, "record_file",
     "Save a local MKV recording while streaming."},
    {"--ffmpeg", "PATH", &O::ffmpeg_path, "ffmpeg", "FFmpeg executable. Default: ffmpeg."},
    {"--video-input", "INPUT", &O::video_input, "video_input",
     "Platform video input. Default varies by OS."},
    {"--audio-input", "INPUT", &O::audio_input, "audio_input",
     "Platform audio input. Default varies by OS."},
    {"--screen", "", &O::screen, "screen",
     "Capture desktop/screen instead of camera where supported."},
    {"--no-audio", "", &O::no_audio, "no_audio", "Disable audio input."},
    {"--overlay-title", "TEXT", &O::overlay_title, "overlay_title",
     "Lower-third or scoreboard title."},
    {"--overlay-subtitle", "TEXT", &O::overlay_subtitle, "overlay_subtitle",
     "Lower-third subtitle."},
    {"--score-left", "TEXT", &O::score_left, "score_left", "Left scoreboard label/value."},
    {"--score-right", "TEXT", &O::score_right, "score_right", "Right scoreboard label/value."},
    {"--watermark", "TEXT", &O::watermark, "watermark", "Watermark text. Default: Brevalo."},
    {"--virtual-background", "", &O::virtual_background, "virtual_background",
     "Mark config as virtual-background ready for studio UI."},
    {"--automation-poll-url", "URL", &O::automation_poll_url, "automation_poll_url",
     "Castora local bridge queue URL."},
    {"--automation-ack-url", "URL", &O::automation_ack_url, "automation_ack_url",
     "Castora local bridge acknowledgement URL."},
    {"--automation-token", "TOKEN", &O::automation_token, "automation_token",
     "Local bridge token, never printed in dry-run output.", store, true},
    {"--update-url", "URL", &O::update_url, "update_url",
     "Update check endpoint. Default: Brevalo API."},
    {"--report-url", "URL", &O::report_url, "report_url",
     "Crash/error report endpoint. Default: Brevalo API."},
    {"--check-update", "", &O::check_update, "", "Check for a newer desktop package, then exit."},
    {"--skip-update-check", "", &O::skip_update_check, "skip_update_check",
     "Do not check for updates on this launch."},
    {"--auto-download-update", "", &O::auto_download_update, "auto_download_update",
     "Download a newer package beside the app when available."},
    {"--no-error-reporting", "", &O::disable_error_reporting, "disable_error_reporting",
     "Do not send crash/error details to Brevalo."},
    {"--reconnect", "", &O::reconnect, "reconnect", "Restart FFmpeg on non-clean stream exits."},
    {"--dry-run", "", &O::dry_run, "", "Print the FFmpeg command without running it."},
    {"--help", "", {}, "", "Show this help.", show_help},
    // Added by castora beyond the first release, listed after its options.
    {"--check-ffmpeg", "", &O::check_ffmpeg, "",
     "Check that FFmpeg has what this launch needs, then exit."},
    {"--live-overlays", "", &O::live_overlays, "live_overlays",
     "Draw overlay texts from files that can change while live."},
    {"--overlay-file", "PATH", &O::overlay_file, "overlay_file",
     "Watch a key=value file of overlay texts while live."},
    {"--verbose", "", &O::verbose, "verbose",
     "Show FFmpeg's own log while live, not the status view."},
}};

template <typename Matches>
const OptionSpec* find_row(Matches matches) {
    for (const OptionSpec& row : option_rows) {
        if (matches(row)) {
            return &row;
        }
    }
    return nullptr;
}

// Suggestions are made from at most this many edits away.
constexpr std::size_t max_suggestion_edits = 2;

std::string lower_case(std::string_view text) {
    std::string lower{text};
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

} // namespace

std::span<const OptionSpec> option_table() {
    return option_rows;
}

const OptionSpec* find_option(std::string_view name) {
    const std::string_view wanted = name == "-h" ? std::string_view{"--help"} : name;
    return find_row([wanted](const OptionSpec& row) { return row.name == wanted; });
}

bool is_option_name(std::string_view text) {
    return find_row([text](const OptionSpec& row) { return row.name == text; }) != nullptr;
}

const OptionSpec* closest_option(std::string_view typed) {
    const std::string wanted = lower_case(typed);
    const OptionSpec* closest = nullptr;
    std::size_t closest_edits = max_suggestion_edits + 1;
    const OptionSpec* begun = nullptr;
    int begun_count = 0;
    for (const OptionSpec& row : option_rows) {
        const std::size_t edits = edit_distance(wanted, row.name, max_suggestion_edits);
        if (edits < closest_edits) {
            closest = &row;
            closest_edits = edits;
        }
        if (wanted.starts_with("--") && row.name.starts_with(wanted)) {
            begun = &row;
            ++begun_count;
        }
    }
    return closest != nullptr ? closest : begun_count == 1 ? begun : nullptr;
}

std::string option_usage(const OptionSpec& row) {
    std::string usage{row.name};
    if (row.takes_value()) {
        usage += ' ';
        usage += row.value_name;
    }
    return usage;
}

const OptionSpec* find_config_key(std::string_view key) {
    return find_row([key](const OptionSpec& row) { return !key.empty() && row.config_key == key; });
}

void store_value(StudioOptions& options, const OptionSpec& row, std::string_view text) {
    if (const auto* text_field = std::get_if<std::string StudioOptions::*>(&row.field)) {
        options.*(*text_field) = std::string{text};
    } else if (const auto* overlay = std::get_if<OptionalText StudioOptions::*>(&row.field)) {
        options.*(*overlay) = std::string{text};
    }
}

void store_flag(StudioOptions& options, const OptionSpec& row, bool value) {
    if (const auto* flag = std::get_if<bool StudioOptions::*>(&row.field)) {
        options.*(*flag) = value;
    }
}

#include "cli/usage.h"

#include "cli/options.h"

#include <array>
#include <cstdio>
#include <string_view>

namespace {

struct HelpLine {
    std::string_view option;
    std::string_view description;
};

// Descriptions start in column 32: two spaces, then the option padded to 29 characters.
constexpr int help_option_width = 29;

constexpr std::array<HelpLine, 39> help_lines{{
    {"--version", "Show version."},
    {"--list-profiles", "Show low-power ingest profiles."},
    {"--print-devices", "Ask FFmpeg to list capture devices."},
    {"--list-scenes", "Show Brevalo studio scene presets."},
    {"--list-automation", "Show supported gift/device automation bridge actions."},
    {"--list-platforms", "Show common multistream destination examples."},
    {"--brand-kit", "Show built-in Brevalo branding values."},
    {"--config PATH", "Load a Brevalo key=value studio config."},
    {"--write-sample-config PATH", "Write a starter studio config file and exit."},
    {"--profile KEY", "Profile key. Default: balanced_480p."},
    {"--scene KEY", "Scene preset. Default: camera_clean or screen_clean."},
    {"--ingest-url URL", "RTMP/SRT endpoint or URL containing {stream_key}."},
    {"--stream-key KEY", "Stream key appended to ingest URL."},
    {"--target URL", "Add a full RTMP/RTMPS/SRT output. Repeat for multistream."},
    {"--target-file PATH", "Read one output URL per line. Lines may be label=URL."},
    {"--record-file PATH", "Save a local MKV recording while streaming."},
    {"--ffmpeg PATH", "FFmpeg executable. Default: ffmpeg."},
    {"--video-input INPUT", "Platform video input. Default varies by OS."},
    {"--audio-input INPUT", "Platform audio input. Default varies by OS."},
    {"--screen", "Capture desktop/screen instead of camera where supported."},
    {"--no-audio", "Disable audio input."},
    {"--overlay-title TEXT", "Lower-third or scoreboard title."},
    {"--overlay-subtitle TEXT", "Lower-third subtitle."},
    {"--score-left TEXT", "Left scoreboard label/value."},
    {"--score-right TEXT", "Right scoreboard label/value."},
    {"--watermark TEXT", "Watermark text. Default: Brevalo."},
    {"--virtual-background", "Mark config as virtual-background ready for studio UI."},
    {"--automation-poll-url URL", "Castora local bridge queue URL."},
    {"--automation-ack-url URL", "Castora local bridge acknowledgement URL."},
    {"--automation-token TOKEN", "Local bridge token, never printed in dry-run output."},
    {"--update-url URL", "Update check endpoint. Default: Brevalo API."},
    {"--report-url URL", "Crash/error report endpoint. Default: Brevalo API."},
    {"--check-update", "Check for a newer desktop package, then exit."},
    {"--skip-update-check", "Do not check for updates on this launch."},
    {"--auto-download-update", "Download a newer package beside the app when available."},
    {"--no-error-reporting", "Do not send crash/error details to Brevalo."},
    {"--reconnect", "Restart FFmpeg on non-clean stream exits."},
    {"--dry-run", "Print the FFmpeg command without running it."},
    {"--help", "Show this help."},
}};

} // namespace

void print_version() {
    std::printf("Brevalo Castora Native %.*s\n", static_cast<int>(app_version.size()),
                app_version.data());
}

void print_usage(const char* program_name) {
    print_version();
    std::printf("Usage: %s [options]\n\nOptions:\n", program_name != nullptr ? program_name : "");
    for (const HelpLine& line : help_lines) {
        std::printf("  %-*.*s%.*s\n", help_option_width, static_cast<int>(line.option.size()),
                    line.option.data(), static_cast<int>(line.description.size()),
                    line.description.data());
    }
    std::fputs("\nLow-powered creators should use low_power_360p or balanced_480p. The server side "
               "upconverts.\n",
               stdout);
}

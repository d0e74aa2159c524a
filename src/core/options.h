#pragma once

#include "core/identity.h"

#include <optional>
#include <string>
#include <vector>

inline constexpr int max_targets = 16;

// The overlay texts are the only fields where an absent text and an empty one lead to
// different pictures, so they alone keep the distinction; every other text treats an unset
// field and an empty one alike.
using OptionalText = std::optional<std::string>;

// A destination from --target, a config "target" line or a target file; only a target file
// names it (label=URL), and the label is how the live lines call it.
struct StreamTarget {
    std::string url;
    std::string label;

    bool operator==(const StreamTarget&) const = default;
};

// Everything one launch is asked to do, filled from the defaults, the command line and the
// config files in the order they are met.
struct StudioOptions {
    std::string profile_key{"balanced_480p"};
    std::string ingest_url;
    std::string stream_key;
    std::vector<StreamTarget> targets; // at most max_targets, insertion order
    std::string target_file;
    std::string ffmpeg_path{"ffmpeg"};
    std::string video_input;
    std::string audio_input;
    std::string config_path;
    std::string sample_config_path;
    std::string scene_key;
    OptionalText overlay_title;
    OptionalText overlay_subtitle;
    OptionalText score_left;
    OptionalText score_right;
    OptionalText watermark;
    std::string record_file;
    std::string automation_poll_url;
    std::string automation_ack_url;
    std::string automation_token;
    std::string update_url{default_update_url};
    std::string report_url{default_report_url};
    bool dry_run = false;
    bool list_profiles = false;
    bool list_platforms = false;
    bool list_scenes = false;
    bool list_automation = false;
    bool brand_kit = false;
    bool print_devices = false;
    bool screen = false;
    bool no_audio = false;
    bool virtual_background = false;
    bool reconnect = false;
    bool skip_update_check = false;
    bool check_update = false;
    bool auto_download_update = true;
    bool disable_error_reporting = false;
    bool check_ffmpeg = false;
    bool live_overlays = false;
    std::string overlay_file;
    bool verbose = false;
};

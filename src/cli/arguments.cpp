#include "cli/arguments.h"

#include "cli/options.h"
#include "cli/usage.h"
#include "config/config_file.h"
#include "config/targets.h"

#include <array>
#include <cstdio>
#include <string_view>

namespace {

struct FlagOption {
    std::string_view name;
    FlagField flag;
};

// Switches only ever set their flag; a config file is the only way to clear one.
constexpr std::array<FlagOption, 15> flag_options{{
    {"--list-profiles", &StudioOptions::list_profiles},
    {"--list-platforms", &StudioOptions::list_platforms},
    {"--list-scenes", &StudioOptions::list_scenes},
    {"--list-automation", &StudioOptions::list_automation},
    {"--brand-kit", &StudioOptions::brand_kit},
    {"--print-devices", &StudioOptions::print_devices},
    {"--dry-run", &StudioOptions::dry_run},
    {"--screen", &StudioOptions::screen},
    {"--no-audio", &StudioOptions::no_audio},
    {"--virtual-background", &StudioOptions::virtual_background},
    {"--reconnect", &StudioOptions::reconnect},
    {"--check-update", &StudioOptions::check_update},
    {"--skip-update-check", &StudioOptions::skip_update_check},
    {"--auto-download-update", &StudioOptions::auto_download_update},
    {"--no-error-reporting", &StudioOptions::disable_error_reporting},
}};

enum class ValueAction { store, load_config, add_target };

struct ValueOption {
    std::string_view name;
    TextField field;
    ValueAction action = ValueAction::store;
};

// The value is the next argument, whatever it looks like.
const std::array<ValueOption, 22> value_options{{
    {"--config", &StudioOptions::config_path, ValueAction::load_config},
    {"--write-sample-config", &StudioOptions::sample_config_path},
    {"--profile", &StudioOptions::profile_key},
    {"--scene", &StudioOptions::scene_key},
    {"--ingest-url", &StudioOptions::ingest_url},
    {"--stream-key", &StudioOptions::stream_key},
    {"--target", TextField{}, ValueAction::add_target},
    {"--target-file", &StudioOptions::target_file},
    {"--record-file", &StudioOptions::record_file},
    {"--ffmpeg", &StudioOptions::ffmpeg_path},
    {"--video-input", &StudioOptions::video_input},
    {"--audio-input", &StudioOptions::audio_input},
    {"--overlay-title", &StudioOptions::overlay_title},
    {"--overlay-subtitle", &StudioOptions::overlay_subtitle},
    {"--score-left", &StudioOptions::score_left},
    {"--score-right", &StudioOptions::score_right},
    {"--watermark", &StudioOptions::watermark},
    {"--automation-poll-url", &StudioOptions::automation_poll_url},
    {"--automation-ack-url", &StudioOptions::automation_ack_url},
    {"--automation-token", &StudioOptions::automation_token},
    {"--update-url", &StudioOptions::update_url},
    {"--report-url", &StudioOptions::report_url},
}};

template <typename Table>
const auto* find_option(const Table& table, std::string_view name) {
    for (const auto& option : table) {
        if (option.name == name) {
            return &option;
        }
    }
    return static_cast<const typename Table::value_type*>(nullptr);
}

bool apply_value(StudioOptions& options, const ValueOption& option, std::string_view value) {
    switch (option.action) {
    case ValueAction::store:
        store_text(options, option.field, value);
        return true;
    case ValueAction::load_config:
        store_text(options, option.field, value);
        return load_config_file(options, value);
    case ValueAction::add_target:
        return add_target(options, value);
    }
    return false;
}

} // namespace

ParseOutcome parse_arguments(int argc, const char* const* argv, StudioOptions& options) {
    for (int index = 1; index < argc; ++index) {
        const std::string_view argument = argv[index];
        if (argument == "--help" || argument == "-h") {
            print_usage(argv[0]);
            return ParseOutcome::exit_success;
        }
        if (argument == "--version") {
            print_version();
            return ParseOutcome::exit_success;
        }
        if (const FlagOption* flag = find_option(flag_options, argument)) {
            options.*(flag->flag) = true;
            continue;
        }
        const ValueOption* option = find_option(value_options, argument);
        if (option != nullptr && index + 1 < argc) {
            ++index;
            if (!apply_value(options, *option, argv[index])) {
                return ParseOutcome::failure;
            }
            continue;
        }
        std::fprintf(stderr, "Unknown or incomplete option: %s\n", argv[index]);
        return ParseOutcome::failure;
    }
    return ParseOutcome::proceed;
}

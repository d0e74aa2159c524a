#include "cli/launch.h"

#include "catalog/profiles.h"
#include "catalog/scenes.h"
#include "cli/bridge_url.h"
#include "cli/check_ffmpeg.h"
#include "cli/listings.h"
#include "cli/sample_config.h"
#include "config/targets.h"
#include "core/options.h"
#include "core/utf8.h"
#include "ffmpeg/device_listing.h"
#include "ffmpeg/ffmpeg_argv.h"
#include "live/live_run.h"
#include "process/dry_run.h"
#include "process/ffmpeg_runner.h"
#include "publish/destinations.h"
#include "publish/output_urls.h"
#include "publish/recording_path.h"
#include "report/crash_report.h"
#include "report/error_report.h"
#include "update/update_check.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

struct ListingMode {
    bool StudioOptions::*requested;
    void (*print)();
};

// Checked in this order after the sample config and the update-only mode; the first one
// requested is the only one produced.
constexpr std::array<ListingMode, 5> listing_modes{{
    {&StudioOptions::list_profiles, print_profiles},
    {&StudioOptions::list_platforms, print_platforms},
    {&StudioOptions::list_scenes, print_scenes},
    {&StudioOptions::list_automation, print_automation_actions},
    {&StudioOptions::brand_kit, print_brand_kit},
}};

int configuration_failure(const StudioOptions& options, std::string_view phase,
                          std::string_view message) {
    send_error_report(options, {"configuration_error", "error", 2, "", phase, message});
    return 2;
}

int ffmpeg_failure(const StudioOptions& options, int status, std::string_view phase,
                   std::string_view message) {
    send_error_report(options, {"ffmpeg_error", "error", status, "", phase, message});
    return status;
}

// FFmpeg lists the devices by failing on purpose: its device sections, not its status, tell a
// listing that worked.
int list_devices(const StudioOptions& options) {
    const FfmpegArgv argv = build_device_listing_argv(options);
    if (options.dry_run) {
        print_shell_command(argv);
        return 0;
    }
    std::string errors;
    const int status = run_ffmpeg_collecting_errors(argv, errors);
    if (const auto listing = read_device_listing(errors)) {
        std::fputs(device_listing_text(*listing).c_str(), stdout);
        return 0;
    }
    std::fwrite(errors.data(), 1, errors.size(), stderr);
    if (status != 0) {
        return ffmpeg_failure(options, status, "print_devices", "FFmpeg device listing failed.");
    }
    return 0;
}

void print_dry_run_header(const StudioOptions& options, const IngestProfile& profile,
                          const ScenePreset& scene) {
    std::printf("Brevalo Castora %.*s | scene=%.*s | profile=%.*s\n",
                static_cast<int>(app_version.size()), app_version.data(),
                static_cast<int>(scene.key.size()), scene.key.data(),
                static_cast<int>(profile.key.size()), profile.key.data());
    if (options.virtual_background) {
        std::puts("Virtual background is enabled in studio config; browser/native UI renderer "
                  "owns segmentation.");
    }
    if (!options.automation_poll_url.empty()) {
        std::puts("Automation bridge configured; token hidden.");
    }
    if (options.reconnect) {
        std::puts("Reconnect policy: FFmpeg restarts on non-clean stream exits.");
    }
}

// The ingest URL, then each target, within the limit of 16 outputs. Returns 0 when built,
// otherwise the exit status after the report.
int build_output_urls(const StudioOptions& options, OutputUrlList& urls) {
    if (!options.ingest_url.empty()) {
        std::string url;
        if (!build_ingest_url(options.ingest_url, options.stream_key, url)) {
            return configuration_failure(options, "ingest_url", "Ingest URL could not be built.");
        }
        urls.push_back(std::move(url));
    }
    for (const StreamTarget& target : options.targets) {
        if (urls.size() >= max_output_urls) {
            report_too_many_targets();
            return configuration_failure(options, "targets", "Too many stream targets.");
        }
        std::string url;
        if (!build_target_url(target.url, options.stream_key, url)) {
            return configuration_failure(options, "targets",
                                         "Stream target URL could not be built.");
        }
        urls.push_back(std::move(url));
    }
    return 0;
}

// What the live lines call each output (its target-file label, or host:port, made unique) and
// what they never show.
LivePlan live_plan(const StudioOptions& options, const OutputUrlList& urls) {
    LivePlan plan;
    const std::size_t first_target = options.ingest_url.empty() ? 0 : 1;
    for (std::size_t i = 0; i < urls.size(); ++i) {
        const std::string& label = i < first_target ? "" : options.targets[i - first_target].label;
        const std::string first_choice =
            label.empty() ? destination_name(urls[i]) : terminal_safe(label);
        std::string name = first_choice;
        const auto named = [&](const LiveDestination& d) { return d.name == name; };
        for (int copy = 2; std::any_of(plan.destinations.begin(), plan.destinations.end(), named);
             ++copy) {
            name = first_choice + " (" + std::to_string(copy) + ")";
        }
        plan.destinations.push_back({urls[i], name});
    }
    plan.secrets = stream_secrets(urls, options.stream_key);
    return plan;
}

int stream(StudioOptions& options) {
    check_for_update(options);
    if (!load_target_file(options)) {
        return configuration_failure(options, "target_file", "Target file could not be loaded.");
    }
    if (options.print_devices) {
        return list_devices(options);
    }
    const IngestProfile* profile = find_profile(options.profile_key);
    if (profile == nullptr) {
        std::fprintf(stderr, "Unknown profile: %s\n\n", terminal_safe(options.profile_key).c_str());
        print_profiles();
        return configuration_failure(options, "profile", "Unknown ingest profile.");
    }
    const ScenePreset* scene = find_scene(options.scene_key, options.screen);
    if (scene == nullptr) {
        std::fprintf(stderr, "Unknown scene: %s\n\n", terminal_safe(options.scene_key).c_str());
        print_scenes();
        return configuration_failure(options, "scene", "Unknown scene preset.");
    }
    if (!options.record_file.empty() && !is_valid_record_path(options.record_file)) {
        std::fputs("Recording path is invalid or too long.\n", stderr);
        return configuration_failure(options, "recording", "Recording path was invalid.");
    }
    if (!options.automation_poll_url.empty() && !is_local_bridge_url(options.automation_poll_url)) {
        std::fputs("Automation poll URL must be HTTPS or a local Castora bridge URL.\n", stderr);
        return configuration_failure(options, "automation", "Automation poll URL was rejected.");
    }
    if (!options.automation_ack_url.empty() && !is_local_bridge_url(options.automation_ack_url)) {
        std::fputs("Automation acknowledgement URL must be HTTPS or a local Castora bridge URL.\n",
                   stderr);
        return configuration_failure(options, "automation",
                                     "Automation acknowledgement URL was rejected.");
    }
    OutputUrlList urls;
    if (const int status = build_output_urls(options, urls); status != 0) {
        return status;
    }
    if (urls.empty()) {
        std::fputs("Missing --ingest-url, --target, or --target-file.\n", stderr);
        return configuration_failure(options, "targets",
                                     "No ingest or stream target was provided.");
    }
    const bool tee = needs_tee_muxer(urls.size(), options.record_file);
    // The dry run shows the recording name a run started now would use.
    const std::string record_path =
        options.dry_run && tee ? free_recording_path(options.record_file) : options.record_file;
    std::string publish_spec;
    if (!tee) {
        publish_spec = urls.front();
    } else if (!build_publish_spec(urls, record_path, publish_spec)) {
        return configuration_failure(options, "publish_url",
                                     "Multistream publish URL could not be built.");
    }
    auto live_start = start_live_overlays(options, options.dry_run);
    if (const auto* failure = std::get_if<std::string>(&live_start)) {
        std::fputs(failure->c_str(), stderr);
        return configuration_failure(options, "live_overlays",
                                     "Live overlay folder could not be made.");
    }
    auto& live_overlays = std::get<std::optional<LiveOverlayStart>>(live_start);
    FfmpegArgv argv = build_ffmpeg_argv(options, *profile, *scene, publish_spec, urls.size(),
                                        live_overlays ? live_overlays->folder : "");
    if (options.dry_run) {
        print_dry_run_header(options, *profile, *scene);
        print_shell_command(argv);
        return 0;
    }
    if (const auto refusal = ffmpeg_refusal(options, urls, argv)) {
        std::fputs(refusal->c_str(), stderr);
        return configuration_failure(options, "ffmpeg_check",
                                     "FFmpeg lacks what this stream needs.");
    }
    const CaptureMode profile_mode{profile->width, profile->height,
                                   static_cast<double>(profile->fps)};
    const int status =
        run_live({std::move(argv), urls, tee ? options.record_file : "", live_plan(options, urls),
                  options.reconnect, video_device(options), profile_mode,
                  live_overlay_setup(options, *scene, std::move(live_overlays))});
    if (status != 0) {
        return ffmpeg_failure(options, status, "stream",
                              "FFmpeg stream process exited with a non-zero code.");
    }
    return 0;
}

} // namespace

int run_studio(StudioOptions& options) {
    install_crash_handler(options);
    if (!options.sample_config_path.empty()) {
        return write_sample_config(options.sample_config_path);
    }
    if (options.check_update) {
        check_for_update(options);
        return 0;
    }
    for (const ListingMode& mode : listing_modes) {
        if (options.*(mode.requested)) {
            mode.print();
            return 0;
        }
    }
    if (options.check_ffmpeg) {
        return check_ffmpeg_mode(options);
    }
    return stream(options);
}

#include "cli/launch.h"

#include "catalog/profiles.h"
#include "catalog/scenes.h"
#include "cli/check_ffmpeg.h"
#include "cli/listings.h"
#include "cli/refusal.h"
#include "cli/sample_config.h"
#include "config/targets.h"
#include "core/options.h"
#include "ffmpeg/device_listing.h"
#include "ffmpeg/ffmpeg_argv.h"
#include "ffmpeg/ffmpeg_runner.h"
#include "ffmpeg/shell_quote.h"
#include "live/live_run.h"
#include "live/live_watch.h"
#include "plan/launch_plan.h"
#include "report/crash_report.h"
#include "report/error_report.h"
#include "update/download.h"
#include "update/update_check.h"

#include <array>
#include <cstdio>

namespace {

void print_profiles() {
    std::fputs(profile_listing().c_str(), stdout);
}

void print_scenes() {
    std::fputs(scene_listing().c_str(), stdout);
}

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

void write_error(const std::string& text) {
    std::fputs(text.c_str(), stderr);
}

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

// The update service is asked first; a newer package is announced and, when allowed, fetched.
void check_for_update(const StudioOptions& options) {
    const UpdateNews news = ask_for_update(options);
    write_error(news.lines);
    if (news.download) {
        std::fflush(stderr);
        write_error(download_update(*news.download));
    }
}

// FFmpeg lists the devices by failing on purpose: its device sections, not its status, tell a
// listing that worked.
int list_devices(const StudioOptions& options) {
    const FfmpegArgv argv = build_device_listing_argv(options.ffmpeg_path);
    if (options.dry_run) {
        std::puts(shell_command_line(argv).c_str());
        return 0;
    }
    std::string errors;
    const FfmpegEnd end = run_ffmpeg_collecting_errors(argv, errors);
    if (const auto listing = read_device_listing(errors)) {
        std::fputs(device_listing_text(*listing).c_str(), stdout);
        return 0;
    }
    write_error(end.message);
    std::fwrite(errors.data(), 1, errors.size(), stderr);
    if (end.status != 0) {
        return ffmpeg_failure(options, end.status, "print_devices",
                              "FFmpeg device listing failed.");
    }
    return 0;
}

void print_dry_run(const StudioOptions& options, const LaunchPlan& plan, const FfmpegArgv& argv) {
    std::printf("Brevalo Castora %.*s | scene=%.*s | profile=%.*s\n",
                static_cast<int>(app_version.size()), app_version.data(),
                static_cast<int>(plan.scene->key.size()), plan.scene->key.data(),
                static_cast<int>(plan.command.profile.key.size()), plan.command.profile.key.data());
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
    std::puts(shell_command_line(argv).c_str());
}

int stream(StudioOptions& options) {
    check_for_update(options);
    if (const auto failure = load_target_file(options)) {
        write_error(failure->message);
        return configuration_failure(options, "target_file", "Target file could not be loaded.");
    }
    if (options.print_devices) {
        return list_devices(options);
    }
    auto plan = make_launch_plan(options, options.dry_run ? PlanUse::dry_run : PlanUse::live);
    if (!plan) {
        tell(plan.failure());
        return configuration_failure(options, plan.failure().phase, plan.failure().report_message);
    }
    for (const std::string& warning : plan->warnings) {
        write_error(warning);
    }
    for (const std::string& note : plan->notes) {
        write_error(live_line(note));
    }
    if (options.dry_run) {
        const Expected<FfmpegArgv> argv = build_ffmpeg_argv(plan->command);
        if (!argv) {
            write_error(argv.failure().message);
            return configuration_failure(options, "publish_url",
                                         "Multistream publish URL could not be built.");
        }
        print_dry_run(options, *plan, *argv);
        return 0;
    }
    if (const auto refusal = ffmpeg_refusal(plan->command)) {
        write_error(refusal->message);
        return configuration_failure(options, "ffmpeg_check",
                                     "FFmpeg lacks what this stream needs.");
    }
    if (const int status = run_live(std::move(*plan)); status != 0) {
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

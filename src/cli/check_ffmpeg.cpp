#include "cli/check_ffmpeg.h"

#include "cli/refusal.h"
#include "config/targets.h"
#include "core/options.h"
#include "ffmpeg/ffmpeg_argv.h"
#include "ffmpeg_check/ffmpeg_check.h"
#include "plan/launch_plan.h"

#include <cstdio>

int check_ffmpeg_mode(StudioOptions& options) {
    if (const auto failure = load_target_file(options)) {
        std::fputs(failure->message.c_str(), stderr);
        return 2;
    }
    const auto plan = make_launch_plan(options, PlanUse::ffmpeg_check);
    if (!plan) {
        tell(plan.failure());
        return 2;
    }
    const CommandPlan& command = plan->command;
    const FfmpegCheck check = check_ffmpeg(command.ffmpeg_path, true);
    const std::vector<const Component*> used = components_used(launch_use(command));
    std::fputs(ffmpeg_check_listing(check, used).c_str(), stdout);
    const bool complete = check.findings && check.findings->answers_as_ffmpeg &&
                          missing_components(check, used).empty();
    return complete ? 0 : 2;
}

std::optional<Failure> ffmpeg_refusal(const CommandPlan& command) {
    const FfmpegCheck check = check_ffmpeg(command.ffmpeg_path, false);
    const std::vector<const Component*> missing =
        missing_components(check, components_used(launch_use(command)));
    if (missing.empty()) {
        return std::nullopt;
    }
    return Failure{missing_components_message(check, missing)};
}

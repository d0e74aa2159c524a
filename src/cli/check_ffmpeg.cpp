#include "cli/check_ffmpeg.h"

#include "catalog/profiles.h"
#include "catalog/scenes.h"
#include "config/targets.h"
#include "core/options.h"
#include "ffmpeg_check/ffmpeg_check.h"

#include <cstdio>

int check_ffmpeg_mode(StudioOptions& options) {
    if (!load_target_file(options)) {
        return 2;
    }
    std::vector<std::string> outputs;
    if (!options.ingest_url.empty()) {
        outputs.push_back(options.ingest_url);
    }
    for (const StreamTarget& target : options.targets) {
        outputs.push_back(target.url);
    }
    // The picture depends on the profile and the scene; unknown ones are the launch's own
    // business, and the defaults draw the same kind of boxes.
    const IngestProfile* profile = find_profile(options.profile_key);
    const ScenePreset* scene = find_scene(options.scene_key, options.screen);
    const FfmpegArgv argv = build_ffmpeg_argv(
        options, profile != nullptr ? *profile : *find_profile(""),
        scene != nullptr ? *scene : *find_scene("", options.screen), "", outputs.size());
    const FfmpegCheck check = check_ffmpeg(options.ffmpeg_path, true);
    const std::vector<const Component*> used = components_used(launch_use(options, outputs, argv));
    std::fputs(ffmpeg_check_listing(check, used).c_str(), stdout);
    const bool complete = check.findings && check.findings->answers_as_ffmpeg &&
                          missing_components(check, used).empty();
    return complete ? 0 : 2;
}

std::optional<std::string> ffmpeg_refusal(const StudioOptions& options, const OutputUrlList& urls,
                                          const FfmpegArgv& argv) {
    const FfmpegCheck check = check_ffmpeg(options.ffmpeg_path, false);
    const std::vector<const Component*> missing =
        missing_components(check, components_used(launch_use(options, urls, argv)));
    if (missing.empty()) {
        return std::nullopt;
    }
    return missing_components_message(check, missing);
}

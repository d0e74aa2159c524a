#include "ffmpeg/ffmpeg_argv.h"

#include "catalog/profiles.h"
#include "core/options.h"
#include "ffmpeg/filter_chain.h"
#include "publish/output_urls.h"

#include <algorithm>

namespace {

std::string_view device_or_default(const std::string& device) {
    return device.empty() ? std::string_view{"0"} : std::string_view{device};
}

} // namespace

std::string format_int_arg(int value) {
    return std::to_string(value);
}

std::string format_kbps_arg(int kbps) {
    return std::to_string(kbps) + "k";
}

std::string video_device(const StudioOptions& options) {
    return std::string{device_or_default(options.video_input)};
}

std::string input_specifier(const StudioOptions& options) {
    std::string specifier{device_or_default(options.video_input)};
    specifier += ':';
    specifier +=
        options.no_audio ? std::string_view{"none"} : device_or_default(options.audio_input);
    if (specifier.size() > max_input_specifier_length) {
        specifier.resize(max_input_specifier_length);
    }
    return specifier;
}

FfmpegArgv build_ffmpeg_argv(const StudioOptions& options, const IngestProfile& profile,
                             const ScenePreset& scene, std::string_view publish_spec,
                             std::size_t output_count, std::string_view live_folder) {
    const bool tee = needs_tee_muxer(output_count, options.record_file);
    FfmpegArgv argv{options.ffmpeg_path,
                    "-hide_banner",
                    "-loglevel",
                    "info",
                    "-f",
                    "avfoundation",
                    "-framerate",
                    format_int_arg(profile.fps),
                    "-video_size",
                    std::to_string(profile.width) + "x" + std::to_string(profile.height),
                    "-i",
                    input_specifier(options),
                    "-c:v",
                    "h264_videotoolbox",
                    "-tune",
                    "zerolatency"};
    std::string chain = build_filter_chain(options, profile, scene, live_folder);
    if (!chain.empty()) {
        argv.emplace_back("-vf");
        argv.push_back(std::move(chain));
    }
    argv.insert(argv.end(), {"-b:v", format_kbps_arg(profile.video_kbps_max), "-maxrate",
                             format_kbps_arg(profile.video_kbps_max), "-bufsize",
                             format_kbps_arg(2 * profile.video_kbps_max), "-pix_fmt", "yuv420p",
                             "-g", format_int_arg(2 * profile.fps)});
    if (options.no_audio) {
        argv.emplace_back("-an");
    } else {
        argv.insert(argv.end(), {"-c:a", "aac", "-b:a", format_kbps_arg(profile.audio_kbps), "-ar",
                                 "48000", "-ac", "2"});
    }
    if (tee) {
        // The tee muxer cannot ask the encoders for global headers itself; without them the
        // MKV recording fails to open and FLV outputs carry an empty AVC sequence header.
        argv.insert(argv.end(), {"-flags", "+global_header", "-map", "0:v:0"});
        if (!options.no_audio) {
            argv.insert(argv.end(), {"-map", "0:a?"});
        }
        argv.insert(argv.end(), {"-f", "tee"});
    } else {
        argv.emplace_back("-f");
        argv.emplace_back(publish_spec.starts_with("srt://") ? "mpegts" : "flv");
    }
    argv.emplace_back(publish_spec);
    return argv;
}

LaunchUse launch_use(const StudioOptions& options, const std::vector<std::string>& outputs,
                     const FfmpegArgv& argv) {
    const bool draws_text = std::any_of(argv.begin(), argv.end(), [](const std::string& element) {
        return element.find("drawtext=") != std::string::npos;
    });
    return {outputs, !options.record_file.empty(), !options.no_audio, draws_text};
}

FfmpegArgv build_device_listing_argv(const StudioOptions& options) {
    return {options.ffmpeg_path, "-hide_banner", "-f", "avfoundation",
            "-list_devices",     "true",         "-i", ""};
}

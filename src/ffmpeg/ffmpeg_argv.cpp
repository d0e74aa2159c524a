#include "ffmpeg/ffmpeg_argv.h"

#include "ffmpeg/command_plan.h"
#include "ffmpeg/filter_chain.h"

std::string format_int_arg(int value) {
    return std::to_string(value);
}

std::string format_kbps_arg(int kbps) {
    return std::to_string(kbps) + "k";
}

std::string input_specifier(std::string_view video_input, std::string_view audio_input,
                            bool audio) {
    const auto device_or_default = [](std::string_view device) {
        return device.empty() ? std::string_view{"0"} : device;
    };
    std::string specifier{device_or_default(video_input)};
    specifier += ':';
    specifier += audio ? device_or_default(audio_input) : std::string_view{"none"};
    if (specifier.size() > max_input_specifier_length) {
        specifier.resize(max_input_specifier_length);
    }
    return specifier;
}

Expected<FfmpegArgv> build_ffmpeg_argv(const CommandPlan& plan) {
    const IngestProfile& profile = plan.profile;
    std::string publish_operand;
    if (plan.tee) {
        Expected<std::string> list = build_publish_spec(plan.outputs, plan.recording);
        if (!list) {
            return list.failure();
        }
        publish_operand = std::move(*list);
    } else {
        publish_operand = plan.outputs.front();
    }
    FfmpegArgv argv{plan.ffmpeg_path,
                    "-hide_banner",
                    "-loglevel",
                    "info",
                    "-f",
                    "avfoundation",
                    "-framerate",
                    rate_text(plan.capture.fps),
                    "-video_size",
                    std::to_string(plan.capture.width) + "x" + std::to_string(plan.capture.height),
                    "-i",
                    plan.input_specifier,
                    "-c:v",
                    "h264_videotoolbox",
                    "-tune",
                    "zerolatency"};
    std::string chain = build_filter_chain(plan);
    if (!chain.empty()) {
        argv.emplace_back("-vf");
        argv.push_back(std::move(chain));
    }
    argv.insert(argv.end(), {"-b:v", format_kbps_arg(profile.video_kbps_max), "-maxrate",
                             format_kbps_arg(profile.video_kbps_max), "-bufsize",
                             format_kbps_arg(2 * profile.video_kbps_max), "-pix_fmt", "yuv420p",
                             "-g", format_int_arg(2 * profile.fps)});
    if (!plan.audio) {
        argv.emplace_back("-an");
    } else {
        argv.insert(argv.end(), {"-c:a", "aac", "-b:a", format_kbps_arg(profile.audio_kbps), "-ar",
                                 "48000", "-ac", "2"});
    }
    if (plan.tee) {
        // The tee muxer cannot ask the encoders for global headers itself; without them the
        // MKV recording fails to open and FLV outputs carry an empty AVC sequence header.
        argv.insert(argv.end(), {"-flags", "+global_header", "-map", "0:v:0"});
        if (plan.audio) {
            argv.insert(argv.end(), {"-map", "0:a?"});
        }
        argv.insert(argv.end(), {"-f", "tee"});
    } else {
        argv.emplace_back("-f");
        argv.emplace_back(container_format(publish_operand));
    }
    argv.push_back(std::move(publish_operand));
    return argv;
}

LaunchUse launch_use(const CommandPlan& plan) {
    return {plan.outputs, plan.tee, !plan.recording.empty(), plan.audio, draws_text(plan)};
}

FfmpegArgv build_device_listing_argv(std::string_view ffmpeg_path) {
    return {std::string{ffmpeg_path}, "-hide_banner", "-f", "avfoundation",
            "-list_devices",          "true",         "-i", ""};
}

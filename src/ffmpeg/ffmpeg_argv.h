#pragma once

#include "core/failure.h"
#include "ffmpeg/components.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct CommandPlan;

// The FFmpeg argument vector; element 0 is the executable.
using FfmpegArgv = std::vector<std::string>;

inline constexpr std::size_t max_input_specifier_length = 255;

std::string format_int_arg(int value);
std::string format_kbps_arg(int kbps);

// "video:audio" for the AVFoundation input, each device "0" when not given and the audio
// "none" without audio, cut at 255 bytes.
std::string input_specifier(std::string_view video_input, std::string_view audio_input, bool audio);

// The command of the plan. The only failure is a tee list grown too long by its recording's name.
Expected<FfmpegArgv> build_ffmpeg_argv(const CommandPlan& plan);

// What the plan's command uses of FFmpeg.
LaunchUse launch_use(const CommandPlan& plan);

// The capture-device listing command, whose input name is empty on purpose.
FfmpegArgv build_device_listing_argv(std::string_view ffmpeg_path);

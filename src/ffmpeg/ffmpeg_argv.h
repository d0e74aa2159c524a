#pragma once

#include "ffmpeg/components.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct StudioOptions;
struct IngestProfile;
struct ScenePreset;

// The FFmpeg argument vector; element 0 is the executable. The publish operand is always the
// last element.
using FfmpegArgv = std::vector<std::string>;

inline constexpr std::size_t max_input_specifier_length = 255;

std::string format_int_arg(int value);
std::string format_kbps_arg(int kbps);

// The video device of the AVFoundation input: `video_input`, or "0".
std::string video_device(const StudioOptions& options);

// "video:audio" for the AVFoundation input, cut at 255 bytes.
std::string input_specifier(const StudioOptions& options);

// With `live_folder`, the overlays are read from their files there while live.
FfmpegArgv build_ffmpeg_argv(const StudioOptions& options, const IngestProfile& profile,
                             const ScenePreset& scene, std::string_view publish_spec,
                             std::size_t output_count, std::string_view live_folder = {});

// What the command uses of FFmpeg, sending to `outputs`.
LaunchUse launch_use(const StudioOptions& options, const std::vector<std::string>& outputs,
                     const FfmpegArgv& argv);

// The capture-device listing command, whose input name is empty on purpose.
FfmpegArgv build_device_listing_argv(const StudioOptions& options);

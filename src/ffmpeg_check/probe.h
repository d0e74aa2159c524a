#pragma once

#include "ffmpeg/components.h"

#include <chrono>
#include <optional>
#include <string>

// A program that has not answered a listing by then is not taken for an FFmpeg.
inline constexpr std::chrono::milliseconds probe_time_limit{5000};

// Asks the executable for its version and its listings (each with -hide_banner, never opening a
// device, a file or the network), all at once, with standard input and error on /dev/null.
// Nothing when it could not be asked or did not answer in time: a slow machine is not a finding.
std::optional<FfmpegFindings> probe_ffmpeg(const std::string& executable);

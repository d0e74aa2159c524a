#pragma once

#include "core/failure.h"
#include "ffmpeg/components.h"

#include <chrono>
#include <optional>
#include <string>

// A program that has not answered a listing by then is not taken for an FFmpeg.
inline constexpr std::chrono::milliseconds probe_time_limit{5000};

// Asks the executable for its version and its listings (each with -hide_banner, never opening a
// device, a file or the network), all at once, with standard input and error on /dev/null.
// What its answers settle, or why they settle nothing: it could not be asked, did not answer in
// time, or a query failed (a slow or busy machine is not a finding).
Expected<FfmpegFindings, std::string> probe_ffmpeg(const std::string& executable);

#pragma once

#include <optional>
#include <string_view>

// FFmpeg's progress line, redrawn about twice a second while it encodes; its fields as each
// release writes them (5.1, then 7.0 and later with KiB and elapsed=), any of them "N/A":
//
//     frame=  245 fps= 30 q=28.0 size=N/A time=00:00:08.13 bitrate=N/A dup=0 drop=3 speed=1.01x
//
// dup= and drop= appear once FFmpeg has duplicated or dropped a frame to keep the rate.
struct FfmpegProgress {
    std::optional<long long> frame;
    std::optional<double> fps;
    std::optional<double> speed; // 1 is real time; under 1 the encoder falls behind
    long long duplicated = 0;
    long long dropped = 0;

    bool operator==(const FfmpegProgress&) const = default;
};

// Below this speed the encoder is falling behind: the view shows it, and held long enough it is
// a warning.
inline constexpr double slowest_real_time = 0.95;

// The fields of a progress line; nothing for any other line.
std::optional<FfmpegProgress> read_progress_line(std::string_view line);

#pragma once

#include "ffmpeg/ffmpeg_argv.h"
#include "ffmpeg/live_watch.h"
#include "publish/output_urls.h"

#include <chrono>

inline constexpr int reconnect_attempts = 5;
inline constexpr unsigned reconnect_pause_seconds = 3;
// A run at least this long was a healthy stream: the restarts allowed start again after it.
inline constexpr std::chrono::seconds healthy_run_time{60};

// What a streaming run needs beyond its vector: the outputs and the recording path the user
// gave (each run records to a free name of its own), and what the live lines name.
struct StreamPlan {
    OutputUrlList outputs;
    std::string record_file;
    LivePlan live;
};

// One FFmpeg run with the standard streams shared: the child's exit code, 1 when it died by a
// signal, 2 when it could not be started or waited for, 127 when the executable could not be
// run. A stop request ends FFmpeg and then this program.
int run_ffmpeg(const FfmpegArgv& argv);

// Streams: runs FFmpeg with its standard error passed through the live watch, and with
// `reconnect` restarts it after a non-clean exit, five times at most in a row of short runs,
// with a pause. Each run records to a free file name. Returns the status of the last run.
int run_stream(FfmpegArgv& argv, bool reconnect, const StreamPlan& plan);

#pragma once

#include "ffmpeg/ffmpeg_argv.h"
#include "ffmpeg/live_watch.h"
#include "publish/output_urls.h"

#include <chrono>
#include <string>

inline constexpr int reconnect_attempts = 5;
inline constexpr std::chrono::seconds reconnect_pause{3};
// A run at least this long was a healthy stream: the restarts allowed start again after it.
inline constexpr std::chrono::seconds healthy_run_time{60};

// What a streaming run needs beyond its vector: the outputs and the recording path the user
// gave (each run records to a free name of its own), what the live lines name, and whether a
// failed run is started again.
struct LiveLaunch {
    FfmpegArgv argv;
    OutputUrlList outputs;
    std::string record_file;
    LivePlan live;
    bool reconnect = false;
};

// Streams: runs FFmpeg with its standard error passed through the live watch and, with
// `reconnect`, restarts it after a non-clean exit, five times at most in a row of short runs,
// with a pause. Each run records to a free file name. Returns the status of the last run.
int run_live(LiveLaunch launch);

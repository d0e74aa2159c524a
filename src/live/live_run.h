#pragma once

#include "ffmpeg/camera_modes.h"
#include "ffmpeg/ffmpeg_argv.h"
#include "ffmpeg/live_watch.h"
#include "live/live_overlays.h"
#include "publish/output_urls.h"

#include <chrono>
#include <string>

inline constexpr int reconnect_attempts = 5;
inline constexpr std::chrono::seconds reconnect_pause{3};
// A run at least this long was a healthy stream: the restarts allowed start again after it.
inline constexpr std::chrono::seconds healthy_run_time{60};

// What a streaming run needs beyond its vector: the outputs and the recording path the user
// gave (each run records to a free name of its own), what the live lines name, whether a failed
// run is started again, and the camera with the mode the profile asks of it.
struct LiveLaunch {
    FfmpegArgv argv;
    OutputUrlList outputs;
    std::string record_file;
    LivePlan live;
    bool reconnect = false;
    std::string video_input;
    CaptureMode profile_mode;
    std::optional<LiveOverlaySetup> overlays;
};

// Streams: runs FFmpeg with its standard error passed through the live watch and, with
// `reconnect`, restarts it after a non-clean exit, five times at most in a row of short runs,
// with a pause. Each run records to a free file name. When the camera refuses the profile's mode
// in the first run, FFmpeg starts again at once in a mode it offers (the picture sent keeps the
// profile's size and rate), and that mode is remembered for the camera's next launch. With live
// overlays, their texts change as the overlay file and the automation bridge say, across runs.
// Returns the status of the last run.
int run_live(LiveLaunch launch);

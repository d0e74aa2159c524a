#pragma once

#include "ffmpeg/ffmpeg_argv.h"
#include "publish/output_urls.h"

inline constexpr int reconnect_attempts = 5;
inline constexpr unsigned reconnect_pause_seconds = 3;

// What a run needs to pick its recording's file name: the outputs and the path the user gave.
struct RecordingPlan {
    OutputUrlList outputs;
    std::string record_file;
};

// One FFmpeg run: the child's exit code, 1 when it died by a signal, 2 when it could not be
// started or waited for, 127 when the executable could not be run.
int run_ffmpeg(const FfmpegArgv& argv);

// Runs FFmpeg, and with `reconnect` restarts it after a non-clean exit, at most five times
// with a pause. With a recording plan, each run records to a free file name so no run
// overwrites what an earlier one recorded. Returns the status of the last run.
int run_with_reconnect(FfmpegArgv& argv, bool reconnect, const RecordingPlan* recording);

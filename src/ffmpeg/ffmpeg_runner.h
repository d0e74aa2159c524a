#pragma once

#include "ffmpeg/ffmpeg_argv.h"
#include "process/supervisor.h"

#include <string>

// FFmpeg as a child: started from its vector (a bare name looked up on the executable search
// path), asked to finish when this program stops, and its end turned into one status: the exit
// code, 1 when it died by a signal, 2 when it could not be started or waited for, 127 when the
// executable could not be run.

struct FfmpegEnd {
    int status = 0;
    std::string message; // why it could not be started or waited for, or empty
};

// The child for the vector; with `pipe_errors` its standard error comes to us.
ChildSpec ffmpeg_child(const FfmpegArgv& argv, bool pipe_errors);

// The end of a child that did not start.
FfmpegEnd ffmpeg_start_failure(const FfmpegArgv& argv, int error);

// The end of a run that was waited for, or could not be.
FfmpegEnd ffmpeg_end(const ChildEnd& end);

// One run whose standard error is collected into `errors` (a device listing); a stop request
// ends FFmpeg and then this program.
FfmpegEnd run_ffmpeg_collecting_errors(const FfmpegArgv& argv, std::string& errors);

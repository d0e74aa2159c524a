#pragma once

#include "ffmpeg/ffmpeg_argv.h"
#include "process/supervisor.h"

#include <string>

// FFmpeg as a child: started from its vector (a bare name looked up on the executable search
// path), asked to finish when this program stops, and its end turned into one status: the exit
// code, 1 when it died by a signal, 2 when it could not be started or waited for, 127 when the
// executable could not be run.

// The child for the vector; with `pipe_errors` its standard error comes to us.
ChildSpec ffmpeg_child(const FfmpegArgv& argv, bool pipe_errors);

// The status for a child that did not start, after its message.
int ffmpeg_start_failure(const FfmpegArgv& argv, int error);

// The status of an ended run, after a message when waiting failed.
int ffmpeg_status(const ChildEnd& end);

// One run with the standard streams shared; the status as above. A stop request ends FFmpeg and
// then this program.
int run_ffmpeg(const FfmpegArgv& argv);

// The same, with what FFmpeg writes to standard error collected into `errors` instead.
int run_ffmpeg_collecting_errors(const FfmpegArgv& argv, std::string& errors);

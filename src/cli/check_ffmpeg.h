#pragma once

#include "core/failure.h"
#include "ffmpeg/command_plan.h"

#include <optional>
#include <string>

struct StudioOptions;

// --check-ffmpeg: asks the FFmpeg this launch would run, afresh, and lists what it has and lacks
// on standard output. Returns 0 when it has everything the configured launch needs, 2 otherwise.
int check_ffmpeg_mode(StudioOptions& options);

// Before a stream goes live: the message that stops it when its FFmpeg surely lacks a component
// the command uses, or nothing (a program that does not answer as an FFmpeg does is started as
// it is).
std::optional<Failure> ffmpeg_refusal(const CommandPlan& command);

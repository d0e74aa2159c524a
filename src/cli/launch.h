#pragma once

#include <string_view>

struct StudioOptions;

// Everything after the command-line walk: installs the crash handler, picks the one mode of
// this run and performs it. Returns the exit status: 0, 2, or the last FFmpeg run's status.
int run_studio(StudioOptions& options);

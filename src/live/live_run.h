#pragma once

#include "plan/launch_plan.h"

#include <chrono>

inline constexpr int reconnect_attempts = 5;
inline constexpr std::chrono::seconds reconnect_pause{3};
// A run at least this long was a healthy stream: the restarts allowed start again after it.
inline constexpr std::chrono::seconds healthy_run_time{60};

// Streams the plan: runs FFmpeg with its standard error passed through the live watch and, with
// reconnect, restarts it after a non-clean exit, five times at most in a row of short runs, with
// a pause. Each run records to a free file name. When the camera refuses the profile's mode in
// the first run, FFmpeg starts again at once in a mode it offers (the picture sent keeps the
// profile's size and rate), and that mode is remembered for the camera's next launch. With live
// overlays, their texts change as the overlay file and the automation bridge say, across runs.
// Every command is made afresh from the plan. Returns the status of the last run.
int run_live(LaunchPlan plan);

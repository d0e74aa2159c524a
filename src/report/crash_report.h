#pragma once

struct StudioOptions;

// Prepares the crash report for every fatal signal and its delivery command now, while the
// options are at hand (the handler itself may not allocate or format), and installs
// on_fatal_signal for SIGABRT, SIGFPE, SIGILL, SIGSEGV and SIGTERM.
void install_crash_handler(const StudioOptions& options);

// The crash handler: on SIGTERM it first stops a running FFmpeg so its recording is finished,
// then sends the prepared "crash" report (nothing when reporting is off or its URL refused),
// restores the signal's default action and ends the process with status 128 + the signal
// number. Uses only async-signal-safe calls.
[[noreturn]] void on_fatal_signal(int signal_number);

#pragma once

struct StudioOptions;

// Takes the process-wide reference the crash handler reads, prepares every crash report and
// its delivery command now (the handler itself may not allocate or format), and installs
// on_fatal_signal for SIGABRT, SIGFPE, SIGILL, SIGSEGV and SIGTERM.
void install_crash_handler(const StudioOptions& options);

// Sends a "crash" report (unless reporting is off), restores the signal's default action and
// ends the process with status 128 + the signal number. On SIGTERM the running FFmpeg is
// stopped first so its recording is finalised. Uses only async-signal-safe calls.
[[noreturn]] void on_fatal_signal(int signal_number);

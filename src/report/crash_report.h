#pragma once

struct StudioOptions;

// Prepares the crash report of every reported signal and its delivery command now, while the
// options are at hand (a handler may not allocate or format), and installs the handlers below.
void install_crash_handler(const StudioOptions& options);

// A crash (SIGABRT, SIGFPE, SIGILL, SIGSEGV, SIGBUS), once the running children have ended: the
// prepared "crash" report is sent (nothing when reporting is off or its URL refused), and the
// process ends with status 128 + the number. Uses only async-signal-safe calls.
[[noreturn]] void on_fatal_signal(int signal_number);

// A stop, once the running children have ended: SIGTERM is reported like a crash and ends the
// process with status 143; SIGINT, SIGHUP and SIGQUIT, which the user sent, end it the way the
// signal does by default, without a report. Uses only async-signal-safe calls.
[[noreturn]] void on_stop_signal(int signal_number);

#pragma once

#include <array>
#include <csignal>

// Signals that mean this program itself failed: a crash report, then the end.
inline constexpr std::array<int, 5> crash_signals{SIGABRT, SIGFPE, SIGILL, SIGSEGV, SIGBUS};

// Signals that ask this program to stop. While a child runs, the stop is left to the code that
// supervises it, which ends the child first (FFmpeg finishes its outputs; a shell command's
// process group is ended) and then calls the stop handler; at any other moment the stop handler
// runs at once.
inline constexpr std::array<int, 4> stop_signals{SIGTERM, SIGINT, SIGHUP, SIGQUIT};

using SignalHandler = void (*)(int);

// Installs `on_crash` for the crash signals and the stop handling above with `on_stop` for the
// stop signals, each run with every other signal held off (neither returns), and a wake-up of
// the supervisor when a child ends.
void install_signal_handlers(SignalHandler on_crash, SignalHandler on_stop);

// The stop signal received while a child ran, or 0.
int pending_stop_signal() noexcept;

// A descriptor that becomes readable when a stop signal arrives or a child ends, to wait on
// beside others.
int wake_fd() noexcept;

// Hands a pending stop to the stop handler, once the supervised child has ended.
[[noreturn]] void finish_stop(int signal_number);

// Writing to a closed terminal or pipe fails instead of ending this program, which must
// still end its child. Children start with the default again.
void ignore_broken_pipes();

// Async-signal-safe helpers for the handlers.
void restore_default_signal(int signal_number) noexcept;
// Ends the process the way the signal does by default, so a calling shell sees it.
[[noreturn]] void end_by_default_action(int signal_number) noexcept;
// Ends the running child, if any: FFmpeg is asked to finish its outputs (within a bounded time),
// a shell command's process group is killed.
void end_running_child() noexcept;

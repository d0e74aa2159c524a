#pragma once

#include <array>
#include <chrono>
#include <csignal>

// Signals that mean this program itself failed: a crash report, then the end.
inline constexpr std::array<int, 5> crash_signals{SIGABRT, SIGFPE, SIGILL, SIGSEGV, SIGBUS};

// Signals that ask this program to stop.
inline constexpr std::array<int, 4> stop_signals{SIGTERM, SIGINT, SIGHUP, SIGQUIT};

using SignalHandler = void (*)(int);

// Takes over the signal state this program was started with, first thing: no signal stays
// blocked; a signal that was ignored stays ignored, for this program and every program it starts
// (the convention of `nohup` and of a shell's background jobs), except those this program cannot
// do without (a crash, a child's end, a continue, its own write alarm); a broken pipe is a failed
// write, never the end of this program.
void settle_inherited_signals() noexcept;

// The signals this program stops on or ignores itself (SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE)
// that were ignored at the start and stay ignored.
const sigset_t& signals_kept_ignored() noexcept;

// Every way this program ends by a signal, in one place:
// - a crash signal ends every running child (FFmpeg is asked to finish its outputs), removes
//   what must not outlive the run, and calls `on_crash`;
// - a stop signal while a child runs is left to the supervisor, which ends every child first
//   (FFmpeg finishes, a command is ended) and then finishes the stop; at any other moment the
//   stop is finished at once; a stop signal that was ignored at the start is not handled;
// - finishing a stop removes what must not outlive the run and calls `on_stop`.
// Neither handler returns, and each runs with every other signal held off. A child that ends
// and this program being continued after a stop wake the supervisor.
void install_signal_handlers(SignalHandler on_crash, SignalHandler on_stop);

// The stop signal received while a child ran, or 0.
int pending_stop_signal() noexcept;

// True when this program was continued after being stopped (Ctrl-Z, SIGSTOP) since the last
// call.
bool take_continued() noexcept;

// A descriptor that becomes readable when a stop signal arrives, a child ends or this program
// is continued, to wait on beside others.
int wake_fd() noexcept;

// Ends the process for a stop once no child runs any more.
[[noreturn]] void finish_stop(int signal_number);

// Writing to a closed terminal or pipe fails instead of ending this program, which must
// still end its children. Children start with the default again.
void ignore_broken_pipes();

// For as long as it lives, a write that blocks longer than `patience` is interrupted: it comes
// back short, or fails with EINTR.
class WriteAlarm {
  public:
    explicit WriteAlarm(std::chrono::microseconds patience) noexcept;
    ~WriteAlarm();
    WriteAlarm(const WriteAlarm&) = delete;
    WriteAlarm& operator=(const WriteAlarm&) = delete;
};

// Async-signal-safe helpers for the handlers.
void restore_default_signal(int signal_number) noexcept;
// Ends the process the way the signal does by default, so a calling shell sees it.
[[noreturn]] void end_by_default_action(int signal_number) noexcept;

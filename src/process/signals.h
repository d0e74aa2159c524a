#pragma once

#include <array>
#include <csignal>

// The fatal signals the crash handler answers, in the order it is installed for them.
inline constexpr std::array<int, 5> fatal_signals{SIGABRT, SIGFPE, SIGILL, SIGSEGV, SIGTERM};

using SignalHandler = void (*)(int);

// Installs `handler` for every fatal signal, each run with all other signals held off.
void install_fatal_signal_handler(SignalHandler handler);

// Async-signal-safe helpers for the crash handler.
void restore_default_signal(int signal_number) noexcept;
// Passes SIGTERM on to a running FFmpeg and waits a bounded time for it to finish writing its
// outputs. Nothing when no FFmpeg runs.
void stop_running_ffmpeg() noexcept;

#pragma once

#include <array>
#include <csignal>

// The fatal signals the crash handler answers, in the order it is installed for them.
inline constexpr std::array<int, 5> fatal_signals{SIGABRT, SIGFPE, SIGILL, SIGSEGV, SIGTERM};

using SignalHandler = void (*)(int);

void install_fatal_signal_handler(SignalHandler handler);

// Async-signal-safe helpers for the crash handler.
void restore_default_signal(int signal_number) noexcept;
// Sends `signal_number` to the running FFmpeg child, if any, and waits a bounded time for it
// to finish writing its outputs.
void forward_signal_to_ffmpeg(int signal_number) noexcept;

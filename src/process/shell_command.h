#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

// Shell commands (curl and the checksum tools) run through /bin/sh -c, so every command text
// reaches the shell exactly as composed. Each runs in a process group of its own, which is
// ended as a whole when its time is up or this program is asked to stop: no shell or curl
// outlives the launch that started it.

// Runs the command and waits for it, at most `time_limit`. True when it ended with status 0.
bool run_shell_command(const std::string& command, std::chrono::milliseconds time_limit);

// Runs the command and reads at most `limit` bytes of its standard output; what it writes
// beyond that is never read. Nothing unless the command ended with status 0 in time.
std::optional<std::string> read_shell_command_output(const std::string& command, std::size_t limit,
                                                     std::chrono::milliseconds time_limit);

// For the crash handler only: runs `command` through /bin/sh -c and waits for it, using only
// async-signal-safe calls (no allocation, no stdio, no fork handlers).
void run_shell_command_from_signal_handler(const char* command) noexcept;

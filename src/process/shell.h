#pragma once

#include <cstddef>
#include <optional>
#include <string>

// Runs a command line through /bin/sh and returns its wait status (-1 when it could not run).
int run_shell_command(const std::string& command);

// Runs a command line through /bin/sh and reads at most `limit` bytes of its standard output.
// Nothing when the shell could not be started or the command did not end with status 0.
std::optional<std::string> read_shell_command_output(const std::string& command, std::size_t limit);

// For the crash handler only: runs `command` through /bin/sh -c and waits for it, using only
// async-signal-safe calls (no allocation, no stdio, no fork handlers).
void run_shell_command_from_signal_handler(const char* command) noexcept;

#pragma once

#include <cstddef>
#include <optional>
#include <string>

// FFmpeg's log of each live run, in the user's log folder: one file a run, readable by the user
// alone, the last 20 runs kept.

inline constexpr std::size_t kept_run_logs = 20;

struct RunLogFile {
    std::string path;
    int fd = -1; // open for appending
};

// Creates the log of a run starting now, and removes the oldest logs beyond the last 20.
// Nothing when there is no log folder or it cannot be made private.
std::optional<RunLogFile> create_run_log(const std::string& folder);

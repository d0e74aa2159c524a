#pragma once

#include <string>

// Files and folders that must not outlive the run: a recording reserved but never written, the
// folder of live overlay texts. They are removed whatever way the run ends (a clean end, a stop,
// a crash; only a SIGKILL leaves them), files before folders.

enum class Removal {
    always,   // a file, or an empty folder
    if_empty, // a regular file, only while nothing was written to it
};

// Registers `path`; false when it cannot be held (too long, or too many at once), in which case
// it is left to the caller.
bool remove_at_end(const std::string& path, Removal removal);

// Removes `path` now, as registered, and forgets it.
void remove_now(const std::string& path);

// Removes everything registered. Async-signal-safe.
void remove_what_must_not_outlive_the_run() noexcept;

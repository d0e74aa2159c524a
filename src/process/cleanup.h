#pragma once

#include <string>
#include <string_view>

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

// The bytes that erase the status view from the terminal, written to standard error should the
// run end in a way the view does not see (a stop, a crash); empty when nothing is drawn. At most
// 63 bytes are kept.
void erase_screen_at_end(std::string_view sequence) noexcept;

#include "process/cleanup.h"

#include <array>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t max_path_bytes = 1024;
constexpr std::size_t max_entries = 24;

// A handler reads these: an entry is published by writing its path and removal first and then,
// after a signal fence, marking it used; it is retired by clearing the mark, and only after a
// fence is it touched again. A handler that sees the mark therefore sees the whole entry. The
// marks are kept apart from the paths, so that looking for an entry touches one small array, not
// every path's page.
struct Entry {
    std::array<char, max_path_bytes> path{};
    Removal removal = Removal::always;
};
std::array<Entry, max_entries> entries;
std::array<volatile std::sig_atomic_t, max_entries> used{};

// Removes the entry unless it is a folder and `folders` is false; true when it is gone or
// was left on purpose (written to, or not there at all).
bool remove_entry(const Entry& entry, bool folders) noexcept {
    struct stat info {};
    if (lstat(entry.path.data(), &info) != 0) {
        return true;
    }
    if (S_ISDIR(info.st_mode)) {
        return folders && rmdir(entry.path.data()) == 0;
    }
    if (entry.removal == Removal::always || (S_ISREG(info.st_mode) && info.st_size == 0)) {
        unlink(entry.path.data());
    }
    return true;
}

// The index of the entry holding `path`, or max_entries.
std::size_t entry_of(const std::string& path) {
    std::size_t index = 0;
    while (index < max_entries && (used[index] == 0 || path != entries[index].path.data())) {
        ++index;
    }
    return index;
}

} // namespace

bool remove_at_end(const std::string& path, Removal removal) {
    if (path.empty() || path.size() >= max_path_bytes) {
        return false;
    }
    // Returning from main or exit() end the run too.
    static const bool at_exit = std::atexit(remove_what_must_not_outlive_the_run) == 0;
    (void)at_exit;
    for (std::size_t index = 0; index < max_entries; ++index) {
        if (used[index] == 0) {
            Entry& entry = entries[index];
            path.copy(entry.path.data(), path.size());
            entry.path[path.size()] = '\0';
            entry.removal = removal;
            std::atomic_signal_fence(std::memory_order_release);
            used[index] = 1;
            return true;
        }
    }
    return false;
}

void remove_now(const std::string& path) {
    if (const std::size_t index = entry_of(path); index < max_entries) {
        used[index] = 0;
        std::atomic_signal_fence(std::memory_order_seq_cst);
        remove_entry(entries[index], true);
    }
}

void remove_what_must_not_outlive_the_run() noexcept {
    // Files first, so that the folders holding them are empty by the time they go.
    for (const bool folders : {false, true}) {
        for (std::size_t index = 0; index < max_entries; ++index) {
            if (used[index] == 0) {
                continue;
            }
            std::atomic_signal_fence(std::memory_order_acquire);
            if (remove_entry(entries[index], folders)) {
                used[index] = 0;
                std::atomic_signal_fence(std::memory_order_release);
            }
        }
    }
}

#include "process/cleanup.h"

#include <array>
#include <csignal>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t max_path_bytes = 1024;
constexpr std::size_t max_entries = 24;

// A handler reads these: an entry is taken by writing its path first and marking it used last,
// and given back by clearing the mark first.
struct Entry {
    std::array<char, max_path_bytes> path{};
    Removal removal = Removal::always;
    volatile std::sig_atomic_t used = 0;
};
std::array<Entry, max_entries> entries;

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

Entry* entry_of(const std::string& path) {
    for (Entry& entry : entries) {
        if (entry.used != 0 && path == entry.path.data()) {
            return &entry;
        }
    }
    return nullptr;
}

} // namespace

bool remove_at_end(const std::string& path, Removal removal) {
    if (path.empty() || path.size() >= max_path_bytes) {
        return false;
    }
    // Returning from main or exit() end the run too.
    static const bool at_exit = std::atexit(remove_what_must_not_outlive_the_run) == 0;
    (void)at_exit;
    for (Entry& entry : entries) {
        if (entry.used == 0) {
            path.copy(entry.path.data(), path.size());
            entry.path[path.size()] = '\0';
            entry.removal = removal;
            entry.used = 1;
            return true;
        }
    }
    return false;
}

void remove_now(const std::string& path) {
    if (Entry* entry = entry_of(path)) {
        entry->used = 0;
        remove_entry(*entry, true);
    }
}

void remove_what_must_not_outlive_the_run() noexcept {
    // Files first, so that the folders holding them are empty by the time they go.
    for (const bool folders : {false, true}) {
        for (Entry& entry : entries) {
            if (entry.used != 0 && remove_entry(entry, folders)) {
                entry.used = 0;
            }
        }
    }
}

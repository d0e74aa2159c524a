#include "process/cleanup.h"

#include <array>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <poll.h>
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

// Two places for the screen's erase sequence: a new one is written into the place not in use,
// then made the one in use, so a handler never reads half of one.
constexpr std::size_t max_erase_bytes = 64;
struct EraseSequence {
    std::array<char, max_erase_bytes> bytes{};
    volatile std::sig_atomic_t length = 0;
};
std::array<EraseSequence, 2> erase_sequences;
volatile std::sig_atomic_t erase_in_use = 0;

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

void erase_screen_at_end(std::string_view sequence) noexcept {
    const int next = 1 - erase_in_use;
    EraseSequence& place = erase_sequences[static_cast<std::size_t>(next)];
    const std::size_t length = sequence.size() < max_erase_bytes ? sequence.size() : 0;
    sequence.copy(place.bytes.data(), length);
    place.length = static_cast<std::sig_atomic_t>(length);
    std::atomic_signal_fence(std::memory_order_release);
    erase_in_use = next;
}

void remove_what_must_not_outlive_the_run() noexcept {
    const EraseSequence& erase = erase_sequences[static_cast<std::size_t>(erase_in_use)];
    // Only when the terminal takes it now: a terminal held with Ctrl-S must not hold the end.
    pollfd terminal{STDERR_FILENO, POLLOUT, 0};
    if (erase.length > 0 && poll(&terminal, 1, 0) == 1 && (terminal.revents & POLLOUT) != 0) {
        [[maybe_unused]] const ssize_t written =
            write(STDERR_FILENO, erase.bytes.data(), static_cast<std::size_t>(erase.length));
    }
    erase_screen_at_end({});
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

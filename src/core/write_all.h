#pragma once

#include <cstddef>
#include <string_view>

// Writes every byte, however the writes come out and whatever signal interrupts them. False when
// the descriptor takes no more (errno says why; a write of nothing counts as a full device).
// Async-signal-safe.
bool write_all(int fd, const char* data, std::size_t size) noexcept;

inline bool write_all(int fd, std::string_view text) noexcept {
    return write_all(fd, text.data(), text.size());
}

#include "update/versions.h"

#include <cstdint>

namespace {

constexpr int version_components = 4;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The next component from `cursor` on; a value beyond the 32-bit range stays at its maximum.
std::int32_t next_component(std::string_view text, std::size_t& cursor) {
    while (cursor < text.size() && !is_digit(text[cursor])) {
        ++cursor;
    }
    std::int64_t value = 0;
    while (cursor < text.size() && is_digit(text[cursor])) {
        value = value * 10 + (text[cursor] - '0');
        if (value > INT32_MAX) {
            value = INT32_MAX;
        }
        ++cursor;
    }
    return static_cast<std::int32_t>(value);
}

} // namespace

int compare_versions(std::string_view current, std::string_view latest) {
    std::size_t current_cursor = 0;
    std::size_t latest_cursor = 0;
    for (int component = 0; component < version_components; ++component) {
        const std::int32_t mine = next_component(current, current_cursor);
        const std::int32_t theirs = next_component(latest, latest_cursor);
        if (mine != theirs) {
            return mine < theirs ? -1 : 1;
        }
    }
    return 0;
}

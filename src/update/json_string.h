#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Finds the string member `key` anywhere in `text` by plain search (no JSON parser) and
// copies its value into `out`, at most capacity - 1 bytes, a backslash making the next byte
// literal. True when a non-empty value was stored; `out` is empty otherwise.
bool extract_json_string(std::string_view text, std::string_view key, std::string& out,
                         std::size_t capacity);

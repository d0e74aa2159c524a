#pragma once

#include <cstddef>
#include <string_view>

// How many single-character edits turn `a` into `b`: a character inserted, removed or replaced,
// or two neighbours swapped. A distance above `limit` is returned as `limit` + 1.
std::size_t edit_distance(std::string_view a, std::string_view b, std::size_t limit);

#pragma once

#include <string_view>

// Compares the first four numeric components of two version texts (any run of non-digits
// separates components, a missing one counts as 0): negative when `current` is older, 0 when
// equal, positive when newer.
int compare_versions(std::string_view current, std::string_view latest);

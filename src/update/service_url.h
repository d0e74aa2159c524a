#pragma once

#include <cstddef>

inline constexpr std::size_t max_service_url_length = 1023;

// True when `url` is an HTTPS URL of at most 1023 bytes made only of ASCII letters, digits and
// the characters :/?&=._-%+#,~ -- the only URLs the update and report services are reached at.
// Allocates nothing and writes nothing.
bool is_safe_service_url(const char* url) noexcept;

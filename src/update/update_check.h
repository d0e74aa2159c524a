#pragma once

#include <string>
#include <string_view>

struct StudioOptions;

inline constexpr std::size_t max_update_answer_bytes = 131071;
inline constexpr std::size_t latest_version_capacity = 80;
inline constexpr std::size_t download_url_capacity = 1024;
inline constexpr std::size_t sha256_capacity = 96;

// The update query URL for an endpoint, cut to 1023 bytes.
std::string update_query_url(std::string_view endpoint);

// Asks the update service for a newer package, announces it on standard error and downloads
// it when allowed. Every failure is silent; it never stops a launch.
void check_for_update(const StudioOptions& options);

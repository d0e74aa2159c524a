#pragma once

#include <optional>
#include <string>
#include <string_view>

struct StudioOptions;

inline constexpr std::size_t max_update_answer_bytes = 131071;
inline constexpr std::size_t latest_version_capacity = 80;
inline constexpr std::size_t download_url_capacity = 1024;
inline constexpr std::size_t sha256_capacity = 96;

// The update query URL for an endpoint, cut to 1023 bytes.
std::string update_query_url(std::string_view endpoint);

struct PackageDownload {
    std::string url;
    std::string latest_version;
    std::string sha256;
};

// What the update service said: the lines to show on standard error (a newer version and where
// it is, or under --check-update that this one is current), and the package to download when
// that is allowed.
struct UpdateNews {
    std::string lines;
    std::optional<PackageDownload> download;
};

// Asks the update service for a newer package. Every failure is silent: no news.
UpdateNews ask_for_update(const StudioOptions& options);

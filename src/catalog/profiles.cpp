#include "catalog/profiles.h"

#include <array>
#include <cstdio>

namespace {

constexpr std::array<IngestProfile, 4> profile_table{{
    {"low_power_360p", "Low Power 360p", 640, 360, 24, 450, 900, 64},
    {"balanced_480p", "Balanced 480p", 854, 480, 30, 900, 1600, 96},
    {"standard_720p", "Standard 720p", 1280, 720, 30, 1800, 3200, 128},
    {"high_1080p", "High 1080p", 1920, 1080, 30, 3500, 6000, 160},
}};

} // namespace

std::span<const IngestProfile> ingest_profiles() {
    return profile_table;
}

const IngestProfile* find_profile(std::string_view key) {
    const std::string_view wanted = key.empty() ? default_profile_key : key;
    for (const IngestProfile& profile : profile_table) {
        if (profile.key == wanted) {
            return &profile;
        }
    }
    return nullptr;
}

const IngestProfile* lighter_profile(const IngestProfile& profile) {
    // The table goes from the lightest to the heaviest.
    for (std::size_t i = 1; i < profile_table.size(); ++i) {
        if (profile_table[i].key == profile.key) {
            return &profile_table[i - 1];
        }
    }
    return nullptr;
}

std::string profile_listing() {
    std::string listing;
    for (const IngestProfile& p : profile_table) {
        char line[256];
        std::snprintf(line, sizeof line,
                      "%.*s | %.*s | %dx%d | %d fps | %d-%d kbps video | %d kbps audio | server "
                      "upconvert\n",
                      static_cast<int>(p.key.size()), p.key.data(),
                      static_cast<int>(p.label.size()), p.label.data(), p.width, p.height, p.fps,
                      p.video_kbps_min, p.video_kbps_max, p.audio_kbps);
        listing += line;
    }
    return listing;
}

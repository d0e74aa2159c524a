#pragma once

#include <span>
#include <string>
#include <string_view>

struct IngestProfile {
    std::string_view key;
    std::string_view label;
    int width;
    int height;
    int fps;
    int video_kbps_min; // shown in the listing only
    int video_kbps_max; // what the encoder is given
    int audio_kbps;
};

inline constexpr std::string_view default_profile_key = "balanced_480p";

std::span<const IngestProfile> ingest_profiles();

// An empty key means the default profile; the comparison is exact and case-sensitive.
const IngestProfile* find_profile(std::string_view key);

// The next lighter profile, for a machine that cannot keep up; nothing for the lightest.
const IngestProfile* lighter_profile(const IngestProfile& profile);

// One line per profile, as --list-profiles shows them.
std::string profile_listing();

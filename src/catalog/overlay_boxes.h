#pragma once

#include <cstddef>
#include <span>
#include <string_view>

// The five text boxes a picture can carry, in the order the filter chain draws them. Each is
// named by its config key, which the overlay file and the automation bridge use as well.
struct OverlayBox {
    std::string_view key; // "overlay_title"
    std::string_view x;
    std::string_view y;
    int fontsize;
    std::string_view boxcolor;
    std::string_view when_emptied; // what an emptied text shows while live
};

inline constexpr std::size_t overlay_count = 5;

inline constexpr std::string_view default_subtitle = "Brevalo Castora";
inline constexpr std::string_view default_left_score = "Team A 0";
inline constexpr std::string_view default_right_score = "Team B 0";
inline constexpr std::string_view default_watermark = "Brevalo";

std::span<const OverlayBox> overlay_boxes();

// The box of that key; nothing for any other text.
const OverlayBox* find_overlay(std::string_view key);

#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>

struct StudioOptions;
struct ScenePreset;

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

std::span<const OverlayBox> overlay_boxes();

// The box of that key; nothing for any other text.
const OverlayBox* find_overlay(std::string_view key);

// Each box's text, or nothing when the box is not drawn: the lower third when the scene has one
// or a title or subtitle is given, the scoreboard likewise, the watermark always. A text given
// empty stays empty; one not given is the default (the scene's name for the title).
using OverlayTexts = std::array<std::optional<std::string>, overlay_count>;
OverlayTexts drawn_overlay_texts(const StudioOptions& options, const ScenePreset& scene);

// A text as a file drawtext reads while live: what the launch texts lose to quoting is kept as
// typed; control characters, line breaks and bytes outside well-formed UTF-8 are dropped, and
// the text is cut at 255 bytes without splitting a character. An emptied text shows the box's
// `when_emptied`: the default watermark, or for the other boxes one space, the box with nothing in
// it (drawtext cannot take a box away).
std::string overlay_file_text(const OverlayBox& box, std::string_view text);

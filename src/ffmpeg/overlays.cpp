#include "ffmpeg/overlays.h"

#include "catalog/scenes.h"
#include "core/options.h"
#include "ffmpeg/filter_chain.h"

namespace {

constexpr std::string_view default_subtitle = "Brevalo Castora";
constexpr std::string_view default_left_score = "Team A 0";
constexpr std::string_view default_right_score = "Team B 0";
constexpr std::string_view default_watermark = "Brevalo";
constexpr std::string_view blank = " ";

constexpr std::array<OverlayBox, overlay_count> box_table{{
    {"overlay_title", "36", "h-148", 34, "0x050505cc", blank},
    {"overlay_subtitle", "36", "h-86", 22, "0xc70f3acc", blank},
    {"score_left", "36", "36", 30, "0xc70f3add", blank},
    {"score_right", "w-text_w-36", "36", 30, "0x050505cc", blank},
    // As at the launch, an empty watermark is the default one.
    {"watermark", "w-text_w-28", "h-58", 20, "0x05050599", default_watermark},
}};

bool is_non_empty(const OptionalText& text) {
    return text.has_value() && !text->empty();
}

// The option's text when present, even empty; the fallback otherwise.
std::string text_or(const OptionalText& text, std::string_view fallback) {
    return text.has_value() ? *text : std::string{fallback};
}

} // namespace

std::span<const OverlayBox> overlay_boxes() {
    return box_table;
}

const OverlayBox* find_overlay(std::string_view key) {
    for (const OverlayBox& box : box_table) {
        if (box.key == key) {
            return &box;
        }
    }
    return nullptr;
}

OverlayTexts drawn_overlay_texts(const StudioOptions& options, const ScenePreset& scene) {
    OverlayTexts texts;
    if (scene.lower_third || is_non_empty(options.overlay_title) ||
        is_non_empty(options.overlay_subtitle)) {
        texts[0] = text_or(options.overlay_title, scene.label);
        texts[1] = text_or(options.overlay_subtitle, default_subtitle);
    }
    if (scene.scoreboard || is_non_empty(options.score_left) || is_non_empty(options.score_right)) {
        texts[2] = text_or(options.score_left, default_left_score);
        texts[3] = text_or(options.score_right, default_right_score);
    }
    // An empty watermark falls back to the default.
    texts[4] =
        is_non_empty(options.watermark) ? *options.watermark : std::string{default_watermark};
    return texts;
}

std::string overlay_file_text(const OverlayBox& box, std::string_view text) {
    const std::string kept = sanitize_overlay_text(text, false);
    return kept.empty() ? std::string{box.when_emptied} : kept;
}

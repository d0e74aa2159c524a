#include "ffmpeg/overlays.h"

#include "catalog/scenes.h"
#include "ffmpeg/overlay_text.h"

namespace {

bool is_non_empty(const OptionalText& text) {
    return text.has_value() && !text->empty();
}

// The text when given, even empty; the fallback otherwise.
std::string text_or(const OptionalText& text, std::string_view fallback) {
    return text.has_value() ? *text : std::string{fallback};
}

} // namespace

OverlayInputs overlay_inputs(const StudioOptions& options) {
    return {options.overlay_title, options.overlay_subtitle, options.score_left,
            options.score_right, options.watermark};
}

OverlayTexts drawn_overlay_texts(const OverlayInputs& given, const ScenePreset& scene) {
    const auto& [title, subtitle, left, right, watermark] = given;
    OverlayTexts texts;
    if (scene.lower_third || is_non_empty(title) || is_non_empty(subtitle)) {
        texts[0] = text_or(title, scene.label);
        texts[1] = text_or(subtitle, default_subtitle);
    }
    if (scene.scoreboard || is_non_empty(left) || is_non_empty(right)) {
        texts[2] = text_or(left, default_left_score);
        texts[3] = text_or(right, default_right_score);
    }
    // An empty watermark falls back to the default.
    texts[4] = is_non_empty(watermark) ? *watermark : std::string{default_watermark};
    return texts;
}

std::string overlay_file_text(const OverlayBox& box, std::string_view text) {
    const std::string kept = sanitize_overlay_text(text, false);
    return kept.empty() ? std::string{box.when_emptied} : kept;
}

#include "ffmpeg/filter_chain.h"

#include "catalog/profiles.h"
#include "catalog/scenes.h"
#include "core/options.h"
#include "core/utf8.h"

#include <cstdio>

namespace {

constexpr std::string_view replaced_by_space = "',:;[\\]|";

struct Box {
    std::string_view x;
    std::string_view y;
    int fontsize;
    std::string_view boxcolor;
};

constexpr Box title_box{"36", "h-148", 34, "0x050505cc"};
constexpr Box subtitle_box{"36", "h-86", 22, "0xc70f3acc"};
constexpr Box left_score_box{"36", "36", 30, "0xc70f3add"};
constexpr Box right_score_box{"w-text_w-36", "36", 30, "0x050505cc"};
constexpr Box watermark_box{"w-text_w-28", "h-58", 20, "0x05050599"};

constexpr std::string_view default_subtitle = "Brevalo Castora";
constexpr std::string_view default_left_score = "Team A 0";
constexpr std::string_view default_right_score = "Team B 0";
constexpr std::string_view default_watermark = "Brevalo";

bool is_non_empty(const OptionalText& text) {
    return text.has_value() && !text->empty();
}

// The option's text when present, even empty; the fallback otherwise.
std::string_view text_or(const OptionalText& text, std::string_view fallback) {
    return text.has_value() ? std::string_view{*text} : fallback;
}

void append_box(std::string& chain, std::string_view text, const Box& box) {
    append_drawtext(chain, text, box.x, box.y, box.fontsize, box.boxcolor);
}

} // namespace

std::string sanitize_overlay_text(std::string_view text) {
    std::string clean;
    std::size_t at = 0;
    for (std::string_view c = next_clean_character(text, at); !c.empty();
         c = next_clean_character(text, at)) {
        if (clean.size() + c.size() > max_overlay_text_length) {
            break;
        }
        const bool breaks_filter =
            c.size() == 1 && replaced_by_space.find(c) != std::string_view::npos;
        clean += breaks_filter ? std::string_view{" "} : c;
    }
    return clean;
}

void append_drawtext(std::string& chain, std::optional<std::string_view> text, std::string_view x,
                     std::string_view y, int fontsize, std::string_view boxcolor) {
    const std::string clean = sanitize_overlay_text(text.value_or(std::string_view{}));
    if (clean.empty()) {
        return;
    }
    if (!chain.empty()) {
        chain += ',';
    }
    // expansion=none: the text is drawn as typed, so "100% hype" neither drops the box nor
    // expands "%{...}" sequences.
    chain += "drawtext=text='";
    chain += clean;
    chain += "':x=";
    chain += x;
    chain += ":y=";
    chain += y;
    chain += ":fontsize=";
    chain += std::to_string(fontsize);
    chain += ":fontcolor=white:box=1:boxcolor=";
    chain += boxcolor;
    chain += ":boxborderw=14:expansion=none";
}

std::string build_filter_chain(const StudioOptions& options, const IngestProfile& profile,
                               const ScenePreset& scene) {
    char scale_pad[160];
    std::snprintf(scale_pad, sizeof scale_pad,
                  "scale=%d:%d:force_original_aspect_ratio=decrease,pad=%d:%d:(ow-iw)/2:(oh-ih)/"
                  "2:color=black",
                  profile.width, profile.height, profile.width, profile.height);
    std::string chain = scale_pad;

    if (scene.lower_third || is_non_empty(options.overlay_title) ||
        is_non_empty(options.overlay_subtitle)) {
        append_box(chain, text_or(options.overlay_title, scene.label), title_box);
        append_box(chain, text_or(options.overlay_subtitle, default_subtitle), subtitle_box);
    }
    if (scene.scoreboard || is_non_empty(options.score_left) || is_non_empty(options.score_right)) {
        append_box(chain, text_or(options.score_left, default_left_score), left_score_box);
        append_box(chain, text_or(options.score_right, default_right_score), right_score_box);
    }
    // An empty watermark falls back to the default; a non-empty one that sanitises to nothing
    // draws nothing.
    append_box(chain,
               is_non_empty(options.watermark) ? std::string_view{*options.watermark}
                                               : default_watermark,
               watermark_box);
    return chain;
}

#include "ffmpeg/filter_chain.h"

#include "catalog/profiles.h"
#include "catalog/scenes.h"
#include "core/options.h"
#include "core/utf8.h"
#include "ffmpeg/overlays.h"

#include <cstdio>

namespace {

constexpr std::string_view replaced_by_space = "',:;[\\]|";

// Everything of a box but its text.
std::string box_options(const OverlayBox& box) {
    std::string options = ":x=";
    options += box.x;
    options += ":y=";
    options += box.y;
    options += ":fontsize=";
    options += std::to_string(box.fontsize);
    options += ":fontcolor=white:box=1:boxcolor=";
    options += box.boxcolor;
    // expansion=none: the text is drawn as typed, so "100% hype" neither drops the box nor
    // expands "%{...}" sequences.
    options += ":boxborderw=14:expansion=none";
    return options;
}

} // namespace

std::string sanitize_overlay_text(std::string_view text, bool quoted) {
    std::string clean;
    std::size_t at = 0;
    for (std::string_view c = next_clean_character(text, at); !c.empty();
         c = next_clean_character(text, at)) {
        if (clean.size() + c.size() > max_overlay_text_length) {
            break;
        }
        const bool breaks_filter =
            quoted && c.size() == 1 && replaced_by_space.find(c) != std::string_view::npos;
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
    chain += "drawtext=text='";
    chain += clean;
    chain += "'";
    chain += box_options({"", x, y, fontsize, boxcolor, ""});
}

std::string overlay_file_path(std::string_view folder, std::string_view key) {
    std::string path{folder};
    path += '/';
    path += key;
    return path + ".txt";
}

std::string build_filter_chain(const StudioOptions& options, const IngestProfile& profile,
                               const ScenePreset& scene, std::string_view live_folder) {
    char scale_pad[160];
    std::snprintf(scale_pad, sizeof scale_pad,
                  "scale=%d:%d:force_original_aspect_ratio=decrease,pad=%d:%d:(ow-iw)/2:(oh-ih)/"
                  "2:color=black",
                  profile.width, profile.height, profile.width, profile.height);
    std::string chain = scale_pad;
    const OverlayTexts texts = drawn_overlay_texts(options, scene);
    for (std::size_t i = 0; i < overlay_count; ++i) {
        const OverlayBox& box = overlay_boxes()[i];
        if (!texts[i]) {
            continue;
        }
        if (live_folder.empty()) {
            append_drawtext(chain, *texts[i], box.x, box.y, box.fontsize, box.boxcolor);
        } else {
            // Read again for every frame; the folder's name needs no quoting in the graph.
            chain += ",drawtext=textfile=" + overlay_file_path(live_folder, box.key) + ":reload=1" +
                     box_options(box);
        }
    }
    return chain;
}

#include "ffmpeg/filter_chain.h"

#include "ffmpeg/command_plan.h"
#include "ffmpeg/overlay_text.h"

#include <cmath>
#include <cstdio>

namespace {

// Everything of a box but its text.
std::string box_options(std::string_view x, std::string_view y, int fontsize,
                        std::string_view boxcolor) {
    std::string options = ":x=";
    options += x;
    options += ":y=";
    options += y;
    options += ":fontsize=";
    options += std::to_string(fontsize);
    options += ":fontcolor=white:box=1:boxcolor=";
    options += boxcolor;
    // expansion=none: the text is drawn as typed, so "100% hype" neither drops the box nor
    // expands "%{...}" sequences.
    options += ":boxborderw=14:expansion=none";
    return options;
}

} // namespace

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
    chain += box_options(x, y, fontsize, boxcolor);
}

std::string overlay_file_path(std::string_view folder, std::string_view key) {
    std::string path{folder};
    path += '/';
    path += key;
    return path + ".txt";
}

std::string build_filter_chain(const CommandPlan& plan) {
    const IngestProfile& profile = plan.profile;
    std::string chain;
    if (!same_rate(plan.capture.fps, profile.fps)) {
        chain = "fps=" + std::to_string(profile.fps) + ",";
    }
    char scale_pad[160];
    std::snprintf(scale_pad, sizeof scale_pad,
                  "scale=%d:%d:force_original_aspect_ratio=decrease,pad=%d:%d:(ow-iw)/2:(oh-ih)/"
                  "2:color=black",
                  profile.width, profile.height, profile.width, profile.height);
    chain += scale_pad;
    for (std::size_t i = 0; i < overlay_count; ++i) {
        const OverlayBox& box = overlay_boxes()[i];
        if (!plan.overlays[i]) {
            continue;
        }
        if (plan.overlay_folder.empty()) {
            append_drawtext(chain, *plan.overlays[i], box.x, box.y, box.fontsize, box.boxcolor);
        } else {
            // Read again for every frame; the folder's name needs no quoting in the graph.
            chain += ",drawtext=textfile=" + overlay_file_path(plan.overlay_folder, box.key) +
                     ":reload=1" + box_options(box.x, box.y, box.fontsize, box.boxcolor);
        }
    }
    return chain;
}

bool draws_text(const CommandPlan& plan) {
    for (const std::optional<std::string>& text : plan.overlays) {
        if (text && (!plan.overlay_folder.empty() || !sanitize_overlay_text(*text).empty())) {
            return true;
        }
    }
    return false;
}

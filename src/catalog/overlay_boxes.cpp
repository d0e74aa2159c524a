#include "catalog/overlay_boxes.h"

#include <array>

namespace {

constexpr std::string_view blank = " ";

constexpr std::array<OverlayBox, overlay_count> box_table{{
    {"overlay_title", "36", "h-148", 34, "0x050505cc", blank},
    {"overlay_subtitle", "36", "h-86", 22, "0xc70f3acc", blank},
    {"score_left", "36", "36", 30, "0xc70f3add", blank},
    {"score_right", "w-text_w-36", "36", 30, "0x050505cc", blank},
    // As at the launch, an empty watermark is the default one.
    {"watermark", "w-text_w-28", "h-58", 20, "0x05050599", default_watermark},
}};

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

#include "live/overlay_state.h"

#include "core/utf8.h"
#include "ffmpeg/overlay_text.h"

namespace {

constexpr std::chrono::seconds status_line_interval{1};

} // namespace

OverlayState::OverlayState(const OverlayTexts& drawn) : texts_(drawn) {}

OverlayState::Change OverlayState::change(std::string_view key, std::string_view text) const {
    const OverlayBox* box = find_overlay(key);
    if (box == nullptr) {
        return {"unknown overlay", std::nullopt, {}};
    }
    const auto overlay = static_cast<std::size_t>(box - overlay_boxes().data());
    if (!texts_[overlay]) {
        return {"not drawn in this scene, and FFmpeg cannot add a box to a running stream",
                std::nullopt,
                {}};
    }
    if (std::optional<std::string> refusal = overlay_text_refusal(text)) {
        return {std::move(refusal), std::nullopt, {}};
    }
    std::string shown = overlay_file_text(*box, text);
    if (shown == *texts_[overlay]) {
        return {};
    }
    return {std::nullopt, overlay, std::move(shown)};
}

void OverlayState::shown(std::size_t overlay, std::string text) {
    texts_[overlay] = std::move(text);
    ++changes_[overlay];
}

std::string OverlayState::status_line(Clock::time_point now) {
    if (last_line_ && now - *last_line_ < status_line_interval) {
        return {};
    }
    std::string line;
    for (std::size_t i = 0; i < overlay_count; ++i) {
        if (changes_[i] == 0) {
            continue;
        }
        line += line.empty() ? "" : "; ";
        line += overlay_boxes()[i].key;
        line += changes_[i] == 1 ? " is now "
                                 : " changed " + std::to_string(changes_[i]) + " times, now ";
        line += shown_as(*texts_[i]);
        changes_[i] = 0;
    }
    if (!line.empty()) {
        last_line_ = now;
    }
    return line;
}

std::string shown_as(std::string_view file_text) {
    return file_text == " " ? std::string{"blank"} : "\"" + terminal_safe(file_text) + "\"";
}

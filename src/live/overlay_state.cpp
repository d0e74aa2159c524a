#include "live/overlay_state.h"

#include "core/utf8.h"
#include "ffmpeg/filter_chain.h"

namespace {

constexpr std::chrono::seconds status_line_interval{1};

bool is_valid_utf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8_sequence_length(text.substr(at));
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

} // namespace

std::string overlay_text_refusal(std::string_view text) {
    if (text.size() > max_overlay_text_length) {
        return "longer than 255 bytes";
    }
    return is_valid_utf8(text) ? "" : "not valid UTF-8";
}

OverlayState::OverlayState(const OverlayTexts& drawn) : texts_(drawn) {}

OverlayState::Outcome OverlayState::set(std::string_view key, std::string_view text) {
    const OverlayBox* box = find_overlay(key);
    if (box == nullptr) {
        return {"unknown overlay", std::nullopt};
    }
    const auto overlay = static_cast<std::size_t>(box - overlay_boxes().data());
    if (!texts_[overlay]) {
        return {"not drawn in this scene, and FFmpeg cannot add a box to a running stream",
                std::nullopt};
    }
    if (std::string refusal = overlay_text_refusal(text); !refusal.empty()) {
        return {std::move(refusal), std::nullopt};
    }
    std::string shown = overlay_file_text(*box, text);
    if (shown == *texts_[overlay]) {
        return {};
    }
    texts_[overlay] = std::move(shown);
    ++changes_[overlay];
    return {"", overlay};
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
        line += *texts_[i] == " " ? std::string{"blank"} : "\"" + terminal_safe(*texts_[i]) + "\"";
        changes_[i] = 0;
    }
    if (!line.empty()) {
        last_line_ = now;
    }
    return line;
}

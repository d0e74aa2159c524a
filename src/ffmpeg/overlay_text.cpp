#include "ffmpeg/overlay_text.h"

#include "core/utf8.h"

namespace {

constexpr std::string_view replaced_by_space = "',:;[\\]|";

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

std::optional<std::string> overlay_text_refusal(std::string_view text) {
    if (text.size() > max_overlay_text_length) {
        return "longer than 255 bytes";
    }
    if (!is_valid_utf8(text)) {
        return "not valid UTF-8";
    }
    return std::nullopt;
}

#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

inline constexpr std::size_t max_overlay_text_length = 255;

// The overlay text as drawtext gets it: control bytes and malformed UTF-8 dropped, cut at 255
// bytes without splitting a UTF-8 sequence. In a text quoted in the filter chain the characters
// that would end the quoted text or the filter (' , : ; [ \ ] |) are turned into spaces.
std::string sanitize_overlay_text(std::string_view text, bool quoted = true);

// Why a text cannot be an overlay's while live: longer than the 255 bytes of an overlay, or not
// valid UTF-8; nothing when it can.
std::optional<std::string> overlay_text_refusal(std::string_view text);

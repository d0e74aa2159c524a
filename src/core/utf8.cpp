#include "core/utf8.h"

namespace {

bool is_continuation(unsigned char byte) {
    return (byte & 0xC0u) == 0x80u;
}

} // namespace

std::size_t utf8_sequence_length(std::string_view text) noexcept {
    if (text.empty()) {
        return 0;
    }
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80u) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char second_min = 0x80u;
    unsigned char second_max = 0xBFu;
    if (lead >= 0xC2u && lead <= 0xDFu) {
        length = 2;
    } else if (lead >= 0xE0u && lead <= 0xEFu) {
        length = 3;
        if (lead == 0xE0u) {
            second_min = 0xA0u; // overlong below U+0800
        } else if (lead == 0xEDu) {
            second_max = 0x9Fu; // UTF-16 surrogates
        }
    } else if (lead >= 0xF0u && lead <= 0xF4u) {
        length = 4;
        if (lead == 0xF0u) {
            second_min = 0x90u; // overlong below U+10000
        } else if (lead == 0xF4u) {
            second_max = 0x8Fu; // beyond U+10FFFF
        }
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    const auto second = static_cast<unsigned char>(text[1]);
    if (second < second_min || second > second_max) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (!is_continuation(static_cast<unsigned char>(text[i]))) {
            return 0;
        }
    }
    return length;
}

std::string_view next_clean_character(std::string_view text, std::size_t& at) noexcept {
    while (at < text.size()) {
        const auto byte = static_cast<unsigned char>(text[at]);
        const std::size_t length =
            (byte < 32 || byte == 127) ? 0 : utf8_sequence_length(text.substr(at));
        if (length == 0) {
            ++at;
            continue;
        }
        const std::string_view character = text.substr(at, length);
        at += length;
        return character;
    }
    return {};
}

namespace {

bool drives_the_terminal(std::string_view character) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(character[i]); };
    if (character.size() == 2) {
        return byte(0) == 0xC2u && byte(1) <= 0x9Fu;
    }
    return character.size() == 3 && byte(0) == 0xE2u &&
           ((byte(1) == 0x80u && byte(2) >= 0xAAu && byte(2) <= 0xAEu) ||
            (byte(1) == 0x81u && byte(2) >= 0xA6u && byte(2) <= 0xA9u));
}

} // namespace

std::string terminal_safe(std::string_view text) {
    std::string shown;
    std::size_t at = 0;
    for (std::string_view c = next_clean_character(text, at); !c.empty();
         c = next_clean_character(text, at)) {
        if (!drives_the_terminal(c)) {
            shown += c;
        }
    }
    return shown;
}

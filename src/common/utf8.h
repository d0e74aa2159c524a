#pragma once

#include <cstddef>
#include <string_view>

// Texts from files, the command line and the network may hold any bytes. Where they end up in
// something that must stay valid UTF-8 (overlay texts drawn by FFmpeg, report JSON), a byte
// that starts no well-formed sequence is dropped and a cut never splits a sequence.

// Length in bytes of the well-formed UTF-8 sequence at `text[0]`, or 0 when the bytes there
// are not one (a stray continuation byte, an overlong form, a surrogate, a truncated
// sequence, or a code point beyond U+10FFFF). An ASCII byte is a sequence of length 1.
std::size_t utf8_sequence_length(std::string_view text) noexcept;

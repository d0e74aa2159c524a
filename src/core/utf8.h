#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Texts from files, the command line and the network may hold any bytes. Where they end up in
// something that must stay valid UTF-8 (overlay texts drawn by FFmpeg, report JSON), a byte
// that starts no well-formed sequence is dropped and a cut never splits a sequence.

// Length in bytes of the well-formed UTF-8 sequence at `text[0]`, or 0 when the bytes there
// are not one (a stray continuation byte, an overlong form, a surrogate, a truncated
// sequence, or a code point beyond U+10FFFF). An ASCII byte is a sequence of length 1.
std::size_t utf8_sequence_length(std::string_view text) noexcept;

// The next character worth keeping from `at` on: control bytes (below 32, and 127) and bytes
// outside well-formed UTF-8 are skipped. Returns that character (one ASCII byte or one whole
// UTF-8 sequence) and moves `at` past it; returns an empty view at the end of the text.
std::string_view next_clean_character(std::string_view text, std::size_t& at) noexcept;

// A text from a file or the network as it may be shown on a terminal: what
// next_clean_character keeps, less the C1 controls (U+0080 to U+009F) and the bidirectional
// embeddings, overrides and isolates (U+202A to U+202E, U+2066 to U+2069), which could make
// the terminal run commands or show the text reordered.
std::string terminal_safe(std::string_view text);

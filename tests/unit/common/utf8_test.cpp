#include "common/utf8.h"

#include <gtest/gtest.h>

TEST(Utf8SequenceLength, AcceptsWellFormedAndRejectsMalformedSequences) {
    const struct {
        std::string_view bytes;
        std::size_t expected;
    } cases[] = {
        {"A", 1},
        {"\xC3\xA9", 2},         // é
        {"\xE2\x82\xAC", 3},     // €
        {"\xF0\x9F\x8E\xA5", 4}, // 🎥
        {"\x80", 0},             // stray continuation byte
        {"\xC0\xAF", 0},         // overlong '/'
        {"\xE0\x80\xAF", 0},     // overlong three-byte form
        {"\xED\xA0\x80", 0},     // surrogate
        {"\xF4\x90\x80\x80", 0}, // beyond U+10FFFF
        {"\xE2\x82", 0},         // truncated
        {"\xC3(", 0},            // lead byte without continuation
        {"\xFF", 0},
        {"", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8_sequence_length(c.bytes), c.expected) << testing::PrintToString(c.bytes);
    }
}

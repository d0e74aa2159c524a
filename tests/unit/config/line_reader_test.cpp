#include "config/line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Piece {
    unsigned long number;
    std::string text;
};

std::vector<Piece> read_pieces(const std::string& content) {
    FileHandle file{tmpfile()};
    std::fwrite(content.data(), 1, content.size(), file.get());
    std::rewind(file.get());
    LineReader reader{file.get()};
    std::vector<Piece> pieces;
    while (const auto line = reader.next()) {
        pieces.push_back({reader.line_number(), std::string{*line}});
    }
    return pieces;
}

} // namespace

TEST(LineReader, OverLongLinesArePiecesThatCountAsLines) {
    const auto pieces = read_pieces(std::string(3000, 'x') + "\nnext\n");
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].text.size(), 2047u);
    EXPECT_EQ(pieces[1].text.size(), 953u);
    EXPECT_EQ(pieces[2].number, 3u);
    EXPECT_EQ(pieces[2].text, "next");
}

TEST(LineReader, ALineOfExactly2047BytesLeavesABlankPieceForItsLineEnd) {
    for (const std::string_view ending : {"\n", "\r\n"}) {
        const std::size_t body = 2047 - (ending.size() - 1);
        const auto pieces = read_pieces(std::string(body, 'y') + std::string{ending} + "z\n");
        ASSERT_EQ(pieces.size(), 3u) << ending.size();
        EXPECT_EQ(pieces[1].text, "");
        EXPECT_EQ(pieces[2].number, 3u);
    }
}

TEST(LineReader, TrimsOnlySpaceTabCarriageReturnAndLineFeed) {
    const auto pieces = read_pieces(" \t key = v \r\n\v\fkey\n last");
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].text, "key = v");
    EXPECT_EQ(pieces[1].text, "\v\fkey");
    EXPECT_EQ(pieces[2].text, "last");
}

TEST(LineReader, BlankAndCommentLines) {
    EXPECT_TRUE(is_blank_or_comment(""));
    EXPECT_TRUE(is_blank_or_comment("# note"));
    EXPECT_TRUE(is_blank_or_comment("; note"));
    EXPECT_FALSE(is_blank_or_comment("profile=x # note"));
}

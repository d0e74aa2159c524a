#include "process/shell_quote.h"

#include <gtest/gtest.h>

TEST(ShellQuote, SafeElementsAreBareEverythingElseSingleQuoted) {
    const struct {
        std::string_view element, printed;
    } cases[] = {
        {"854x480", "854x480"},
        {"-hide_banner", "-hide_banner"},
        {"scale=1:2,pad/x_y.z", "scale=1:2,pad/x_y.z"},
        {"0:a?", "'0:a?'"},
        {"+global_header", "'+global_header'"},
        {"text='a b'", "'text='\\''a b'\\'''"},
        {"caf\xC3\xA9", "'caf\xC3\xA9'"},
        {"a\nb", "'a\nb'"},
        {"", "''"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(shell_quote(c.element), c.printed) << c.element;
    }
}

TEST(ShellQuote, CommandLineJoinsElementsWithSingleSpaces) {
    EXPECT_EQ(shell_command_line({"ffmpeg", "-i", ""}), "ffmpeg -i ''");
    EXPECT_EQ(shell_command_line({}), "");
}

TEST(ShellQuote, CommandWordIsNeverTakenForAnAssignmentOrAReservedWord) {
    // Pasted into a shell, a bare "A=b" in command position is an assignment and a bare "if"
    // opens a compound command: the FFmpeg path is quoted then, wherever it came from.
    const struct {
        FfmpegArgv argv;
        std::string_view line;
    } cases[] = {
        {{"FFMPEG=/opt/ffmpeg", "-i", "x"}, "'FFMPEG=/opt/ffmpeg' -i x"},
        {{"if", "-i", "x"}, "'if' -i x"},
        {{"time", "A=b"}, "'time' A=b"},
        {{"/opt/ff=mpeg/ffmpeg", "if"}, "/opt/ff=mpeg/ffmpeg if"},
        {{"1A=b"}, "1A=b"},
        {{"=x"}, "=x"},
        {{"A=b c"}, "'A=b c'"},
        {{"ffmpeg", "-hide_banner"}, "ffmpeg -hide_banner"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(shell_command_line(c.argv), c.line) << c.line;
    }
}

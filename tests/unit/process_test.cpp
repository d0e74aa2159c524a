#include "process/dry_run.h"

#include <gtest/gtest.h>

TEST(DryRun, SafeElementsAreBareEverythingElseSingleQuoted) {
    const struct {
        std::string_view element, printed;
    } cases[] = {
        {"854x480", "854x480"},
        {"-hide_banner", "-hide_banner"},
        {"scale=1:2,pad/x_y.z", "scale=1:2,pad/x_y.z"},
        {"AZaz09", "AZaz09"},
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

TEST(DryRun, TheCommandWordIsNeverTakenForAnAssignmentOrAReservedWord) {
    const struct {
        FfmpegArgv argv;
        std::string_view line;
    } cases[] = {
        {{"FFMPEG=/opt/ffmpeg", "-i", "x"}, "'FFMPEG=/opt/ffmpeg' -i x"},
        {{"_a9=b"}, "'_a9=b'"},
        {{"if", "-i", "x"}, "'if' -i x"},
        {{"time", "A=b"}, "'time' A=b"},
        {{"while"}, "'while'"},
        {{"/opt/ff=mpeg/ffmpeg", "if"}, "'/opt/ff=mpeg/ffmpeg' if"},
        {{"1A=b", "=b", "a=b"}, "'1A=b' '=b' a=b"},
        {{"/usr/bin/ffmpeg", "-i", "=x"}, "/usr/bin/ffmpeg -i '=x'"},
        {{"A=b c"}, "'A=b c'"},
        {{"ffmpeg", "-i", ""}, "ffmpeg -i ''"},
        {{}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(shell_command_line(c.argv), c.line) << c.line;
    }
}

#include "process/dry_run.h"

#include <gtest/gtest.h>

// The golden dry runs print whole commands; here the elements a shell would misread.
TEST(DryRun, QuotesWhatAShellWouldReadOtherwise) {
    const std::pair<FfmpegArgv, std::string_view> cases[] = {
        {{"FFMPEG=/opt/ffmpeg", "-i", "x"}, "'FFMPEG=/opt/ffmpeg' -i x"},
        {{"_a9=b", "=b", "a=b", "AZaz09,-./:_"}, "'_a9=b' '=b' a=b AZaz09,-./:_"},
        {{"time", "if"}, "'time' if"},
        {{"while", "a b", "it's", "\xC3\xA9", "a\nb", ""},
         "'while' 'a b' 'it'\\''s' '\xC3\xA9' 'a\nb' ''"},
        {{"case"}, "'case'"},
        {{"1A=b"}, "'1A=b'"},
        {{}, ""}};
    for (const auto& [argv, line] : cases) {
        EXPECT_EQ(shell_command_line(argv), line) << line;
    }
}

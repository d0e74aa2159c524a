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

#include "cli/options.h"
#include "config/targets.h"

#include <gtest/gtest.h>

TEST(TargetFromLine, LabelIsDroppedOnlyWhenTheSchemeComesAfterTheFirstEquals) {
    const struct {
        std::string_view line;
        std::string_view target;
    } cases[] = {
        {"YouTube = rtmp://host/live2/KEY", "rtmp://host/live2/KEY"},
        {"srt://host:9000?mode=caller&streamid=abc", "srt://host:9000?mode=caller&streamid=abc"},
        {"rtmp://host/app?key=abc", "rtmp://host/app?key=abc"},
        {"Backup=srt://host:9000?streamid=abc", "srt://host:9000?streamid=abc"},
        {"label=not-a-url", "label=not-a-url"},
        {"Twitch: rtmp://host/app/KEY", "Twitch: rtmp://host/app/KEY"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(target_from_line(c.line), c.target) << c.line;
    }
}

TEST(AddTarget, ChecksSchemeThenSeparatorsThenTheLimit) {
    StudioOptions options;
    EXPECT_TRUE(add_target(options, ""));
    EXPECT_TRUE(options.targets.empty());
    for (const std::string_view bad :
         {"RTMP://h/a", "http://h/a", " rtmp://h/a", "rtmp://h/a|b", "srt://h:1]", "rtmpx://h"}) {
        EXPECT_FALSE(add_target(options, bad)) << bad;
    }
    EXPECT_TRUE(add_target(options, "rtmps://h/[a{stream_key}"));
    for (int i = 1; i < max_targets; ++i) {
        EXPECT_TRUE(add_target(options, "srt://h:" + std::to_string(i)));
    }
    EXPECT_FALSE(add_target(options, "srt://h:99"));
    ASSERT_EQ(options.targets.size(), 16u);
    EXPECT_EQ(options.targets.front(), "rtmps://h/[a{stream_key}");
}

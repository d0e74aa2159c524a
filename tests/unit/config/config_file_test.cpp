#include "cli/options.h"
#include "config/config_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

class ConfigFile : public testing::Test {
  protected:
    std::string path = "/tmp/castora-config-test-" + std::to_string(getpid()) + ".conf";
    void TearDown() override { std::remove(path.c_str()); }
    bool load(const std::string& content) {
        std::ofstream{path} << content;
        return load_config_file(options, path);
    }
    StudioOptions options;
};

} // namespace

TEST(ParseBool, OnlyFourExactTrueTexts) {
    for (const std::string_view yes : {"1", "true", "yes", "on"}) {
        EXPECT_TRUE(parse_bool(yes)) << yes;
    }
    for (const std::string_view no : {"0", "false", "no", "off", "", "TRUE", "On", "enabled"}) {
        EXPECT_FALSE(parse_bool(no)) << no;
    }
}

TEST_F(ConfigFile, StoresTextsBooleansAndTargetsAsWritten) {
    ASSERT_TRUE(load("# comment\n  ; also\n\n profile = standard_720p \r\n"
                     "overlay_title=\nwatermark=a # b\ningest_url=srt://h:9?mode=caller&x=y\n"
                     "auto_download_update=0\nreconnect=on\n= ignored\ntarget=\n"
                     "target=rtmp://a/x\nprofile=high_1080p\n"));
    EXPECT_EQ(options.profile_key, "high_1080p");
    ASSERT_TRUE(options.overlay_title.has_value());
    EXPECT_EQ(*options.overlay_title, "");
    EXPECT_FALSE(options.overlay_subtitle.has_value());
    EXPECT_EQ(*options.watermark, "a # b");
    EXPECT_EQ(options.ingest_url, "srt://h:9?mode=caller&x=y");
    EXPECT_FALSE(options.auto_download_update);
    EXPECT_TRUE(options.reconnect);
    EXPECT_EQ(options.targets, std::vector<std::string>{"rtmp://a/x"});
}

TEST_F(ConfigFile, StopsAtTheFirstBadLine) {
    for (const std::string_view bad : {"profile\n", "Profile=x\n", "target=http://x\n",
                                       "\xEF\xBB\xBFprofile=x\n", "\vprofile=x\n"}) {
        StudioOptions fresh;
        options = fresh;
        EXPECT_FALSE(load("screen=1\n" + std::string{bad} + "no_audio=1\n")) << bad;
        EXPECT_TRUE(options.screen);
        EXPECT_FALSE(options.no_audio);
    }
}

TEST_F(ConfigFile, MissingFileFailsAndEmptyPathLoadsNothing) {
    EXPECT_FALSE(load_config_file(options, "/nonexistent/castora.conf"));
    EXPECT_TRUE(load_config_file(options, ""));
}

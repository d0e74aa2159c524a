#include "catalog/profiles.h"
#include "catalog/scenes.h"
#include "cli/options.h"
#include "ffmpeg/filter_chain.h"

#include <gtest/gtest.h>

namespace {

std::string box(std::string_view text, std::string_view x, std::string_view y, int size,
                std::string_view color) {
    return ",drawtext=text='" + std::string{text} + "':x=" + std::string{x} +
           ":y=" + std::string{y} + ":fontsize=" + std::to_string(size) +
           ":fontcolor=white:box=1:boxcolor=" + std::string{color} +
           ":boxborderw=14:expansion=none";
}

std::string chain_for(const StudioOptions& options, std::string_view profile,
                      std::string_view scene) {
    return build_filter_chain(options, *find_profile(profile), *find_scene(scene, false));
}

const std::string scale_360 = "scale=640:360:force_original_aspect_ratio=decrease,pad=640:360:(ow-"
                              "iw)/2:(oh-ih)/2:color=black";
const std::string watermark = box("Brevalo", "w-text_w-28", "h-58", 20, "0x05050599");

} // namespace

TEST(FilterChain, GiftWarScoreboardDrawsAllFiveBoxes) {
    EXPECT_EQ(chain_for(StudioOptions{}, "low_power_360p", "gift_war_scoreboard"),
              scale_360 + box("Gift War Scoreboard", "36", "h-148", 34, "0x050505cc") +
                  box("Brevalo Castora", "36", "h-86", 22, "0xc70f3acc") +
                  box("Team A 0", "36", "36", 30, "0xc70f3add") +
                  box("Team B 0", "w-text_w-36", "36", 30, "0x050505cc") + watermark);
}

TEST(FilterChain, GroupsFollowTheSceneAndNonEmptyTexts) {
    StudioOptions options;
    EXPECT_EQ(chain_for(options, "low_power_360p", "camera_clean"), scale_360 + watermark);

    options.overlay_title = "Hi";
    EXPECT_EQ(chain_for(options, "low_power_360p", "camera_clean"),
              scale_360 + box("Hi", "36", "h-148", 34, "0x050505cc") +
                  box("Brevalo Castora", "36", "h-86", 22, "0xc70f3acc") + watermark);

    options = {};
    options.score_right = "R 1";
    EXPECT_EQ(chain_for(options, "low_power_360p", "camera_clean"),
              scale_360 + box("Team A 0", "36", "36", 30, "0xc70f3add") +
                  box("R 1", "w-text_w-36", "36", 30, "0x050505cc") + watermark);

    options = {};
    options.overlay_title = "";
    options.watermark = "";
    EXPECT_EQ(chain_for(options, "low_power_360p", "creator_lower_third"),
              scale_360 + box("Brevalo Castora", "36", "h-86", 22, "0xc70f3acc") + watermark);

    options = {};
    options.watermark = "\t";
    EXPECT_EQ(chain_for(options, "low_power_360p", "camera_clean"), scale_360);
}

TEST(FilterChain, HighProfileScaleAndPad) {
    const std::string chain = chain_for(StudioOptions{}, "high_1080p", "camera_clean");
    EXPECT_EQ(
        chain.substr(0, chain.find(",drawtext")),
        "scale=1920:1080:force_original_aspect_ratio=decrease,pad=1920:1080:(ow-iw)/2:(oh-ih)/"
        "2:color=black");
}

TEST(SanitizeOverlayText, ReplacesFilterSyntaxDropsControlsAndCutsWholeCharacters) {
    EXPECT_EQ(sanitize_overlay_text("It's 1:0, [live]"), "It s 1 0   live ");
    EXPECT_EQ(sanitize_overlay_text("a;b\\c|d\te\x7f"), "a b c de");
    EXPECT_EQ(sanitize_overlay_text("100% hype"), "100% hype");
    EXPECT_EQ(sanitize_overlay_text("caf\xC3\xA9 \xFF\x80ok"), "caf\xC3\xA9 ok");
    EXPECT_EQ(sanitize_overlay_text(std::string(300, 'x')), std::string(255, 'x'));
    const std::string cut = sanitize_overlay_text(std::string(254, 'x') + "\xE2\x82\xAC" + "y");
    EXPECT_EQ(cut, std::string(254, 'x'));
    const std::string fits = sanitize_overlay_text(std::string(252, 'x') + "\xE2\x82\xAC" + "y");
    EXPECT_EQ(fits, std::string(252, 'x') + "\xE2\x82\xAC");
}

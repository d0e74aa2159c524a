#include "catalog/profiles.h"
#include "catalog/scenes.h"

#include <gtest/gtest.h>

TEST(FindProfile, ExactCaseSensitiveKeysWithBalancedAsDefault) {
    EXPECT_EQ(find_profile("")->key, "balanced_480p");
    EXPECT_EQ(find_profile("high_1080p")->width, 1920);
    EXPECT_EQ(find_profile("balanced_480p")->width, 854);
    EXPECT_EQ(find_profile("Balanced_480p"), nullptr);
    EXPECT_EQ(find_profile("balanced"), nullptr);
}

TEST(FindScene, EmptyKeyFollowsTheScreenFlagOnly) {
    EXPECT_EQ(find_scene("", false)->key, "camera_clean");
    EXPECT_EQ(find_scene("", true)->key, "screen_clean");
    EXPECT_EQ(find_scene("camera_clean", true)->key, "camera_clean");
    EXPECT_TRUE(find_scene("device_show", false)->scoreboard);
    EXPECT_FALSE(find_scene("creator_lower_third", false)->scoreboard);
    EXPECT_EQ(find_scene("Camera_Clean", false), nullptr);
}

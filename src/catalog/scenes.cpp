#include "catalog/scenes.h"

#include <array>
#include <string>

namespace {

constexpr std::array<ScenePreset, 6> scene_table{{
    {"camera_clean", "Camera Clean", "Single camera with Brevalo ingest tuning.", false, false},
    {"screen_clean", "Screen Clean", "Full screen capture for tutorials, games, and desktop demos.",
     false, false},
    {"creator_lower_third", "Creator Lower Third",
     "Camera/screen with creator title and subtitle lower third.", false, true},
    {"gift_war_scoreboard", "Gift War Scoreboard",
     "Two-sided gift battle scoreboard for Boys vs Girls, Heaven vs Hell, and similar formats.",
     true, true},
    {"game_battle", "Game Battle", "Live game battle layout with score labels and watermark.", true,
     true},
    {"device_show", "Device Show",
     "Automation/device-control show with visible trigger status overlay.", true, true},
}};

} // namespace

std::span<const ScenePreset> scene_presets() {
    return scene_table;
}

const ScenePreset* find_scene(std::string_view key, bool screen) {
    const std::string_view wanted =
        !key.empty() ? key : (screen ? std::string_view{"screen_clean"} : "camera_clean");
    for (const ScenePreset& scene : scene_table) {
        if (scene.key == wanted) {
            return &scene;
        }
    }
    return nullptr;
}

std::string scene_listing() {
    std::string listing = "Brevalo Castora scene presets:\n";
    for (const ScenePreset& s : scene_table) {
        listing += std::string{s.key} + " | " + std::string{s.label} + " | " +
                   std::string{s.description} + "\n";
    }
    return listing;
}

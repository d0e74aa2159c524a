#pragma once

#include <span>
#include <string>
#include <string_view>

struct ScenePreset {
    std::string_view key;
    std::string_view label; // also the default lower-third title
    std::string_view description;
    bool scoreboard;  // always draws the two score boxes
    bool lower_third; // always draws the title and subtitle boxes
};

std::span<const ScenePreset> scene_presets();

// An empty key means "screen_clean" when capturing the screen and "camera_clean" otherwise;
// choosing that default is all the screen flag does.
const ScenePreset* find_scene(std::string_view key, bool screen);

// A heading and one line per scene, as --list-scenes shows them.
std::string scene_listing();

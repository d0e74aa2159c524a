#include "live/camera_memory.h"

#include "files/private_files.h"
#include "files/user_folders.h"

#include <map>

namespace {

constexpr std::string_view memory_file = "camera-modes";
constexpr std::size_t max_memory_bytes = 65536;

// One "MODE<tab>PROFILE MODE<tab>VIDEO INPUT" a line, keyed by the last two; an input holding a
// tab or a line break is never kept.
std::string memory_key(const std::string& video_input, const CaptureMode& profile_mode) {
    return remembered_mode_text(profile_mode) + "\t" + video_input;
}

std::map<std::string, CaptureMode> read_memory() {
    std::map<std::string, CaptureMode> modes;
    const auto text = read_private_file(user_cache_folder(), memory_file, max_memory_bytes);
    std::string_view rest = text ? std::string_view{*text} : std::string_view{};
    while (!rest.empty()) {
        const std::string_view line = rest.substr(0, rest.find('\n'));
        rest.remove_prefix(std::min(line.size() + 1, rest.size()));
        const std::size_t tab = line.find('\t');
        const auto mode = read_remembered_mode(line.substr(0, tab));
        if (mode && tab != std::string_view::npos) {
            modes[std::string{line.substr(tab + 1)}] = *mode;
        }
    }
    return modes;
}

} // namespace

std::optional<CaptureMode> remembered_camera_mode(const std::string& video_input,
                                                  const CaptureMode& profile_mode) {
    const auto modes = read_memory();
    const auto found = modes.find(memory_key(video_input, profile_mode));
    return found == modes.end() ? std::nullopt : std::optional<CaptureMode>{found->second};
}

void remember_camera_mode(const std::string& video_input, const CaptureMode& profile_mode,
                          std::optional<CaptureMode> mode) {
    if (video_input.find_first_of("\t\r\n") != std::string::npos) {
        return;
    }
    auto modes = read_memory();
    const std::string key = memory_key(video_input, profile_mode);
    if (mode) {
        modes[key] = *mode;
    } else if (modes.erase(key) == 0) {
        return;
    }
    std::string text;
    for (const auto& [remembered_for, remembered] : modes) {
        text += remembered_mode_text(remembered) + "\t" + remembered_for + "\n";
    }
    write_private_file(user_cache_folder(), memory_file, text);
}

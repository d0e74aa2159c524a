#include "live/camera_memory.h"

#include "files/private_files.h"
#include "files/user_folders.h"

#include <algorithm>
#include <vector>

namespace {

constexpr std::string_view memory_file = "camera-modes";
// The memory keeps its newest entries within this size, dropping the oldest.
constexpr std::size_t max_memory_bytes = 65536;
// A larger file (written by hand, or before the memory had its limit) still gives its newest.
constexpr std::size_t max_read_bytes = 1 << 20;

// One "MODE<tab>PROFILE MODE<tab>VIDEO INPUT" a line, oldest first, keyed by the last two; an
// input holding a tab or a line break is never kept.
std::string memory_key(const std::string& video_input, const CaptureMode& profile_mode) {
    return remembered_mode_text(profile_mode) + "\t" + video_input;
}

std::string_view key_of(std::string_view line) {
    const std::size_t tab = line.find('\t');
    return tab == std::string_view::npos ? std::string_view{} : line.substr(tab + 1);
}

// The lines that hold a mode, oldest first.
std::vector<std::string> read_memory() {
    std::vector<std::string> lines;
    const auto text = read_private_file(user_cache_folder(), memory_file, max_read_bytes);
    std::string_view rest = text ? std::string_view{*text} : std::string_view{};
    while (!rest.empty()) {
        const std::string_view line = rest.substr(0, rest.find('\n'));
        rest.remove_prefix(std::min(line.size() + 1, rest.size()));
        if (!key_of(line).empty() && read_remembered_mode(line.substr(0, line.find('\t')))) {
            lines.emplace_back(line);
        }
    }
    return lines;
}

// The newest lines that fit in the memory's size, oldest first.
std::string memory_text(const std::vector<std::string>& lines) {
    std::size_t kept = 0;
    std::size_t size = 0;
    for (auto line = lines.rbegin(); line != lines.rend(); ++line, ++kept) {
        if (size + line->size() + 1 > max_memory_bytes) {
            break;
        }
        size += line->size() + 1;
    }
    std::string text;
    for (auto line = lines.end() - static_cast<std::ptrdiff_t>(kept); line != lines.end(); ++line) {
        text += *line + "\n";
    }
    return text;
}

} // namespace

std::optional<CaptureMode> remembered_camera_mode(const std::string& video_input,
                                                  const CaptureMode& profile_mode) {
    const std::vector<std::string> lines = read_memory();
    const std::string key = memory_key(video_input, profile_mode);
    const auto found = std::find_if(lines.rbegin(), lines.rend(),
                                    [&](const std::string& line) { return key_of(line) == key; });
    return found == lines.rend() ? std::nullopt
                                 : read_remembered_mode(found->substr(0, found->find('\t')));
}

void remember_camera_mode(const std::string& video_input, const CaptureMode& profile_mode,
                          std::optional<CaptureMode> mode) {
    if (video_input.find_first_of("\t\r\n") != std::string::npos) {
        return;
    }
    std::vector<std::string> lines = read_memory();
    const std::string key = memory_key(video_input, profile_mode);
    const auto forgotten =
        std::erase_if(lines, [&](const std::string& line) { return key_of(line) == key; });
    if (!mode && forgotten == 0) {
        return;
    }
    if (mode) {
        lines.push_back(remembered_mode_text(*mode) + "\t" + key);
    }
    write_private_file(user_cache_folder(), memory_file, memory_text(lines));
}

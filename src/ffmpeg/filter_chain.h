#pragma once

#include <optional>
#include <string>
#include <string_view>

struct StudioOptions;
struct IngestProfile;
struct ScenePreset;

inline constexpr std::size_t max_overlay_text_length = 255;
inline constexpr std::size_t max_filter_chain_length = 4095;

// The overlay text as drawtext gets it: control bytes and malformed UTF-8 dropped, cut at 255
// bytes without splitting a UTF-8 sequence. In a text quoted in the filter chain the characters
// that would end the quoted text or the filter (' , : ; [ \ ] |) are turned into spaces.
std::string sanitize_overlay_text(std::string_view text, bool quoted = true);

// Appends one drawtext element (preceded by ',' when the chain is not empty), or nothing when
// the sanitised text is empty. An absent text counts as empty.
void append_drawtext(std::string& chain, std::optional<std::string_view> text, std::string_view x,
                     std::string_view y, int fontsize, std::string_view boxcolor);

// The file of an overlay in the folder of live overlay texts.
std::string overlay_file_path(std::string_view folder, std::string_view key);

// Scale and pad to the profile's size, then the scene's and the options' overlay boxes. With
// `live_folder`, every box drawn reads its text from its file there, again for every frame.
std::string build_filter_chain(const StudioOptions& options, const IngestProfile& profile,
                               const ScenePreset& scene, std::string_view live_folder = {});

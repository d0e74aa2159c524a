#include "config/config_file.h"

#include "cli/options.h"
#include "config/line_reader.h"
#include "config/targets.h"

#include <array>
#include <cstdio>
#include <string>

namespace {

enum class KeyKind { text, boolean, target };

struct ConfigKey {
    std::string_view key;
    KeyKind kind;
    TextField text_field{};
    FlagField flag_field = nullptr;
};

constexpr ConfigKey text_key(std::string_view key, TextField field) {
    return {key, KeyKind::text, field, nullptr};
}
constexpr ConfigKey flag_key(std::string_view key, FlagField field) {
    return {key, KeyKind::boolean, {}, field};
}

// No key sets the mode switches or the config and sample paths: those come only from the
// command line.
const std::array<ConfigKey, 27> config_keys{{
    text_key("profile", &StudioOptions::profile_key),
    text_key("scene", &StudioOptions::scene_key),
    text_key("ingest_url", &StudioOptions::ingest_url),
    text_key("stream_key", &StudioOptions::stream_key),
    {"target", KeyKind::target, {}, nullptr},
    text_key("target_file", &StudioOptions::target_file),
    text_key("record_file", &StudioOptions::record_file),
    text_key("ffmpeg", &StudioOptions::ffmpeg_path),
    text_key("video_input", &StudioOptions::video_input),
    text_key("audio_input", &StudioOptions::audio_input),
    flag_key("screen", &StudioOptions::screen),
    flag_key("no_audio", &StudioOptions::no_audio),
    text_key("overlay_title", &StudioOptions::overlay_title),
    text_key("overlay_subtitle", &StudioOptions::overlay_subtitle),
    text_key("score_left", &StudioOptions::score_left),
    text_key("score_right", &StudioOptions::score_right),
    text_key("watermark", &StudioOptions::watermark),
    flag_key("virtual_background", &StudioOptions::virtual_background),
    text_key("automation_poll_url", &StudioOptions::automation_poll_url),
    text_key("automation_ack_url", &StudioOptions::automation_ack_url),
    text_key("automation_token", &StudioOptions::automation_token),
    text_key("update_url", &StudioOptions::update_url),
    text_key("report_url", &StudioOptions::report_url),
    flag_key("skip_update_check", &StudioOptions::skip_update_check),
    flag_key("auto_download_update", &StudioOptions::auto_download_update),
    flag_key("disable_error_reporting", &StudioOptions::disable_error_reporting),
    flag_key("reconnect", &StudioOptions::reconnect),
}};

const ConfigKey* find_config_key(std::string_view key) {
    for (const ConfigKey& entry : config_keys) {
        if (entry.key == key) {
            return &entry;
        }
    }
    return nullptr;
}

// Applies one key=value line; false when the line is bad (the messages naming the key or the
// target are written here, the line message by the caller).
bool apply_config_line(StudioOptions& options, std::string_view key, std::string_view value) {
    if (key.empty()) {
        return true; // a line that begins with '=' is ignored without a word
    }
    const ConfigKey* entry = find_config_key(key);
    if (entry == nullptr) {
        std::fprintf(stderr, "Unknown config key: %.*s\n", static_cast<int>(key.size()),
                     key.data());
        return false;
    }
    switch (entry->kind) {
    case KeyKind::text:
        store_text(options, entry->text_field, value);
        return true;
    case KeyKind::boolean:
        options.*(entry->flag_field) = parse_bool(value);
        return true;
    case KeyKind::target:
        return add_target(options, value);
    }
    return false;
}

} // namespace

bool parse_bool(std::string_view text) {
    return text == "1" || text == "true" || text == "yes" || text == "on";
}

bool load_config_file(StudioOptions& options, std::string_view path_view) {
    if (path_view.empty()) {
        return true;
    }
    const std::string path{path_view};
    const FileHandle file = open_text_file(path, "config file");
    if (!file) {
        return false;
    }
    LineReader reader{file.get()};
    while (const auto line = reader.next()) {
        if (is_blank_or_comment(*line)) {
            continue;
        }
        const std::size_t equals = line->find('=');
        const bool applied = equals != std::string_view::npos &&
                             apply_config_line(options, trim_whitespace(line->substr(0, equals)),
                                               trim_whitespace(line->substr(equals + 1)));
        if (!applied) {
            std::fprintf(stderr, "Invalid config line %lu in %s.\n", reader.line_number(),
                         path.c_str());
            return false;
        }
    }
    return true;
}

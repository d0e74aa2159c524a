#include "config/config_file.h"

#include "config/targets.h"
#include "config/text_file.h"
#include "core/option_table.h"
#include "core/utf8.h"

#include <cstdio>
#include <string>

namespace {

// Applies one key=value line; false when the line is bad (the messages naming the key or the
// target are written here, the line message by the caller).
bool apply_config_line(StudioOptions& options, std::string_view key, std::string_view value) {
    if (key.empty()) {
        return true; // a line that begins with '=' is ignored without a word
    }
    const OptionSpec* row = find_config_key(key);
    if (row == nullptr) {
        std::fprintf(stderr, "Unknown config key: %s\n", terminal_safe(key).c_str());
        return false;
    }
    if (row->action == OptionAction::add_target) {
        return add_target(options, value);
    }
    if (row->takes_value()) {
        store_value(options, *row, value);
    } else {
        store_flag(options, *row, parse_bool(value));
    }
    return true;
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
                         terminal_safe(path).c_str());
            return false;
        }
    }
    return true;
}

#include "config/config_file.h"

#include "config/targets.h"
#include "config/text_file.h"
#include "core/option_table.h"
#include "core/utf8.h"

#include <string>

namespace {

// Applies one key=value line; why it is bad (naming the key or the target), or nothing.
std::optional<Failure> apply_config_line(StudioOptions& options, std::string_view key,
                                         std::string_view value) {
    if (key.empty()) {
        return std::nullopt; // a line that begins with '=' is ignored without a word
    }
    const OptionSpec* row = find_config_key(key);
    if (row == nullptr) {
        return Failure{"Unknown config key: " + terminal_safe(key) + "\n"};
    }
    if (row->action == OptionAction::add_target) {
        return add_target(options, value);
    }
    if (row->takes_value()) {
        store_value(options, *row, value);
    } else {
        store_flag(options, *row, parse_bool(value));
    }
    return std::nullopt;
}

} // namespace

bool parse_bool(std::string_view text) {
    return text == "1" || text == "true" || text == "yes" || text == "on";
}

std::optional<Failure> load_config_file(StudioOptions& options, std::string_view path_view) {
    if (path_view.empty()) {
        return std::nullopt;
    }
    const std::string path{path_view};
    const auto take = [&](std::string_view line) -> std::optional<Failure> {
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            return Failure{};
        }
        return apply_config_line(options, trim_whitespace(line.substr(0, equals)),
                                 trim_whitespace(line.substr(equals + 1)));
    };
    return read_text_lines(path, "config file", take, [&](unsigned long number) {
        return "Invalid config line " + std::to_string(number) + " in " + terminal_safe(path) +
               ".\n";
    });
}

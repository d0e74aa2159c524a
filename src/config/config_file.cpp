#include "config/config_file.h"

#include "config/targets.h"
#include "config/text_file.h"
#include "core/option_table.h"
#include "core/utf8.h"

#include <algorithm>
#include <array>
#include <string>

namespace {

// The texts a boolean may hold for false without a word; everything else that is not true is
// probably a typing mistake.
constexpr std::array<std::string_view, 5> false_texts{"0", "false", "no", "off", ""};

// Characters that look like a space but are not trimmed, so they stay part of a value: vertical
// tab, form feed, and the Unicode spaces a copy from a web page or a word processor brings.
constexpr std::array<std::string_view, 20> untrimmed_spaces{
    "\v",           "\f",           "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80",
    "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85",
    "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A",
    "\xE2\x80\x8B", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80", "\xEF\xBB\xBF"};

bool has_untrimmed_space_at_an_end(std::string_view value) {
    return std::any_of(untrimmed_spaces.begin(), untrimmed_spaces.end(),
                       [value](std::string_view space) {
                           return value.starts_with(space) || value.ends_with(space);
                       });
}

bool wrapped_in_quotes(std::string_view value) {
    return value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
           value.back() == value.front();
}

// What a line's value most likely means other than what it does, or nothing.
std::optional<std::string> value_warning(const OptionSpec& row, std::string_view value) {
    const std::string key{row.config_key};
    if (!row.takes_value()) {
        if (parse_bool(value) ||
            std::find(false_texts.begin(), false_texts.end(), value) != false_texts.end()) {
            return std::nullopt;
        }
        const bool commented = value.find_first_of("#;") != std::string_view::npos;
        return key + " is \"" + terminal_safe(value) +
               "\", which reads as false; only 1, true, yes and on mean true" +
               (commented ? " (a # or ; after a value belongs to it)" : "") + ".";
    }
    if (wrapped_in_quotes(value)) {
        return "the value of " + key + " is wrapped in quotes, which stay part of it; write it " +
               "without them.";
    }
    if (has_untrimmed_space_at_an_end(value)) {
        return "the value of " + key + " begins or ends with a space that is not trimmed (a " +
               "no-break space, say), which stays part of it.";
    }
    return std::nullopt;
}

// Applies one key=value line; why it is bad (naming the key or the target), or nothing.
std::optional<Failure> apply_config_line(StudioOptions& options, std::string_view key,
                                         std::string_view value,
                                         std::optional<std::string>& warning) {
    if (key.empty()) {
        return std::nullopt; // a line that begins with '=' is ignored without a word
    }
    const OptionSpec* row = find_config_key(key);
    if (row == nullptr) {
        return Failure{"Unknown config key: " + terminal_safe(key) + "\n"};
    }
    warning = value_warning(*row, value);
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

ConfigLoad load_config_file(StudioOptions& options, std::string_view path_view) {
    ConfigLoad load;
    if (path_view.empty()) {
        return load;
    }
    const std::string path{path_view};
    const auto take = [&](std::string_view line, unsigned long number) -> std::optional<Failure> {
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            return Failure{};
        }
        std::optional<std::string> warning;
        std::optional<Failure> refused =
            apply_config_line(options, trim_whitespace(line.substr(0, equals)),
                              trim_whitespace(line.substr(equals + 1)), warning);
        if (warning) {
            load.warnings.push_back("Warning: config line " + std::to_string(number) + " in " +
                                    terminal_safe(path) + ": " + *warning + "\n");
        }
        return refused;
    };
    load.failure = read_text_lines(path, "config file", take, [&](unsigned long number) {
        return "Invalid config line " + std::to_string(number) + " in " + terminal_safe(path) +
               ".\n";
    });
    return load;
}

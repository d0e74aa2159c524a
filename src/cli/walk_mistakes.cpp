#include "cli/walk_mistakes.h"

#include "core/option_table.h"
#include "core/utf8.h"
#include "publish/destinations.h"

#include <optional>

namespace {

constexpr std::string_view hidden_value = "****";

// An argument of the form "name=value", when the name is an option's or a config key's (or,
// for a name that begins with '-', close to an option's): the row it names and its value.
struct NameAndValue {
    std::string_view name;
    std::string_view value;
    const OptionSpec* row = nullptr; // the option or config key it names, or the closest option
    bool exact = false;
};

std::optional<NameAndValue> name_and_value(std::string_view argument) {
    const std::size_t equals = argument.find('=');
    if (equals == std::string_view::npos) {
        return std::nullopt;
    }
    NameAndValue split{argument.substr(0, equals), argument.substr(equals + 1)};
    if (!split.name.starts_with('-')) {
        split.row = find_config_key(split.name);
        split.exact = true;
        return split.row != nullptr ? std::optional{split} : std::nullopt;
    }
    split.row = find_option(split.name);
    split.exact = split.row != nullptr;
    if (!split.exact) {
        split.row = closest_option(split.name);
    }
    return split;
}

std::string unknown_or_incomplete(std::string_view shown) {
    return "Unknown or incomplete option: " + std::string{shown} + "\n";
}

} // namespace

std::string shown_argument(std::string_view argument) {
    const std::optional<NameAndValue> split = name_and_value(argument);
    if (!split) {
        return terminal_safe(with_url_secrets_hidden(argument));
    }
    const bool secret = split->row != nullptr && split->row->secret;
    return terminal_safe(split->name) + "=" +
           (secret ? std::string{hidden_value}
                   : terminal_safe(with_url_secrets_hidden(split->value)));
}

WalkMistake unknown_argument(std::string_view argument) {
    const std::string shown = shown_argument(argument);
    const std::optional<NameAndValue> split = name_and_value(argument);
    const std::string unknown = "Unknown option " + shown;
    const std::string unexpected = "Unexpected argument " + shown;
    std::string after_help;
    if (split && split->exact && !split->name.starts_with('-')) {
        after_help = unexpected + ": on the command line, write " + option_usage(*split->row) + ".";
    } else if (split && split->exact) {
        after_help = split->row->takes_value() ? unknown + ": write " + option_usage(*split->row) +
                                                     ", with a space instead of \"=\"."
                                               : unknown + ": " + std::string{split->row->name} +
                                                     " takes no value; write it alone.";
    } else if (const OptionSpec* closest = split ? split->row : closest_option(argument)) {
        after_help = unknown + ": did you mean " +
                     (split ? option_usage(*closest) : std::string{closest->name}) + "?";
    } else if (argument.starts_with('-')) {
        after_help = unknown + "; the options are listed above.";
    } else {
        after_help =
            unexpected + "; a value goes right after its option, and the options are listed above.";
    }
    return {unknown_or_incomplete(shown), after_help + "\n"};
}

WalkMistake missing_value(const OptionSpec& row) {
    const std::string name{row.name};
    return {unknown_or_incomplete(name),
            "Incomplete option " + name + ": it needs a value, as in " + option_usage(row) + ".\n"};
}

WalkMistake value_is_an_option(const OptionSpec& row, std::string_view next) {
    const std::string name{row.name};
    const std::string problem =
        name + " needs a value, but the next argument is the option " + std::string{next};
    return {problem + ".\n", problem + ": write " + option_usage(row) +
                                 " (an unset shell variable leaves the value out).\n"};
}

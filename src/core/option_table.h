#pragma once

#include "core/options.h"

#include <span>
#include <string>
#include <string_view>
#include <variant>

// What meeting an option does beyond storing its value.
enum class OptionAction { store, load_config, add_target, show_help, show_version };

// The record field an option or config key sets: a text, an overlay text that keeps "absent"
// apart from "empty", a switch, or nothing (the action does the work).
using OptionField = std::variant<std::monostate, std::string StudioOptions::*,
                                 OptionalText StudioOptions::*, bool StudioOptions::*>;

// One row per option, in the order the help text lists them. A row without a value name is a
// switch on the command line (it only ever sets its flag) and a boolean in a config file.
struct OptionSpec {
    std::string_view name;       // "--profile"
    std::string_view value_name; // "KEY", or empty for a switch
    OptionField field;
    std::string_view config_key; // empty: the command line only
    std::string_view help;
    OptionAction action = OptionAction::store;
    bool secret = false; // its value is never echoed

    bool takes_value() const { return !value_name.empty(); }
};

std::span<const OptionSpec> option_table();

// The row of a command-line option, matched exactly ("-h" is --help); nothing otherwise.
const OptionSpec* find_option(std::string_view name);

// True for exactly the name of an option of the table ("-h" is not one: it has no line).
bool is_option_name(std::string_view text);

// The option a name that matches none was most likely meant as: the nearest within two edits (a
// character wrong, missing, added, or two swapped), letter case aside, else the only option
// the name begins; nothing when none is that close. Ties go to the earlier row.
const OptionSpec* closest_option(std::string_view typed);

// The option as the help text shows it: "--profile KEY", or "--reconnect".
std::string option_usage(const OptionSpec& row);

// The row of a config-file key, matched exactly and case-sensitively; nothing otherwise.
const OptionSpec* find_config_key(std::string_view key);

// Stores a value into the row's field: a text as given, a switch as 1 or 0.
void store_value(StudioOptions& options, const OptionSpec& row, std::string_view text);
void store_flag(StudioOptions& options, const OptionSpec& row, bool value);

#pragma once

#include "core/options.h"

#include <span>
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

    bool takes_value() const { return !value_name.empty(); }
};

std::span<const OptionSpec> option_table();

// The row of a command-line option, matched exactly ("-h" is --help); nothing otherwise.
const OptionSpec* find_option(std::string_view name);

// The row of a config-file key, matched exactly and case-sensitively; nothing otherwise.
const OptionSpec* find_config_key(std::string_view key);

// Stores a value into the row's field: a text as given, a switch as 1 or 0.
void store_value(StudioOptions& options, const OptionSpec& row, std::string_view text);
void store_flag(StudioOptions& options, const OptionSpec& row, bool value);

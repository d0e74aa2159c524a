#pragma once

#include <string>
#include <string_view>

struct OptionSpec;

// What is said when the command-line walk stops at an argument it cannot take: the first line
// on standard error, before the help text, and the line after the help text that repeats the
// problem with what to type instead, so that it is the last thing on the screen.
struct WalkMistake {
    std::string message;
    std::string after_help;
};

// An argument as an error line may echo it: terminal-safe, with the value of a secret option
// (--stream-key=..., --automation-token=..., or a misspelling of one) and the secrets of a URL
// shown as ****.
std::string shown_argument(std::string_view argument);

// An argument that is no option: a misspelling (with the option it most likely means), an
// "--option=value" (with the option's own form), or a stray word.
WalkMistake unknown_argument(std::string_view argument);

// A value option that is the last argument.
WalkMistake missing_value(const OptionSpec& row);

// A value option followed by one of castora's own options instead of its value, as an unset
// shell variable leaves it.
WalkMistake value_is_an_option(const OptionSpec& row, std::string_view next);

#pragma once

#include <string>

struct StudioOptions;

enum class ParseOutcome {
    proceed,      // the walk completed: go on with the launch
    exit_success, // --help, -h or --version answered
    failure,      // the caller prints the help text and ends with status 2
};

struct ParseResult {
    ParseOutcome outcome = ParseOutcome::proceed;
    std::string after_help; // a failure's last word, for standard error after the help text
};

// Walks argv[1..argc-1] left to right into the record. A --config file is loaded and a
// --target added at the moment it is met, so the command line and config files apply in
// the order they are written. What a config file read as written but likely meant otherwise is
// said at once.
ParseResult parse_arguments(int argc, const char* const* argv, StudioOptions& options);

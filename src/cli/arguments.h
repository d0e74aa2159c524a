#pragma once

struct StudioOptions;

enum class ParseOutcome {
    proceed,      // the walk completed: go on with the launch
    exit_success, // --help, -h or --version answered
    failure,      // the caller prints the help text and ends with status 2
};

// Walks argv[1..argc-1] left to right into the record. A --config file is loaded and a
// --target added at the moment it is met, so the command line and config files apply in
// the order they are written.
ParseOutcome parse_arguments(int argc, const char* const* argv, StudioOptions& options);

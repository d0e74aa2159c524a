#include "cli/arguments.h"

#include "cli/usage.h"
#include "config/config_file.h"
#include "config/targets.h"
#include "core/option_table.h"

#include <cstdio>
#include <string_view>

ParseOutcome parse_arguments(int argc, const char* const* argv, StudioOptions& options) {
    for (int index = 1; index < argc; ++index) {
        const OptionSpec* row = find_option(argv[index]);
        // A value is the next argument, whatever it looks like.
        if (row == nullptr || (row->takes_value() && index + 1 >= argc)) {
            std::fprintf(stderr, "Unknown or incomplete option: %s\n", argv[index]);
            return ParseOutcome::failure;
        }
        const std::string_view value = row->takes_value() ? argv[++index] : "";
        switch (row->action) {
        case OptionAction::show_help:
            print_usage(argv[0]);
            return ParseOutcome::exit_success;
        case OptionAction::show_version:
            print_version();
            return ParseOutcome::exit_success;
        case OptionAction::add_target:
            if (const auto refused = add_target(options, value)) {
                std::fputs(refused->message.c_str(), stderr);
                return ParseOutcome::failure;
            }
            break;
        case OptionAction::load_config: {
            store_value(options, *row, value);
            const ConfigLoad load = load_config_file(options, value);
            for (const std::string& warning : load.warnings) {
                std::fputs(warning.c_str(), stderr);
            }
            if (load.failure) {
                std::fputs(load.failure->message.c_str(), stderr);
                return ParseOutcome::failure;
            }
            break;
        }
        case OptionAction::store:
            if (row->takes_value()) {
                store_value(options, *row, value);
            } else {
                store_flag(options, *row, true);
            }
            break;
        }
    }
    return ParseOutcome::proceed;
}

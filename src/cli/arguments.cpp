#include "cli/arguments.h"

#include "cli/usage.h"
#include "cli/walk_mistakes.h"
#include "config/config_file.h"
#include "config/targets.h"
#include "core/option_table.h"

#include <cstdio>
#include <string_view>

namespace {

ParseResult stop(const WalkMistake& mistake) {
    std::fputs(mistake.message.c_str(), stderr);
    return {ParseOutcome::failure, mistake.after_help};
}

ParseResult stop(const Failure& failure) {
    std::fputs(failure.message.c_str(), stderr);
    return {ParseOutcome::failure, {}};
}

} // namespace

ParseResult parse_arguments(int argc, const char* const* argv, StudioOptions& options) {
    for (int index = 1; index < argc; ++index) {
        const OptionSpec* row = find_option(argv[index]);
        if (row == nullptr) {
            return stop(unknown_argument(argv[index]));
        }
        if (row->takes_value() && index + 1 >= argc) {
            return stop(missing_value(*row));
        }
        // A value may begin with '-', but one of castora's own options is never taken for one.
        if (row->takes_value() && is_option_name(argv[index + 1])) {
            return stop(value_is_an_option(*row, argv[index + 1]));
        }
        const std::string_view value = row->takes_value() ? argv[++index] : "";
        switch (row->action) {
        case OptionAction::show_help:
            print_usage(argv[0]);
            return {ParseOutcome::exit_success, {}};
        case OptionAction::show_version:
            print_version();
            return {ParseOutcome::exit_success, {}};
        case OptionAction::add_target:
            if (const auto refused = add_target(options, value)) {
                return stop(*refused);
            }
            break;
        case OptionAction::load_config: {
            store_value(options, *row, value);
            const ConfigLoad load = load_config_file(options, value);
            for (const std::string& warning : load.warnings) {
                std::fputs(warning.c_str(), stderr);
            }
            if (load.failure) {
                return stop(*load.failure);
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
    return {};
}

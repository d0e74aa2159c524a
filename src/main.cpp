#include "cli/arguments.h"
#include "cli/launch.h"
#include "cli/usage.h"
#include "core/options.h"
#include "core/out_of_memory.h"
#include "process/child.h"
#include "process/signals.h"
#include "process/standard_descriptors.h"

#include <cstdio>

int main(int argc, char** argv) {
    reopen_closed_standard_descriptors();
    settle_inherited_signals();
    install_out_of_memory_handler(end_children_from_signal_handler);
    StudioOptions options;
    const ParseResult walked = parse_arguments(argc, argv, options);
    switch (walked.outcome) {
    case ParseOutcome::exit_success:
        return 0;
    case ParseOutcome::failure:
        print_usage(argc > 0 ? argv[0] : "castora");
        std::fflush(stdout);
        std::fputs(walked.after_help.c_str(), stderr);
        return 2;
    case ParseOutcome::proceed:
        break;
    }
    return run_studio(options);
}

#include "cli/usage.h"

#include "core/option_table.h"

#include <cstdio>
#include <string>

namespace {

// Descriptions start in column 32: two spaces, then the option padded to 29 characters.
constexpr int help_option_width = 29;

} // namespace

void print_version() {
    std::printf("Brevalo Castora Native %.*s\n", static_cast<int>(app_version.size()),
                app_version.data());
}

void print_usage(const char* program_name) {
    print_version();
    std::printf("Usage: %s [options]\n\nOptions:\n", program_name != nullptr ? program_name : "");
    for (const OptionSpec& row : option_table()) {
        const std::string option = option_usage(row);
        std::printf("  %-*s%.*s\n", help_option_width, option.c_str(),
                    static_cast<int>(row.help.size()), row.help.data());
    }
    std::fputs("\nLow-powered creators should use low_power_360p or balanced_480p. The server side "
               "upconverts.\n",
               stdout);
}

#include "cli/options.h"

void store_text(StudioOptions& options, TextField field, std::string_view value) {
    std::visit([&](auto member) { options.*member = std::string(value); }, field);
}

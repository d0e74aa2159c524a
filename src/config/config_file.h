#pragma once

#include "core/failure.h"

#include <optional>
#include <string_view>

struct StudioOptions;

// 1 for exactly "1", "true", "yes" or "on"; everything else, other capitalisations included,
// reads as 0 without a message.
bool parse_bool(std::string_view text);

// Loads a key=value studio config into the record at the point the command line names it.
// Nothing to do for an empty path. Stops at the first bad line and says why; the lines before it
// have taken effect, but the caller ends the run.
std::optional<Failure> load_config_file(StudioOptions& options, std::string_view path);

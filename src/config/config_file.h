#pragma once

#include "core/failure.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct StudioOptions;

// 1 for exactly "1", "true", "yes" or "on"; everything else, other capitalisations included,
// reads as 0.
bool parse_bool(std::string_view text);

// What loading a config file came to: why it stopped (nothing when it was loaded), and the lines
// it took as written though they likely mean something else, each a warning naming the file
// and the line.
struct ConfigLoad {
    std::optional<Failure> failure;
    std::vector<std::string> warnings;
};

// Loads a key=value studio config into the record at the point the command line names it.
// Nothing to do for an empty path. Stops at the first bad line and says why; the lines before it
// have taken effect, but the caller ends the run.
ConfigLoad load_config_file(StudioOptions& options, std::string_view path);

#pragma once

#include "core/failure.h"

#include <optional>
#include <string_view>

struct StudioOptions;

// Stores one stream target after its checks (scheme, no '|' or ']', the 16-target limit).
// An empty text stores nothing and is no error.
std::optional<Failure> add_target(StudioOptions& options, std::string_view url,
                                  std::string_view label = {});

// "Too many targets. Maximum is 16.": the target list or the outputs of a launch are full.
Failure too_many_targets();

// Reads the target file named in the record, one URL or label=URL a line, appending each
// target. Nothing to do without a path. Stops at the first rejected line.
std::optional<Failure> load_target_file(StudioOptions& options);

// The URL a target-file line names: the text after the first '=' when a "://" only begins
// after it (a label), otherwise the whole line, so query strings holding '=' stay whole.
std::string_view target_from_line(std::string_view trimmed_line);

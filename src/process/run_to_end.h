#pragma once

#include "process/child.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

// Runs a child to its end, at most `time_limit` (then it is killed), keeping at most `limit`
// bytes of its piped output (read only when the ChildSpec asks for a pipe); what it writes beyond
// that is never read. The output when it ended with status 0 in time; nothing otherwise. A stop
// request ends it and then this program.
std::optional<std::string> run_to_end(const ChildSpec& spec, std::size_t limit,
                                      std::chrono::milliseconds time_limit);

#pragma once

#include "core/failure.h"

#include <string>
#include <string_view>

// The folder of files one live run keeps for FFmpeg to read (the live overlay texts), private to
// the user and removed however the run ends.

// The name the dry run shows: a run's own folder gets a unique name in place of the X's.
inline constexpr std::string_view run_folder_template = "/tmp/castora-run-XXXXXX";

// Makes the run's folder and has it removed whatever way the run ends (whoever puts a file in it
// has that file removed as well).
Expected<std::string> make_run_folder();

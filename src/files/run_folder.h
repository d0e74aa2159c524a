#pragma once

#include "core/failure.h"

#include <string>

// The folder of files one live run keeps for FFmpeg to read (the live overlay texts), private to
// the user and removed however the run ends.

// The name the dry run shows, in the temporary folder (user_folders.h): a run's own folder gets
// a unique name in place of the X's.
std::string run_folder_template();

// Makes the run's folder and has it removed whatever way the run ends (whoever puts a file in it
// has that file removed as well).
Expected<std::string> make_run_folder();

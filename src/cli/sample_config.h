#pragma once

#include <string>

// The starter studio config, exactly as written to a file.
std::string sample_config_text();

// Writes the starter config to `path`, replacing any file there, readable by the user alone.
// Returns the exit status: 0, or 2 after a message when the file cannot be opened for writing or
// the text cannot be written to it.
int write_sample_config(const std::string& path);

#pragma once

#include "ffmpeg/ffmpeg_argv.h"

#include <string>
#include <string_view>

// One element in POSIX shell quoting: bare when every byte is safe, otherwise single-quoted
// with each apostrophe written as '\''. An empty element is '' so it survives a paste.
std::string shell_quote(std::string_view element);

// The whole vector as one line (without a line feed), so that pasted into a shell it runs the
// same vector: what a dry run prints.
std::string shell_command_line(const FfmpegArgv& argv);

#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <sys/types.h>

// The file an FFmpeg path names, as the system would run it, and what tells one build of it from
// another: a new install, an upgrade or a rebuild changes one of these (the change time too when
// a copy of the same size is given the old modification time back).
struct ExecutableIdentity {
    std::string path; // resolved: absolute, without symbolic links
    off_t size = 0;
    timespec modified{};
    timespec changed{}; // of the inode: set by the system, not by whoever writes the file
    ino_t inode = 0;
    dev_t device = 0;
};

// A name without a slash is looked up on PATH, as starting it would. Nothing when no such
// executable file exists.
std::optional<ExecutableIdentity> identify_executable(const std::string& ffmpeg_path);

#pragma once

#include "ffmpeg/components.h"
#include "ffmpeg_check/executable.h"

#include <optional>
#include <string>
#include <string_view>

// What castora found out about an executable, kept in the user's cache folder until the file
// changes (its path, size, modification or change time, or inode), so a launch asks FFmpeg only
// once per build. "Not an FFmpeg" is kept too; answers that settle nothing are not.

// The cache entry for the executable.
std::string findings_cache_text(const ExecutableIdentity& executable,
                                const FfmpegFindings& findings);

// The findings in `text` when it is a whole entry for exactly this executable; nothing for an
// entry of another file, another castora, or anything unreadable.
std::optional<FfmpegFindings> findings_from_cache_text(std::string_view text,
                                                       const ExecutableIdentity& executable);

std::optional<FfmpegFindings> cached_findings(const ExecutableIdentity& executable);
void cache_findings(const ExecutableIdentity& executable, const FfmpegFindings& findings);

// Removes what was kept for the executable's path: the latest answers settled nothing.
void forget_findings(const ExecutableIdentity& executable);

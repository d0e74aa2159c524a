#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

// Replaces the file at `path` by one holding exactly `content`, with permissions `mode`, so that
// a reader sees the old file or the whole new one, never a part: the content goes to a temporary
// file in the same folder, is flushed to the disk, and the temporary file is renamed over `path`.
// The temporary file is `temporary` when given (a folder only this program writes in), otherwise
// a new unique name. Nothing is left behind on failure. Returns the error number, or nothing.
std::optional<int> replace_file(const std::string& path, std::string_view content, mode_t mode,
                                const std::string& temporary = {});

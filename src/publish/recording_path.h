#pragma once

#include <string>
#include <string_view>

// Empty is valid (no recording); over 1023 bytes, or holding '|', ']', a line feed or a
// carriage return, is not.
bool is_valid_record_path(std::string_view path);

// The name `path` would get with "-N" inserted before the extension of its file name:
// rec.mkv -> rec-1.mkv, rec -> rec-1, dir.d/.hidden -> dir.d/.hidden-1.
std::string numbered_recording_path(std::string_view path, unsigned number);

// A recording never overwrites an earlier one: `path` itself when nothing exists there,
// otherwise the first numbered name that is free.
std::string free_recording_path(std::string_view path);

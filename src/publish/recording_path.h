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

// Like free_recording_path, but creates the chosen file at once and exclusively, so two
// launches started together never record into the same file. When no file can be created
// there (a missing folder, say) the free name is returned all the same: FFmpeg then fails to
// open it and says why.
std::string reserve_recording_path(std::string_view path);

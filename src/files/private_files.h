#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The small private files castora keeps in the user's folders: what it found out about an FFmpeg,
// the capture mode a camera accepts.

// The file's content when it is a regular file of this user in a folder of this user, neither
// writable by anyone else, and at most `limit` bytes; nothing otherwise.
std::optional<std::string> read_private_file(const std::string& folder, std::string_view name,
                                             std::size_t limit);

// Replaces the file atomically (a temporary file in the same folder, renamed over it), readable
// and writable by this user only; the folder is made, private too, when missing. False when
// that cannot be done; nothing is left behind then.
bool write_private_file(const std::string& folder, std::string_view name, std::string_view content);

// Makes the folder and any missing parent (the ones made here private to the user); true when it
// is a folder of this user that nobody else can write.
bool make_private_folder(const std::string& folder);

// Removes the file from the folder, when the folder is this user's alone.
void remove_private_file(const std::string& folder, std::string_view name);

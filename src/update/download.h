#pragma once

#include "update/update_check.h"

#include <string>
#include <string_view>

// The package's file name in the working directory; "latest" stands in for an empty version.
std::string package_file_name(std::string_view latest_version);

// A version text from the service may become part of a file name and of shell commands only
// when it is made of ASCII letters, digits and . _ - + and is not "." or "..".
bool is_safe_version_text(std::string_view version);

// Exactly 64 hexadecimal digits, returned in lower case; empty when the digest is not that.
std::string normalized_sha256(std::string_view digest);

// Downloads the package into a new file of its own in the working directory and gives it the
// package's name only when its SHA-256 digest matches the announced one; otherwise the file is
// removed. After a transfer, the outcome line to show; refused input and a failed transfer have
// nothing to say and leave nothing behind.
std::string download_update(const PackageDownload& package);

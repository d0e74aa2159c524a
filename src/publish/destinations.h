#pragma once

#include "publish/output_urls.h"

#include <string>
#include <string_view>
#include <vector>

// How the live lines name an output URL: "host:port" (with the scheme's default port when the
// URL gives none), never its path or query, which hold stream keys.
std::string destination_name(std::string_view url);

// The texts of the outputs that must never be shown: the stream key, the last path segment of
// an RTMP or RTMPS URL after its application name, and SRT streamid and passphrase values.
std::vector<std::string> stream_secrets(const OutputUrlList& urls, std::string_view stream_key);

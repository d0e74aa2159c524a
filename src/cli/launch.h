#pragma once

#include <string_view>

struct StudioOptions;

// True for any HTTPS URL and for plain-HTTP URLs of the local bridge on this machine
// (127.0.0.1, localhost or [::1], followed by the end, a port, a path, a query or a fragment).
bool is_local_bridge_url(std::string_view url);

// Everything after the command-line walk: installs the crash handler, picks the one mode of
// this run and performs it. Returns the exit status: 0, 2, or the last FFmpeg run's status.
int run_studio(StudioOptions& options);

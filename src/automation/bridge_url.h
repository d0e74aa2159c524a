#pragma once

#include <string_view>

// True for any HTTPS URL and for plain-HTTP URLs of the local bridge on this machine:
// 127.0.0.1, localhost or [::1], followed by the end, a port, a path, a query or a fragment,
// with no user part ("http://localhost:80@evil.example/" names evil.example).
bool is_local_bridge_url(std::string_view url);

#pragma once

#include "core/version.h"

#include <string_view>

// The built-in identity sent in the update query, the package name and every report.
inline constexpr std::string_view app_platform = "macos";
inline constexpr std::string_view app_architecture = "universal";

inline constexpr std::string_view default_update_url = "https://api.brevalo.com/castora/update";
inline constexpr std::string_view default_report_url = "https://api.brevalo.com/castora/report";

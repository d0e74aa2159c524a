#pragma once

#include <string_view>

// FFmpeg writes most of its log as "[CONTEXT @ 0xADDRESS] message"; some lines carry no context.
struct LogLine {
    std::string_view context; // "AVFoundation indev", or empty
    std::string_view message;
};

LogLine read_log_line(std::string_view line);

// A line of the AVFoundation input (which names itself "AVFoundation indev" or "avfoundation",
// depending on what logs), or of no context at all.
bool from_avfoundation(const LogLine& line);

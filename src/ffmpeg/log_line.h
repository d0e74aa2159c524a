#pragma once

#include <optional>
#include <string_view>

// FFmpeg writes most of its log as "[CONTEXT @ 0xADDRESS] message"; some lines carry no context.
// Where it writes a line again and again, its logger keeps the first and, before the next other
// line, says how many more there were, with no context of its own:
//
//     [avfoundation @ 0x7f8...]   1280x720@[1.000000 30.000000]fps
//         Last message repeated 2 times
struct LogLine {
    std::string_view context; // "AVFoundation indev", or empty
    std::string_view message;
};

LogLine read_log_line(std::string_view line);

// How many times the line before it came again, for a logger's "Last message repeated N times";
// nothing for any other line.
std::optional<int> repeats_of_last_line(std::string_view line);

// A line of the AVFoundation input or of no context at all. The input logs as "avfoundation"
// through FFmpeg 8.0 and as "in#0" from 8.1 on (every input is named by its number then); the
// device listing always logs as "AVFoundation indev".
bool from_avfoundation(const LogLine& line);

#pragma once

#include <chrono>
#include <string>
#include <string_view>

// A line of castora's own while live: "Live: ", the text and a line feed.
std::string live_line(std::string_view text);

// "12s", "4m05s", "2h03m".
std::string live_duration(std::chrono::steady_clock::duration duration);

// "1 overflow", "3 overflows".
std::string plural(long long count, std::string_view word);

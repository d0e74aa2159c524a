#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct StudioOptions;

inline constexpr std::size_t max_signal_name_bytes = 79;
inline constexpr std::size_t max_phase_bytes = 159;
inline constexpr std::size_t max_key_bytes = 119;
inline constexpr std::size_t max_message_bytes = 1023;

// One JSON string member's content: backslash and double quote escaped, control bytes and
// bytes outside well-formed UTF-8 dropped, cut at `limit` bytes without splitting an escape
// pair or a UTF-8 sequence.
std::string escape_report_member(std::string_view text, std::size_t limit);

struct ReportFields {
    std::string_view event_type = "error";
    std::string_view severity = "error";
    int exit_code = 0;
    std::string_view signal_name;
    std::string_view phase;
    std::string_view message;
};

// The report as one line of JSON ending in a line feed.
std::string compose_report_json(const StudioOptions& options, const ReportFields& fields);

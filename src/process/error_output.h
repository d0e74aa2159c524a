#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Standard error while this program supervises its children: nothing written here makes it
// wait for the reader (a pipe nobody reads, a terminal held with Ctrl-S), so the stop sequence,
// reaping and the live lines go on regardless. Text the reader does not take at once is held,
// up to a bound, and sent as it takes more; a line that finds no room is dropped whole and
// counted, and once the reader takes text again one line says how many were dropped. A line
// ends with a line feed, or with a carriage return (the progress line FFmpeg rewrites). A reader
// that is gone for good (a closed pipe, a hung-up terminal) gets nothing more.

// Writes `line` and a line feed.
void write_error_line(std::string_view line);

// Writes text as it comes: another program's output, whose lines may arrive in pieces.
void write_error_text(std::string_view text);

// Sends what is held, as far as the reader takes it now: on every turn of the supervisor's loop.
void send_held_error_output() noexcept;

// Sends what is held, then the count of dropped lines, waiting for the reader as long as it
// takes text, but not once it has taken nothing for a second. Runs at exit, and before a stop
// ends the process; it allocates nothing.
void flush_error_output_at_end() noexcept;

// The bookkeeping of the above, apart from the descriptor.

inline constexpr std::size_t max_held_error_bytes = 65536;

struct HeldOutput {
    std::string text;              // taken in, not yet taken by the reader
    std::size_t dropped_lines = 0; // not said yet
    bool input_at_line_start = true;
    bool dropping_line = false; // the line coming in is being dropped
    bool text_ends_line = true; // what was taken in last ended with a line feed
};

// A held output whose text never grows beyond `capacity` and the line about dropped lines, so
// it never allocates again.
HeldOutput held_output(std::size_t capacity);

// The length of the first line of `text`, its end included; all of it when it does not end.
std::size_t line_piece_length(std::string_view text);

// Takes `text` in, line by line: a line that begins when there is room for it within
// `capacity` is held, the rest dropped and counted. A line that grows beyond the room is cut
// and counted as dropped. The line about the dropped lines goes before the next line held.
void hold_output(HeldOutput& output, std::string_view text, std::size_t capacity);

// The reader took the first `count` bytes. Once nothing is held, the line about the dropped
// lines follows.
void output_taken(HeldOutput& output, std::size_t count);

// Holds the line about the dropped lines, when some were dropped.
void hold_dropped_lines_line(HeldOutput& output);

#include "process/error_output.h"

#include "process/signals.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A write the reader said it had room for, but that still waits (a terminal may), is cut short.
constexpr std::chrono::microseconds write_patience{20000};
// At the end, the reader is waited for in these steps, until it has taken nothing for a second.
constexpr int flush_step_ms = 50;
constexpr int flush_patience_ms = 1000;
// Room beyond the capacity for the line about the dropped lines, with a line feed before it.
constexpr std::size_t dropped_lines_line_bytes = 96;

struct ErrorOutput {
    HeldOutput held;
    bool reader_gone = false;
};

// Made on first use and never destroyed: the flush at exit may run after static objects are gone.
ErrorOutput* made = nullptr;

ErrorOutput& error_output() {
    if (made == nullptr) {
        made = new ErrorOutput{held_output(max_held_error_bytes), false};
        std::atexit(flush_error_output_at_end);
    }
    return *made;
}

// Whether standard error may make a write wait although it said it had room: a terminal
// (stopped by Ctrl-S) or a socket. Asked once.
volatile std::sig_atomic_t may_wait = -1; // not asked yet

bool may_wait_with_room() noexcept {
    if (may_wait < 0) { // asking twice does no harm, so a handler may ask too
        struct stat info {};
        may_wait = fstat(STDERR_FILENO, &info) != 0 || S_ISSOCK(info.st_mode) ||
                           (S_ISCHR(info.st_mode) && isatty(STDERR_FILENO) == 1)
                       ? 1
                       : 0;
    }
    return may_wait == 1;
}

bool ends_line(std::string_view piece) {
    return !piece.empty() && (piece.back() == '\n' || piece.back() == '\r');
}

// Writes what the reader takes now, waiting at most `wait_ms` for it to have room: the count
// written, 0 when it took nothing, -1 when it is gone for good.
ssize_t write_now(std::string_view bytes, int wait_ms) noexcept {
    pollfd out{STDERR_FILENO, POLLOUT, 0};
    if (poll(&out, 1, wait_ms) <= 0) {
        return 0;
    }
    if ((out.revents & POLLOUT) == 0) {
        return (out.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 ? -1 : 0;
    }
    // A pipe with room takes up to PIPE_BUF bytes at once without waiting, and a file or
    // /dev/null never waits; a terminal or a socket may still, so its write is bounded.
    const std::optional<WriteAlarm> alarm =
        may_wait_with_room() ? std::optional<WriteAlarm>{std::in_place, write_patience}
                             : std::nullopt;
    const ssize_t written =
        write(STDERR_FILENO, bytes.data(), std::min<std::size_t>(bytes.size(), PIPE_BUF));
    if (written >= 0) {
        return written;
    }
    return errno == EINTR || errno == EAGAIN ? 0 : -1;
}

void reader_is_gone(ErrorOutput& output) noexcept {
    output.reader_gone = true;
    output.held.text.clear();
    output.held.dropped_lines = 0;
}

} // namespace

HeldOutput held_output(std::size_t capacity) {
    HeldOutput output;
    output.text.reserve(capacity + dropped_lines_line_bytes);
    return output;
}

std::size_t line_piece_length(std::string_view text) {
    const std::size_t end = text.find_first_of("\n\r");
    return end == std::string_view::npos ? text.size() : end + 1;
}

void hold_output(HeldOutput& output, std::string_view text, std::size_t capacity) {
    while (!text.empty()) {
        const std::string_view piece = text.substr(0, line_piece_length(text));
        text.remove_prefix(piece.size());
        const bool begins_line = output.input_at_line_start;
        output.input_at_line_start = ends_line(piece);
        if (begins_line) {
            output.dropping_line = false;
        } else if (output.dropping_line) {
            continue;
        }
        if (output.text.size() + piece.size() > capacity) {
            output.dropping_line = !output.input_at_line_start;
            ++output.dropped_lines;
            continue;
        }
        if (begins_line) {
            hold_dropped_lines_line(output);
        }
        output.text.append(piece);
        output.text_ends_line = piece.back() == '\n';
    }
}

void output_taken(HeldOutput& output, std::size_t count) {
    output.text.erase(0, count);
    if (output.text.empty()) {
        hold_dropped_lines_line(output);
    }
}

void hold_dropped_lines_line(HeldOutput& output) {
    if (output.dropped_lines == 0) {
        return;
    }
    // Composed in place: this runs at exit too, where nothing may be allocated.
    char count[24];
    const auto end = std::to_chars(count, count + sizeof count, output.dropped_lines).ptr;
    if (!output.text_ends_line) {
        output.text += '\n';
    }
    output.text += "castora dropped ";
    output.text.append(count, end);
    output.text += output.dropped_lines == 1 ? " line" : " lines";
    output.text += " of output while standard error was not being read.\n";
    output.dropped_lines = 0;
    output.text_ends_line = true;
}

void write_error_line(std::string_view line) {
    std::string text{line};
    text += '\n';
    write_error_text(text);
}

void write_error_text(std::string_view text) {
    ErrorOutput& output = error_output();
    while (!text.empty() && !output.reader_gone) {
        const std::size_t length = line_piece_length(text);
        if (output.held.text.size() + length > max_held_error_bytes) {
            send_held_error_output();
        }
        hold_output(output.held, text.substr(0, length), max_held_error_bytes);
        text.remove_prefix(length);
    }
    send_held_error_output();
}

void send_held_error_output() noexcept {
    if (made == nullptr) {
        return;
    }
    while (!made->held.text.empty()) {
        const ssize_t written = write_now(made->held.text, 0);
        if (written < 0) {
            return reader_is_gone(*made);
        }
        if (written == 0) {
            return;
        }
        output_taken(made->held, static_cast<std::size_t>(written));
    }
}

void flush_error_output_at_end() noexcept {
    if (made == nullptr || made->reader_gone) {
        return;
    }
    if (made->held.text.empty()) {
        hold_dropped_lines_line(made->held);
    }
    for (int quiet_ms = 0; !made->held.text.empty() && quiet_ms < flush_patience_ms;) {
        const ssize_t written = write_now(made->held.text, flush_step_ms);
        if (written < 0) {
            return reader_is_gone(*made);
        }
        if (written == 0) {
            quiet_ms += flush_step_ms;
        } else {
            output_taken(made->held, static_cast<std::size_t>(written));
            quiet_ms = 0;
        }
    }
}

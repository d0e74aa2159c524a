#pragma once

#include "core/failure.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The config file and the target file are both read in pieces of at most 2047 bytes, each
// stopping after a line feed. A longer line is therefore taken in several pieces, and every
// piece is a line of its own for the caller and for the line numbers in messages.
inline constexpr std::size_t line_buffer_size = 2048;

// Exactly these four characters are whitespace; vertical tab and form feed are not.
std::string_view trim_whitespace(std::string_view text);

// Blank lines and lines whose first character is '#' or ';' (after trimming) carry nothing.
bool is_blank_or_comment(std::string_view trimmed_line);

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Opens a regular text file for reading, past a UTF-8 byte-order mark at its start, or says
// "Could not open <what> <path>: <reason>". A directory, a device or a FIFO is refused with a
// reason that says what it is.
Expected<FileHandle> open_text_file(const std::string& path, std::string_view what);

class LineReader {
  public:
    explicit LineReader(std::FILE* file) : file_(file) {}

    // The next piece, trimmed, or nothing at end of file or on a read error.
    std::optional<std::string_view> next();

    // Counts every piece read, from 1.
    unsigned long line_number() const { return line_number_; }

  private:
    std::FILE* file_;
    unsigned long line_number_ = 0;
    char buffer_[line_buffer_size]{};
};

// Reads the text file's lines (pieces, trimmed), passing over blank and comment lines, and hands
// each to `take` with its number, stopping at the first it refuses: its failure then ends with
// `bad_line` of the line's number.
std::optional<Failure> read_text_lines(
    const std::string& path, std::string_view what,
    const std::function<std::optional<Failure>(std::string_view line, unsigned long line_number)>&
        take,
    const std::function<std::string(unsigned long line_number)>& bad_line);

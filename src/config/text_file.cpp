#include "config/text_file.h"

#include "core/utf8.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view whitespace = " \t\n\r";
constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

} // namespace

std::string_view trim_whitespace(std::string_view text) {
    const std::size_t first = text.find_first_not_of(whitespace);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(whitespace);
    return text.substr(first, last - first + 1);
}

bool is_blank_or_comment(std::string_view trimmed_line) {
    return trimmed_line.empty() || trimmed_line.front() == '#' || trimmed_line.front() == ';';
}

Expected<FileHandle> open_text_file(const std::string& path, std::string_view what) {
    // Opened without waiting, so a FIFO cannot hold the launch; only a regular file is read.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    std::string reason = std::strerror(errno);
    if (fd >= 0 && fstat(fd, &info) == 0 && !S_ISREG(info.st_mode)) {
        reason = S_ISDIR(info.st_mode)    ? std::strerror(EISDIR)
                 : S_ISCHR(info.st_mode)  ? "Is a character device"
                 : S_ISBLK(info.st_mode)  ? "Is a block device"
                 : S_ISFIFO(info.st_mode) ? "Is a FIFO"
                                          : "Is not a regular file";
    }
    FileHandle file;
    if (fd >= 0 && S_ISREG(info.st_mode)) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        file.reset(fdopen(fd, "r"));
    } else if (fd >= 0) {
        close(fd);
    }
    if (!file) {
        return Failure{"Could not open " + std::string{what} + " " + terminal_safe(path) + ": " +
                       reason + "\n"};
    }
    // Editors may start a file with a UTF-8 byte-order mark; it is no part of the first line.
    char start[byte_order_mark.size()];
    if (std::fread(start, 1, sizeof start, file.get()) != sizeof start ||
        std::string_view(start, sizeof start) != byte_order_mark) {
        std::rewind(file.get());
    }
    return file;
}

std::optional<std::string_view> LineReader::next() {
    if (std::fgets(buffer_, sizeof buffer_, file_) == nullptr) {
        return std::nullopt;
    }
    ++line_number_;
    return trim_whitespace(std::string_view(buffer_, std::strlen(buffer_)));
}

std::optional<Failure> read_text_lines(
    const std::string& path, std::string_view what,
    const std::function<std::optional<Failure>(std::string_view line, unsigned long line_number)>&
        take,
    const std::function<std::string(unsigned long line_number)>& bad_line) {
    const Expected<FileHandle> file = open_text_file(path, what);
    if (!file) {
        return file.failure();
    }
    LineReader reader{file->get()};
    while (const auto line = reader.next()) {
        if (is_blank_or_comment(*line)) {
            continue;
        }
        if (std::optional<Failure> refused = take(*line, reader.line_number())) {
            refused->message += bad_line(reader.line_number());
            return refused;
        }
    }
    return std::nullopt;
}

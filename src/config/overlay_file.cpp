#include "config/overlay_file.h"

#include "catalog/overlay_boxes.h"
#include "config/text_file.h"
#include "core/utf8.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// A file of five short texts; one this large is not an overlay file.
constexpr std::size_t max_overlay_file_bytes = 65536;
// A changed file must look the same for this long before it is read.
constexpr std::chrono::milliseconds settle_time{40};
// A file that keeps changing is read without settling once its change has waited this long.
constexpr std::chrono::milliseconds longest_wait{150};
constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

std::int64_t nanoseconds(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

std::string_view kind_of_non_regular(mode_t mode) {
    return S_ISDIR(mode)    ? "it is a directory"
           : S_ISFIFO(mode) ? "it is a FIFO"
           : S_ISCHR(mode)  ? "it is a character device"
           : S_ISBLK(mode)  ? "it is a block device"
                            : "it is not a regular file";
}

} // namespace

OverlayFileContent read_overlay_file_text(std::string_view text) {
    OverlayFileContent content;
    if (text.starts_with(byte_order_mark)) {
        text.remove_prefix(byte_order_mark.size());
    }
    unsigned long number = 0;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view raw = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        const std::string at_line = "line " + std::to_string(++number) + ": ";
        const std::string_view line = trim_whitespace(raw);
        if (is_blank_or_comment(line)) {
            continue;
        }
        const std::size_t equals = line.find('=');
        const std::string_view key = trim_whitespace(line.substr(0, equals));
        constexpr std::string_view left_out = "; the line is left out";
        if (raw.size() >= line_buffer_size) {
            content.problems.push_back(at_line + "longer than " +
                                       std::to_string(line_buffer_size - 1) + " bytes" +
                                       std::string{left_out});
        } else if (equals == std::string_view::npos) {
            content.problems.push_back(at_line + "no \"=\" in it" + std::string{left_out});
        } else if (key.empty()) {
            continue;
        } else if (find_overlay(key) == nullptr) {
            content.problems.push_back(at_line + "unknown key " + terminal_safe(key) +
                                       std::string{left_out});
        } else {
            content.values.push_back(
                {number, std::string{key}, std::string{trim_whitespace(line.substr(equals + 1))}});
        }
    }
    return content;
}

std::string OverlayFileWatch::name() const {
    return "the overlay file " + terminal_safe(path_);
}

void OverlayFileWatch::unreadable(std::vector<std::string>& messages, const std::string& reason) {
    if (reason != problem_) {
        messages.push_back(name() + " cannot be read: " + reason +
                           "; the overlays keep their texts.");
        problem_ = reason;
    }
    candidate_.reset();
    changing_since_.reset();
}

std::vector<std::string> OverlayFileWatch::look(Clock::time_point now, const Apply& apply) {
    std::vector<std::string> messages;
    const bool first = !std::exchange(looked_, true);
    struct stat info {};
    if (stat(path_.c_str(), &info) != 0) {
        unreadable(messages, std::strerror(errno));
        return messages;
    }
    if (!S_ISREG(info.st_mode)) {
        unreadable(messages, std::string{kind_of_non_regular(info.st_mode)});
        return messages;
    }
#if defined(__APPLE__)
    const Signature seen{info.st_dev, info.st_ino, info.st_size, nanoseconds(info.st_mtimespec),
                         nanoseconds(info.st_ctimespec)};
#else
    const Signature seen{info.st_dev, info.st_ino, info.st_size, nanoseconds(info.st_mtim),
                         nanoseconds(info.st_ctim)};
#endif
    if (seen == applied_) {
        changing_since_.reset();
        return messages;
    }
    if (seen != candidate_) {
        candidate_ = seen;
        candidate_since_ = now;
    }
    if (!changing_since_) {
        changing_since_ = now;
    }
    const bool settled = first || now - candidate_since_ >= settle_time;
    if (!settled && now - *changing_since_ < longest_wait) {
        return messages;
    }
    if (static_cast<std::size_t>(info.st_size) > max_overlay_file_bytes) {
        unreadable(messages, "it is larger than 64 KiB");
        applied_ = seen;
        changing_since_.reset();
        return messages;
    }
    // O_NONBLOCK: should it have become a FIFO meanwhile, opening it does not wait for a writer.
    const int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        unreadable(messages, std::strerror(errno));
        return messages;
    }
    std::string text(max_overlay_file_bytes + 1, '\0');
    const ssize_t got = read(fd, text.data(), text.size());
    struct stat after {};
    const bool same = fstat(fd, &after) == 0 && after.st_ino == info.st_ino &&
                      after.st_size == info.st_size && got == info.st_size;
    close(fd);
    if (!same) {
        candidate_.reset(); // it changed while it was read: look again
        return messages;
    }
    text.resize(static_cast<std::size_t>(got));
    OverlayFileContent content = read_overlay_file_text(text);
    if (!settled && (!text.ends_with('\n') || !content.problems.empty())) {
        return messages; // caught in the middle of a write: the next look reads it again
    }
    if (!problem_.empty()) {
        messages.push_back(name() + " can be read again.");
        problem_.clear();
    }
    applied_ = seen;
    candidate_.reset();
    changing_since_.reset();
    for (const OverlayFileValue& value : content.values) {
        if (const auto refusal = apply(value.key, value.text)) {
            content.problems.push_back("line " + std::to_string(value.line) + ": " + value.key +
                                       ": " + *refusal + "; it keeps its text");
        }
    }
    // A line's problem is said once while the file keeps it, and again should it come back.
    std::set<std::string> problems;
    for (const std::string& problem : content.problems) {
        if (!line_problems_.contains(problem)) {
            messages.push_back(name() + ", " + problem + ".");
        }
        problems.insert(problem);
    }
    line_problems_ = std::move(problems);
    return messages;
}

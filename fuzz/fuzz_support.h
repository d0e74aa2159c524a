#pragma once

// Helpers shared by the fuzz targets: a failed property check that names itself, the input as
// a file for the loaders, a quiet standard error, and an independent strict UTF-8 check.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace fuzz {

// Where check failures go even after quiet_stderr() has muted the code under test.
inline std::FILE*& report_stream() {
    static std::FILE* stream = stderr;
    return stream;
}

[[noreturn]] inline void fail(const char* file, int line, const char* condition,
                              const std::string& detail) {
    std::fprintf(report_stream(), "%s:%d: property failed: %s\n", file, line, condition);
    if (!detail.empty()) {
        std::fprintf(report_stream(), "  %s\n", detail.c_str());
    }
    std::fflush(report_stream());
    std::abort();
}

// Printable form of arbitrary bytes for failure messages.
inline std::string show(std::string_view bytes) {
    std::string shown = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 32 && byte < 127 && c != '"' && c != '\\') {
            shown += c;
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            shown += escape;
        }
    }
    return shown + "\"";
}

// The loaders write their messages to standard error on every bad line, which at thousands of
// runs a second would drown the fuzzer's own output. The C stream the program writes to is
// pointed at /dev/null; libFuzzer keeps the stream it captured at start-up and the sanitizers
// write to descriptor 2 directly, so their reports still show.
inline void quiet_stderr() {
    std::FILE* null_stream = std::fopen("/dev/null", "w");
    if (null_stream != nullptr) {
        report_stream() = stderr;
        stderr = null_stream; // NOLINT: the glibc stream variable, reassigned on purpose
    }
}

// One file per process holding the current input, rewritten for every run.
class InputFile {
  public:
    InputFile() {
        const char* directory = std::getenv("TMPDIR");
        path_ = std::string(directory != nullptr && *directory != '\0' ? directory : "/tmp") +
                "/castora-fuzz-XXXXXX";
        fd_ = mkstemp(path_.data());
        if (fd_ < 0) {
            std::perror("mkstemp");
            std::abort();
        }
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile() {
        close(fd_);
        unlink(path_.c_str());
    }

    const std::string& write(const std::uint8_t* data, std::size_t size) {
        if (ftruncate(fd_, 0) != 0 || pwrite(fd_, data, size, 0) != static_cast<ssize_t>(size)) {
            std::perror("writing the fuzz input");
            std::abort();
        }
        return path_;
    }

    const std::string& path() const { return path_; }

  private:
    std::string path_;
    int fd_ = -1;
};

// Strict UTF-8 (no overlong forms, no surrogates, nothing beyond U+10FFFF), written apart from
// the program's own decoder so that the two check each other.
inline bool is_valid_utf8(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size()) {
        const auto lead = static_cast<unsigned char>(text[at]);
        std::uint32_t code = 0;
        std::size_t extra = 0;
        if (lead < 0x80) {
            ++at;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            code = lead & 0x1F;
            extra = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            code = lead & 0x0F;
            extra = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            code = lead & 0x07;
            extra = 3;
        } else {
            return false;
        }
        if (extra >= text.size() - at) {
            return false;
        }
        for (std::size_t i = 1; i <= extra; ++i) {
            const auto next = static_cast<unsigned char>(text[at + i]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        static constexpr std::uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
        if (code < smallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        at += extra + 1;
    }
    return true;
}

// The next character an overlay text or a report member keeps, by the stated rules checked
// with is_valid_utf8 above: control bytes and bytes starting no well-formed sequence are
// skipped. Moves `at` past the character; empty at the end of the text.
inline std::string_view next_kept_character(std::string_view text, std::size_t& at) {
    while (at < text.size()) {
        const auto byte = static_cast<unsigned char>(text[at]);
        std::size_t length = 0;
        for (std::size_t n = 1; byte >= 32 && byte != 127 && n <= 4 && at + n <= text.size(); ++n) {
            if (is_valid_utf8(text.substr(at, n))) {
                length = n;
                break;
            }
        }
        if (length == 0) {
            ++at;
            continue;
        }
        at += length;
        return text.substr(at - length, length);
    }
    return {};
}

// Splits `data` at every `separator` byte into at most `limit` pieces (the last one keeps the
// rest, separators included).
inline std::vector<std::string_view> split(std::string_view data, char separator,
                                           std::size_t limit) {
    std::vector<std::string_view> pieces;
    while (pieces.size() + 1 < limit) {
        const std::size_t at = data.find(separator);
        if (at == std::string_view::npos) {
            break;
        }
        pieces.push_back(data.substr(0, at));
        data.remove_prefix(at + 1);
    }
    pieces.push_back(data);
    return pieces;
}

} // namespace fuzz

#define FUZZ_CHECK(condition, detail)                                                              \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            ::fuzz::fail(__FILE__, __LINE__, #condition, (detail));                                \
        }                                                                                          \
    } while (false)

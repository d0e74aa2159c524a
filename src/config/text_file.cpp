#include "config/text_file.h"

#include <cerrno>
#include <cstring>

namespace {

constexpr std::string_view whitespace = " \t\n\r";

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

FileHandle open_text_file(const std::string& path, std::string_view what) {
    FileHandle file{std::fopen(path.c_str(), "r")};
    if (!file) {
        std::fprintf(stderr, "Could not open %.*s %s: %s\n", static_cast<int>(what.size()),
                     what.data(), path.c_str(), std::strerror(errno));
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

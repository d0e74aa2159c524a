#include "publish/recording_path.h"

#include "publish/output_urls.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool path_exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

} // namespace

bool is_valid_record_path(std::string_view path) {
    return path.size() <= max_record_path_length &&
           path.find_first_of("|]\n\r") == std::string_view::npos;
}

std::string numbered_recording_path(std::string_view path, unsigned number) {
    const std::size_t slash = path.rfind('/');
    const std::size_t name_start = slash == std::string_view::npos ? 0 : slash + 1;
    std::size_t dot = path.rfind('.');
    // A leading dot names a hidden file, not an extension.
    if (dot == std::string_view::npos || dot <= name_start) {
        dot = path.size();
    }
    std::string numbered{path.substr(0, dot)};
    numbered += '-';
    numbered += std::to_string(number);
    numbered += path.substr(dot);
    return numbered;
}

std::string free_recording_path(std::string_view path) {
    std::string candidate{path};
    for (unsigned number = 1; path_exists(candidate); ++number) {
        candidate = numbered_recording_path(path, number);
    }
    return candidate;
}

std::string reserve_recording_path(std::string_view path) {
    std::string candidate{path};
    for (unsigned number = 1;; ++number) {
        const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            return candidate;
        }
        if (errno != EEXIST) {
            return free_recording_path(path);
        }
        candidate = numbered_recording_path(path, number);
    }
}

#include "files/private_files.h"

#include "files/replace_file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool is_private(const struct stat& info) {
    return info.st_uid == geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool is_private_folder(const std::string& folder) {
    struct stat info {};
    return lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && is_private(info);
}

} // namespace

bool make_private_folder(const std::string& folder) {
    for (std::size_t at = folder.find('/', 1);; at = folder.find('/', at + 1)) {
        const std::string part = folder.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        if (at == std::string::npos) {
            return is_private_folder(folder);
        }
    }
}

std::optional<std::string> read_private_file(const std::string& folder, std::string_view name,
                                             std::size_t limit) {
    if (folder.empty() || !is_private_folder(folder)) {
        return std::nullopt;
    }
    const std::string path = folder + "/" + std::string{name};
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat info {};
    std::string content;
    bool whole = false;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && is_private(info) &&
        static_cast<std::size_t>(info.st_size) <= limit) {
        content.resize(static_cast<std::size_t>(info.st_size));
        whole = read(fd, content.data(), content.size()) == info.st_size;
    }
    close(fd);
    return whole ? std::optional<std::string>{std::move(content)} : std::nullopt;
}

bool write_private_file(const std::string& folder, std::string_view name,
                        std::string_view content) {
    if (folder.empty() || !make_private_folder(folder)) {
        return false;
    }
    return !replace_file(folder + "/" + std::string{name}, content, 0600);
}

void remove_private_file(const std::string& folder, std::string_view name) {
    if (!folder.empty() && is_private_folder(folder)) {
        unlink((folder + "/" + std::string{name}).c_str());
    }
}

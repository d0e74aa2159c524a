#include "files/replace_file.h"

#include "core/write_all.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::optional<int> replace_file(const std::string& path, std::string_view content, mode_t mode,
                                const std::string& temporary) {
    std::string written_to = temporary.empty() ? path + ".XXXXXX" : temporary;
    const int fd =
        temporary.empty()
            ? mkstemp(written_to.data())
            : open(written_to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        return errno;
    }
    bool done = fchmod(fd, mode) == 0 && write_all(fd, content) && fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 && done) {
        done = false;
        error = errno;
    }
    if (done && std::rename(written_to.c_str(), path.c_str()) != 0) {
        done = false;
        error = errno;
    }
    if (!done) {
        unlink(written_to.c_str());
        return error;
    }
    return std::nullopt;
}

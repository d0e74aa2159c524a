#include "ffmpeg_check/executable.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Where the system looks when PATH is not set.
std::string default_search_path() {
    const std::size_t size = confstr(_CS_PATH, nullptr, 0);
    std::string path(size, '\0');
    if (size == 0 || confstr(_CS_PATH, path.data(), size) == 0) {
        return "/bin:/usr/bin";
    }
    path.resize(size - 1);
    return path;
}

std::string find_on_search_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    const std::string folders = path != nullptr ? path : default_search_path();
    for (std::size_t at = 0; at <= folders.size();) {
        const std::size_t end = std::min(folders.find(':', at), folders.size());
        std::string candidate = end == at ? "." : folders.substr(at, end - at);
        candidate += '/';
        candidate += name;
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        at = end + 1;
    }
    return {};
}

} // namespace

std::optional<ExecutableIdentity> identify_executable(const std::string& ffmpeg_path) {
    if (ffmpeg_path.empty()) {
        return std::nullopt;
    }
    const std::string found =
        ffmpeg_path.find('/') == std::string::npos ? find_on_search_path(ffmpeg_path) : ffmpeg_path;
    char resolved[PATH_MAX];
    struct stat info {};
    if (found.empty() || realpath(found.c_str(), resolved) == nullptr ||
        stat(resolved, &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    ExecutableIdentity identity;
    identity.path = resolved;
    identity.size = info.st_size;
#if defined(__APPLE__)
    identity.modified = info.st_mtimespec;
    identity.changed = info.st_ctimespec;
#else
    identity.modified = info.st_mtim;
    identity.changed = info.st_ctim;
#endif
    identity.inode = info.st_ino;
    identity.device = info.st_dev;
    return identity;
}

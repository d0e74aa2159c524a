#include "files/user_folders.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace {

// Looking the user up in the system's account database would need the dynamic name service,
// which a statically linked program cannot load: without HOME there is no such folder.
std::string home_folder() {
    const char* home = std::getenv("HOME");
    return home != nullptr && home[0] == '/' ? home : "";
}

#if !defined(__APPLE__)
// $NAME/castora when NAME holds an absolute path, otherwise ~/FALLBACK/castora.
std::string xdg_folder(const char* name, std::string_view fallback) {
    if (const char* xdg = std::getenv(name); xdg != nullptr && xdg[0] == '/') {
        return std::string{xdg} + "/castora";
    }
    std::string folder = home_folder();
    if (!folder.empty()) {
        folder += '/';
        folder += fallback;
        folder += "/castora";
    }
    return folder;
}
#endif

} // namespace

std::string user_cache_folder() {
#if defined(__APPLE__)
    const std::string home = home_folder();
    return home.empty() ? "" : home + "/Library/Caches/castora";
#else
    return xdg_folder("XDG_CACHE_HOME", ".cache");
#endif
}

std::string user_log_folder() {
#if defined(__APPLE__)
    const std::string home = home_folder();
    return home.empty() ? "" : home + "/Library/Logs/castora";
#else
    return xdg_folder("XDG_STATE_HOME", ".local/state");
#endif
}

std::string temporary_folder() {
    const char* set = std::getenv("TMPDIR");
    std::string_view folder = set != nullptr ? set : "";
    const bool plain = std::all_of(folder.begin(), folder.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '/' || c == '.' || c == '_' || c == '-';
    });
    while (folder.size() > 1 && folder.ends_with('/')) {
        folder.remove_suffix(1);
    }
    return folder.starts_with('/') && plain ? std::string{folder} : "/tmp";
}

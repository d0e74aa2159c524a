#include "files/run_logs.h"

#include "files/private_files.h"

#include <algorithm>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::string_view log_prefix = "ffmpeg-";
constexpr std::string_view log_suffix = ".log";

// "ffmpeg-20261207-154726-12345.log": sorted by name, oldest first.
std::string log_name(std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return std::string{log_prefix} + stamp + "-" + std::to_string(getpid()) +
           std::string{log_suffix};
}

void remove_oldest_logs(const std::string& folder) {
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) {
        return;
    }
    std::vector<std::string> logs;
    // One thread lists this folder: readdir is safe here.
    // cppcheck-suppress readdirCalled
    while (const dirent* entry = readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (name.starts_with(log_prefix) && name.ends_with(log_suffix)) {
            logs.emplace_back(name);
        }
    }
    closedir(listing);
    std::sort(logs.begin(), logs.end());
    for (std::size_t i = 0; i + kept_run_logs < logs.size(); ++i) {
        unlink((folder + "/" + logs[i]).c_str());
    }
}

} // namespace

std::optional<RunLogFile> create_run_log(const std::string& folder) {
    if (folder.empty() || !make_private_folder(folder)) {
        return std::nullopt;
    }
    const std::string path = folder + "/" + log_name(std::time(nullptr));
    const int fd =
        open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return std::nullopt;
    }
    remove_oldest_logs(folder);
    return RunLogFile{path, fd};
}

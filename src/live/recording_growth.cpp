#include "live/recording_growth.h"

#include <sys/stat.h>

namespace {

constexpr std::chrono::seconds look_interval{1};
// A recording grows in steps (a Matroska cluster holds up to 5 s): its bitrate is taken over more.
constexpr std::chrono::seconds growth_window{12};

} // namespace

void RecordingGrowth::look(Clock::time_point now, bool now_anyway) {
    if (!now_anyway && !sizes_.empty() && now - sizes_.back().first < look_interval) {
        return;
    }
    struct stat info {};
    if (stat(path_.c_str(), &info) != 0) {
        return;
    }
    sizes_.emplace_back(now, static_cast<std::uintmax_t>(info.st_size));
    while (sizes_.size() > 2 && now - sizes_.front().first > growth_window) {
        sizes_.pop_front();
    }
}

std::optional<std::uintmax_t> RecordingGrowth::bytes() const {
    return sizes_.empty() ? std::nullopt : std::optional{sizes_.back().second};
}

std::optional<double> RecordingGrowth::kbps() const {
    if (sizes_.size() < 2) {
        return std::nullopt;
    }
    const double seconds =
        std::chrono::duration<double>(sizes_.back().first - sizes_.front().first).count();
    const double grown =
        static_cast<double>(sizes_.back().second) - static_cast<double>(sizes_.front().second);
    return seconds > 0 && grown >= 0 ? std::optional{grown * 8 / 1000 / seconds} : std::nullopt;
}

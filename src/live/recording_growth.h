#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>

// How big the recording is and how fast it grows: the bitrate that actually reaches the disk.
class RecordingGrowth {
  public:
    using Clock = std::chrono::steady_clock;

    explicit RecordingGrowth(std::string path) : path_(std::move(path)) {}

    // Looks at the file's size, at most once a second unless `now_anyway`.
    void look(Clock::time_point now, bool now_anyway = false);

    std::optional<std::uintmax_t> bytes() const;
    // Over the last few seconds, in kbit/s; nothing until there are two sizes to compare.
    std::optional<double> kbps() const;

  private:
    std::string path_;
    std::deque<std::pair<Clock::time_point, std::uintmax_t>> sizes_;
};

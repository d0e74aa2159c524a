#pragma once

#include "catalog/profiles.h"
#include "live/ffmpeg_progress.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// Whether this Mac keeps up while live, from FFmpeg's progress lines: an encoder that runs slower
// than real time or keeps dropping frames, and a camera or screen that stops delivering frames.
// Each warning says what to do, comes again at most once a minute while its cause lasts, and is
// followed by a line when it is over. It reads no clock: the caller passes the time.
class HealthWarnings {
  public:
    using Clock = std::chrono::steady_clock;

    explicit HealthWarnings(const IngestProfile& profile) : profile_(profile) {}

    // A progress line of FFmpeg's, read at `now`.
    void progress(Clock::time_point now, const FfmpegProgress& progress);

    // The lines to say at `now` (none most of the time).
    std::vector<std::string> check(Clock::time_point now);

    // A new run of FFmpeg starts: what the last one showed no longer counts.
    void restart();

    // How many times each warning was given, for the end of the run.
    int overloads_met() const { return overload_.met; }
    int stalls_met() const { return stall_.met; }

  private:
    struct Warning {
        bool active = false;
        std::optional<Clock::time_point> said;
        int met = 0;
    };
    // True when the warning is to be said now: it has just become active, or a minute has passed.
    static bool due(Warning& warning, bool cause, Clock::time_point now);

    IngestProfile profile_;
    Warning overload_;
    Warning stall_;
    std::optional<Clock::time_point> slow_since_;                // speed under 0.95x since then
    std::vector<std::pair<Clock::time_point, long long>> drops_; // drop counts, the last 10 s
    std::optional<Clock::time_point> last_new_frame_;
    long long frames_ = -1;
    FfmpegProgress last_;
};

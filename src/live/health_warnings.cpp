#include "live/health_warnings.h"

#include "live/live_lines.h"

#include <cstdio>
#include <utility>

namespace {

using std::chrono::seconds;

constexpr seconds slow_for{10};
constexpr seconds drop_window{10};
constexpr seconds no_frame_for{5};
constexpr seconds warning_interval{60};

std::string speed_text(double speed) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2fx", speed);
    return text;
}

} // namespace

void HealthWarnings::progress(Clock::time_point now, const FfmpegProgress& progress) {
    if (progress.speed) {
        if (*progress.speed >= slowest_real_time) {
            slow_since_.reset();
        } else if (!slow_since_) {
            slow_since_ = now;
        }
    }
    drops_.emplace_back(now, progress.dropped);
    while (now - drops_.front().first > drop_window) {
        drops_.erase(drops_.begin());
    }
    if (progress.frame && *progress.frame > frames_) {
        frames_ = *progress.frame;
        last_new_frame_ = now;
    }
    last_ = progress;
}

bool HealthWarnings::due(Warning& warning, bool cause, Clock::time_point now) {
    const bool was_active = std::exchange(warning.active, cause);
    if (!cause) {
        return false;
    }
    if (!was_active) {
        ++warning.met;
    }
    if (!was_active || now - *warning.said >= warning_interval) {
        warning.said = now;
        return true;
    }
    return false;
}

std::vector<std::string> HealthWarnings::check(Clock::time_point now) {
    std::vector<std::string> lines;
    // At least a second's frames lost in ten seconds is more than a hiccup at the start.
    const bool dropping = !drops_.empty() && now - drops_.front().first >= drop_window / 2 &&
                          drops_.back().second - drops_.front().second >= profile_.fps;
    const bool slow = slow_since_ && now - *slow_since_ >= slow_for;
    const bool overloaded_before = overload_.active;
    if (due(overload_, slow || dropping, now)) {
        std::string line = "this Mac is not keeping up with " + std::string{profile_.key} + ":";
        if (last_.speed) {
            line += " FFmpeg encodes at " + speed_text(*last_.speed) + " of real time";
        }
        if (last_.dropped > 0) {
            line += std::string{last_.speed ? " and" : ""} + " has dropped " +
                    std::to_string(last_.dropped) + " frames";
        }
        const IngestProfile* lighter = lighter_profile(profile_);
        line += lighter != nullptr
                    ? ". Use a lighter profile: --profile " + std::string{lighter->key} +
                          " (profile=" + std::string{lighter->key} + " in the studio config)."
                    : "; it is already the lightest profile: close other apps, or capture a "
                      "smaller camera mode or screen.";
        lines.push_back(line);
    } else if (overloaded_before && !overload_.active) {
        lines.emplace_back("the encoder keeps up again.");
    }
    const bool stalled_before = stall_.active;
    const bool stalled = last_new_frame_ && now - *last_new_frame_ >= no_frame_for;
    if (due(stall_, stalled, now)) {
        lines.push_back("no new frame from the camera or screen for " +
                        live_duration(now - *last_new_frame_) +
                        ": it stopped delivering (another app may be using the camera).");
    } else if (stalled_before && !stall_.active) {
        lines.emplace_back("the camera or screen delivers frames again.");
    }
    return lines;
}

void HealthWarnings::restart() {
    overload_.active = false;
    stall_.active = false;
    slow_since_.reset();
    drops_.clear();
    last_new_frame_.reset();
    frames_ = -1;
    last_ = {};
}

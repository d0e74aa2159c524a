#include "live/live_watch.h"

#include "ffmpeg/log_line.h"
#include "live/live_lines.h"

namespace {

using std::chrono::seconds;

// A destination that has not failed this long after the stream went live counts as connected:
// an SRT connection that cannot be made takes 3 seconds from FFmpeg's start to fail.
constexpr seconds connect_settle_time{4};
// A part line (a question, say) is passed on once FFmpeg has added nothing to it for this long.
constexpr std::chrono::milliseconds part_line_wait{500};
// A full queue is emptied at once and takes up to half a minute to fill again: one that has not
// overflowed for a minute keeps up again. While it does not, it is said again at most this often.
constexpr seconds queue_calm_time{60};
constexpr seconds warning_interval{60};

// The text between `before` and `after` in `line`, when both are there.
std::string_view between(std::string_view line, std::string_view before, std::string_view after) {
    const std::size_t start = line.find(before);
    if (start == std::string_view::npos) {
        return {};
    }
    const std::string_view rest = line.substr(start + before.size());
    return rest.substr(0, rest.find(after));
}

} // namespace

LiveWatch::LiveWatch(LivePlan plan) : plan_(std::move(plan)) {
    for (const NamedDestination& destination : plan_.destinations) {
        Tracked tracked;
        tracked.destination = destination;
        tracked_.push_back(tracked);
    }
    plan_.secrets = longest_first(std::move(plan_.secrets));
}

std::string LiveWatch::received(std::string_view bytes, LiveClock::time_point now) {
    std::string out;
    if (held_.empty()) {
        held_since_ = now;
    }
    held_ += bytes;
    std::size_t end = 0;
    while ((end = held_.find_first_of("\r\n")) != std::string::npos) {
        take_line(std::string_view{held_}.substr(0, end + 1), now, out);
        held_.erase(0, end + 1);
        held_since_ = now;
    }
    return out;
}

std::string LiveWatch::quiet(LiveClock::time_point now) {
    std::string out;
    settle(now);
    if (!held_.empty() && now - held_since_ >= part_line_wait) {
        pass_on(hide_secrets(held_), out);
        held_.clear();
    }
    settle_queues(now, out);
    return out;
}

std::string LiveWatch::finished(LiveClock::time_point now) {
    std::string out;
    if (!held_.empty()) {
        take_line(held_, now, out);
        held_.clear();
    }
    settle(now);
    for (Tracked& tracked : tracked_) {
        if (camera_.refused()) {
            break;
        }
        if (tracked.state == State::up || (tracked.state == State::unsure && live_)) {
            tracked.received += now - (tracked.state == State::up ? tracked.since : live_since_);
        }
        const std::string& name = tracked.destination.name;
        std::string line = name + " never received the stream.";
        if (tracked.received.count() > 0) {
            line = name + " received " + live_duration(tracked.received) + " of the stream, " +
                   plural(tracked.drops, "drop");
            line += tracked.rejoins < tracked.drops ? ", " + plural(tracked.rejoins, "rejoin") : "";
            line +=
                tracked.overflows > 0 ? ", " + plural(tracked.overflows, "overflow") + "." : ".";
        }
        say(out, line);
    }
    return out;
}

void LiveWatch::take_line(std::string_view segment, LiveClock::time_point now, std::string& out) {
    pass_on(hide_secrets(segment), out);
    read_event(segment.substr(0, segment.find_first_of("\r\n")), now, out);
}

void LiveWatch::pass_on(std::string_view text, std::string& out) {
    log_ += text;
    if (plan_.shows_ffmpeg) {
        out += text;
        mid_line_ = !text.ends_with('\n');
    }
}

void LiveWatch::read_event(std::string_view line, LiveClock::time_point now, std::string& out) {
    settle(now);
    camera_.take_line(line);
    Tracked* const repeated = std::exchange(last_full_, nullptr);
    if (const auto repeats = repeats_of_last_line(line); repeats && repeated != nullptr) {
        queue_full(*repeated, *repeats, now, out);
        return;
    }
    if (auto progress = read_progress_line(line)) {
        progress_ = progress;
    }
    if (line.starts_with("frame=") && !live_) {
        live_ = true;
        live_since_ = now;
        std::string names;
        for (const Tracked& tracked : tracked_) {
            names += (names.empty() ? "" : ", ") + tracked.destination.name;
        }
        say(out,
            "streaming to " + plural(static_cast<int>(tracked_.size()), "destination") + " (" +
                names + ")" + (plan_.recording.empty() ? "" : ", recording to " + plan_.recording) +
                (plan_.upload.empty() ? "" : "; this needs " + plan_.upload + " of upload") + ".");
        return;
    }
    const std::string_view fifo = between(line, "[fifo @ ", "]");
    if (!fifo.empty()) {
        const std::string_view failed_url = between(line, "] Error opening ", ": ");
        Tracked* tracked = failed_url.empty() ? by_fifo(fifo) : by_url(failed_url);
        if (tracked == nullptr) {
            return;
        }
        tracked->fifo = fifo;
        const std::string& name = tracked->destination.name;
        if (!failed_url.empty() && tracked->state != State::down && tracked->state != State::off) {
            const std::string reason{line.substr(line.find(": ", line.find(failed_url)) + 2)};
            say(out, name + (tracked->state == State::up ? " lost: " : " cannot be reached: ") +
                         reason + "; castora keeps trying.");
            change(*tracked, State::down, now);
        } else if (line.ends_with("Recovery successful") && tracked->state == State::down) {
            const std::string after = live_duration(now - tracked->since);
            say(out, name + (tracked->drops > 0 ? " is back after " : " connected after ") + after +
                         ".");
            tracked->rejoins += tracked->drops > 0 ? 1 : 0;
            change(*tracked, State::up, now);
        } else if (line.ends_with("FIFO queue full")) {
            queue_full(*tracked, 1, now, out);
            last_full_ = tracked;
        }
        return;
    }
    const std::string_view entry = between(line, "Slave muxer #", " failed: ");
    if (entry.empty() || line.find("[tee @ ") == std::string_view::npos) {
        return;
    }
    const std::string reason{between(line, " failed: ", ", continuing with ")};
    std::size_t index = 0;
    for (const char c : entry) {
        index = index * 10 + static_cast<std::size_t>(c - '0');
    }
    if (!plan_.recording.empty() && index == 0) {
        say(out, "the recording to " + plan_.recording + " stopped: " + reason +
                     ". The stream goes on without it.");
        return;
    }
    index -= plan_.recording.empty() ? 0 : 1;
    if (index < tracked_.size() && tracked_[index].state != State::off) {
        say(out, tracked_[index].destination.name + " failed: " + reason +
                     "; it stays off for this run.");
        change(tracked_[index], State::off, now);
    }
}

void LiveWatch::queue_full(Tracked& tracked, long long times, LiveClock::time_point now,
                           std::string& out) {
    tracked.overflows += times;
    tracked.last_full = now;
    if (!tracked.full) {
        tracked.full = true;
        ++overflows_met_;
    }
    if (!tracked.warned_full || now - *tracked.warned_full >= warning_interval) {
        tracked.warned_full = now;
        say(out, tracked.destination.name + " is not keeping up; frames for it are dropped." +
                     (plan_.lighter.empty() ? "" : " " + plan_.lighter));
    }
}

void LiveWatch::settle_queues(LiveClock::time_point now, std::string& out) {
    for (Tracked& tracked : tracked_) {
        if (tracked.full && now - tracked.last_full >= queue_calm_time) {
            tracked.full = false;
            tracked.warned_full.reset();
            say(out, tracked.destination.name + " keeps up again.");
        }
    }
}

std::vector<DestinationStatus> LiveWatch::destinations() const {
    std::vector<DestinationStatus> statuses;
    for (const Tracked& tracked : tracked_) {
        DestinationHealth health = DestinationHealth::connecting;
        switch (tracked.state) {
        case State::unsure:
            break;
        case State::up:
            health = tracked.drops > 0 ? DestinationHealth::back : DestinationHealth::up;
            break;
        case State::down:
            health = tracked.drops > 0 ? DestinationHealth::lost : DestinationHealth::unreachable;
            break;
        case State::off:
            health = DestinationHealth::off;
            break;
        }
        statuses.push_back({tracked.destination.name, health, tracked.overflows});
    }
    return statuses;
}

std::string LiveWatch::take_log() {
    return std::exchange(log_, {});
}

void LiveWatch::settle(LiveClock::time_point now) {
    if (!live_ || now - live_since_ < connect_settle_time) {
        return;
    }
    for (Tracked& tracked : tracked_) {
        if (tracked.state == State::unsure) {
            tracked.state = State::up;
            tracked.since = live_since_;
        }
    }
}

void LiveWatch::change(Tracked& tracked, State state, LiveClock::time_point now) {
    if (tracked.state == State::up) {
        tracked.received += now - tracked.since;
        ++tracked.drops;
    }
    tracked.state = state;
    tracked.since = now;
}

void LiveWatch::say(std::string& out, const std::string& line) {
    // Below a progress line that ends in a carriage return, not over it.
    const std::string own = live_line(hide_secrets(line));
    out += mid_line_ ? "\n" : "";
    out += own;
    mid_line_ = false;
    log_ += !log_.empty() && !log_.ends_with('\n') ? "\n" + own : own;
}

std::string LiveWatch::hide_secrets(std::string_view text) const {
    return with_secrets_hidden(text, plan_.secrets);
}

std::string LiveWatch::own_line(const std::string& text) {
    std::string out;
    say(out, text);
    return out;
}

LiveWatch::Tracked* LiveWatch::by_url(std::string_view url) {
    for (Tracked& tracked : tracked_) {
        if (tracked.destination.url == url) {
            return &tracked;
        }
    }
    return nullptr;
}

LiveWatch::Tracked* LiveWatch::by_fifo(std::string_view fifo) {
    Tracked* unnamed = nullptr;
    int unnamed_count = 0;
    for (Tracked& tracked : tracked_) {
        if (tracked.fifo == fifo) {
            return &tracked;
        }
        if (tracked.fifo.empty()) {
            unnamed = &tracked;
            ++unnamed_count;
        }
    }
    // A queue that has not failed yet is named only by elimination.
    return unnamed_count == 1 ? unnamed : nullptr;
}

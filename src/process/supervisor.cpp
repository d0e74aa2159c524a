#include "process/supervisor.h"

#include "process/error_output.h"
#include "process/signals.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using std::chrono::milliseconds;

// The loop looks at the clock at least this often, for time limits and the steps of a stop.
constexpr milliseconds longest_wait{100};
constexpr std::size_t read_chunk_bytes = 65536;

// Reads what is there; false when the pipe is done with (its end, an error, or not wanted).
bool read_output(int fd, ChildWatcher& watcher) {
    char chunk[read_chunk_bytes];
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0) {
        return errno == EINTR || errno == EAGAIN;
    }
    return got > 0 && watcher.received({chunk, static_cast<std::size_t>(got)});
}

void close_output(StartedChild& child) {
    if (child.output_fd >= 0) {
        close(child.output_fd);
        child.output_fd = -1;
    }
}

// After the child's end: what it wrote last, up to the end of the pipe or of what is there now
// (a process it left behind may still hold the pipe open).
void drain_output(StartedChild& child, ChildWatcher& watcher) {
    char chunk[read_chunk_bytes];
    while (child.output_fd >= 0) {
        const ssize_t got = read(child.output_fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0 || !watcher.received({chunk, static_cast<std::size_t>(got)})) {
            break;
        }
    }
    close_output(child);
}

void drain_wake_ups() {
    char wake[64];
    while (read(wake_fd(), wake, sizeof wake) > 0) {
    }
}

} // namespace

Supervisor::~Supervisor() {
    // Only a bug leaves a child behind; it is not left running on its own.
    for (const auto& supervised : children_) {
        signal_child(supervised->child.pid, SIGKILL);
        int status = 0;
        while (waitpid(supervised->child.pid, &status, 0) < 0 && errno == EINTR) {
        }
        forget_child(supervised->child.pid);
        close_output(supervised->child);
    }
}

int Supervisor::start(const ChildSpec& spec, ChildWatcher& watcher, milliseconds time_limit) {
    if (stopping_ || pending_stop_signal() != 0) {
        return EINTR;
    }
    const StartedChild child = start_child(spec);
    if (child.error != 0) {
        return child.error;
    }
    if (child.output_fd >= 0) {
        fcntl(child.output_fd, F_SETFL, O_NONBLOCK);
    }
    const SteadyClock::time_point now = running_now();
    children_.push_back(std::make_unique<Supervised>(
        Supervised{child, spec.stop_style, &watcher,
                   time_limit.count() > 0 ? now + time_limit : SteadyClock::time_point::max()}));
    return 0;
}

void Supervisor::at(SteadyClock::time_point when, std::function<void()> task) {
    timers_.push_back(
        {when, milliseconds{0}, [task = std::move(task)](SteadyClock::time_point) { task(); }});
}

void Supervisor::every(milliseconds period, std::function<void(SteadyClock::time_point)> task) {
    timers_.push_back({SteadyClock::now() + period, period, std::move(task)});
}

void Supervisor::end_commands() {
    const SteadyClock::time_point now = running_now();
    for (const auto& supervised : children_) {
        if (supervised->style == StopStyle::end_now && !supervised->ending) {
            supervised->ending = true;
            supervised->ending_since = now;
        }
    }
}

bool Supervisor::stopping() const {
    return stopping_ || pending_stop_signal() != 0;
}

SteadyClock::time_point Supervisor::running_now() {
    return read_running_clock(running_clock_, SteadyClock::now(), take_continued());
}

void Supervisor::run() {
    for (;;) {
        reap();
        send_held_error_output();
        const SteadyClock::time_point now = running_now();
        route_stop(now);
        if (children_.empty()) {
            if (pending_stop_signal() != 0) {
                finish_stop(pending_stop_signal());
            }
            if (quit_ || !has_pending_one_off()) {
                return;
            }
        }
        enforce_ends(now);
        run_due_timers(SteadyClock::now());
        if (!children_.empty() || has_pending_one_off()) {
            wait_for_events(SteadyClock::now());
        }
    }
}

void Supervisor::reap() {
    std::vector<std::pair<ChildWatcher*, ChildEnd>> ended;
    for (auto it = children_.begin(); it != children_.end();) {
        Supervised& supervised = **it;
        ChildEnd end;
        const pid_t waited = waitpid(supervised.child.pid, &end.status, WNOHANG);
        if (waited == 0 || (waited < 0 && errno == EINTR)) {
            ++it;
            continue;
        }
        end.waited = waited == supervised.child.pid;
        end.error = end.waited ? 0 : errno;
        end.timed_out = supervised.timed_out;
        forget_child(supervised.child.pid);
        drain_output(supervised.child, *supervised.watcher);
        ended.emplace_back(supervised.watcher, end);
        it = children_.erase(it);
    }
    for (const auto& [watcher, end] : ended) {
        watcher->ended(end);
    }
}

void Supervisor::route_stop(SteadyClock::time_point now) {
    if (stopping_ || pending_stop_signal() == 0) {
        return;
    }
    stopping_ = true;
    for (const auto& supervised : children_) {
        supervised->ending = true;
        supervised->ending_since = now;
        supervised->steps_taken = 0;
    }
}

void Supervisor::enforce_ends(SteadyClock::time_point now) {
    for (const auto& supervised : children_) {
        if (!supervised->timed_out && now >= supervised->deadline) {
            supervised->timed_out = true;
            signal_child(supervised->child.pid, SIGKILL);
        }
        if (!supervised->ending) {
            continue;
        }
        const auto steps = stop_steps(supervised->style);
        while (supervised->steps_taken < steps.size() &&
               now - supervised->ending_since >= steps[supervised->steps_taken].after) {
            signal_child_to_end(supervised->child.pid,
                                steps[supervised->steps_taken++].signal_number);
        }
    }
}

void Supervisor::run_due_timers(SteadyClock::time_point now) {
    if (stopping_) {
        return;
    }
    std::vector<Timer> due;
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->when > now) {
            ++it;
            continue;
        }
        due.push_back(*it);
        if (it->period.count() > 0) {
            it->when = now + it->period;
            ++it;
        } else {
            it = timers_.erase(it);
        }
    }
    for (const Timer& timer : due) {
        timer.task(now);
    }
}

bool Supervisor::has_pending_one_off() const {
    return !stopping_ && std::any_of(timers_.begin(), timers_.end(),
                                     [](const Timer& t) { return t.period.count() == 0; });
}

void Supervisor::wait_for_events(SteadyClock::time_point now) {
    milliseconds wait = longest_wait;
    if (!stopping_) {
        for (const Timer& timer : timers_) {
            wait = std::min(
                wait, std::max(milliseconds{0}, std::chrono::ceil<milliseconds>(timer.when - now)));
        }
    }
    std::vector<pollfd> watched{{wake_fd(), POLLIN, 0}};
    std::vector<Supervised*> readers;
    for (const auto& supervised : children_) {
        if (supervised->child.output_fd >= 0) {
            watched.push_back({supervised->child.output_fd, POLLIN, 0});
            readers.push_back(supervised.get());
        }
    }
    if (poll(watched.data(), watched.size(), static_cast<int>(wait.count())) > 0) {
        if ((watched[0].revents & POLLIN) != 0) {
            drain_wake_ups();
        }
        for (std::size_t i = 0; i < readers.size(); ++i) {
            if ((watched[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) != 0 &&
                !read_output(readers[i]->child.output_fd, *readers[i]->watcher)) {
                close_output(readers[i]->child);
            }
        }
    }
    const SteadyClock::time_point after = SteadyClock::now();
    for (const auto& supervised : children_) {
        supervised->watcher->tick(after);
    }
}

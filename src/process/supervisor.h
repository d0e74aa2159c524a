#pragma once

#include "process/child.h"
#include "process/running_clock.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

struct ChildEnd {
    bool waited = false; // false: waiting failed, `error` says why
    int error = 0;
    int status = 0; // the wait status
    bool timed_out = false;
};

// What the owner of a supervised child hears of it, on the supervisor's loop.
class ChildWatcher {
  public:
    virtual ~ChildWatcher() = default;
    // Bytes of the child's piped output. False when nothing more is wanted: the pipe is closed.
    virtual bool received(std::string_view /*bytes*/) { return true; }
    // Called on every turn of the loop, so held-back text can be handed on in time.
    virtual void tick(SteadyClock::time_point /*now*/) {}
    // The child has ended and its output has been read to the end.
    virtual void ended(const ChildEnd& end) = 0;
};

// Supervises any number of children, timers and periodic tasks from one loop woken by the
// children's output, their ends (SIGCHLD) and stop signals.
//
// A stop signal reaches every child: FFmpeg is asked to finish (SIGTERM after a second, again
// after three, SIGKILL after ten), a command is ended at once; each request to finish goes
// after a SIGCONT, so that a stopped child acts on it. These steps, and the children's time
// limits, count only the time this program runs: a suspend does not shorten them. No timer runs
// and no child starts any more. Once the last child has ended, the stop is finished
// (finish_stop) and the process ends there.
//
// What is held of standard error (process/error_output.h) is sent on every turn of the loop.
class Supervisor {
  public:
    Supervisor() = default;
    ~Supervisor();
    Supervisor(const Supervisor&) = delete;
    Supervisor& operator=(const Supervisor&) = delete;

    // Starts the child; `watcher` hears of it until it has ended. Past `time_limit` (when not
    // zero) the child is killed. Returns 0, or what kept it from starting (the watcher then
    // hears nothing).
    int start(const ChildSpec& spec, ChildWatcher& watcher,
              std::chrono::milliseconds time_limit = std::chrono::milliseconds{0});

    // Runs `task` on the loop once, at `when`.
    void at(SteadyClock::time_point when, std::function<void()> task);

    // Runs `task` on the loop every `period`; such tasks alone do not keep the loop running.
    void every(std::chrono::milliseconds period, std::function<void(SteadyClock::time_point)> task);

    // Runs the loop until quit() was called, or nothing is left to wait for (no child, no
    // pending one-off task), and then every child has ended.
    void run();
    void quit() { quit_ = true; }

    // Asks every command (not FFmpeg) that still runs to end now.
    void end_commands();

    // A stop signal came: every child is being ended, and nothing starts any more.
    bool stopping() const;

  private:
    struct Supervised {
        StartedChild child;
        StopStyle style;
        ChildWatcher* watcher;
        // On the running clock.
        SteadyClock::time_point deadline; // max(): no limit
        SteadyClock::time_point ending_since{};
        bool ending = false;
        std::size_t steps_taken = 0;
        bool timed_out = false;
    };
    struct Timer {
        SteadyClock::time_point when;
        std::chrono::milliseconds period; // zero: once
        std::function<void(SteadyClock::time_point)> task;
    };

    SteadyClock::time_point running_now();
    void reap();
    void route_stop(SteadyClock::time_point now);
    void enforce_ends(SteadyClock::time_point now);
    void run_due_timers(SteadyClock::time_point now);
    void wait_for_events(SteadyClock::time_point now);
    bool has_pending_one_off() const;

    std::vector<std::unique_ptr<Supervised>> children_;
    std::vector<Timer> timers_;
    RunningClock running_clock_ = running_clock_from(SteadyClock::now());
    bool quit_ = false;
    bool stopping_ = false;
};

#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// The one place where this program starts, waits for and signals other programs. At most one
// child runs at a time; it is recorded before any signal handler can look for it, and every
// wait for it also watches for a stop request.

struct ChildSpec {
    std::vector<std::string> argv;
    std::string program;            // the file to run when it is not argv[0]
    bool search_path = false;       // a bare name is looked up on the executable search path
    bool own_process_group = false; // a command whose whole group is ended on a stop
    // The hang-up and quit a terminal sends its whole foreground group reach only us, and we turn
    // them into a request to finish (FFmpeg has no handler of its own for them).
    bool leaves_terminal_signals_to_us = false;
    int piped_fd = -1; // 1 or 2: that output of the child comes to us through a pipe
};

struct StartedChild {
    pid_t pid = -1;
    int error = 0;      // what kept it from starting, or 0
    int output_fd = -1; // our end of its piped output
};

StartedChild start_child(const ChildSpec& spec);

// Receives what a supervised child writes to its piped output.
class ChildOutput {
  public:
    virtual ~ChildOutput() = default;
    // False when nothing more is wanted: the pipe is closed then.
    virtual bool received(std::string_view bytes) = 0;
    // Nothing came for a while, or the child ended: hand on what is held back.
    virtual void quiet() {}
};

struct Supervision {
    ChildOutput* output = nullptr;
    // Past this the child (its whole group for a command) is killed; zero: no limit.
    std::chrono::milliseconds time_limit{0};
};

struct ChildEnd {
    bool waited = false; // false: waiting failed (errno set)
    int status = 0;      // the wait status
    int stop_signal = 0; // a stop request that ended the child, to be finished by the caller
    bool timed_out = false;
};

// Waits for the started child, passing its output on and ending it on a stop request or when
// its time is up.
ChildEnd supervise_child(const StartedChild& child, const Supervision& supervision);

// The running child and whether it leads a process group of its own; 0 when none runs.
pid_t running_child_pid() noexcept;

// For the crash handler: ends the running child the way a stop does, within a bounded time,
// using only async-signal-safe calls.
void end_child_from_signal_handler() noexcept;

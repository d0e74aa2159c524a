#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <sys/types.h>
#include <vector>

// The one place where this program starts other programs. Every child is recorded, with every
// signal held, before a signal handler can look for it, so a stop or a crash always knows what
// runs and never signals a process that is not ours.

// How a child is ended when this program stops or no longer needs it: FFmpeg is asked to finish
// its outputs and given time; a command (a shell, curl, a probe) is ended at once.
enum class StopStyle { finish, end_now };

struct ChildSpec {
    std::vector<std::string> argv;
    std::string program;            // the file to run when it is not argv[0]
    bool search_path = false;       // a bare name is looked up on the executable search path
    bool own_process_group = false; // the whole group is signalled, grandchildren included
    StopStyle stop_style = StopStyle::end_now;
    // The hang-up and quit a terminal sends its whole foreground group reach only us, and we turn
    // them into a request to finish (FFmpeg has no handler of its own for them).
    bool leaves_terminal_signals_to_us = false;
    int piped_fd = -1;   // 1 or 2: that output of the child comes to us through a pipe
    bool silent = false; // standard input and error on /dev/null: a probe keeps off the terminal
    bool discard_output = false; // standard output and error on /dev/null
    // Written to the child's standard input, which then ends: what must not appear on a command
    // line, which every user of the machine can read.
    std::optional<std::string> input;
};

struct StartedChild {
    pid_t pid = -1;
    int error = 0;      // what kept it from starting, or 0
    int output_fd = -1; // our end of its piped output
};

StartedChild start_child(const ChildSpec& spec);

// The child has been waited for: it is no longer ours to signal.
void forget_child(pid_t pid) noexcept;

// True while a started child has not been waited for. Async-signal-safe.
bool any_child_running() noexcept;

// Sends the signal to the child, or to its whole group when it leads one.
void signal_child(pid_t pid, int signal_number) noexcept;

// One step of ending a child: a request to finish is preceded by SIGCONT, so that a stopped
// child (a job put in the background, Ctrl-Z, SIGSTOP) acts on it at once. Async-signal-safe.
void signal_child_to_end(pid_t pid, int signal_number) noexcept;

struct StopStep {
    std::chrono::milliseconds after; // since the child was asked to end
    int signal_number;
};

// The signals that end a child of that style, in order.
std::span<const StopStep> stop_steps(StopStyle style) noexcept;

// For the crash handler: ends every running child the way a stop does, within a bounded time,
// using only async-signal-safe calls.
void end_children_from_signal_handler() noexcept;

#include "process/child.h"

#include "process/signals.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <span>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

struct StopStep {
    milliseconds after; // since the stop request
    int signal_number;
};

// A stopped FFmpeg is asked to finish, asked again, and killed when it still runs. It gets a
// moment before the first request: a stop from the terminal (Ctrl-C, hang-up) reaches it as well,
// and a second request that follows at once makes FFmpeg drop what it has not written yet, the
// end of the recording included. A command's group is asked to end, then killed.
constexpr std::array<StopStep, 3> ffmpeg_stop{
    {{milliseconds{1000}, SIGTERM}, {milliseconds{3000}, SIGTERM}, {milliseconds{10000}, SIGKILL}}};
constexpr std::array<StopStep, 2> command_stop{
    {{milliseconds{0}, SIGTERM}, {milliseconds{1000}, SIGKILL}}};
constexpr int poll_interval_ms = 100;

volatile std::sig_atomic_t running_pid = 0;
volatile std::sig_atomic_t running_own_group = 0;

// Holds every signal off while a child is started and recorded, so a handler never sees a
// child that runs but is not yet known. The child starts with the mask we had before.
class SignalsHeld {
  public:
    SignalsHeld() {
        sigset_t all;
        sigfillset(&all);
        sigprocmask(SIG_BLOCK, &all, &before_);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &before_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;
    const sigset_t& before() const { return before_; }

  private:
    sigset_t before_{};
};

// While a child is started that leaves the terminal's hang-up and quit to us, they are ignored
// here: the child inherits that, and our own handlers are back before any signal is let through.
class TerminalSignalsIgnored {
  public:
    explicit TerminalSignalsIgnored(bool wanted) : wanted_(wanted) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        for (std::size_t i = 0; wanted_ && i < signals_.size(); ++i) {
            sigaction(signals_[i], &ignore, &before_[i]);
        }
    }
    ~TerminalSignalsIgnored() {
        for (std::size_t i = 0; wanted_ && i < signals_.size(); ++i) {
            sigaction(signals_[i], &before_[i], nullptr);
        }
    }
    TerminalSignalsIgnored(const TerminalSignalsIgnored&) = delete;
    TerminalSignalsIgnored& operator=(const TerminalSignalsIgnored&) = delete;

  private:
    static constexpr std::array<int, 2> signals_{SIGHUP, SIGQUIT};
    bool wanted_;
    std::array<struct sigaction, 2> before_{};
};

struct SpawnSettings {
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};

    SpawnSettings(const ChildSpec& spec, const sigset_t& child_mask, int pipe_write_end) {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
        if (pipe_write_end >= 0) {
            posix_spawn_file_actions_adddup2(&actions, pipe_write_end, spec.piped_fd);
        }
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        if (spec.own_process_group) {
            flags |= POSIX_SPAWN_SETPGROUP;
            posix_spawnattr_setpgroup(&attributes, 0);
        }
        // A signal this program ignores (a broken pipe while it passes output on) is the
        // child's own business again.
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, flags);
        posix_spawnattr_setsigmask(&attributes, &child_mask);
    }
    ~SpawnSettings() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;
};

void signal_child(pid_t pid, bool whole_group, int signal_number) {
    kill(whole_group ? -pid : pid, signal_number);
}

// The signal due now in the stop of a child, or 0; `taken` counts the steps already taken.
int stop_step(bool command, milliseconds since_stop, std::size_t& taken) {
    const std::span<const StopStep> steps =
        command ? std::span<const StopStep>{command_stop} : ffmpeg_stop;
    return taken < steps.size() && since_stop >= steps[taken].after ? steps[taken++].signal_number
                                                                    : 0;
}

void read_output(int& fd, ChildOutput* output) {
    char chunk[4096];
    const ssize_t got = read(fd, chunk, sizeof chunk);
    const bool wanted =
        got > 0 && (output == nullptr || output->received({chunk, static_cast<std::size_t>(got)}));
    if (!wanted && (got >= 0 || errno != EINTR)) {
        close(fd);
        fd = -1;
    }
}

void drain_wake_ups() {
    char wake[16];
    while (read(wake_fd(), wake, sizeof wake) > 0) {
    }
}

} // namespace

StartedChild start_child(const ChildSpec& spec) {
    std::vector<char*> pointers;
    pointers.reserve(spec.argv.size() + 1);
    for (const std::string& argument : spec.argv) {
        pointers.push_back(const_cast<char*>(argument.c_str()));
    }
    pointers.push_back(nullptr);
    const bool piped = spec.piped_fd >= 0;
    int output_pipe[2] = {-1, -1};
    StartedChild started;
    if (piped && pipe(output_pipe) != 0) {
        started.error = errno;
        return started;
    }
    if (piped) {
        fcntl(output_pipe[0], F_SETFD, FD_CLOEXEC);
    }
    // What we have written so far comes before anything the child writes.
    std::fflush(nullptr);
    const SignalsHeld held;
    const TerminalSignalsIgnored ignored{spec.leaves_terminal_signals_to_us};
    const SpawnSettings settings{spec, held.before(), output_pipe[1]};
    const auto spawn = spec.search_path ? posix_spawnp : posix_spawn;
    const char* program = spec.program.empty() ? pointers[0] : spec.program.c_str();
    started.error = spawn(&started.pid, program, &settings.actions, &settings.attributes,
                          pointers.data(), environ);
    if (piped) {
        close(output_pipe[1]);
        if (started.error == 0) {
            started.output_fd = output_pipe[0];
        } else {
            close(output_pipe[0]);
        }
    }
    if (started.error == 0) {
        running_pid = started.pid;
        running_own_group = spec.own_process_group ? 1 : 0;
    }
    return started;
}

ChildEnd supervise_child(const StartedChild& child, const Supervision& supervision) {
    const bool command = running_own_group != 0;
    const Clock::time_point started = Clock::now();
    Clock::time_point stop_seen{};
    std::size_t stop_steps_taken = 0;
    int output_fd = child.output_fd;
    ChildEnd end;
    for (;;) {
        const pid_t waited = waitpid(child.pid, &end.status, WNOHANG);
        if (waited == child.pid || (waited < 0 && errno != EINTR)) {
            end.waited = waited == child.pid;
            break;
        }
        const Clock::time_point now = Clock::now();
        if (end.stop_signal == 0 && pending_stop_signal() != 0) {
            end.stop_signal = pending_stop_signal();
            stop_seen = now;
        }
        if (end.stop_signal != 0) {
            const auto since = std::chrono::duration_cast<milliseconds>(now - stop_seen);
            if (const int signal_number = stop_step(command, since, stop_steps_taken)) {
                signal_child(child.pid, command, signal_number);
            }
        }
        if (!end.timed_out && supervision.time_limit.count() > 0 &&
            now - started >= supervision.time_limit) {
            end.timed_out = true;
            signal_child(child.pid, command, SIGKILL);
        }
        pollfd watched[2] = {{wake_fd(), POLLIN, 0}, {output_fd, POLLIN, 0}};
        if (poll(watched, output_fd >= 0 ? 2 : 1, poll_interval_ms) == 0 &&
            supervision.output != nullptr) {
            supervision.output->quiet();
        }
        if ((watched[0].revents & POLLIN) != 0) {
            drain_wake_ups();
        }
        if (output_fd >= 0 && (watched[1].revents & (POLLIN | POLLHUP)) != 0) {
            read_output(output_fd, supervision.output);
        }
    }
    const int error = errno;
    // What the child wrote last is still in the pipe.
    while (output_fd >= 0) {
        read_output(output_fd, supervision.output);
    }
    if (supervision.output != nullptr) {
        supervision.output->quiet();
    }
    running_pid = 0;
    running_own_group = 0;
    errno = error;
    return end;
}

pid_t running_child_pid() noexcept {
    return static_cast<pid_t>(running_pid);
}

void end_child_from_signal_handler() noexcept {
    const auto pid = static_cast<pid_t>(running_pid);
    if (pid <= 0) {
        return;
    }
    const bool command = running_own_group != 0;
    constexpr int step_ms = 50;
    const timespec pause{0, step_ms * 1000000L};
    std::size_t taken = 0;
    for (int waited_ms = 0;; waited_ms += step_ms) {
        if (const int signal_number = stop_step(command, milliseconds{waited_ms}, taken)) {
            signal_child(pid, command, signal_number);
        }
        int status = 0;
        const pid_t result = waitpid(pid, &status, WNOHANG);
        if (result == pid || (result < 0 && errno != EINTR)) {
            return;
        }
        nanosleep(&pause, nullptr);
    }
}

#include "process/child.h"

#include "core/write_all.h"
#include "process/signals.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <initializer_list>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace {

using std::chrono::milliseconds;

// A stopped FFmpeg is asked to finish, asked again, and killed when it still runs. It gets a
// moment before the first request: a stop from the terminal (Ctrl-C, hang-up) reaches it as well,
// and a second request that follows at once makes FFmpeg drop what it has not written yet, the
// end of the recording included. A command is asked to end, then killed.
constexpr std::array<StopStep, 3> finishing_steps{
    {{milliseconds{1000}, SIGTERM}, {milliseconds{3000}, SIGTERM}, {milliseconds{10000}, SIGKILL}}};
constexpr std::array<StopStep, 2> ending_steps{
    {{milliseconds{0}, SIGTERM}, {milliseconds{1000}, SIGKILL}}};

// What the signal handlers know of the running children. A slot is taken by writing its pid last
// and given back by clearing the pid first, so a handler never sees half a record.
struct RecordedChild {
    volatile std::sig_atomic_t pid = 0;
    volatile std::sig_atomic_t whole_group = 0;
    volatile std::sig_atomic_t finishes = 0;
};
constexpr std::size_t max_children = 16;
std::array<RecordedChild, max_children> recorded;

// Holds every signal off while a child is started and recorded, so a handler never sees a
// child that runs but is not yet known.
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

  private:
    sigset_t before_{};
};

// Ignores the given signals for as long as it lives, then gives them back their handling: the
// terminal's hang-up and quit while a child that leaves them to us is started (the child
// inherits that, and our handlers are back before any signal is let through), a broken pipe
// while a child's input is written.
class SignalsIgnored {
  public:
    explicit SignalsIgnored(std::initializer_list<int> signal_numbers) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        for (const int signal_number : signal_numbers) {
            if (count_ < before_.size()) {
                before_[count_].first = signal_number;
                sigaction(signal_number, &ignore, &before_[count_++].second);
            }
        }
    }
    ~SignalsIgnored() {
        for (std::size_t i = 0; i < count_; ++i) {
            sigaction(before_[i].first, &before_[i].second, nullptr);
        }
    }
    SignalsIgnored(const SignalsIgnored&) = delete;
    SignalsIgnored& operator=(const SignalsIgnored&) = delete;

  private:
    std::array<std::pair<int, struct sigaction>, 2> before_{};
    std::size_t count_ = 0;
};

// Both ends of a pipe, closed on exec: the child gets its end through a dup2.
struct Pipe {
    int read_end = -1;
    int write_end = -1;
    int error = 0;

    explicit Pipe(bool wanted) {
        int fds[2];
        if (wanted && pipe(fds) != 0) {
            error = errno;
        } else if (wanted) {
            read_end = fds[0];
            write_end = fds[1];
            fcntl(read_end, F_SETFD, FD_CLOEXEC);
            fcntl(write_end, F_SETFD, FD_CLOEXEC);
        }
    }
    ~Pipe() {
        close_end(read_end);
        close_end(write_end);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    static void close_end(int& fd) {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
    int take_read_end() { return std::exchange(read_end, -1); }
};

struct SpawnSettings {
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};

    SpawnSettings(const ChildSpec& spec, const Pipe& output, const Pipe& input) {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
        if (spec.silent) {
            posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
            posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        }
        if (spec.discard_output) {
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
            posix_spawn_file_actions_adddup2(&actions, 1, 2);
        }
        if (input.read_end >= 0) {
            posix_spawn_file_actions_adddup2(&actions, input.read_end, 0);
        }
        if (output.write_end >= 0) {
            posix_spawn_file_actions_adddup2(&actions, output.write_end, spec.piped_fd);
        }
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        if (spec.own_process_group) {
            flags |= POSIX_SPAWN_SETPGROUP;
            posix_spawnattr_setpgroup(&attributes, 0);
        }
        // The child starts with no signal held and every signal at its default, but those ignored
        // when this program started and those it leaves to us. Starting a program gives every
        // handled signal its default and keeps every ignored one ignored: only the broken pipe,
        // which this program itself ignores, is put back.
        sigset_t defaults;
        sigemptyset(&defaults);
        if (sigismember(&signals_kept_ignored(), SIGPIPE) != 1) {
            sigaddset(&defaults, SIGPIPE);
        }
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, flags);
        posix_spawnattr_setsigmask(&attributes, &none);
    }
    ~SpawnSettings() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;
};

RecordedChild* free_slot() noexcept {
    for (RecordedChild& slot : recorded) {
        if (slot.pid == 0) {
            return &slot;
        }
    }
    return nullptr;
}

RecordedChild* slot_of(pid_t pid) noexcept {
    for (RecordedChild& slot : recorded) {
        if (pid > 0 && slot.pid == pid) {
            return &slot;
        }
    }
    return nullptr;
}

// All of the input, however the writes come out; a child that stops reading ends it (a broken
// pipe is no reason for this program to end).
void write_input(int fd, const std::string& input) {
    const SignalsIgnored broken_pipes{SIGPIPE};
    write_all(fd, input);
}

} // namespace

StartedChild start_child(const ChildSpec& spec) {
    std::vector<char*> pointers;
    pointers.reserve(spec.argv.size() + 1);
    for (const std::string& argument : spec.argv) {
        pointers.push_back(const_cast<char*>(argument.c_str()));
    }
    pointers.push_back(nullptr);
    StartedChild started;
    Pipe output{spec.piped_fd >= 0};
    Pipe input{spec.input.has_value()};
    if (output.error != 0 || input.error != 0) {
        started.error = output.error != 0 ? output.error : input.error;
        return started;
    }
    // What we have written so far comes before anything the child writes.
    std::fflush(nullptr);
    {
        const SignalsHeld held;
        RecordedChild* slot = free_slot();
        if (slot == nullptr) {
            started.error = EAGAIN;
            return started;
        }
        const SignalsIgnored ignored =
            spec.leaves_terminal_signals_to_us ? SignalsIgnored{SIGHUP, SIGQUIT} : SignalsIgnored{};
        const SpawnSettings settings{spec, output, input};
        const auto spawn = spec.search_path ? posix_spawnp : posix_spawn;
        const char* program = spec.program.empty() ? pointers[0] : spec.program.c_str();
        started.error = spawn(&started.pid, program, &settings.actions, &settings.attributes,
                              pointers.data(), environ);
        if (started.error == 0) {
            slot->whole_group = spec.own_process_group ? 1 : 0;
            slot->finishes = spec.stop_style == StopStyle::finish ? 1 : 0;
            slot->pid = started.pid;
        }
    }
    Pipe::close_end(output.write_end);
    Pipe::close_end(input.read_end);
    if (started.error == 0) {
        started.output_fd = output.take_read_end();
        if (input.write_end >= 0) {
            write_input(input.write_end, *spec.input);
        }
    }
    return started;
}

void forget_child(pid_t pid) noexcept {
    if (RecordedChild* slot = slot_of(pid)) {
        slot->pid = 0;
    }
}

bool any_child_running() noexcept {
    for (const RecordedChild& slot : recorded) {
        if (slot.pid > 0) {
            return true;
        }
    }
    return false;
}

void signal_child(pid_t pid, int signal_number) noexcept {
    if (const RecordedChild* slot = slot_of(pid)) {
        kill(slot->whole_group != 0 ? -pid : pid, signal_number);
    }
}

void signal_child_to_end(pid_t pid, int signal_number) noexcept {
    if (signal_number != SIGKILL) {
        signal_child(pid, SIGCONT);
    }
    signal_child(pid, signal_number);
}

std::span<const StopStep> stop_steps(StopStyle style) noexcept {
    return style == StopStyle::finish ? std::span<const StopStep>{finishing_steps}
                                      : std::span<const StopStep>{ending_steps};
}

void end_children_from_signal_handler() noexcept {
    constexpr int step_ms = 50;
    // A killed child is gone at once unless the system holds it; then we give up on it.
    constexpr int give_up_ms = 12000;
    const timespec pause{0, step_ms * 1000000L};
    std::array<std::size_t, max_children> taken{};
    for (int waited_ms = 0; any_child_running() && waited_ms < give_up_ms; waited_ms += step_ms) {
        for (std::size_t i = 0; i < max_children; ++i) {
            const auto pid = static_cast<pid_t>(recorded[i].pid);
            if (pid <= 0) {
                continue;
            }
            const std::span<const StopStep> steps =
                stop_steps(recorded[i].finishes != 0 ? StopStyle::finish : StopStyle::end_now);
            if (taken[i] < steps.size() && milliseconds{waited_ms} >= steps[taken[i]].after) {
                signal_child_to_end(pid, steps[taken[i]++].signal_number);
            }
            int status = 0;
            const pid_t result = waitpid(pid, &status, WNOHANG);
            if (result == pid || (result < 0 && errno != EINTR)) {
                recorded[i].pid = 0;
            }
        }
        nanosleep(&pause, nullptr);
    }
}

#include "process/child.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

volatile std::sig_atomic_t running_pid = 0;
volatile std::sig_atomic_t running_own_group = 0;

// Holds every signal off while a child is started and recorded, so a handler never sees a
// child that runs but is not yet known. The child itself starts with the mask we had before.
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

struct SpawnSettings {
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};

    SpawnSettings(const ChildSpec& spec, const sigset_t& child_mask) {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
        if (spec.stdout_fd >= 0) {
            posix_spawn_file_actions_adddup2(&actions, spec.stdout_fd, 1);
        }
        if (spec.close_fd >= 0) {
            posix_spawn_file_actions_addclose(&actions, spec.close_fd);
        }
        short flags = POSIX_SPAWN_SETSIGMASK;
        if (spec.own_process_group) {
            flags |= POSIX_SPAWN_SETPGROUP;
            posix_spawnattr_setpgroup(&attributes, 0);
        }
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

} // namespace

StartedChild start_child(const ChildSpec& spec) {
    std::vector<char*> pointers;
    pointers.reserve(spec.argv.size() + 1);
    for (const std::string& argument : spec.argv) {
        pointers.push_back(const_cast<char*>(argument.c_str()));
    }
    pointers.push_back(nullptr);
    // What we have written so far comes before anything the child writes.
    std::fflush(nullptr);

    const SignalsHeld held;
    const SpawnSettings settings{spec, held.before()};
    StartedChild started;
    const auto spawn = spec.search_path ? posix_spawnp : posix_spawn;
    const char* program = spec.program.empty() ? pointers[0] : spec.program.c_str();
    started.error = spawn(&started.pid, program, &settings.actions, &settings.attributes,
                          pointers.data(), environ);
    if (started.error == 0) {
        running_pid = started.pid;
        running_own_group = spec.own_process_group ? 1 : 0;
    }
    return started;
}

WaitResult wait_child(pid_t pid) {
    WaitResult result;
    pid_t waited = 0;
    do {
        waited = waitpid(pid, &result.status, 0);
    } while (waited < 0 && errno == EINTR);
    const int error = errno;
    running_pid = 0;
    running_own_group = 0;
    result.waited = waited == pid;
    errno = error;
    return result;
}

pid_t running_child_pid() noexcept {
    return static_cast<pid_t>(running_pid);
}

bool running_child_has_own_group() noexcept {
    return running_own_group != 0;
}

#include "process/shell_command.h"

#include "process/child.h"
#include "process/signals.h"

#include <cerrno>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__APPLE__)
#include <spawn.h>
#endif

extern char** environ;

namespace {

// argv[0] stays "sh", as the shell names itself in its complaints.
ChildSpec shell_child(const std::string& command) {
    ChildSpec spec;
    spec.argv = {"sh", "-c", command};
    spec.program = "/bin/sh";
    spec.own_process_group = true;
    return spec;
}

// Keeps at most `limit` bytes of what comes.
class Capture : public ChildOutput {
  public:
    explicit Capture(std::size_t limit) : limit_(limit) {}
    bool received(std::string_view bytes) override {
        text.append(bytes.substr(0, limit_ - text.size()));
        return text.size() < limit_;
    }
    std::string text;

  private:
    std::size_t limit_;
};

bool ended_cleanly(const StartedChild& child, std::chrono::milliseconds time_limit,
                   ChildOutput* output = nullptr) {
    Supervision supervision;
    supervision.time_limit = time_limit;
    supervision.output = output;
    const ChildEnd end = supervise_child(child, supervision);
    if (end.stop_signal != 0) {
        finish_stop(end.stop_signal);
    }
    return end.waited && !end.timed_out && WIFEXITED(end.status) && WEXITSTATUS(end.status) == 0;
}

} // namespace

bool run_shell_command(const std::string& command, std::chrono::milliseconds time_limit) {
    const StartedChild child = start_child(shell_child(command));
    return child.error == 0 && ended_cleanly(child, time_limit);
}

std::optional<std::string> read_shell_command_output(const std::string& command, std::size_t limit,
                                                     std::chrono::milliseconds time_limit) {
    ChildSpec spec = shell_child(command);
    spec.piped_fd = 1;
    const StartedChild child = start_child(spec);
    // Past the limit the pipe is closed, which ends a command that would write more.
    Capture capture{limit};
    if (child.error != 0 || !ended_cleanly(child, time_limit, &capture)) {
        return std::nullopt;
    }
    return std::move(capture.text);
}

void run_shell_command_from_signal_handler(const char* command) noexcept {
    char shell[] = "/bin/sh";
    char dash_c[] = "-c";
    char* const shell_argv[] = {shell, dash_c, const_cast<char*>(command), nullptr};
    pid_t child = -1;
#if defined(__APPLE__)
    // posix_spawn is a system call on macOS and runs no fork handlers.
    if (posix_spawn(&child, shell, nullptr, nullptr, shell_argv, environ) != 0) {
        return;
    }
#else
    // _Fork runs no fork handlers and is async-signal-safe, unlike fork.
    child = _Fork();
    if (child < 0) {
        return;
    }
    if (child == 0) {
        execve(shell, shell_argv, environ);
        _exit(127);
    }
#endif
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

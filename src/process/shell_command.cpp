#include "process/shell_command.h"

#include "process/child.h"

#include <cerrno>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__APPLE__)
#include <spawn.h>
#endif

extern char** environ;

namespace {

constexpr const char* shell_path = "/bin/sh";

// argv[0] stays "sh", as the shell names itself in its complaints.
ChildSpec shell_child(const std::string& command) {
    ChildSpec spec;
    spec.argv = {"sh", "-c", command};
    spec.program = shell_path;
    return spec;
}

bool ended_cleanly(pid_t pid) {
    const WaitResult result = wait_child(pid);
    return result.waited && WIFEXITED(result.status) && WEXITSTATUS(result.status) == 0;
}

} // namespace

bool run_shell_command(const std::string& command) {
    const StartedChild child = start_child(shell_child(command));
    return child.error == 0 && ended_cleanly(child.pid);
}

std::optional<std::string> read_shell_command_output(const std::string& command,
                                                     std::size_t limit) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        return std::nullopt;
    }
    ChildSpec spec = shell_child(command);
    spec.stdout_fd = pipe_fds[1];
    spec.close_fd = pipe_fds[0];
    const StartedChild child = start_child(spec);
    close(pipe_fds[1]);
    std::string output;
    if (child.error == 0) {
        char chunk[8192];
        while (output.size() < limit) {
            const std::size_t room = limit - output.size();
            const ssize_t got = read(pipe_fds[0], chunk, room < sizeof chunk ? room : sizeof chunk);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                break;
            }
            output.append(chunk, static_cast<std::size_t>(got));
        }
    }
    // Closing first ends a command that would write more than we read.
    close(pipe_fds[0]);
    if (child.error != 0 || !ended_cleanly(child.pid)) {
        return std::nullopt;
    }
    return output;
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

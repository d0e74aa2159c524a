#include "process/shell_command.h"

#include "process/supervisor.h"

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

// Keeps at most `limit` bytes of what comes; past the limit the pipe is closed, which ends a
// command that would write more.
class Capture : public ChildWatcher {
  public:
    explicit Capture(std::size_t limit) : limit_(limit) {}
    bool received(std::string_view bytes) override {
        text.append(bytes.substr(0, limit_ - text.size()));
        return text.size() < limit_;
    }
    void ended(const ChildEnd& end) override {
        clean =
            end.waited && !end.timed_out && WIFEXITED(end.status) && WEXITSTATUS(end.status) == 0;
    }
    std::string text;
    bool clean = false;

  private:
    std::size_t limit_;
};

// Runs the command to its end; nothing unless it ended with status 0 in time.
std::optional<std::string> run_to_end(const ChildSpec& spec, std::size_t limit,
                                      std::chrono::milliseconds time_limit) {
    Supervisor supervisor;
    Capture capture{limit};
    if (supervisor.start(spec, capture, time_limit) != 0) {
        return std::nullopt;
    }
    supervisor.run();
    if (!capture.clean) {
        return std::nullopt;
    }
    return std::move(capture.text);
}

} // namespace

bool run_shell_command(const std::string& command, std::chrono::milliseconds time_limit) {
    return run_to_end(shell_child(command), 0, time_limit).has_value();
}

std::optional<std::string> read_shell_command_output(const std::string& command, std::size_t limit,
                                                     std::chrono::milliseconds time_limit) {
    ChildSpec spec = shell_child(command);
    spec.piped_fd = 1;
    return run_to_end(spec, limit, time_limit);
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

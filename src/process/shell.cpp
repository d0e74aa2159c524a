#include "process/shell.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__APPLE__)
#include <spawn.h>
#endif

extern char** environ;

int run_shell_command(const std::string& command) {
    std::fflush(nullptr);
    return std::system(command.c_str());
}

std::optional<std::string> read_shell_command_output(const std::string& command,
                                                     std::size_t limit) {
    std::fflush(nullptr);
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return std::nullopt;
    }
    std::string output;
    char chunk[8192];
    while (output.size() < limit) {
        const std::size_t room = limit - output.size();
        const std::size_t got =
            std::fread(chunk, 1, room < sizeof chunk ? room : sizeof chunk, pipe);
        if (got == 0) {
            break;
        }
        output.append(chunk, got);
    }
    if (pclose(pipe) != 0) {
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

#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// The one place where this program starts, waits for and signals other programs. At most
// one child runs at a time; it is recorded before any stop request can look for it.

struct ChildSpec {
    std::vector<std::string> argv;
    std::string program;      // the file to run when it is not argv[0]
    bool search_path = false; // a bare name is looked up on the executable search path
    bool own_process_group = false;
    int stdout_fd = -1; // the child's standard output, or -1 to share ours
    int close_fd = -1;  // a descriptor of ours the child must not inherit, or -1
};

// The started child's id, or the error number that kept it from starting.
struct StartedChild {
    pid_t pid = -1;
    int error = 0;
};

StartedChild start_child(const ChildSpec& spec);

// Waits for the child started last. The wait status, or nothing (errno set) when waiting
// failed.
struct WaitResult {
    bool waited = false;
    int status = 0;
};
WaitResult wait_child(pid_t pid);

// The running child and whether it leads a process group of its own; 0 when none runs.
// Safe to call from a signal handler.
pid_t running_child_pid() noexcept;
bool running_child_has_own_group() noexcept;

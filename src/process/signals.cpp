#include "process/signals.h"

#include "process/child.h"

#include <cerrno>
#include <ctime>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Long enough for FFmpeg to write its trailers, short enough not to hang a shutdown.
constexpr int child_shutdown_wait_ms = 10000;
constexpr int child_shutdown_poll_ms = 50;

} // namespace

void install_fatal_signal_handler(SignalHandler handler) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigfillset(&action.sa_mask);
    for (const int signal_number : fatal_signals) {
        sigaction(signal_number, &action, nullptr);
    }
}

void restore_default_signal(int signal_number) noexcept {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
}

void stop_running_ffmpeg() noexcept {
    const pid_t child = running_child_pid();
    if (child <= 0 || running_child_has_own_group() || kill(child, SIGTERM) != 0) {
        return;
    }
    const timespec pause{0, child_shutdown_poll_ms * 1000000L};
    for (int waited = 0; waited < child_shutdown_wait_ms; waited += child_shutdown_poll_ms) {
        int status = 0;
        const pid_t result = waitpid(child, &status, WNOHANG);
        if (result == child || (result < 0 && errno != EINTR)) {
            return;
        }
        nanosleep(&pause, nullptr);
    }
}

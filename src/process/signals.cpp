#include "process/signals.h"

#include "process/runner.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Long enough for FFmpeg to write its trailers, short enough not to hang a shutdown.
constexpr int child_shutdown_wait_ms = 10000;
constexpr int child_shutdown_poll_ms = 50;

} // namespace

void install_fatal_signal_handler(SignalHandler handler) {
    for (const int signal_number : fatal_signals) {
        std::signal(signal_number, handler);
    }
}

void restore_default_signal(int signal_number) noexcept {
    std::signal(signal_number, SIG_DFL);
}

void forward_signal_to_ffmpeg(int signal_number) noexcept {
    const pid_t child = running_ffmpeg_pid();
    if (child <= 0 || kill(child, signal_number) != 0) {
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

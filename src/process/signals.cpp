#include "process/signals.h"

#include "process/child.h"
#include "process/cleanup.h"
#include "process/error_output.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stop_signal = 0;
volatile std::sig_atomic_t continued = 0;
SignalHandler crash_handler = nullptr;
SignalHandler stop_handler = nullptr;
int wake_pipe[2] = {-1, -1};
sigset_t kept_ignored{}; // all bits clear: empty
bool write_alarm_installed = false;

// Wakes whoever waits on the pipe: a child ended, a stop came, or this program was continued.
void wake_supervisor() {
    const int saved_errno = errno;
    const char wake = 1;
    [[maybe_unused]] const ssize_t written = write(wake_pipe[1], &wake, 1);
    errno = saved_errno;
}

[[noreturn]] void stop_now(int signal_number) {
    remove_what_must_not_outlive_the_run();
    stop_handler(signal_number);
    end_by_default_action(signal_number); // a stop handler does not return; this is a fallback
}

void on_crash_signal(int signal_number) {
    end_children_from_signal_handler();
    remove_what_must_not_outlive_the_run();
    crash_handler(signal_number);
}

void on_stop_request(int signal_number) {
    if (!any_child_running()) {
        stop_now(signal_number);
    }
    if (stop_signal == 0) {
        stop_signal = signal_number;
    }
    wake_supervisor();
}

void on_child_ended(int) {
    wake_supervisor();
}

void on_continued(int) {
    continued = 1;
    wake_supervisor();
}

// Only interrupts the write it was set for.
void on_write_alarm(int) {}

// Each handler runs with every other signal held off, and a system call it interrupts resumes
// (the supervisor learns of it through the wake-up pipe, not from an interrupted call), unless
// interrupting it is the handler's point.
void set_handler(int signal_number, SignalHandler handler, bool restart = true) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = restart ? SA_RESTART : 0;
    sigfillset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
}

} // namespace

void settle_inherited_signals() noexcept {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    sigemptyset(&kept_ignored);
    // Of the signals this program would otherwise handle or ignore itself; every other one that
    // was ignored stays so untouched, for this program and the programs it starts.
    for (const int signal_number : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE}) {
        struct sigaction current {};
        if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
            sigaddset(&kept_ignored, signal_number);
        }
    }
    ignore_broken_pipes();
}

const sigset_t& signals_kept_ignored() noexcept {
    return kept_ignored;
}

void install_signal_handlers(SignalHandler on_crash, SignalHandler on_stop) {
    if (wake_pipe[0] < 0 && pipe(wake_pipe) == 0) {
        for (const int fd : wake_pipe) {
            fcntl(fd, F_SETFD, FD_CLOEXEC);
            fcntl(fd, F_SETFL, O_NONBLOCK);
        }
    }
    crash_handler = on_crash;
    stop_handler = on_stop;
    for (const int signal_number : crash_signals) {
        set_handler(signal_number, on_crash_signal);
    }
    for (const int signal_number : stop_signals) {
        if (sigismember(&kept_ignored, signal_number) != 1) {
            set_handler(signal_number, on_stop_request);
        }
    }
    set_handler(SIGCHLD, on_child_ended);
    set_handler(SIGCONT, on_continued);
}

void ignore_broken_pipes() {
    set_handler(SIGPIPE, SIG_IGN);
}

int pending_stop_signal() noexcept {
    return stop_signal;
}

bool take_continued() noexcept {
    if (continued == 0) {
        return false;
    }
    continued = 0;
    return true;
}

int wake_fd() noexcept {
    return wake_pipe[0];
}

void finish_stop(int signal_number) {
    flush_error_output_at_end();
    stop_now(signal_number);
}

WriteAlarm::WriteAlarm(std::chrono::microseconds patience) noexcept {
    if (!write_alarm_installed) {
        set_handler(SIGALRM, on_write_alarm, false);
        write_alarm_installed = true;
    }
    itimerval once{};
    once.it_value.tv_sec = static_cast<time_t>(patience.count() / 1000000);
    once.it_value.tv_usec = static_cast<suseconds_t>(patience.count() % 1000000);
    setitimer(ITIMER_REAL, &once, nullptr);
}

WriteAlarm::~WriteAlarm() {
    const itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
}

void restore_default_signal(int signal_number) noexcept {
    set_handler(signal_number, SIG_DFL);
}

void end_by_default_action(int signal_number) noexcept {
    restore_default_signal(signal_number);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal_number);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    kill(getpid(), signal_number);
    _exit(128 + signal_number); // a signal whose default is to continue or be ignored
}

#include "process/runner.h"

#include "publish/recording_path.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Read by the fatal-signal handler, which forwards SIGTERM to the child so it finalises its
// outputs instead of streaming on as an orphan.
volatile std::sig_atomic_t running_child = 0;

[[noreturn]] void exec_child(const FfmpegArgv& argv, std::vector<char*>& pointers) {
    execvp(pointers[0], pointers.data());
    char message[1024];
    const int length = std::snprintf(message, sizeof message, "Failed to run %s: %s\n",
                                     argv[0].c_str(), std::strerror(errno));
    if (length > 0) {
        const auto size = static_cast<std::size_t>(length) < sizeof message
                              ? static_cast<std::size_t>(length)
                              : sizeof message - 1;
        [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, message, size);
    }
    _exit(127);
}

// Chooses this run's recording name and puts it into the publish operand. False when the
// list no longer fits (the message is written by the tee list builder).
bool prepare_recording(FfmpegArgv& argv, const RecordingPlan& plan) {
    const std::string path = free_recording_path(plan.record_file);
    if (path != plan.record_file) {
        std::fprintf(stderr, "Recording to %s.\n", path.c_str());
    }
    std::string spec;
    if (!build_publish_spec(plan.outputs, path, spec)) {
        return false;
    }
    argv.back() = std::move(spec);
    return true;
}

int run_once(FfmpegArgv& argv, const RecordingPlan* recording) {
    if (recording != nullptr && !prepare_recording(argv, *recording)) {
        return 2;
    }
    return run_ffmpeg(argv);
}

} // namespace

pid_t running_ffmpeg_pid() noexcept {
    return static_cast<pid_t>(running_child);
}

int run_ffmpeg(const FfmpegArgv& argv) {
    if (argv.empty()) {
        return 2;
    }
    std::vector<char*> pointers;
    pointers.reserve(argv.size() + 1);
    for (const std::string& argument : argv) {
        pointers.push_back(const_cast<char*>(argument.c_str()));
    }
    pointers.push_back(nullptr);

    std::fflush(nullptr); // the child must not repeat our buffered output
    const pid_t child = fork();
    if (child < 0) {
        std::fprintf(stderr, "Failed to fork: %s\n", std::strerror(errno));
        return 2;
    }
    if (child == 0) {
        exec_child(argv, pointers);
    }
    running_child = child;
    int status = 0;
    pid_t waited = 0;
    do {
        waited = waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    running_child = 0;
    if (waited < 0) {
        std::fprintf(stderr, "Failed waiting for FFmpeg: %s\n", std::strerror(errno));
        return 2;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

int run_with_reconnect(FfmpegArgv& argv, bool reconnect, const RecordingPlan* recording) {
    int status = run_once(argv, recording);
    if (!reconnect || status == 0) {
        return status;
    }
    for (int attempt = 1; attempt <= reconnect_attempts; ++attempt) {
        std::fprintf(stderr,
                     "Brevalo stream process exited with code %d. Restarting in %u seconds "
                     "(%d/%d).\n",
                     status, reconnect_pause_seconds, attempt, reconnect_attempts);
        sleep(reconnect_pause_seconds);
        status = run_once(argv, recording);
        if (status == 0) {
            return 0;
        }
    }
    return status;
}

#include "process/ffmpeg_runner.h"

#include "core/utf8.h"
#include "process/child.h"
#include "process/signals.h"
#include "publish/recording_path.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Chooses this run's recording name and puts it into the publish operand. False when the
// list no longer fits (the message is written by the tee list builder).
bool prepare_recording(FfmpegArgv& argv, const RecordingPlan& plan, std::string& path) {
    path = reserve_recording_path(plan.record_file);
    if (path != plan.record_file) {
        std::fprintf(stderr, "Recording to %s.\n", terminal_safe(path).c_str());
    }
    std::string spec;
    if (!build_publish_spec(plan.outputs, path, spec)) {
        return false;
    }
    argv.back() = std::move(spec);
    return true;
}

int run_once(FfmpegArgv& argv, const RecordingPlan* recording) {
    std::string path;
    if (recording != nullptr && !prepare_recording(argv, *recording, path)) {
        release_empty_recording(path);
        return 2;
    }
    const int status = run_ffmpeg(argv);
    if (recording != nullptr) {
        release_empty_recording(path);
    }
    return status;
}

// A process that could not be created at all, as opposed to a program that could not be run.
bool is_start_failure(int error) {
    return error == EAGAIN || error == ENOMEM;
}

} // namespace

int run_ffmpeg(const FfmpegArgv& argv) {
    if (argv.empty()) {
        return 2;
    }
    ChildSpec spec;
    spec.argv = argv;
    spec.search_path = true;
    const StartedChild child = start_child(spec);
    if (child.error != 0) {
        if (is_start_failure(child.error)) {
            std::fprintf(stderr, "Failed to fork: %s\n", std::strerror(child.error));
            return 2;
        }
        std::fprintf(stderr, "Failed to run %s: %s\n", terminal_safe(argv[0]).c_str(),
                     std::strerror(child.error));
        return 127;
    }
    const ChildEnd ended = supervise_child(child, Supervision{});
    if (ended.stop_signal != 0) {
        finish_stop(ended.stop_signal);
    }
    if (!ended.waited) {
        std::fprintf(stderr, "Failed waiting for FFmpeg: %s\n", std::strerror(errno));
        return 2;
    }
    return WIFEXITED(ended.status) ? WEXITSTATUS(ended.status) : 1;
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

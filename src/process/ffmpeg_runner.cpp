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

// Passes FFmpeg's standard error through the live watch to ours.
class LiveOutput : public ChildOutput {
  public:
    explicit LiveOutput(LivePlan plan) : watch_(std::move(plan)) {}
    bool received(std::string_view bytes) override {
        write(watch_.received(bytes, LiveClock::now()));
        return true;
    }
    void quiet() override { write(watch_.quiet(LiveClock::now())); }
    void finished() { write(watch_.finished(LiveClock::now())); }

  private:
    static void write(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stderr); }
    LiveWatch watch_;
};

// A process that could not be created at all, as opposed to a program that could not be run.
bool is_start_failure(int error) {
    return error == EAGAIN || error == ENOMEM;
}

// Starts FFmpeg and waits for it; the status as run_ffmpeg gives it.
int run_supervised(const FfmpegArgv& argv, LiveOutput* live) {
    if (argv.empty()) {
        return 2;
    }
    ChildSpec spec;
    spec.argv = argv;
    spec.search_path = true;
    spec.leaves_terminal_signals_to_us = true;
    spec.piped_fd = live != nullptr ? 2 : -1;
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
    Supervision supervision;
    supervision.output = live;
    const ChildEnd ended = supervise_child(child, supervision);
    if (live != nullptr) {
        live->finished();
    }
    if (ended.stop_signal != 0) {
        finish_stop(ended.stop_signal);
    }
    if (!ended.waited) {
        std::fprintf(stderr, "Failed waiting for FFmpeg: %s\n", std::strerror(errno));
        return 2;
    }
    return WIFEXITED(ended.status) ? WEXITSTATUS(ended.status) : 1;
}

// One streaming run, recording (when asked) to a free name it reserves first.
int stream_once(FfmpegArgv& argv, const StreamPlan& plan) {
    LivePlan live = plan.live;
    if (!plan.record_file.empty()) {
        live.recording = reserve_recording_path(plan.record_file);
        if (live.recording != plan.record_file) {
            std::fprintf(stderr, "Recording to %s.\n", terminal_safe(live.recording).c_str());
        }
        if (!build_publish_spec(plan.outputs, live.recording, argv.back())) {
            release_empty_recording(live.recording);
            return 2;
        }
    }
    LiveOutput output{live};
    const int status = run_supervised(argv, &output);
    if (!plan.record_file.empty()) {
        release_empty_recording(live.recording);
    }
    return status;
}

} // namespace

int run_ffmpeg(const FfmpegArgv& argv) {
    return run_supervised(argv, nullptr);
}

int run_stream(FfmpegArgv& argv, bool reconnect, const StreamPlan& plan) {
    ignore_broken_pipes();
    for (int restarts = 0;;) {
        const LiveClock::time_point started = LiveClock::now();
        const int status = stream_once(argv, plan);
        if (!reconnect || status == 0) {
            return status;
        }
        if (LiveClock::now() - started >= healthy_run_time) {
            restarts = 0;
        }
        if (restarts == reconnect_attempts) {
            return status;
        }
        ++restarts;
        std::fprintf(stderr,
                     "Brevalo stream process exited with code %d. Restarting in %u seconds "
                     "(%d/%d).\n",
                     status, reconnect_pause_seconds, restarts, reconnect_attempts);
        sleep(reconnect_pause_seconds);
    }
}

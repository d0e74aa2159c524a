#include "ffmpeg/ffmpeg_runner.h"

#include "core/utf8.h"

#include <cerrno>
#include <cstring>
#include <sys/wait.h>

namespace {

// A listing writes a few lines; anything beyond this is not worth keeping.
constexpr std::size_t max_collected_error_bytes = 1 << 20;

class Run : public ChildWatcher {
  public:
    explicit Run(std::string& errors) : errors_(errors) {}
    bool received(std::string_view bytes) override {
        if (errors_.size() < max_collected_error_bytes) {
            errors_.append(bytes.substr(0, max_collected_error_bytes - errors_.size()));
        }
        return true;
    }
    void ended(const ChildEnd& end) override { outcome = ffmpeg_end(end); }
    FfmpegEnd outcome{2, ""};

  private:
    std::string& errors_;
};

// A process that could not be created at all, as opposed to a program that could not be run.
bool is_start_failure(int error) {
    return error == EAGAIN || error == ENOMEM;
}

} // namespace

ChildSpec ffmpeg_child(const FfmpegArgv& argv, bool pipe_errors) {
    ChildSpec spec;
    spec.argv = argv;
    spec.search_path = true;
    spec.stop_style = StopStyle::finish;
    spec.leaves_terminal_signals_to_us = true;
    spec.piped_fd = pipe_errors ? 2 : -1;
    return spec;
}

FfmpegEnd ffmpeg_start_failure(const FfmpegArgv& argv, int error) {
    if (is_start_failure(error)) {
        return {2, "Failed to fork: " + std::string{std::strerror(error)} + "\n"};
    }
    return {127, "Failed to run " + terminal_safe(argv[0]) + ": " + std::strerror(error) + "\n"};
}

FfmpegEnd ffmpeg_end(const ChildEnd& end) {
    if (!end.waited) {
        return {2, "Failed waiting for FFmpeg: " + std::string{std::strerror(end.error)} + "\n"};
    }
    return {WIFEXITED(end.status) ? WEXITSTATUS(end.status) : 1, ""};
}

FfmpegEnd run_ffmpeg_collecting_errors(const FfmpegArgv& argv, std::string& errors) {
    Supervisor supervisor;
    Run run{errors};
    if (const int error = supervisor.start(ffmpeg_child(argv, true), run)) {
        return ffmpeg_start_failure(argv, error);
    }
    supervisor.run();
    return run.outcome;
}

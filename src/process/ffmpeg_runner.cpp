#include "process/ffmpeg_runner.h"

#include "core/utf8.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>

namespace {

// A listing writes a few lines; anything beyond this is not worth keeping.
constexpr std::size_t max_collected_error_bytes = 1 << 20;

class Run : public ChildWatcher {
  public:
    explicit Run(std::string* errors) : errors_(errors) {}
    bool received(std::string_view bytes) override {
        if (errors_ != nullptr && errors_->size() < max_collected_error_bytes) {
            errors_->append(bytes.substr(0, max_collected_error_bytes - errors_->size()));
        }
        return true;
    }
    void ended(const ChildEnd& end) override { status = ffmpeg_status(end); }
    int status = 2;

  private:
    std::string* errors_;
};

// A process that could not be created at all, as opposed to a program that could not be run.
bool is_start_failure(int error) {
    return error == EAGAIN || error == ENOMEM;
}

int run(const FfmpegArgv& argv, std::string* errors) {
    if (argv.empty()) {
        return 2;
    }
    Supervisor supervisor;
    Run run{errors};
    if (const int error = supervisor.start(ffmpeg_child(argv, errors != nullptr), run)) {
        return ffmpeg_start_failure(argv, error);
    }
    supervisor.run();
    return run.status;
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

int ffmpeg_start_failure(const FfmpegArgv& argv, int error) {
    if (is_start_failure(error)) {
        std::fprintf(stderr, "Failed to fork: %s\n", std::strerror(error));
        return 2;
    }
    std::fprintf(stderr, "Failed to run %s: %s\n", terminal_safe(argv[0]).c_str(),
                 std::strerror(error));
    return 127;
}

int ffmpeg_status(const ChildEnd& end) {
    if (!end.waited) {
        std::fprintf(stderr, "Failed waiting for FFmpeg: %s\n", std::strerror(end.error));
        return 2;
    }
    return WIFEXITED(end.status) ? WEXITSTATUS(end.status) : 1;
}

int run_ffmpeg(const FfmpegArgv& argv) {
    return run(argv, nullptr);
}

int run_ffmpeg_collecting_errors(const FfmpegArgv& argv, std::string& errors) {
    return run(argv, &errors);
}

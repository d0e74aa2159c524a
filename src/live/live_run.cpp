#include "live/live_run.h"

#include "core/utf8.h"
#include "process/cleanup.h"
#include "process/ffmpeg_runner.h"
#include "process/signals.h"
#include "process/supervisor.h"
#include "publish/recording_path.h"

#include <cstdio>

namespace {

void write_out(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
}

class LiveRun : public ChildWatcher {
  public:
    explicit LiveRun(LiveLaunch launch) : launch_(std::move(launch)) {}

    int run() {
        ignore_broken_pipes();
        start_ffmpeg();
        supervisor_.run();
        return status_;
    }

  private:
    // One run of FFmpeg, recording (when asked) to a free name it reserves first.
    void start_ffmpeg() {
        started_ = SteadyClock::now();
        LivePlan live = launch_.live;
        if (!launch_.record_file.empty()) {
            recording_ = reserve_recording_path(launch_.record_file);
            remove_at_end(recording_, Removal::if_empty);
            live.recording = recording_;
            if (recording_ != launch_.record_file) {
                std::fprintf(stderr, "Recording to %s.\n", terminal_safe(recording_).c_str());
            }
            if (!build_publish_spec(launch_.outputs, recording_, launch_.argv.back())) {
                remove_now(recording_);
                return ran_out(2);
            }
        }
        watch_.emplace(std::move(live));
        if (const int error = supervisor_.start(ffmpeg_child(launch_.argv, true), *this)) {
            remove_now(recording_);
            return ran_out(ffmpeg_start_failure(launch_.argv, error));
        }
    }

    bool received(std::string_view bytes) override {
        write_out(watch_->received(bytes, SteadyClock::now()));
        return true;
    }

    void tick(SteadyClock::time_point now) override { write_out(watch_->quiet(now)); }

    void ended(const ChildEnd& end) override {
        write_out(watch_->finished(SteadyClock::now()));
        remove_now(recording_);
        ran_out(ffmpeg_status(end));
    }

    // A run has ended with `status`: done, or started again after the pause.
    void ran_out(int status) {
        if (!launch_.reconnect || status == 0) {
            return finish(status);
        }
        if (SteadyClock::now() - started_ >= healthy_run_time) {
            restarts_ = 0;
        }
        if (restarts_ == reconnect_attempts) {
            return finish(status);
        }
        ++restarts_;
        std::fprintf(stderr,
                     "Brevalo stream process exited with code %d. Restarting in %lld seconds "
                     "(%d/%d).\n",
                     status, static_cast<long long>(reconnect_pause.count()), restarts_,
                     reconnect_attempts);
        supervisor_.at(SteadyClock::now() + reconnect_pause, [this] { start_ffmpeg(); });
    }

    void finish(int status) {
        status_ = status;
        supervisor_.end_commands();
        supervisor_.quit();
    }

    LiveLaunch launch_;
    Supervisor supervisor_;
    std::optional<LiveWatch> watch_;
    std::string recording_;
    SteadyClock::time_point started_{};
    int restarts_ = 0;
    int status_ = 0;
};

} // namespace

int run_live(LiveLaunch launch) {
    LiveRun run{std::move(launch)};
    return run.run();
}

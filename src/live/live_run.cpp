#include "live/live_run.h"

#include "core/utf8.h"
#include "live/camera_memory.h"
#include "process/cleanup.h"
#include "process/error_output.h"
#include "process/ffmpeg_runner.h"
#include "process/signals.h"
#include "process/supervisor.h"
#include "publish/recording_path.h"

#include <utility>

namespace {

class LiveRun : public ChildWatcher {
  public:
    explicit LiveRun(LiveLaunch launch)
        : launch_(std::move(launch)), profile_argv_(launch_.argv),
          capture_mode_(launch_.profile_mode) {}

    int run() {
        ignore_broken_pipes();
        if (launch_.overlays) {
            overlays_.emplace(supervisor_, std::move(*launch_.overlays),
                              [this](const std::string& line) { say(line); });
            if (!overlays_->write_all()) {
                return 2;
            }
            overlays_->start();
        }
        if (const auto remembered =
                remembered_camera_mode(launch_.video_input, launch_.profile_mode);
            remembered && *remembered != launch_.profile_mode) {
            capture_in(*remembered);
            mode_remembered_ = true;
            say("capturing " + mode_text(*remembered) + " (a mode this camera offers), sent as " +
                mode_text(launch_.profile_mode) + ".");
        }
        start_ffmpeg();
        supervisor_.run();
        remove_what_must_not_outlive_the_run();
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
                write_error_line("Recording to " + terminal_safe(recording_) + ".");
            }
            if (!build_publish_spec(launch_.outputs, recording_, launch_.argv.back())) {
                remove_now(recording_);
                return ran_out(2);
            }
        }
        watch_.emplace(std::move(live));
        said_mode_ignored_ = false;
        if (const int error = supervisor_.start(ffmpeg_child(launch_.argv, true), *this)) {
            remove_now(recording_);
            return ran_out(ffmpeg_start_failure(launch_.argv, error));
        }
    }

    bool received(std::string_view bytes) override {
        write_error_text(watch_->received(bytes, SteadyClock::now()));
        follow_camera();
        return true;
    }

    // A mode other than the profile's is remembered once the stream is live in it, and forgotten
    // when the camera captures its default mode instead.
    void follow_camera() {
        const bool ignored = watch_->camera().ignored_mode();
        if (ignored && !said_mode_ignored_) {
            said_mode_ignored_ = true;
            say("the camera did not take " + mode_text(capture_mode_) +
                " and captures in its default mode; the picture is still sent as " +
                mode_text(launch_.profile_mode) + ".");
            if (capture_mode_ != launch_.profile_mode) {
                remember_camera_mode(launch_.video_input, launch_.profile_mode, std::nullopt);
                mode_remembered_ = false;
            }
        } else if (!ignored && watch_->live() && !mode_remembered_ &&
                   capture_mode_ != launch_.profile_mode) {
            remember_camera_mode(launch_.video_input, launch_.profile_mode, capture_mode_);
            mode_remembered_ = true;
        }
    }

    void tick(SteadyClock::time_point now) override { write_error_text(watch_->quiet(now)); }

    void ended(const ChildEnd& end) override {
        write_error_text(watch_->finished(SteadyClock::now()));
        remove_now(recording_);
        const int status = ffmpeg_status(end);
        const bool first_run = std::exchange(first_run_, false);
        // A stop ends the run whatever FFmpeg's status: nothing starts again, nothing is reserved.
        if (supervisor_.stopping()) {
            return finish(status);
        }
        if (first_run && status != 0 && watch_->camera().refused() && capture_in_offered_mode()) {
            return;
        }
        ran_out(status);
    }

    // The camera refused the mode of the first run: FFmpeg starts again at once in one it
    // offers, which the camera's next launch uses from the start. False when there is none
    // to try.
    bool capture_in_offered_mode() {
        const auto chosen = choose_capture_mode(watch_->camera().offered(), launch_.profile_mode);
        if (!chosen || *chosen == capture_mode_) {
            remember_camera_mode(launch_.video_input, launch_.profile_mode, std::nullopt);
            return false;
        }
        say("the camera does not offer " + mode_text(capture_mode_) + "; capturing " +
            mode_text(*chosen) + ", sent as " + mode_text(launch_.profile_mode) + ".");
        capture_in(*chosen);
        mode_remembered_ = false;
        start_ffmpeg();
        return true;
    }

    void capture_in(const CaptureMode& mode) {
        launch_.argv = profile_argv_;
        capture_in_mode(launch_.argv, mode, static_cast<int>(launch_.profile_mode.fps));
        capture_mode_ = mode;
    }

    void say(const std::string& line) {
        write_error_text(watch_ ? watch_->own_line(line) : live_line(line));
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
        write_error_line("Brevalo stream process exited with code " + std::to_string(status) +
                         ". Restarting in " + std::to_string(reconnect_pause.count()) +
                         " seconds (" + std::to_string(restarts_) + "/" +
                         std::to_string(reconnect_attempts) + ").");
        supervisor_.at(SteadyClock::now() + reconnect_pause, [this] { start_ffmpeg(); });
    }

    void finish(int status) {
        status_ = status;
        if (overlays_) {
            overlays_->stop();
        }
        supervisor_.end_commands();
        supervisor_.quit();
    }

    LiveLaunch launch_;
    const FfmpegArgv profile_argv_;
    CaptureMode capture_mode_;
    bool first_run_ = true;
    bool mode_remembered_ = false;   // the mode captured in is the one the camera's memory holds
    bool said_mode_ignored_ = false; // this run's camera captures its default mode
    Supervisor supervisor_;
    std::optional<LiveOverlays> overlays_;
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

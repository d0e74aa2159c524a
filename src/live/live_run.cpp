#include "live/live_run.h"

#include "core/utf8.h"
#include "ffmpeg/ffmpeg_runner.h"
#include "live/camera_memory.h"
#include "live/live_overlays.h"
#include "live/live_watch.h"
#include "process/cleanup.h"
#include "process/signals.h"
#include "process/supervisor.h"
#include "publish/recording_path.h"

#include <cstdio>
#include <utility>

namespace {

void write_out(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
}

class LiveRun : public ChildWatcher {
  public:
    explicit LiveRun(LaunchPlan plan)
        : plan_(std::move(plan)), profile_mode_(profile_mode(plan_.command.profile)),
          capture_mode_(plan_.command.capture) {}

    int run() {
        ignore_broken_pipes();
        if (plan_.live_overlays) {
            overlays_.emplace(supervisor_, plan_.command.overlay_folder, plan_.command.overlays,
                              std::move(*plan_.live_overlays),
                              [this](const std::string& line) { say(line); });
            if (!overlays_->write_all()) {
                return 2;
            }
            overlays_->start();
        }
        if (const auto remembered = remembered_camera_mode(plan_.video_device, profile_mode_);
            remembered && *remembered != profile_mode_) {
            capture_mode_ = *remembered;
            mode_remembered_ = true;
            say("capturing " + mode_text(*remembered) + " (a mode this camera offers), sent as " +
                mode_text(profile_mode_) + ".");
        }
        start_ffmpeg();
        supervisor_.run();
        remove_what_must_not_outlive_the_run();
        return status_;
    }

  private:
    // One run of FFmpeg, made afresh from the plan: in the capture mode of the moment, recording
    // (when asked) to a free name it reserves first.
    void start_ffmpeg() {
        started_ = SteadyClock::now();
        CommandPlan command = plan_.command;
        command.capture = capture_mode_;
        if (!plan_.record_file.empty()) {
            recording_ = reserve_recording_path(plan_.record_file);
            remove_at_end(recording_, Removal::if_empty);
            command.recording = recording_;
            if (recording_ != plan_.record_file) {
                write_out("Recording to " + terminal_safe(recording_) + ".\n");
            }
        }
        const Expected<FfmpegArgv> argv = build_ffmpeg_argv(command);
        if (!argv) {
            write_out(argv.failure().message);
            remove_now(recording_);
            return ran_out(2);
        }
        watch_.emplace(LivePlan{plan_.destinations, recording_, plan_.secrets});
        said_mode_ignored_ = false;
        if (const int error = supervisor_.start(ffmpeg_child(*argv, true), *this)) {
            remove_now(recording_);
            const FfmpegEnd end = ffmpeg_start_failure(*argv, error);
            write_out(end.message);
            return ran_out(end.status);
        }
    }

    bool received(std::string_view bytes) override {
        write_out(watch_->received(bytes, SteadyClock::now()));
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
                mode_text(profile_mode_) + ".");
            if (capture_mode_ != profile_mode_) {
                remember_camera_mode(plan_.video_device, profile_mode_, std::nullopt);
                mode_remembered_ = false;
            }
        } else if (!ignored && watch_->live() && !mode_remembered_ &&
                   capture_mode_ != profile_mode_) {
            remember_camera_mode(plan_.video_device, profile_mode_, capture_mode_);
            mode_remembered_ = true;
        }
    }

    void tick(SteadyClock::time_point now) override { write_out(watch_->quiet(now)); }

    void ended(const ChildEnd& end) override {
        write_out(watch_->finished(SteadyClock::now()));
        remove_now(recording_);
        const FfmpegEnd ffmpeg = ffmpeg_end(end);
        write_out(ffmpeg.message);
        const int status = ffmpeg.status;
        const bool first_run = std::exchange(first_run_, false);
        if (first_run && status != 0 && watch_->camera().refused() && capture_in_offered_mode()) {
            return;
        }
        ran_out(status);
    }

    // The camera refused the mode of the first run: FFmpeg starts again at once in one it
    // offers, which the camera's next launch uses from the start. False when there is none
    // to try.
    bool capture_in_offered_mode() {
        const auto chosen = choose_capture_mode(watch_->camera().offered(), profile_mode_);
        if (!chosen || *chosen == capture_mode_) {
            remember_camera_mode(plan_.video_device, profile_mode_, std::nullopt);
            return false;
        }
        say("the camera does not offer " + mode_text(capture_mode_) + "; capturing " +
            mode_text(*chosen) + ", sent as " + mode_text(profile_mode_) + ".");
        capture_mode_ = *chosen;
        mode_remembered_ = false;
        start_ffmpeg();
        return true;
    }

    void say(const std::string& line) {
        write_out(watch_ ? watch_->own_line(line) : live_line(line));
    }

    // A run has ended with `status`: done, or started again after the pause.
    void ran_out(int status) {
        if (!plan_.reconnect || status == 0) {
            return finish(status);
        }
        if (SteadyClock::now() - started_ >= healthy_run_time) {
            restarts_ = 0;
        }
        if (restarts_ == reconnect_attempts) {
            return finish(status);
        }
        ++restarts_;
        write_out("Brevalo stream process exited with code " + std::to_string(status) +
                  ". Restarting in " + std::to_string(reconnect_pause.count()) + " seconds (" +
                  std::to_string(restarts_) + "/" + std::to_string(reconnect_attempts) + ").\n");
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

    LaunchPlan plan_;
    const CaptureMode profile_mode_;
    CaptureMode capture_mode_; // what the capture device is asked for in the next run
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

int run_live(LaunchPlan plan) {
    LiveRun run{std::move(plan)};
    return run.run();
}

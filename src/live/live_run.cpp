#include "live/live_run.h"

#include "core/utf8.h"
#include "ffmpeg/ffmpeg_runner.h"
#include "files/user_folders.h"
#include "live/camera_memory.h"
#include "live/health_warnings.h"
#include "live/live_lines.h"
#include "live/live_output.h"
#include "live/live_overlays.h"
#include "live/live_watch.h"
#include "live/recording_growth.h"
#include "process/cleanup.h"
#include "process/signals.h"
#include "process/supervisor.h"
#include "publish/recording_path.h"

#include <utility>

namespace {

// The view is drawn again at least this often, while nothing else happens.
constexpr std::chrono::milliseconds view_interval{1000};

class LiveRun : public ChildWatcher {
  public:
    explicit LiveRun(LaunchPlan plan)
        : plan_(std::move(plan)), profile_mode_(profile_mode(plan_.command.profile)),
          capture_mode_(plan_.command.capture), upload_(upload_needed(plan_)),
          health_(plan_.command.profile), output_(plan_.verbose, user_log_folder()) {}

    int run() {
        ignore_broken_pipes();
        supervisor_.every(view_interval / 2, [this](SteadyClock::time_point now) { show(now); });
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
        output_.close();
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
            growth_ = RecordingGrowth{recording_};
        }
        const Expected<FfmpegArgv> argv = build_ffmpeg_argv(command);
        if (!argv) {
            write_out(argv.failure().message);
            remove_now(recording_);
            return ran_out(2);
        }
        watch_.emplace(LivePlan{plan_.destinations, recording_, plan_.secrets,
                                !output_.shows_view(), upload_, queue_advice()});
        said_mode_ignored_ = false;
        health_.restart();
        if (const int error = supervisor_.start(ffmpeg_child(*argv, true), *this)) {
            remove_now(recording_);
            const FfmpegEnd end = ffmpeg_start_failure(*argv, error);
            write_out(end.message);
            return ran_out(end.status);
        }
        running_ = true;
    }

    bool received(std::string_view bytes) override {
        // FFmpeg's first words make the run's log, which is named at once.
        if (output_.open_log()) {
            say_where_the_log_is();
        }
        const SteadyClock::time_point now = SteadyClock::now();
        pass_on(watch_->received(bytes, now));
        // What FFmpeg reports while it finishes after a stop is no news of the machine.
        if (const auto& progress = watch_->progress(); progress && pending_stop_signal() == 0) {
            health_.progress(now, *progress);
        }
        follow_camera();
        return true;
    }

    // What the watch made of FFmpeg's text: for the terminal, and with FFmpeg's own for the log.
    void pass_on(const std::string& for_terminal) {
        output_.terminal(for_terminal);
        output_.log(watch_->take_log());
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

    void tick(SteadyClock::time_point now) override {
        pass_on(watch_->quiet(now));
        for (const std::string& warning :
             pending_stop_signal() == 0 ? health_.check(now) : std::vector<std::string>{}) {
            say(warning);
        }
        show(now);
    }

    void show(SteadyClock::time_point now, bool now_anyway = false) {
        if (!output_.shows_view()) {
            return;
        }
        LiveStatus status;
        status.state = pending_stop_signal() != 0 ? RunState::stopping
                       : running_ ? (watch_ && watch_->live() ? RunState::live : RunState::starting)
                                  : RunState::restarting;
        status.live_for =
            live_before_ + (running_ && watch_ ? watch_->live_for(now) : SteadyClock::duration{});
        status.profile_key = plan_.command.profile.key;
        status.profile_fps = plan_.command.profile.fps;
        if (watch_) {
            status.progress = watch_->progress();
            status.destinations = watch_->destinations();
        }
        if (growth_) {
            growth_->look(now);
            status.recording = terminal_safe(recording_);
            status.recording_bytes = growth_->bytes();
            status.recording_kbps = growth_->kbps();
        }
        output_.show(status, now, now_anyway);
    }

    void ended(const ChildEnd& end) override {
        const SteadyClock::time_point now = SteadyClock::now();
        running_ = false;
        if (watch_->live() && !watch_->camera().refused()) {
            say("live for " + live_duration(watch_->live_for(now)) + ".");
        }
        pass_on(watch_->finished(now));
        summarize(now);
        remove_now(recording_);
        const FfmpegEnd ffmpeg = ffmpeg_end(end);
        write_out(ffmpeg.message);
        const int status = ffmpeg.status;
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

    // The end of a run, after the destinations: the recording, the warnings met, the log.
    void summarize(SteadyClock::time_point now) {
        live_before_ += watch_->live_for(now);
        if (watch_->camera().refused()) {
            return;
        }
        if (growth_ && watch_->live()) {
            growth_->look(now, true);
            say("the recording " + terminal_safe(recording_) + " holds " +
                size_text(growth_->bytes().value_or(0)) + ".");
        }
        std::string warnings;
        const auto met = [&](int times, std::string_view what) {
            if (times > 0) {
                warnings += (warnings.empty() ? "" : ", ") + std::string{what} + " (" +
                            std::to_string(times) + ")";
            }
        };
        met(health_.overloads_met(), "the encoder fell behind");
        met(watch_->overflows_met(), "a destination's queue overflowed");
        met(health_.stalls_met(), "the capture stopped");
        if (!warnings.empty()) {
            say("warnings met: " + warnings + ".");
        }
        if (!output_.log_path().empty()) {
            say_where_the_log_is();
        }
    }

    void say_where_the_log_is() {
        say("FFmpeg's log of this run is in " + terminal_safe(output_.log_path()) + ".");
    }

    void say(const std::string& line) {
        const std::string text = watch_ ? watch_->own_line(line) : live_line(line);
        output_.terminal(text);
        output_.log(watch_ ? watch_->take_log() : text);
    }

    void write_out(const std::string& text) {
        output_.terminal(text);
        output_.log(text);
    }

    // The most one destination's copy of the stream takes of the upload.
    static double kbps_each(const LaunchPlan& plan) {
        const IngestProfile& profile = plan.command.profile;
        return profile.video_kbps_max + (plan.command.audio ? profile.audio_kbps : 0);
    }

    // "about 1.9 Mb/s": every destination is a full copy of the stream.
    static std::string upload_needed(const LaunchPlan& plan) {
        return "about " +
               bitrate_text(kbps_each(plan) * static_cast<double>(plan.destinations.size()));
    }

    // What to do when a destination cannot keep up.
    std::string queue_advice() const {
        const std::size_t count = plan_.destinations.size();
        std::string advice = "This launch needs " + upload_ + " of upload (" +
                             plural(static_cast<long long>(count), "destination") + " x " +
                             bitrate_text(kbps_each(plan_)) + "): ";
        advice += count > 1 ? "stream to fewer destinations" : "check this connection's upload";
        if (const IngestProfile* lighter = lighter_profile(plan_.command.profile)) {
            advice += ", or use a lighter profile (--profile " + std::string{lighter->key} + ")";
        }
        return advice + ".";
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
        show(SteadyClock::now(), true);
    }

    void finish(int status) {
        status_ = status;
        output_.close();
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
    const std::string upload_;
    HealthWarnings health_;
    LiveOutput output_;
    Supervisor supervisor_;
    std::optional<LiveOverlays> overlays_;
    std::optional<LiveWatch> watch_;
    bool running_ = false;                // FFmpeg runs now
    SteadyClock::duration live_before_{}; // live time of the runs before this one
    std::string recording_;
    std::optional<RecordingGrowth> growth_;
    SteadyClock::time_point started_{};
    int restarts_ = 0;
    int status_ = 0;
};

} // namespace

int run_live(LaunchPlan plan) {
    LiveRun run{std::move(plan)};
    return run.run();
}

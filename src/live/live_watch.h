#pragma once

#include "ffmpeg/camera_modes.h"
#include "live/ffmpeg_progress.h"
#include "live/live_lines.h"
#include "live/status_view.h"
#include "publish/destinations.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

using LiveClock = std::chrono::steady_clock;

struct LivePlan {
    std::vector<NamedDestination> destinations; // in output order
    std::string recording;                      // this run's recording file, or empty
    std::vector<Secret> secrets;                // hidden wherever FFmpeg prints them
    bool shows_ffmpeg = true; // FFmpeg's text is passed on (not with the status view)
    std::string upload{};     // the upload this launch needs ("about 1.9 Mb/s"), or empty
    std::string lighter{};    // what to do when a destination cannot keep up, or empty
};

// Follows one FFmpeg run through its standard error. FFmpeg's text is passed on as it comes
// (unless the status view keeps it off the terminal), each line with every secret hidden, and is
// kept for the run's log; castora's own lines, each beginning with "Live: ", say
// when the stream goes live, when a destination is lost, cannot be reached or is back, when the
// recording fails, and at the end how long each destination received the stream.
//
// What FFmpeg logs at its default level, and what is read from it: a progress line
// ("frame= ...") once the outputs are open; "[fifo @ F] Error opening URL: reason" each time a
// destination's queue fails to (re)connect, the only line that ties F to its destination;
// "[fifo @ F] Recovery successful" when it is back; "[fifo @ F] FIFO queue full" when it
// cannot keep up, each time its full queue is emptied and its frames dropped (FFmpeg counts the
// repeats of a line on the next one: "    Last message repeated N times"); "[tee @ T] Slave muxer
// #N failed: reason, continuing with M/K slaves." when entry N of the tee list is dropped for good
// (the recording is entry 0 when there is one).
class LiveWatch {
  public:
    explicit LiveWatch(LivePlan plan);

    // What to write to standard error for what FFmpeg wrote.
    std::string received(std::string_view bytes, LiveClock::time_point now);

    // FFmpeg has been quiet for a moment: a part line held back for long is passed on, and a
    // destination that has not failed since the start is taken as connected.
    std::string quiet(LiveClock::time_point now);

    // FFmpeg has ended: the rest of its text and one line per destination (none when the camera
    // refused its mode: nothing was sent).
    std::string finished(LiveClock::time_point now);

    // A line of castora's own, "Live: " and the text, below a progress line that did not end.
    std::string own_line(const std::string& text);

    // What FFmpeg said of the camera's modes.
    const CameraLines& camera() const { return camera_; }

    // FFmpeg has reported progress: its outputs are open and the stream is live.
    bool live() const { return live_; }
    LiveClock::duration live_for(LiveClock::time_point now) const {
        return live_ ? now - live_since_ : LiveClock::duration{};
    }

    // FFmpeg's last progress line, once there has been one.
    const std::optional<FfmpegProgress>& progress() const { return progress_; }

    // How each destination is doing, for the status view.
    std::vector<DestinationStatus> destinations() const;

    // FFmpeg's text since the last call, secrets hidden, with castora's own lines: the run's log.
    std::string take_log();

    // How many times a destination's queue overflowed (a warning was met).
    int overflows_met() const { return overflows_met_; }

  private:
    enum class State { unsure, up, down, off };
    struct Tracked {
        NamedDestination destination;
        State state = State::unsure;
        std::string fifo; // FFmpeg's name for its queue, once known
        LiveClock::time_point since{};
        LiveClock::duration received{};
        int drops = 0;
        int rejoins = 0;
        long long overflows = 0; // its queue was full and emptied, frames dropped
        bool full = false;       // its queue overflows now
        std::optional<LiveClock::time_point> warned_full;
        LiveClock::time_point last_full{};
    };

    void take_line(std::string_view segment, LiveClock::time_point now, std::string& out);
    void pass_on(std::string_view text, std::string& out);
    void queue_full(Tracked& tracked, long long times, LiveClock::time_point now, std::string& out);
    void settle_queues(LiveClock::time_point now, std::string& out);
    void read_event(std::string_view line, LiveClock::time_point now, std::string& out);
    void settle(LiveClock::time_point now);
    void change(Tracked& tracked, State state, LiveClock::time_point now);
    void say(std::string& out, const std::string& line);
    std::string hide_secrets(std::string_view text) const;
    Tracked* by_url(std::string_view url);
    Tracked* by_fifo(std::string_view fifo);

    LivePlan plan_;
    std::vector<Tracked> tracked_;
    LiveClock::time_point live_since_{};
    bool live_ = false;
    std::string held_;
    LiveClock::time_point held_since_{};
    bool mid_line_ = false; // the last text passed on did not end its line
    CameraLines camera_;
    std::optional<FfmpegProgress> progress_;
    Tracked* last_full_ = nullptr; // the destination the last line was about, for its repeats
    std::string log_;
    int overflows_met_ = 0;
};

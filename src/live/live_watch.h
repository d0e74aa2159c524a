#pragma once

#include "ffmpeg/camera_modes.h"
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
};

// Follows one FFmpeg run through its standard error. FFmpeg's text is passed on as it comes,
// each line with every secret hidden; castora's own lines, each beginning with "Live: ", say
// when the stream goes live, when a destination is lost, cannot be reached or is back, when the
// recording fails, and at the end how long each destination received the stream.
//
// What FFmpeg logs at its default level, and what is read from it: a progress line
// ("frame= ...") once the outputs are open; "[fifo @ F] Error opening URL: reason" each time a
// destination's queue fails to (re)connect, the only line that ties F to its destination;
// "[fifo @ F] Recovery successful" when it is back; "[fifo @ F] FIFO queue full" when it
// cannot keep up; "[tee @ T] Slave muxer #N failed: reason, continuing with M/K slaves." when
// entry N of the tee list is dropped for good (the recording is entry 0 when there is one).
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

  private:
    enum class State { unsure, up, down, off };
    struct Tracked {
        NamedDestination destination;
        State state = State::unsure;
        std::string fifo; // FFmpeg's name for its queue, once known
        LiveClock::time_point since{};
        LiveClock::duration received{};
        int drops = 0;
        bool warned_full = false;
    };

    void take_line(std::string_view segment, LiveClock::time_point now, std::string& out);
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
};

// A line of castora's own while live: "Live: ", the text and a line feed.
std::string live_line(std::string_view text);

// "12s", "4m05s", "2h03m".
std::string live_duration(LiveClock::duration duration);

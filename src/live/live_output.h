#pragma once

#include "live/status_view.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// Where the text of a live run goes. On the terminal: FFmpeg's log and castora's own lines as
// they come, or, with the status view, castora's lines above a view redrawn in place. In the
// run's log file: FFmpeg's log with castora's lines, every secret hidden as on the terminal.
class LiveOutput {
  public:
    // The view when standard error is a terminal and FFmpeg's log is not asked for; the log file
    // in `log_folder` (none when it is empty).
    LiveOutput(bool verbose, std::string log_folder);
    LiveOutput(const LiveOutput&) = delete;
    LiveOutput& operator=(const LiveOutput&) = delete;
    ~LiveOutput();

    bool shows_view() const { return view_.has_value(); }

    // Text for the terminal, as the watch made it for this kind of output.
    void terminal(std::string_view text);

    // Makes the log file, once FFmpeg has written something: true when this made it.
    bool open_log();

    // Text for the log file, once it is open.
    void log(std::string_view text);
    const std::string& log_path() const { return log_path_; }

    // Redraws the view, at most twice a second unless `now_anyway`.
    void show(const LiveStatus& status, std::chrono::steady_clock::time_point now,
              bool now_anyway = false);

    // The run is over: the view goes.
    void close();

  private:
    std::optional<TerminalView> view_;
    bool colour_ = false;
    std::chrono::steady_clock::time_point drawn_at_{};
    std::string log_folder_;
    std::string log_path_;
    int log_fd_ = -1;
    bool log_tried_ = false;
};

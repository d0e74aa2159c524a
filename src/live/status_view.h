#pragma once

#include "live/ffmpeg_progress.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The status view: what a creator needs to see while live, redrawn in place on the terminal
// below castora's own lines, instead of FFmpeg's log.

enum class RunState { starting, live, restarting, stopping };

enum class DestinationHealth { connecting, unreachable, up, lost, back, off };

struct DestinationStatus {
    std::string name;
    DestinationHealth health = DestinationHealth::connecting;
    long long overflows = 0; // its queue was full: frames for it were dropped
};

struct LiveStatus {
    RunState state = RunState::starting;
    std::chrono::steady_clock::duration live_for{};
    std::string profile_key;
    int profile_fps = 0;
    std::optional<FfmpegProgress> progress;
    std::vector<DestinationStatus> destinations;
    std::string recording; // empty: none
    std::optional<std::uintmax_t> recording_bytes;
    std::optional<double> recording_kbps; // how fast it grows
};

// The view's lines, each fitting `width` columns (fields that do not fit are left out, the most
// important first), with colours only when `colour`.
std::vector<std::string> render_status(const LiveStatus& status, std::size_t width, bool colour);

// "12.3 MB", "1.2 GB", "512 KB".
std::string size_text(std::uintmax_t bytes);

// "2.1 Mb/s", "850 kb/s".
std::string bitrate_text(double kbps);

// Draws the view in place: each redraw replaces the last one, and what is written above it
// stays in the scrollback.
class TerminalView {
  public:
    using Write = std::function<void(std::string_view bytes)>;
    // The escape sequence that erases what is drawn now, for an end that is not ours (a stop or
    // a crash): it is kept where a signal handler can write it.
    using Erasing = std::function<void(std::string_view sequence)>;

    TerminalView(Write write, Erasing erasing)
        : write_(std::move(write)), erasing_(std::move(erasing)) {}

    void draw(const std::vector<std::string>& lines, std::size_t width);
    // Writes `text` where the view was and the view below it again.
    void above(std::string_view text, std::size_t width);
    void erase(std::size_t width);

  private:
    std::string erase_sequence(std::size_t width) const;

    Write write_;
    Erasing erasing_;
    std::vector<std::string> drawn_; // as drawn, colour sequences included
};

// Whether the terminal on standard error takes colours (not TERM=dumb, no NO_COLOR), and its
// width in columns (80 when it does not say).
bool terminal_has_colour();
std::size_t terminal_width(int fd);

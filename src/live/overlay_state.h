#pragma once

#include "ffmpeg/overlays.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// The texts of the live overlays and the lines that tell of their changes. It writes no file and
// reads no clock: the caller writes what changed and passes the time, so a change from the
// overlay file and one from the automation bridge go through the same rules. A text counts as
// shown only once its file holds it.
class OverlayState {
  public:
    using Clock = std::chrono::steady_clock;

    // The boxes drawn, with their first texts (as overlay_file_text gives them).
    explicit OverlayState(const OverlayTexts& drawn);

    struct Change {
        std::optional<std::string> refusal; // why the change cannot be made, or nothing
        std::optional<std::size_t>
            overlay;      // the overlay whose file must get `text`; nothing: as is
        std::string text; // the text for its file
    };

    // What setting the overlay named `key` to `text` takes; nothing changes until shown(). Refused:
    // a key that names no overlay, an overlay this scene does not draw (FFmpeg cannot add a box to
    // a running stream), a text longer than the 255 bytes of an overlay or not valid UTF-8.
    Change change(std::string_view key, std::string_view text) const;

    // The overlay's file now holds `text`: the picture shows it.
    void shown(std::size_t overlay, std::string text);

    // The text of the overlay's file: what drawtext shows.
    const std::string& text(std::size_t overlay) const { return texts_[overlay].value(); }
    bool drawn(std::size_t overlay) const { return texts_[overlay].has_value(); }

    // What changed since the last line, as one line at most once a second ("score_left changed
    // 12 times, now "Team A 17""), or nothing.
    std::string status_line(Clock::time_point now);

  private:
    OverlayTexts texts_;
    std::array<int, overlay_count> changes_{};
    std::optional<Clock::time_point> last_line_;
};

// How a text of an overlay's file reads in a line: "blank", or the text in quotes.
std::string shown_as(std::string_view file_text);

#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// FFmpeg's AVFoundation input opens a camera only in a mode it offers: -video_size must be one of
// its formats and -framerate the top of one of that format's frame-rate ranges (within 0.01).
// Otherwise FFmpeg stops before the first frame:
//
//     [avfoundation @ 0x7f8...] Selected framerate (24.000000) is not supported by the device.
//     [avfoundation @ 0x7f8...] Supported modes:
//     [avfoundation @ 0x7f8...]   1280x720@[1.000000 30.000000]fps
//     [avfoundation @ 0x7f8...]   640x480@[1.000000 30.000000]fps
//
// ("Selected video size (854x480) is not supported by the device." for a size). Screens take
// any size.

struct CaptureMode {
    int width = 0;
    int height = 0;
    double fps = 0; // the top of a range the camera offers, or the profile's rate

    bool operator==(const CaptureMode&) const = default;
};

// Follows FFmpeg's lines for what the camera made of the mode asked of it: a refusal with the modes
// it offers (the run then ends before its first frame), or a warning that it captures its default
// mode instead (the run goes on).
class CameraLines {
  public:
    void take_line(std::string_view line);
    bool refused() const { return refused_; }
    // It captures in its own default mode, not the one asked for.
    bool ignored_mode() const { return ignored_; }
    // Each offered format with the top of one of its frame-rate ranges, as FFmpeg listed them.
    const std::vector<CaptureMode>& offered() const { return offered_; }

  private:
    bool refused_ = false;
    bool ignored_ = false;
    bool listing_ = false;
    std::vector<CaptureMode> offered_;
};

// The mode to capture in for a profile's picture: the smallest format at least as large in both
// dimensions, else the largest; of its rates, the profile's own (a broadcast 29.97 counts as 30),
// else the nearest above it, else the highest. Nothing when nothing is offered.
std::optional<CaptureMode> choose_capture_mode(const std::vector<CaptureMode>& offered,
                                               const CaptureMode& wanted);

// "30", or "29.97" for a rate that is not whole.
std::string rate_text(double fps);

// "640x480 at 30 fps".
std::string mode_text(const CaptureMode& mode);

// Two rates a camera takes as one (AVFoundation matches a rate to a range's top within 0.01).
bool same_rate(double a, double b);

// A remembered mode, as kept in the user's cache: "640x480@30".
std::string remembered_mode_text(const CaptureMode& mode);
std::optional<CaptureMode> read_remembered_mode(std::string_view text);

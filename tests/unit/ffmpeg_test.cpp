#include "catalog/profiles.h"
#include "ffmpeg/camera_modes.h"
#include "ffmpeg/command_plan.h"
#include "ffmpeg/device_listing.h"
#include "ffmpeg/ffmpeg_argv.h"
#include "ffmpeg/log_line.h"

#include <gtest/gtest.h>

TEST(DeviceListing, TheSectionsOfEitherWordingMakeTheListing) {
    const std::string prefix = "[AVFoundation indev @ 0x1] ";
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {prefix + "AVFoundation video devices:\n" + prefix + "[0] Cam\n" + prefix + "[12] Capture screen 1\n" + prefix +
             "AVFoundation audio devices:\r\n" + prefix + "[0] Mic\n: Input/output error\n",
         "Video devices (--video-input):\n  0  Cam\n  12  Capture screen 1 (screen)\n"
         "Audio devices (--audio-input):\n  0  Mic\n"},
        {"AVFoundation video devices:\n[x] not a device\n[lavfi @ 0x2] [3] Error opening input file .\n[in#0 @ 0x3] "
         "Error opening input: Input/output error\n",
         "Video devices (--video-input):\n  none\nAudio devices (--audio-input):\n  none\n"},
        {"[0] Cam\nError opening input file .\n", std::nullopt},
        {"", std::nullopt}};
    for (const auto& [errors, listed] : cases) {
        const auto listing = read_device_listing(errors);
        EXPECT_EQ(listing ? std::optional{device_listing_text(*listing)} : std::nullopt, listed) << errors;
    }
}

// What each FFmpeg release prints of a camera: through 8.0 its input logs as "avfoundation", from
// 8.1 on as "in#0"; a listing through a pipe collapses identical lines into a repeat count.
TEST(CameraModes, EveryReleasesWordingOfARefusalOrAFallback) {
    struct Case {
        std::string_view prefix;
        std::vector<std::string_view> messages;
        bool refused;
        bool ignored;
        std::vector<CaptureMode> offered;
    };
    const std::vector<std::string_view> facetime{"Selected video size (854x480) is not supported by the device.",
                                                 "Supported modes:",
                                                 "  1280x720@[1.000000 30.000000]fps",
                                                 "~    Last message repeated 2 times",
                                                 "  640x480@[1.000000 29.970030]fps",
                                                 "~  320x240@[1 60]fps",
                                                 "0:0: Input/output error",
                                                 "  160x120@[1.0 30.0]fps"};
    const std::vector<CaptureMode> offered{{1280, 720, 30}, {640, 480, 29.97003}, {320, 240, 60}};
    const Case cases[] = {
        {"[avfoundation @ 0x7f8b1c000000] ", facetime, true, false, offered},       // 4.4 to 8.0
        {"[AVFoundation indev @ 0x7f8b1c000000] ", facetime, true, false, offered}, // its device class
        {"[in#0 @ 0x600001e8c000] ", facetime, true, false, offered},               // 8.1 and later
        {"[in#10 @ 0x1] ", {"Selected framerate (24.000000) is not supported by the device."}, true, false, {}},
        {"[out#0/flv @ 0x1] ", facetime, false, false, {}},
        {"[in#x @ 0x1] ", facetime, false, false, {}},
        // A muxed (DV) device takes its default rate and goes on; any device may fail to take a mode.
        {"[in#0 @ 0x1] ",
         {"Selected framerate (24.000000) is not supported by the device.", "Falling back to default."},
         false,
         true,
         {}},
        {"[avfoundation @ 0x1] ", {"Configuration of video device failed, falling back to default."}, false, true, {}}};
    for (const Case& c : cases) {
        CameraLines camera;
        for (const std::string_view message : c.messages) {
            // A line marked '~' comes without a context, as FFmpeg's repeat count does.
            camera.take_line(message.starts_with('~') ? std::string{message.substr(1)}
                                                      : std::string{c.prefix} + std::string{message});
        }
        EXPECT_EQ(std::make_tuple(c.refused, c.ignored, c.offered),
                  std::make_tuple(camera.refused(), camera.ignored_mode(), camera.offered()))
            << c.prefix;
    }
    EXPECT_EQ(repeats_of_last_line("    Last message repeated 12 times"), 12);
    for (const std::string_view line : {"    Last message repeated 0 times", "Last message repeated x times",
                                        "[in#0 @ 0x1] Last message repeated 2 times!"}) {
        EXPECT_FALSE(repeats_of_last_line(line)) << line;
    }
}

TEST(CameraModes, TheRefusedModeGivesWayToTheNearestOfferedOne) {
    using Modes = std::vector<CaptureMode>;
    const Modes camera{{1280, 720, 30}, {640, 480, 30}, {640, 480, 15}, {1920, 1080, 25}, {1920, 1080, 60}};
    const std::tuple<Modes, CaptureMode, std::optional<CaptureMode>> cases[] = {
        {camera, {854, 480, 30}, CaptureMode{1280, 720, 30}},
        {camera, {640, 360, 24}, CaptureMode{640, 480, 30}},
        {camera, {640, 360, 10}, CaptureMode{640, 480, 15}},
        {camera, {1920, 1080, 30}, CaptureMode{1920, 1080, 60}},
        {camera, {3840, 2160, 30}, CaptureMode{1920, 1080, 60}},
        {camera, {1920, 1080, 24}, CaptureMode{1920, 1080, 25}},
        {{{640, 480, 29.97}}, {640, 480, 30}, CaptureMode{640, 480, 29.97}},
        // A broadcast rate is the profile's own: 29.97 for 30, 59.94 for 60, 23.976 for 24.
        {{{1280, 720, 59.94006}, {1280, 720, 29.97003}}, {854, 480, 30}, CaptureMode{1280, 720, 29.97003}},
        {{{1280, 720, 59.94006}, {1280, 720, 29.97003}}, {1280, 720, 60}, CaptureMode{1280, 720, 59.94006}},
        {{{640, 480, 30}, {640, 480, 23.976}, {640, 480, 25}}, {640, 360, 24}, CaptureMode{640, 480, 23.976}},
        {{{640, 480, 30}, {640, 480, 23.9}, {640, 480, 25}}, {640, 360, 24}, CaptureMode{640, 480, 25}},
        {{}, {640, 360, 24}, std::nullopt}};
    for (const auto& [offered, wanted, chosen] : cases) {
        EXPECT_EQ(choose_capture_mode(offered, wanted), chosen) << mode_text(wanted);
    }
}

TEST(CameraModes, AnotherModeChangesOnlyTheCaptureAndKeepsTheProfilesRate) {
    CommandPlan plan{
        "ffmpeg", *find_profile("low_power_360p"), {640, 480, 29.97003}, "0:0", true, {}, "", {"rtmp://a/x"}, false,
        ""};
    const auto command = [&] {
        const Expected<FfmpegArgv> argv = build_ffmpeg_argv(plan);
        return (*argv)[7] + " " + (*argv)[9] + " " + (*argv)[17] + " " + (*argv)[27];
    };
    EXPECT_EQ(command(), "29.97 640x480 fps=24,scale=640:360:force_original_aspect_ratio=decrease,pad=640:360:(ow-iw)/"
                         "2:(oh-ih)/2:color=black 48");
    plan.capture = {1280, 720, 24.004};
    EXPECT_EQ(command(), "24 1280x720 scale=640:360:force_original_aspect_ratio=decrease,pad=640:360:(ow-iw)/2:(oh-ih)/"
                         "2:color=black 48");
    EXPECT_EQ(read_remembered_mode(remembered_mode_text({640, 480, 29.97})), (CaptureMode{640, 480, 29.97}));
    for (const std::string_view bad : {"640x480", "640x@30", "x480@30", "640x480@", "640x480@-1", "6400000x4@30"}) {
        EXPECT_FALSE(read_remembered_mode(bad)) << bad;
    }
}

#include "ffmpeg/camera_modes.h"
#include "ffmpeg/device_listing.h"
#include "ffmpeg/live_watch.h"
#include "ffmpeg/log_line.h"
#include "publish/destinations.h"

#include <gtest/gtest.h>

namespace {

// Feeds FFmpeg's text to a watch at the given seconds; castora's own lines.
std::string live_lines(LivePlan plan, std::initializer_list<std::pair<int, std::string_view>> log, int end) {
    LiveWatch watch{std::move(plan)};
    std::string out;
    for (const auto& [second, bytes] : log) {
        out += watch.quiet(LiveClock::time_point{std::chrono::seconds{second}});
        out += watch.received(bytes, LiveClock::time_point{std::chrono::seconds{second}});
    }
    out += watch.finished(LiveClock::time_point{std::chrono::seconds{end}});
    std::string lines;
    for (std::size_t at = out.find("Live: "); at != std::string::npos; at = out.find("Live: ", at + 1)) {
        lines += out.substr(at, out.find('\n', at) - at + 1);
    }
    return lines;
}

} // namespace

TEST(LiveWatch, SaysWhenTheStreamIsLiveWhatDropsOrFailsAndHowLongEachGotIt) {
    const LivePlan plan{{{"rtmp://h/live/k", "YouTube"}, {"srt://b:9000", "b:9000"}}, "rec.mkv", {}};
    EXPECT_EQ(live_lines(plan,
                         {{1, "frame=  1 fps=0.0\r"},
                          {1, "frame=  2 fps=0.0\r"},
                          {64, "[fifo @ 0xA] Error opening rtmp://h/live/k: Connection refused\n"},
                          {64, "[fifo @ 0xA] Recovery failed: Connection refused\n"},
                          {70, "[fifo @ 0xA] Recovery successful\n[fifo @ 0xA] FIFO queue full\n"},
                          {71, "[fifo @ 0xA] FIFO queue full\n[fifo @ 0xC] FIFO queue full\n"},
                          {72, "[tee @ 0xT] Slave muxer #0 failed: No space left on device, "
                               "continuing with 2/3 slaves.\n"},
                          {3600, "[tee @ 0xT] Slave muxer #2 failed: I/O error, continuing with 1/3 slaves.\n"}},
                         3700),
              "Live: streaming to 2 destinations (YouTube, b:9000), recording to rec.mkv.\n"
              "Live: YouTube lost: Connection refused; castora keeps trying.\n"
              "Live: YouTube is back after 6s.\n"
              "Live: YouTube is not keeping up; frames for it are dropped.\n"
              "Live: b:9000 is not keeping up; frames for it are dropped.\n"
              "Live: the recording to rec.mkv stopped: No space left on device. The stream goes on "
              "without it.\nLive: b:9000 failed: I/O error; it stays off for this run.\n"
              "Live: YouTube received 1h01m of the stream, 1 drop.\n"
              "Live: b:9000 received 59m59s of the stream, 1 drop.\n");
    const LivePlan two{{{"srt://a:1", "a:1"}, {"rtmp://b/app/k", "b:1935"}}, "", {}};
    const std::string_view slave_failed =
        "[tee @ 0xT] Slave muxer #1 failed: Invalid argument, continuing with 1/2 slaves.\n";
    EXPECT_EQ(live_lines(two,
                         {{0, "[fifo @ 0xB] Error opening rtmp://b/app/k: Connection refused\n"},
                          {1, "frame=  1\r"},
                          {3, "[fifo @ 0xA] Error opening srt://a:1: Input/output error\n"},
                          {9, "[fifo @ 0xB] Recovery successful\n"},
                          {12, slave_failed},
                          {13, slave_failed}},
                         20),
              "Live: b:1935 cannot be reached: Connection refused; castora keeps trying.\n"
              "Live: streaming to 2 destinations (a:1, b:1935).\n"
              "Live: a:1 cannot be reached: Input/output error; castora keeps trying.\n"
              "Live: b:1935 connected after 9s.\n"
              "Live: b:1935 failed: Invalid argument; it stays off for this run.\n"
              "Live: a:1 never received the stream.\n"
              "Live: b:1935 received 3s of the stream, 1 drop.\n");
}

TEST(LiveWatch, PassesFfmpegsTextOnWithItsSecretsHidden) {
    LiveWatch watch{{{{"rtmp://h/a/k'y|z", "h:1935"}}, "", {{"k'y|z"}, {"LONGSECRET"}}}};
    const LiveClock::time_point start{};
    EXPECT_EQ(
        watch.received("to '[f=flv]rtmp://h/a/k\\'y\\|z' key k'y|z id=k'y|z =k'y|zz LONGSECRETS kb/s\nOver", start),
        "to '[f=flv]rtmp://h/a/****' key k'y|z id=**** =k'y|zz ****S kb/s\n");
    EXPECT_EQ(watch.quiet(start + std::chrono::milliseconds{400}), "");
    EXPECT_EQ(watch.received("write? ", start + std::chrono::milliseconds{450}), "");
    EXPECT_EQ(watch.quiet(start + std::chrono::milliseconds{500}), "Overwrite? ");
    EXPECT_EQ(watch.received("frame=  1\r", start), "frame=  1\r\nLive: streaming to 1 destination (h:1935).\n");
    EXPECT_EQ(watch.finished(start + std::chrono::seconds{3599}),
              "Live: h:1935 received 59m59s of the stream, 0 drops.\n");
    EXPECT_EQ(live_duration(std::chrono::seconds{59}) + live_duration(std::chrono::seconds{3600}) +
                  live_duration(std::chrono::seconds{36061}),
              "59s1h00m10h01m");
}

// What FFmpeg prints of each destination, as passed on: no password, key or credential shows,
// however short, in the URL or in its tee-escaped form; user names and hosts stay readable.
TEST(LiveWatch, HidesEveryCredentialOfTheDestinations) {
    const std::pair<std::string_view, std::string_view> rows[] = {
        {"rtmp://user:PW@h:9/live/k", "rtmp://user:****@h:9/live/****"},
        {"rtmp://bob:p'w@h/app/live_KEY?bandwidthtest=true", "rtmp://bob:****@h/app/****?bandwidthtest=true"},
        {"rtmps://h/app/KEY", "rtmps://h/app/****"},
        {"srt://h:1?streamid=#!::r=live/KEY,m=publish&passphrase=PASS", "srt://h:1?streamid=****&passphrase=****"},
        {"srt://h:1?mode=caller&StreamID=s&x=streamid", "srt://h:1?mode=caller&StreamID=****&x=streamid"},
        {"rtmp://h/live?token=T&Auth=A&pass=P&secret=S&key=K&password=W&stream_key=Q",
         "rtmp://h/live?token=****&Auth=****&pass=****&secret=****&key=****&password=****&stream_key=****"},
        {"rtmp://h/live/{stream_key}", "rtmp://h/live/****"},
        {"rtmp://h/{stream_key}/x", "rtmp://h/****/****"},
        {"rtmp://u@h/app?keyframes=1&token=", "rtmp://u@h/app?keyframes=1&token="}};
    for (const auto& [url, shown] : rows) {
        std::string built;
        ASSERT_TRUE(build_target_url(url, "SK", built));
        LiveWatch watch{{{{built, destination_name(built)}}, "", stream_secrets({built}, "SK")}};
        std::string tee_entry;
        append_tee_escaped(tee_entry, built);
        std::string shown_in_tee;
        append_tee_escaped(shown_in_tee, shown);
        EXPECT_EQ(watch.received("Output #0, flv, to '" + built + "':\nslave '" + tee_entry + "'\n", {}),
                  "Output #0, flv, to '" + std::string{shown} + "':\nslave '" + shown_in_tee + "'\n");
    }
}

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
    FfmpegArgv argv{"ffmpeg", "-framerate", "24", "-video_size", "640x360", "-vf", "scale=640:360", "-g", "48"};
    capture_in_mode(argv, {640, 480, 29.97003}, 24);
    EXPECT_EQ(argv, (FfmpegArgv{"ffmpeg", "-framerate", "29.97", "-video_size", "640x480", "-vf",
                                "fps=24,scale=640:360", "-g", "48"}));
    capture_in_mode(argv, {1280, 720, 24}, 24);
    EXPECT_EQ(argv[2] + " " + argv[4] + " " + argv[6], "24 1280x720 fps=24,scale=640:360");
    EXPECT_EQ(read_remembered_mode(remembered_mode_text({640, 480, 29.97})), (CaptureMode{640, 480, 29.97}));
    for (const std::string_view bad : {"640x480", "640x@30", "x480@30", "640x480@", "640x480@-1", "6400000x4@30"}) {
        EXPECT_FALSE(read_remembered_mode(bad)) << bad;
    }
}

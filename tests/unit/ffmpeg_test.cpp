#include "catalog/profiles.h"
#include "catalog/scenes.h"
#include "core/options.h"
#include "ffmpeg/ffmpeg_argv.h"
#include "ffmpeg/filter_chain.h"
#include "ffmpeg/live_watch.h"

#include <gtest/gtest.h>

namespace {

// The vector as one line, elements joined by single spaces.
std::string joined(const FfmpegArgv& argv) {
    std::string line;
    for (const std::string& element : argv) {
        line += (line.empty() ? "" : " ") + element;
    }
    return line;
}

std::string argv_for(const StudioOptions& options, std::string_view profile,
                     std::string_view out = "OUT", std::size_t outputs = 1) {
    return joined(build_ffmpeg_argv(options, *find_profile(profile),
                                    *find_scene(options.scene_key, options.screen), out, outputs));
}

std::string box(std::string_view text, std::string_view x, std::string_view y, int size,
                std::string_view color) {
    return ",drawtext=text='" + std::string{text} + "':x=" + std::string{x} +
           ":y=" + std::string{y} + ":fontsize=" + std::to_string(size) +
           ":fontcolor=white:box=1:boxcolor=" + std::string{color} +
           ":boxborderw=14:expansion=none";
}

const std::string title = box("Gift War Scoreboard", "36", "h-148", 34, "0x050505cc");
const std::string subtitle = box("Brevalo Castora", "36", "h-86", 22, "0xc70f3acc");
const std::string left_score = box("Team A 0", "36", "36", 30, "0xc70f3add");
const std::string right_score = box("Team B 0", "w-text_w-36", "36", 30, "0x050505cc");
const std::string watermark = box("Brevalo", "w-text_w-28", "h-58", 20, "0x05050599");

} // namespace

TEST(FfmpegArgv, EveryProfileAndOutputMode) {
    StudioOptions options;
    const std::string scale = "scale=854:480:force_original_aspect_ratio=decrease,pad=854:480:(ow-"
                              "iw)/2:(oh-ih)/2:color=black";
    EXPECT_EQ(
        argv_for(options, ""),
        "ffmpeg -hide_banner -loglevel info -f avfoundation -framerate 30 -video_size 854x480 "
        "-i 0:0 -c:v h264_videotoolbox -tune zerolatency -vf " +
            scale + watermark +
            " -b:v 1600k -maxrate 1600k -bufsize 3200k -pix_fmt yuv420p -g 60 -c:a aac -b:a "
            "96k -ar 48000 -ac 2 -f flv OUT");
    const std::string high = argv_for(options, "high_1080p", "srt://b");
    EXPECT_EQ(high.substr(high.find("-b:v")), "-b:v 6000k -maxrate 6000k -bufsize 12000k -pix_fmt "
                                              "yuv420p -g 60 -c:a aac -b:a 160k -ar 48000 -ac 2 "
                                              "-f mpegts srt://b");
    const std::string tee = argv_for(options, "low_power_360p", "OUT", 2);
    EXPECT_EQ(tee.substr(tee.find(" -g ")), " -g 48 -c:a aac -b:a 64k -ar 48000 -ac 2 -flags "
                                            "+global_header -map 0:v:0 -map 0:a? -f tee OUT");
    EXPECT_NE(tee.find("-framerate 24 -video_size 640x360"), std::string::npos);
    options.no_audio = true;
    options.record_file = "rec.mkv";
    options.video_input = "Cam";
    const std::string recording = argv_for(options, "standard_720p");
    EXPECT_NE(recording.find(" -i Cam:none "), std::string::npos);
    EXPECT_EQ(recording.substr(recording.find(" -g ")),
              " -g 60 -an -flags +global_header -map 0:v:0 -f tee OUT");
    EXPECT_EQ(joined(build_device_listing_argv(options)),
              "ffmpeg -hide_banner -f avfoundation -list_devices true -i ");
}

TEST(FfmpegArgv, DevicesDefaultToZeroAndAreCutAt255Bytes) {
    StudioOptions options;
    options.audio_input = "Mic";
    EXPECT_EQ(input_specifier(options), "0:Mic");
    options.video_input = std::string(300, 'v');
    EXPECT_EQ(input_specifier(options), std::string(255, 'v'));
}

TEST(FilterChain, GroupsFollowTheSceneAndTheNonEmptyTexts) {
    const struct {
        std::string_view scene;
        void (*set)(StudioOptions&);
        std::string chain;
    } cases[] = {
        {"gift_war_scoreboard", [](StudioOptions&) {},
         title + subtitle + left_score + right_score + watermark},
        {"camera_clean", [](StudioOptions&) {}, watermark},
        {"camera_clean", [](StudioOptions& o) { o.overlay_title = "Hi"; },
         box("Hi", "36", "h-148", 34, "0x050505cc") + subtitle + watermark},
        {"camera_clean", [](StudioOptions& o) { o.overlay_subtitle = "S"; },
         box("Camera Clean", "36", "h-148", 34, "0x050505cc") +
             box("S", "36", "h-86", 22, "0xc70f3acc") + watermark},
        {"camera_clean", [](StudioOptions& o) { o.score_right = "R 1"; },
         left_score + box("R 1", "w-text_w-36", "36", 30, "0x050505cc") + watermark},
        {"camera_clean", [](StudioOptions& o) { o.score_left = "L"; },
         box("L", "36", "36", 30, "0xc70f3add") + right_score + watermark},
        {"creator_lower_third", [](StudioOptions& o) { o.overlay_title = o.watermark = ""; },
         subtitle + watermark},
        {"camera_clean", [](StudioOptions& o) { o.score_left = o.score_right = ""; }, watermark},
        {"camera_clean", [](StudioOptions& o) { o.watermark = "\t"; }, ""},
        {"camera_clean", [](StudioOptions& o) { o.watermark = "W"; },
         box("W", "w-text_w-28", "h-58", 20, "0x05050599")},
    };
    for (const auto& c : cases) {
        StudioOptions options;
        c.set(options);
        EXPECT_EQ(
            build_filter_chain(options, *find_profile("low_power_360p"),
                               *find_scene(c.scene, false)),
            "scale=640:360:force_original_aspect_ratio=decrease,pad=640:360:(ow-iw)/2:(oh-ih)/"
            "2:color=black" +
                c.chain)
            << c.scene;
    }
}

TEST(FilterChain, OverlayTextsLoseFilterSyntaxControlsAndSplitCharacters) {
    const std::string x254(254, 'x');
    const std::pair<std::string, std::string> cases[] = {
        {"It's 1:0, [live]", "It s 1 0   live "},
        {"a;b\\c|d\te\x7f", "a b c de"},
        {"100% hype", "100% hype"},
        {"caf\xC3\xA9 \xFF\x80ok", "caf\xC3\xA9 ok"},
        {std::string(300, 'x'), x254 + "x"},
        {x254 + "\xE2\x82\xAC" + "y", x254},
        {x254.substr(2) + "\xE2\x82\xAC" + "y", x254.substr(2) + "\xE2\x82\xAC"},
    };
    for (const auto& [text, clean] : cases) {
        EXPECT_EQ(sanitize_overlay_text(text), clean);
    }
}

namespace {

// Feeds FFmpeg's lines to a watch at the given seconds after the start; what castora writes.
std::string watched(LivePlan plan, std::initializer_list<std::pair<int, std::string_view>> log,
                    int end) {
    const LiveClock::time_point start{};
    LiveWatch watch{std::move(plan)};
    std::string out;
    for (const auto& [second, bytes] : log) {
        out += watch.quiet(start + std::chrono::seconds{second});
        out += watch.received(bytes, start + std::chrono::seconds{second});
    }
    return out + watch.finished(start + std::chrono::seconds{end});
}

const LivePlan two_and_a_recording{
    {{"rtmp://h/live/SECRETKEY", "YouTube"}, {"srt://b:9000?streamid=sid", "b:9000"}},
    "rec.mkv",
    {"SECRETKEY", "sid"}};

} // namespace

TEST(LiveWatch, SaysWhenTheStreamIsLiveWhatDropsAndReturnsAndHowLongEachGotIt) {
    EXPECT_EQ(
        watched(two_and_a_recording,
                {{0, "Output #0, tee, to '[f=flv]rtmp://h/live/SECRETKEY|[f=mpegts]srt://b:9000?"
                     "streamid=sid':\n"},
                 {1, "frame=  1 fps=0.0\r"},
                 {1, "frame=  2 fps=0.0\r"},
                 {64, "[fifo @ 0xA] Error opening rtmp://h/live/SECRETKEY: Connection refused\n"},
                 {64, "[fifo @ 0xA] Recovery failed: Connection refused\n"},
                 {70, "[fifo @ 0xA] Recovery successful\n"},
                 {71, "[fifo @ 0xA] FIFO queue full\n[fifo @ 0xA] FIFO queue full\n"},
                 {72, "[tee @ 0xT] Slave muxer #0 failed: No space left on device, continuing "
                      "with 2/3 slaves.\n"}},
                3700),
        "Output #0, tee, to '[f=flv]rtmp://h/live/****|[f=mpegts]srt://b:9000?streamid=****':\n"
        "frame=  1 fps=0.0\r\nLive: streaming to 2 destinations (YouTube, b:9000), recording to "
        "rec.mkv.\nframe=  2 fps=0.0\r"
        "[fifo @ 0xA] Error opening rtmp://h/live/****: Connection refused\n"
        "Live: YouTube lost: Connection refused; castora keeps trying.\n"
        "[fifo @ 0xA] Recovery failed: Connection refused\n[fifo @ 0xA] Recovery successful\n"
        "Live: YouTube is back after 6s.\n[fifo @ 0xA] FIFO queue full\n"
        "Live: YouTube is not keeping up; frames for it are dropped.\n[fifo @ 0xA] FIFO queue "
        "full\n"
        "[tee @ 0xT] Slave muxer #0 failed: No space left on device, continuing with 2/3 slaves.\n"
        "Live: the recording to rec.mkv stopped: No space left on device. The stream goes on "
        "without it.\nLive: YouTube received 1h01m of the stream, 1 drop.\n"
        "Live: b:9000 received 1h01m of the stream, 0 drops.\n");
}

TEST(LiveWatch, TellsADestinationThatNeverConnectedFromOneThatDropped) {
    const LivePlan plan{{{"srt://a:1", "a:1"}, {"rtmp://b/app/k", "b:1935"}}, "", {"k"}};
    EXPECT_EQ(
        watched(
            plan,
            {{0, "[fifo @ 0xB] Error opening rtmp://b/app/k: Connection refused\n"},
             {1, "frame=  1\r"},
             {3, "[fifo @ 0xA] Error opening srt://a:1: Input/output error\n"},
             {9, "[fifo @ 0xB] Recovery successful\n"},
             {12,
              "[tee @ 0xT] Slave muxer #1 failed: Invalid argument, continuing with 1/2 slaves.\n"},
             {13,
              "[tee @ 0xT] Slave muxer #1 failed: Invalid argument, continuing with 1/2 slaves.\n"},
             {14, "Enter command: "}},
            20),
        "[fifo @ 0xB] Error opening rtmp://b/app/****: Connection refused\n"
        "Live: b:1935 cannot be reached: Connection refused; castora keeps trying.\n"
        "frame=  1\r\nLive: streaming to 2 destinations (a:1, b:1935).\n"
        "[fifo @ 0xA] Error opening srt://a:1: Input/output error\n"
        "Live: a:1 cannot be reached: Input/output error; castora keeps trying.\n"
        "[fifo @ 0xB] Recovery successful\nLive: b:1935 connected after 9s.\n"
        "[tee @ 0xT] Slave muxer #1 failed: Invalid argument, continuing with 1/2 slaves.\n"
        "Live: b:1935 failed: Invalid argument; it stays off for this run.\n"
        "[tee @ 0xT] Slave muxer #1 failed: Invalid argument, continuing with 1/2 slaves.\n"
        "Enter command: \n"
        "Live: a:1 never received the stream.\n"
        "Live: b:1935 received 3s of the stream, 1 drop.\n");
}

TEST(LiveWatch, HidesSecretsInUrlsAndLongOnesEverywhereAndPassesPartLinesOnWhenQuiet) {
    LiveWatch watch{{{{"rtmp://h/a/k'y|z", "h:1935"}}, "", {"k'y|z", "LONGSECRET"}}};
    const LiveClock::time_point start{};
    EXPECT_EQ(
        watch.received("to '[f=flv]rtmp://h/a/k\\'y\\|z' key k'y|z LONGSECRETS kb/s\nOver", start),
        "to '[f=flv]rtmp://h/a/****' key k'y|z ****S kb/s\n");
    EXPECT_EQ(watch.quiet(start + std::chrono::milliseconds{400}), "");
    EXPECT_EQ(watch.received("write? ", start + std::chrono::milliseconds{450}), "");
    EXPECT_EQ(watch.quiet(start + std::chrono::milliseconds{500}), "Overwrite? ");
    EXPECT_EQ(watch.finished(start + std::chrono::seconds{1}),
              "\nLive: h:1935 never received the stream.\n");
    for (const auto& [seconds, shown] :
         std::initializer_list<std::pair<int, std::string_view>>{{0, "0s"},
                                                                 {59, "59s"},
                                                                 {60, "1m00s"},
                                                                 {3599, "59m59s"},
                                                                 {3600, "1h00m"},
                                                                 {36061, "10h01m"}}) {
        EXPECT_EQ(live_duration(std::chrono::seconds{seconds}), shown);
    }
}

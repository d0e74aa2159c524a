#include "core/options.h"
#include "ffmpeg/ffmpeg_argv.h"
#include "ffmpeg/filter_chain.h"
#include "ffmpeg/live_watch.h"

#include <gtest/gtest.h>

TEST(FfmpegArgv, DevicesDefaultToZeroAndAreCutAt255Bytes) {
    StudioOptions options;
    options.audio_input = "Mic";
    EXPECT_EQ(input_specifier(options), "0:Mic");
    options.video_input = std::string(300, 'v');
    EXPECT_EQ(input_specifier(options), std::string(255, 'v'));
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
        {x254.substr(2) + "\xE2\x82\xAC" + "y", x254.substr(2) + "\xE2\x82\xAC"}};
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

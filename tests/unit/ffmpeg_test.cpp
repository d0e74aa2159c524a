#include "ffmpeg/live_watch.h"
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
                               "continuing with 2/3 slaves.\n"}},
                         3700),
              "Live: streaming to 2 destinations (YouTube, b:9000), recording to rec.mkv.\n"
              "Live: YouTube lost: Connection refused; castora keeps trying.\n"
              "Live: YouTube is back after 6s.\n"
              "Live: YouTube is not keeping up; frames for it are dropped.\n"
              "Live: b:9000 is not keeping up; frames for it are dropped.\n"
              "Live: the recording to rec.mkv stopped: No space left on device. The stream goes on "
              "without it.\nLive: YouTube received 1h01m of the stream, 1 drop.\n"
              "Live: b:9000 received 1h01m of the stream, 0 drops.\n");
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
    EXPECT_EQ(watch.received("to '[f=flv]rtmp://h/a/k\\'y\\|z' key k'y|z id=k'y|z LONGSECRETS kb/s\nOver", start),
              "to '[f=flv]rtmp://h/a/****' key k'y|z id=**** ****S kb/s\n");
    EXPECT_EQ(watch.quiet(start + std::chrono::milliseconds{400}), "");
    EXPECT_EQ(watch.received("write? ", start + std::chrono::milliseconds{450}), "");
    EXPECT_EQ(watch.quiet(start + std::chrono::milliseconds{500}), "Overwrite? ");
    EXPECT_EQ(watch.received("frame=  1\r", start), "frame=  1\r\nLive: streaming to 1 destination (h:1935).\n");
    EXPECT_EQ(watch.finished(start + std::chrono::seconds{3599}),
              "Live: h:1935 received 59m59s of the stream, 0 drops.\n");
    EXPECT_EQ(live_duration(std::chrono::seconds{59}) + live_duration(std::chrono::seconds{36061}), "59s10h01m");
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

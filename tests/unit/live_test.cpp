#include "automation/action_ledger.h"
#include "automation/bridge_answer.h"
#include "automation/refusal_lines.h"
#include "catalog/profiles.h"
#include "config/overlay_file.h"
#include "files/run_logs.h"
#include "live/camera_memory.h"
#include "live/health_warnings.h"
#include "live/live_overlays.h"
#include "live/live_watch.h"
#include "live/overlay_state.h"
#include "live/status_view.h"
#include "publish/destinations.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

namespace {

using std::chrono::milliseconds;
const OverlayState::Clock::time_point start{};

} // namespace

TEST(OverlayState, ChangesOnlyTheBoxesDrawnAndSumsUpABurstOnceASecond) {
    OverlayState state{{"Title", std::nullopt, "A 0", "B 0", "Ours"}};
    using Why = std::optional<std::string>;
    const std::tuple<std::string_view, std::string, Why, std::optional<std::size_t>> changes[] = {
        {"score_left", "A 1", std::nullopt, 2},
        {"score_left", "A 1", std::nullopt, std::nullopt}, // unchanged: nothing to write
        {"overlay_subtitle", "x", "not drawn in this scene, and FFmpeg cannot add a box to a running stream",
         std::nullopt},
        {"../x", "x", "unknown overlay", std::nullopt},
        {"score_left", std::string(256, 'x'), "longer than 255 bytes", std::nullopt},
        {"score_left", "\xC3(", "not valid UTF-8", std::nullopt},
        {"overlay_title", "It's 1:0, [live] %{pts}\\\n\t\x1b[2J", std::nullopt, 0},
        {"watermark", "", std::nullopt, 4},
        {"score_right", "\n", std::nullopt, 3},
        {"score_left", "A 2", std::nullopt, 2}};
    for (const auto& [key, text, refusal, overlay] : changes) {
        OverlayState::Change change = state.change(key, text);
        EXPECT_EQ(std::tie(change.refusal, change.overlay), std::tie(refusal, overlay)) << key;
        if (change.overlay) {
            state.shown(*change.overlay, std::move(change.text));
        }
    }
    EXPECT_EQ(state.text(0), "It's 1:0, [live] %{pts}\\[2J");
    EXPECT_EQ(state.text(4), "Brevalo");
    EXPECT_EQ(state.status_line(start), "overlay_title is now \"It's 1:0, [live] %{pts}\\[2J\"; score_left changed "
                                        "2 times, now \"A 2\"; score_right is now blank; watermark is now \"Brevalo\"");
    // A change whose file was not written changes nothing: the same text is a change again.
    EXPECT_EQ(state.change("score_right", "B 1").overlay, 3u);
    EXPECT_EQ(state.change("score_right", "B 1").overlay, 3u);
    state.shown(3, "B 1");
    EXPECT_EQ(state.status_line(start + milliseconds{999}), "");
    EXPECT_EQ(state.status_line(start + milliseconds{1000}), "score_right is now \"B 1\"");
    EXPECT_EQ(state.status_line(start + milliseconds{5000}), "");
}

// A text is applied only once its file is written: a full disk refuses the change with the
// reason, keeps the picture's text, says so once, and the same change is tried again.
TEST(LiveOverlays, ATextIsAppliedOnlyOnceItsFileIsWritten) {
    Supervisor supervisor;
    std::vector<std::string> said;
    std::map<std::string, std::string> files;
    int failure = 0;
    const auto write = [&](const std::string& path, std::string_view text, const std::string& temporary) {
        EXPECT_EQ(temporary.substr(0, 8), "/run/x/.");
        if (failure != 0) {
            return std::optional<int>{failure};
        }
        files[path.substr(7)] = text;
        return std::optional<int>{};
    };
    LiveOverlays overlays{supervisor,
                          "/run/x",
                          {std::nullopt, std::nullopt, "A 0", std::nullopt, "Ours"},
                          {},
                          [&](const std::string& line) { said.push_back(line); },
                          write};
    using Why = std::optional<std::string>;
    const std::string full = "could not be written: No space left on device";
    const std::tuple<int, std::string_view, std::string_view, Why, std::string_view> steps[] = {
        // the disk fails with, key, text, refusal, score_left's file after it
        {0, "score_left", "A 1", std::nullopt, "A 1"},
        {ENOSPC, "score_left", "A 2", full, "A 1"},
        {ENOSPC, "score_left", "A 2", full, "A 1"},
        {ENOSPC, "score_left", "", full, "A 1"},
        {ENOSPC, "overlay_title", "x", "not drawn in this scene, and FFmpeg cannot add a box to a running stream",
         "A 1"},
        {ENOSPC, "score_left", "A 1", std::nullopt, "A 1"}, // what it shows: nothing to write
        {EIO, "score_left", "A 2", "could not be written: Input/output error", "A 1"},
        {0, "score_left", "A 2", std::nullopt, "A 2"}};
    for (const auto& [error, key, text, refusal, shown] : steps) {
        failure = error;
        EXPECT_EQ(overlays.apply(key, text), refusal) << key << "=" << text;
        EXPECT_EQ(files["score_left.txt"], shown) << key << "=" << text;
    }
    EXPECT_EQ(said, (std::vector<std::string>{
                        "the text of score_left could not be written: No space left on device; the picture "
                        "still shows \"A 1\".",
                        "the text of score_left could not be written: Input/output error; the picture still "
                        "shows \"A 1\"."}));
    failure = ENOSPC;
    EXPECT_FALSE(overlays.write_all());
    EXPECT_EQ(said.back(), "the text of score_left could not be written in /run/x: No space left on device; the "
                           "stream does not start.");
}

TEST(OverlayFile, LinesAreReadAsInAStudioConfigAndTheRestSaidByLine) {
    const OverlayFileContent content = read_overlay_file_text("\xEF\xBB\xBF# scores\n score_left = A 1 \r\n\n; x\n"
                                                              "bogus=1\nscore_right\n=ignored\nwatermark=a=b\n" +
                                                              std::string(2048, 'x') + "\n");
    ASSERT_EQ(content.values.size(), 2u);
    EXPECT_EQ(content.values[0].line + content.values[1].line, 2u + 8u);
    EXPECT_EQ(content.values[0].key + "=" + content.values[0].text + "|" + content.values[1].text,
              "score_left=A 1|a=b");
    EXPECT_EQ(content.problems, (std::vector<std::string>{"line 5: unknown key bogus; the line is left out",
                                                          "line 6: no \"=\" in it; the line is left out",
                                                          "line 9: longer than 2047 bytes; the line is left out"}));
}

TEST(OverlayFile, AChangeIsReadOnceItHasSettledAndEachProblemIsSaidOnce) {
    const std::string path = testing::TempDir() + "castora-overlays-" + std::to_string(getpid());
    std::ofstream{path} << "score_left=1\n";
    OverlayFileWatch watch{path};
    std::vector<std::string> applied;
    const auto apply = [&](std::string_view key, std::string_view text) {
        applied.push_back(std::string{key} + "=" + std::string{text});
        return text == "bad" ? std::optional<std::string>{"refused"} : std::nullopt;
    };
    const auto look = [&](int ms) { return watch.look(start + milliseconds{ms}, apply).size(); };
    EXPECT_EQ(look(0), 0u); // the first look reads at once
    std::ofstream{path} << "score_left=2\nscore_right=bad\n";
    EXPECT_EQ(look(10) + look(30), 0u); // changed, not settled yet
    EXPECT_EQ(applied, std::vector<std::string>{"score_left=1"});
    EXPECT_EQ(look(60), 1u); // settled: read, and the refused line said once
    EXPECT_EQ(look(200) + look(250), 0u);
    EXPECT_EQ(applied, (std::vector<std::string>{"score_left=1", "score_left=2", "score_right=bad"}));
    unlink(path.c_str());
    EXPECT_EQ(look(300) + look(350), 1u); // missing: said once
    std::ofstream{path} << "score_left=3\n";
    EXPECT_EQ(look(400), 0u);
    EXPECT_EQ(look(450), 1u); // readable again
    EXPECT_EQ(applied.back(), "score_left=3");
    unlink(path.c_str());
}

// A counter rewriting the file before every look: it never settles, yet its latest whole text
// is taken every 200 ms; a read caught mid-write (no line feed at its end, or a line that
// cannot be read) is not taken until a whole one comes.
TEST(OverlayFile, AFileThatKeepsChangingShowsItsLatestWholeTextFourTimesASecond) {
    const std::string path = testing::TempDir() + "castora-busy-" + std::to_string(getpid());
    const auto rewrite = [&](const std::string& text) { std::ofstream{path, std::ios::trunc} << text; };
    rewrite("score_left=0\n");
    OverlayFileWatch watch{path};
    std::vector<std::string> applied;
    std::size_t messages = 0;
    const auto look = [&](int ms) {
        messages +=
            watch
                .look(start + milliseconds{ms},
                      [&](std::string_view key, std::string_view text) {
                          applied.push_back(std::string{key} + "=" + std::string{text} + "@" + std::to_string(ms));
                          return std::nullopt;
                      })
                .size();
    };
    look(0);
    for (int ms = 50; ms <= 1000; ms += 50) {
        rewrite("score_left=" + std::to_string(ms / 50) + std::string(ms / 50 % 3, ' ') + "\n"); // a new size
        look(ms);
    }
    EXPECT_EQ(applied, (std::vector<std::string>{"score_left=0@0", "score_left=4@200", "score_left=8@400",
                                                 "score_left=12@600", "score_left=16@800", "score_left=20@1000"}));
    applied.clear();
    const std::pair<int, std::string> writes[] = {{1050, "score_left=21\n"},
                                                  {1100, "score_left=22 \n"},
                                                  {1150, "score_left=23\n"},
                                                  {1200, "score_left=2"},
                                                  {1250, "score_lef\n"},
                                                  {1300, "score_left=26\n"},
                                                  {1350, ""},
                                                  {1400, "score_lef\n"},
                                                  {1450, ""}};
    for (const auto& [ms, text] : writes) {
        if (!text.empty()) {
            rewrite(text);
        }
        look(ms);
    }
    // Settled, a file is taken as it is, and its problem said once.
    EXPECT_EQ(applied, std::vector<std::string>{"score_left=26@1300"});
    EXPECT_EQ(messages, 1u);
    unlink(path.c_str());
}

TEST(BridgeAnswer, ActionsOfExactlyTheShapeOrNothingOfTheAnswer) {
    using Actions = std::vector<BridgeAction>;
    const std::pair<std::string_view, std::variant<Actions, std::string>> cases[] = {
        {R"({"actions":[{"id":"17","action":"overlay_event","overlay":"score_left","text":"A 5","x":1},)"
         R"({"id":"18","action":"webhook","url":1}],"other":null})",
         Actions{{"17", "overlay_event", "score_left", "A 5"}, {"18", "webhook", "", ""}}},
        {" \r\n", Actions{}},
        {R"({"actions":[]})", Actions{}},
        {"{\"actions\":[{\"id\":\"1\",\"action\":\"overlay_event\",\"overlay\":\"a\",\"text\":\"\\u001b\\u00e9\"}]}",
         Actions{{"1", "overlay_event", "a", "\x1b\xC3\xA9"}}},
        {"{\"actions\":[{\"id\":\"1\",\"action\":\"x\",\"text\":\"\xff\"}]}", "it is not JSON"},
        {R"({"actions":[)", "it is not JSON"},
        {R"([{"id":"1"}])", "it is not an object with an \"actions\" array"},
        {R"({"action":[]})", "it is not an object with an \"actions\" array"},
        {R"({"actions":{}})", "it is not an object with an \"actions\" array"},
        {R"({"actions":[1]})", "an action is not an object"},
        {R"({"actions":[{"id":17,"action":"x"}]})",
         "an action has no \"id\" string of at most 256 bytes, or no \"action\" string"},
        {R"({"actions":[{"id":"","action":"x"}]})",
         "an action has no \"id\" string of at most 256 bytes, or no \"action\" string"},
        {R"({"actions":[{"id":"1","action":"overlay_event","overlay":"a"}]})",
         "an overlay_event has no \"overlay\" or \"text\" string"}};
    const auto read_as = [](std::string_view body) -> std::variant<Actions, std::string> {
        const auto answer = read_bridge_answer(body);
        return answer ? std::variant<Actions, std::string>{*answer} : answer.failure();
    };
    for (const auto& [body, read] : cases) {
        EXPECT_EQ(read_as(body), read) << body;
    }
    EXPECT_FALSE(read_bridge_answer(R"({"actions":[{"id":")" + std::string(257, 'i') + R"(","action":"x"}]})"));
    EXPECT_EQ(bridge_acknowledgement("17", std::nullopt), R"({"id":"17","status":"applied"})");
    EXPECT_EQ(bridge_acknowledgement("a\"\xff", "unknown overlay"),
              "{\"id\":\"a\\\"\xEF\xBF\xBD\",\"status\":\"rejected\",\"reason\":\"unknown overlay\"}");
}

// A bridge that repeats its actions: each is settled once, its acknowledgement waits once, and
// neither memory grows past its bound.
TEST(ActionLedger, SettlesEachIdOnceAndKeepsBothQueuesBounded) {
    ActionLedger ledger;
    ledger.settle("1", "applied 1");
    ledger.settle("1", "rejected 1"); // settled already: kept as it was
    EXPECT_EQ(*ledger.settled("1"), "applied 1");
    EXPECT_EQ(ledger.settled("2"), nullptr);
    EXPECT_TRUE(ledger.queue("1") && ledger.queue("1") && ledger.queue("2")); // unsettled: nothing to queue
    EXPECT_EQ(ledger.next(), (std::pair<std::string, std::string>{"1", "applied 1"}));
    ledger.sent();
    EXPECT_EQ(ledger.next(), std::nullopt);
    EXPECT_TRUE(ledger.queue("1")); // sent again, once more
    ledger.sent();
    for (std::size_t n = 0; n < 3 * ActionLedger::remembered_ids; ++n) {
        ledger.settle(std::to_string(n), "ack " + std::to_string(n));
        ledger.queue(std::to_string(n));
    }
    EXPECT_EQ(ledger.settled("0"), nullptr); // forgotten, the oldest first
    EXPECT_EQ(*ledger.settled(std::to_string(3 * ActionLedger::remembered_ids - 1)),
              "ack " + std::to_string(3 * ActionLedger::remembered_ids - 1));
    EXPECT_FALSE(ledger.queue(std::to_string(3 * ActionLedger::remembered_ids - 1)));
    std::size_t waiting = 0;
    for (; ledger.next(); ledger.sent()) {
        EXPECT_EQ(ledger.next()->first, std::to_string(waiting++));
    }
    EXPECT_EQ(waiting, ActionLedger::waiting_acknowledgements);
}

// A flood of refusals gives the first at once, then one line a second with their counts.
TEST(RefusalLines, OneAtOnceThenOneLineASecondWithCounts) {
    RefusalLines lines;
    const auto at = [](int ms) { return RefusalLines::Clock::time_point{milliseconds{ms}}; };
    EXPECT_EQ(lines.refused("1", "x\x1b", "unknown overlay", at(0)),
              "the automation bridge's action 1 for x was refused: unknown overlay.");
    EXPECT_EQ(lines.due(), std::nullopt);
    for (int n = 2; n <= 900; ++n) {
        EXPECT_EQ(lines.refused(std::to_string(n), n % 100 ? "y" : "score_left",
                                n % 100 ? "unknown overlay" : "longer than 255 bytes", at(n / 10)),
                  "");
    }
    EXPECT_EQ(lines.due(), at(1000));
    EXPECT_EQ(lines.line(at(999)), "");
    EXPECT_EQ(lines.line(at(1000)), "899 more actions of the automation bridge were refused: unknown overlay "
                                    "(890), longer than 255 bytes (9); the last was action 900 for score_left.");
    EXPECT_EQ(lines.line(at(3000)), "");
    EXPECT_EQ(lines.refused("901", "y", "unknown overlay", at(1500)), ""); // within a second of the last line
    EXPECT_EQ(lines.line(at(2000)), "the automation bridge's action 901 for y was refused: unknown overlay.");
    EXPECT_EQ(lines.refused("902", "y", "unknown overlay", at(3000)),
              "the automation bridge's action 902 for y was refused: unknown overlay.");
    lines.refused("903", "y", "unknown overlay", at(3100));
    lines.refused("904", "y", "unknown overlay", at(3200));
    EXPECT_EQ(lines.line(at(4000)), "2 more actions of the automation bridge were refused: unknown overlay (2); "
                                    "the last was action 904 for y.");
}

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
    const std::string_view full = "[fifo @ 0xA] FIFO queue full\n";
    EXPECT_EQ(live_lines(plan,
                         {{1, "frame=  1 fps=0.0\r"},
                          {1, "frame=  2 fps=0.0\r"},
                          {64, "[fifo @ 0xA] Error opening rtmp://h/live/k: Connection refused\n"},
                          {64, "[fifo @ 0xA] Recovery failed: Connection refused\n"},
                          {70, "[fifo @ 0xA] Recovery successful\n[fifo @ 0xA] FIFO queue full\n"},
                          // Once a minute while it lasts; the logger's repeat count counts too.
                          {71, "[fifo @ 0xA] FIFO queue full\n    Last message repeated 4 times\n"
                               "[fifo @ 0xC] FIFO queue full\n"},
                          {72, "[tee @ 0xT] Slave muxer #0 failed: No space left on device, "
                               "continuing with 2/3 slaves.\n"},
                          {79, "[fifo @ 0xA] FIFO queue full\n"},
                          {88, "[fifo @ 0xA] FIFO queue full\n    Last message repeated 2 times\n"},
                          {97, full},
                          {106, full},
                          {115, full},
                          {124, full},
                          {133, full},
                          {3600, "[tee @ 0xT] Slave muxer #2 failed: I/O error, continuing with 1/3 slaves.\n"}},
                         3700),
              "Live: streaming to 2 destinations (YouTube, b:9000), recording to rec.mkv.\n"
              "Live: YouTube lost: Connection refused; castora keeps trying.\n"
              "Live: YouTube is back after 6s.\n"
              "Live: YouTube is not keeping up; frames for it are dropped.\n"
              "Live: b:9000 is not keeping up; frames for it are dropped.\n"
              "Live: the recording to rec.mkv stopped: No space left on device. The stream goes on "
              "without it.\nLive: b:9000 keeps up again.\n"
              "Live: YouTube is not keeping up; frames for it are dropped.\n"
              "Live: YouTube keeps up again.\n"
              "Live: b:9000 failed: I/O error; it stays off for this run.\n"
              "Live: YouTube received 1h01m of the stream, 1 drop, 15 overflows.\n"
              "Live: b:9000 received 59m59s of the stream, 1 drop, 0 rejoins, 1 overflow.\n");
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
              "Live: b:1935 received 3s of the stream, 1 drop, 0 rejoins.\n");
    // A line that comes between two quiet moments still finds a destination settled as up.
    LiveWatch watch{two};
    watch.received("frame=  1\r", LiveClock::time_point{std::chrono::seconds{1}});
    const std::string lost = watch.received("[fifo @ 0xA] Error opening srt://a:1: Input/output error\n",
                                            LiveClock::time_point{std::chrono::milliseconds{5500}});
    EXPECT_NE(lost.find("Live: a:1 lost: Input/output error; castora keeps trying.\n"), std::string::npos) << lost;
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
        const std::string built = *build_target_url(url, "SK");
        LiveWatch watch{{{{built, destination_name(built)}}, "", stream_secrets({built}, "SK")}};
        std::string tee_entry;
        append_tee_escaped(tee_entry, built);
        std::string shown_in_tee;
        append_tee_escaped(shown_in_tee, shown);
        EXPECT_EQ(watch.received("Output #0, flv, to '" + built + "':\nslave '" + tee_entry + "'\n", {}),
                  "Output #0, flv, to '" + std::string{shown} + "':\nslave '" + shown_in_tee + "'\n");
    }
}

TEST(StatusView, ProgressLinesOfEveryReleaseAndTheViewAtEveryWidth) {
    using P = FfmpegProgress;
    const std::pair<std::string_view, std::optional<P>> lines[] = {
        {"frame=   38 fps= 25 q=20.0 size=N/A time=00:00:01.36 bitrate=N/A speed=0.877x    ", P{38, 25, 0.877, 0, 0}},
        {"frame=    1 fps=0.0 q=0.0 size=N/A time=00:00:00.00 bitrate=N/A speed=   0x    ", P{1, 0, 0, 0, 0}},
        {"frame=   28 fps= 28 q=19.0 size=N/A time=00:00:01.40 bitrate=N/A dup=2 drop=13 speed= 1.4x "
         "elapsed=0:00:01.00",
         P{28, 28, 1.4, 2, 13}},
        {"frame=    0 fps=0.0 q=0.0 Lsize=       0KiB time=N/A bitrate=N/A speed=N/A elapsed=0:00:00.00",
         P{0, 0, std::nullopt, 0, 0}},
        {"frame=N/A fps=N/A", P{std::nullopt, std::nullopt, std::nullopt, 0, 0}},
        {"[fifo @ 0x1] frame=1", std::nullopt}};
    for (const auto& [line, read] : lines) {
        EXPECT_EQ(read_progress_line(line), read) << line;
    }
    LiveStatus status{RunState::live,
                      std::chrono::seconds{725},
                      "standard_720p",
                      30,
                      P{900, 29.9, 0.82, 3, 45},
                      {{"YouTube", DestinationHealth::up, 0}, {"Twitch (backup stream)", DestinationHealth::lost, 1}},
                      "rec.mkv",
                      152300000,
                      2100};
    const std::vector<std::string> wide = render_status(status, 200, false);
    EXPECT_EQ(wide, (std::vector<std::string>{
                        "LIVE 12m05s  29.9/30 fps  speed 0.82x  dropped 45  duplicated 3  standard_720p",
                        "  YouTube             up          0 overflows",
                        "  Twitch (backup stream)  lost        1 overflow", "  rec rec.mkv  152.3 MB  at 2.1 Mb/s"}));
    EXPECT_EQ(render_status(status, 80, false), wide);
    // A line that fills every column but the last is kept whole; one column less drops a field.
    EXPECT_EQ(render_status(status, wide[0].size() + 1, false)[0], wide[0]);
    EXPECT_EQ(render_status(status, wide[0].size(), false)[0],
              "LIVE 12m05s  29.9/30 fps  speed 0.82x  dropped 45  duplicated 3");
    const std::vector<std::string> narrow = render_status(status, 40, false);
    EXPECT_EQ(narrow[0], "LIVE 12m05s  29.9/30 fps  speed 0.82x");
    EXPECT_EQ(narrow[2], "  Twitch (backup stream)  lost");
    for (const std::string& line : narrow) {
        EXPECT_LT(line.size(), 40u) << line;
    }
    const std::string coloured = render_status(status, 80, true)[0];
    EXPECT_EQ(coloured.substr(0, 9) + coloured.substr(coloured.find("speed") - 5, 5), "\x1b[32mLIVE\x1b[31m");
    status.state = RunState::restarting;
    status.progress.reset();
    EXPECT_EQ(render_status(status, 80, false)[0],
              "RESTARTING 12m05s  --/30 fps  speed --  dropped 0  duplicated 0  standard_720p");
}

TEST(HealthWarnings, EachCauseIsNamedWithWhatToDoAtMostOnceAMinuteAndWhenItIsOver) {
    using std::chrono::seconds;
    HealthWarnings warnings{*find_profile("standard_720p")};
    const HealthWarnings::Clock::time_point start{};
    std::vector<std::string> said;
    const auto at = [&](int second, std::optional<FfmpegProgress> progress) {
        if (progress) {
            warnings.progress(start + seconds{second}, *progress);
        }
        for (std::string& line : warnings.check(start + seconds{second})) {
            said.push_back(std::to_string(second) + " " + line);
        }
    };
    for (int second = 0; second <= 80; ++second) { // slow from 5 s on, back at 80 s
        at(second, FfmpegProgress{second * 30, 30, second < 5 || second >= 80 ? 1.0 : 0.8, 0, 0});
    }
    for (int second = 81; second <= 90; ++second) { // frames stop at 82 s, come again at 90 s
        at(second,
           second == 82 || second == 90 ? std::optional{FfmpegProgress{second * 30, 30, 1.0, 0, 0}} : std::nullopt);
    }
    for (int second = 91; second <= 110; ++second) { // drops grow by 5 a second
        at(second, FfmpegProgress{second * 30, 30, 1.0, 0, (second - 90) * 5});
    }
    const std::string lighter = "this Mac is not keeping up with standard_720p: FFmpeg encodes at 0.80x of real time. "
                                "Use a lighter profile: --profile balanced_480p (profile=balanced_480p in the studio "
                                "config).";
    EXPECT_EQ(said, (std::vector<std::string>{
                        "15 " + lighter, "75 " + lighter, "80 the encoder keeps up again.",
                        "87 no new frame from the camera or screen for 5s: it stopped delivering (another app may be "
                        "using the camera).",
                        "90 the camera or screen delivers frames again.",
                        "96 this Mac is not keeping up with standard_720p: FFmpeg encodes at 1.00x of real time and "
                        "has dropped 30 frames. Use a lighter profile: --profile balanced_480p (profile=balanced_480p "
                        "in the studio config)."}));
    EXPECT_EQ(warnings.overloads_met() * 10 + warnings.stalls_met(), 21);
    HealthWarnings lightest{*find_profile("low_power_360p")};
    lightest.progress(start, FfmpegProgress{1, 24, 0.5, 0, 0});
    lightest.progress(start + seconds{10}, FfmpegProgress{240, 24, 0.5, 0, 0});
    const auto lines = lightest.check(start + seconds{10});
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("it is already the lightest profile"), std::string::npos);
}

TEST(StatusView, ARedrawReplacesTheLastViewWhateverTheTerminalsWidthBecame) {
    std::string written;
    std::string erase_at_end;
    TerminalView view{[&](std::string_view bytes) { written += bytes; },
                      [&](std::string_view sequence) { erase_at_end = sequence; }};
    view.draw({std::string(30, 'a'), "b"}, 80);
    EXPECT_EQ(std::exchange(written, ""), std::string(30, 'a') + "\nb\n");
    EXPECT_EQ(erase_at_end, "\r\x1b[2A\x1b[J");
    view.above("Live: x\n", 20); // narrower: the long line now takes two rows
    EXPECT_EQ(std::exchange(written, ""), "\r\x1b[3A\x1b[JLive: x\n" + std::string(30, 'a') + "\nb\n");
    view.erase(80);
    EXPECT_EQ(std::make_pair(written, erase_at_end), std::make_pair(std::string{"\r\x1b[2A\x1b[J"}, std::string{}));
}

// Far more cameras than 64 KiB hold: the newest stay, the oldest go, and a file that grew
// larger before still gives its newest entries.
TEST(CameraMemory, KeepsItsNewestEntriesWithinItsSize) {
    // The user's cache folder of this process from now on: no other test here uses it.
    const std::string home = testing::TempDir() + "castora-memory-" + std::to_string(getpid());
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
    const CaptureMode profile{640, 360, 24};
    const auto camera = [](int n) { return "camera " + std::to_string(n) + std::string(100, '.'); };
    for (int n = 0; n < 1000; ++n) {
        remember_camera_mode(camera(n), profile, CaptureMode{640, 480, 30.0 + n % 2});
    }
    remember_camera_mode(camera(0), profile, CaptureMode{1280, 720, 30}); // again: now the newest
    const std::string file = home + "/cache/castora/camera-modes";
    EXPECT_LE(std::filesystem::file_size(file), 65536u);
    EXPECT_EQ(remembered_camera_mode(camera(999), profile), (CaptureMode{640, 480, 31}));
    EXPECT_EQ(remembered_camera_mode(camera(0), profile), (CaptureMode{1280, 720, 30}));
    EXPECT_EQ(remembered_camera_mode(camera(300), profile), std::nullopt);
    EXPECT_EQ(remembered_camera_mode(camera(999), CaptureMode{854, 480, 30}), std::nullopt);
    remember_camera_mode(camera(999), profile, std::nullopt);
    EXPECT_EQ(remembered_camera_mode(camera(999), profile), std::nullopt);
    EXPECT_EQ(remembered_camera_mode(camera(998), profile), (CaptureMode{640, 480, 30}));
    {
        std::ofstream grown{file, std::ios::app};
        for (int n = 0; n < 1000; ++n) {
            grown << "320x240@15\t640x360@24\told " << n << std::string(100, '.') << "\n";
        }
    }
    EXPECT_EQ(remembered_camera_mode("old 999" + std::string(100, '.'), profile), (CaptureMode{320, 240, 15}));
    std::filesystem::remove_all(home);
}

TEST(RunLogs, EachRunGetsAPrivateLogAndOnlyTheLast20AreKept) {
    const std::string folder = testing::TempDir() + "castora-logs-" + std::to_string(getpid()) + "/castora";
    std::filesystem::remove_all(std::filesystem::path{folder}.parent_path());
    std::filesystem::create_directories(folder);
    for (int i = 0; i < 25; ++i) { // older runs, and a file that is no log
        std::ofstream{folder + "/ffmpeg-20260101-0000" + (i < 10 ? "0" : "") + std::to_string(i) + "-1.log"} << i;
    }
    std::ofstream{folder + "/notes.txt"} << "mine";
    const auto log = create_run_log(folder);
    ASSERT_TRUE(log);
    close(log->fd);
    std::vector<std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator{folder}) {
        kept.push_back(entry.path().filename().string());
    }
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept.size(), 21u);
    EXPECT_EQ(kept.front(), "ffmpeg-20260101-000006-1.log"); // the five oldest are gone
    EXPECT_EQ(kept.back(), "notes.txt");
    EXPECT_EQ(std::filesystem::status(log->path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::filesystem::remove_all(std::filesystem::path{folder}.parent_path());
}

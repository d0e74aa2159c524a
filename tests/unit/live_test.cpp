#include "automation/bridge_answer.h"
#include "live/overlay_file.h"
#include "live/overlay_state.h"

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

namespace {

using std::chrono::milliseconds;
const OverlayState::Clock::time_point start{};

} // namespace

TEST(OverlayState, ChangesOnlyTheBoxesDrawnAndSumsUpABurstOnceASecond) {
    OverlayState state{{"Title", std::nullopt, "A 0", "B 0", "Ours"}};
    const std::tuple<std::string_view, std::string, std::string, std::optional<std::size_t>> changes[] = {
        {"score_left", "A 1", "", 2},
        {"score_left", "A 1", "", std::nullopt}, // unchanged: nothing to write
        {"overlay_subtitle", "x", "not drawn in this scene, and FFmpeg cannot add a box to a running stream",
         std::nullopt},
        {"../x", "x", "unknown overlay", std::nullopt},
        {"score_left", std::string(256, 'x'), "longer than 255 bytes", std::nullopt},
        {"score_left", "\xC3(", "not valid UTF-8", std::nullopt},
        {"overlay_title", "It's 1:0, [live] %{pts}\\\n\t\x1b[2J", "", 0},
        {"watermark", "", "", 4},
        {"score_right", "\n", "", 3},
        {"score_left", "A 2", "", 2}};
    for (const auto& [key, text, refusal, rewrite] : changes) {
        const OverlayState::Outcome outcome = state.set(key, text);
        EXPECT_EQ(std::tie(outcome.refusal, outcome.rewrite), std::tie(refusal, rewrite)) << key;
    }
    EXPECT_EQ(state.text(0), "It's 1:0, [live] %{pts}\\[2J");
    EXPECT_EQ(state.text(4), "Brevalo");
    EXPECT_EQ(state.status_line(start), "overlay_title is now \"It's 1:0, [live] %{pts}\\[2J\"; score_left changed "
                                        "2 times, now \"A 2\"; score_right is now blank; watermark is now \"Brevalo\"");
    state.set("score_right", "B 1");
    EXPECT_EQ(state.status_line(start + milliseconds{999}), "");
    EXPECT_EQ(state.status_line(start + milliseconds{1000}), "score_right is now \"B 1\"");
    EXPECT_EQ(state.status_line(start + milliseconds{5000}), "");
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
        return text == "bad" ? std::string{"refused"} : std::string{};
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
    for (const auto& [body, read] : cases) {
        EXPECT_EQ(read_bridge_answer(body), read) << body;
    }
    EXPECT_EQ(read_bridge_answer(R"({"actions":[{"id":")" + std::string(257, 'i') + R"(","action":"x"}]})").index(),
              1u);
    EXPECT_EQ(bridge_acknowledgement("17", ""), R"({"id":"17","status":"applied"})");
    EXPECT_EQ(bridge_acknowledgement("a\"\xff", "unknown overlay"),
              "{\"id\":\"a\\\"\xEF\xBF\xBD\",\"status\":\"rejected\",\"reason\":\"unknown overlay\"}");
}

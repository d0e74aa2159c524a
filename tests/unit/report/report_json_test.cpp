#include "cli/options.h"
#include "report/report_json.h"

#include <gtest/gtest.h>

TEST(EscapeReportMember, EscapesDropsAndCutsWithoutSplitting) {
    const struct {
        std::string_view text;
        std::size_t limit;
        std::string_view expected;
    } cases[] = {
        {"say \"hi\" \\ now", 100, "say \\\"hi\\\" \\\\ now"},
        {"line\nfeed\ttab\x7f", 100, "linefeedtab"},
        {"caf\xC3\xA9 \xFF\xC0\xAFok", 100, "caf\xC3\xA9 ok"},
        {"abcd\"", 5, "abcd"},
        {"abc\xE2\x82\xAC", 5, "abc"},
        {"abc\xE2\x82\xAC", 6, "abc\xE2\x82\xAC"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(escape_report_member(c.text, c.limit), c.expected) << c.text;
    }
    EXPECT_EQ(escape_report_member(std::string(1030, 'm'), max_message_bytes).size(), 1023u);
    EXPECT_EQ(escape_report_member(std::string(1022, 'm') + "\"", max_message_bytes).size(), 1022u);
}

TEST(ComposeReportJson, MembersInTheirFixedOrder) {
    StudioOptions options;
    options.profile_key = std::string(130, 'p');
    EXPECT_EQ(compose_report_json(&options, {"ffmpeg_error", "error", -1, "", "stream", "m"}),
              "{\"event_type\":\"ffmpeg_error\",\"severity\":\"error\",\"app_version\":\"0.2.1\","
              "\"app_platform\":\"macos\",\"architecture\":\"universal\",\"exit_code\":-1,"
              "\"signal_name\":\"\",\"phase\":\"stream\",\"profile_key\":\"" +
                  std::string(119, 'p') + "\",\"scene_key\":\"\",\"message\":\"m\"}\n");
    EXPECT_EQ(compose_report_json(nullptr, {}),
              "{\"event_type\":\"error\",\"severity\":\"error\",\"app_version\":\"0.2.1\","
              "\"app_platform\":\"macos\",\"architecture\":\"universal\",\"exit_code\":0,"
              "\"signal_name\":\"\",\"phase\":\"\",\"profile_key\":\"\",\"scene_key\":\"\","
              "\"message\":\"\"}\n");
}

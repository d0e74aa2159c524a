#include "core/options.h"
#include "report/report_json.h"

#include <gtest/gtest.h>

TEST(ReportJson, MembersAreEscapedCutAndKeptValidUtf8) {
    const struct {
        std::string text;
        std::size_t limit;
        std::string expected;
    } cases[] = {{"say \"hi\" \\ now", 100, "say \\\"hi\\\" \\\\ now"},
                 {"line\nfeed\ttab\x7f\x1f", 100, "linefeedtab"},
                 {"caf\xC3\xA9 \xFF\xC0\xAFok", 100, "caf\xC3\xA9 ok"},
                 {"abcd\"", 5, "abcd"},
                 {"abc\"", 5, "abc\\\""},
                 {"abc\xE2\x82\xAC", 5, "abc"},
                 {"abc\xE2\x82\xAC", 6, "abc\xE2\x82\xAC"},
                 {std::string(1030, 'm'), max_message_bytes, std::string(1023, 'm')},
                 {std::string(1022, 'm') + "\"", max_message_bytes, std::string(1022, 'm')}};
    for (const auto& c : cases) {
        EXPECT_EQ(escape_report_member(c.text, c.limit), c.expected) << c.text.substr(0, 20);
    }
}

TEST(ReportJson, OneLineWithEveryMemberInItsPlace) {
    StudioOptions options;
    options.profile_key = std::string(130, 'p');
    options.scene_key = std::string(121, 's');
    EXPECT_EQ(compose_report_json(options, {"ffmpeg_error", "error", -1, std::string(90, 'n'),
                                            std::string(170, 'f'), "m\""}),
              "{\"event_type\":\"ffmpeg_error\",\"severity\":\"error\",\"app_version\":\"0.2.1\","
              "\"app_platform\":\"macos\",\"architecture\":\"universal\",\"exit_code\":-1,"
              "\"signal_name\":\"" +
                  std::string(79, 'n') + "\",\"phase\":\"" + std::string(159, 'f') +
                  "\",\"profile_key\":\"" + std::string(119, 'p') + "\",\"scene_key\":\"" +
                  std::string(119, 's') + "\",\"message\":\"m\\\"\"}\n");
}

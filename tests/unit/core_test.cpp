#include "core/option_table.h"
#include "core/utf8.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace {

std::string read_source_file(const std::string& relative) {
    return (std::stringstream{} << std::ifstream{std::string{CASTORA_SOURCE_DIR} + "/" + relative}.rdbuf()).str();
}

std::set<std::string> matches(const std::string& text, const std::string& pattern) {
    std::set<std::string> found;
    const std::regex re{pattern};
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it) {
        found.insert((*it)[1].str());
    }
    return found;
}

} // namespace

TEST(OptionTable, AMistypedOptionSuggestsTheClosestOneOrNone) {
    const std::pair<std::string_view, std::string_view> meant[] = {
        {"--stream-kye", "--stream-key"}, {"--stream_key", "--stream-key"}, {"--HELP", "--help"},
        {"-profile", "--profile"},        {"--sceen", "--scene"},           {"--recconect", "--reconnect"},
        {"--reconect", "--reconnect"},    {"--dry", "--dry-run"},           {"--stream", "--stream-key"}};
    for (const auto& [typed, option] : meant) {
        const OptionSpec* closest = closest_option(typed);
        EXPECT_EQ(closest != nullptr ? closest->name : "", option) << typed;
    }
    for (const std::string_view far : {"--rec", "--list", "--bogus", "-hx", "--", "show.mkv", "--scream-kyes"}) {
        EXPECT_EQ(closest_option(far), nullptr) << far;
    }
    EXPECT_TRUE(is_option_name("--reconnect") && !is_option_name("-h") && !is_option_name("--Reconnect"));
}

TEST(Utf8, SequencesAndTheTextsShownOnATerminal) {
    for (const std::string_view whole : {"A", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x8E\xA5", "\xED\x9F\xBF",
                                         "\xF4\x8F\xBF\xBF", "\xE0\xA0\x80", "\xF0\x90\x80\x80", "\xC2\x80"}) {
        EXPECT_EQ(utf8_sequence_length(whole), whole.size()) << testing::PrintToString(whole);
    }
    // Stray, overlong, surrogate, beyond U+10FFFF, truncated, interrupted.
    for (const std::string_view broken : {"\x80", "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xED\xA0\x80",
                                          "\xF4\x90\x80\x80", "\xE2\x82", "\xC3(", "\xE2(\xAC", "\xFF", ""}) {
        EXPECT_EQ(utf8_sequence_length(broken), 0u) << testing::PrintToString(broken);
    }
    const std::pair<std::string_view, std::string_view> shown[] = {
        {"Grüße 🎉 ok", "Grüße 🎉 ok"},
        {"a\x1b]0;t\x07z\x7f\n", "a]0;tz"},
        {"c1\xC2\x9Bq\xC2\x80\xC2\xA0raw\x9B\xFF\xC3", "c1q\xC2\xA0raw"},
        {"\xE2\x80\xAEx\xE2\x80\xAA\xE2\x81\xA6q\xE2\x81\xA9\xE2\x80\xA9\xE2\x81\xAA", "xq\xE2\x80\xA9\xE2\x81\xAA"}};
    for (const auto& [text, safe] : shown) {
        EXPECT_EQ(terminal_safe(text), safe) << testing::PrintToString(text);
    }
}

// Every option and key of the table, and no other, appears in the documents a user reads.
TEST(OptionTable, CompletionsManPageAndSampleConfigNameExactlyItsOptionsAndKeys) {
    std::set<std::string> names;
    std::set<std::string> keys;
    for (const OptionSpec& row : option_table()) {
        names.emplace(row.name);
        if (!row.config_key.empty()) {
            keys.emplace(row.config_key);
        }
    }
    const std::string option = R"((--[a-z][a-z-]*[a-z]))";
    std::string man = read_source_file("docs/castora.1");
    man = std::regex_replace(man, std::regex{R"(\\-)"}, "-");
    man = std::regex_replace(man, std::regex{R"(\\f[BIRP])"}, "");
    EXPECT_EQ(matches(read_source_file("completions/castora.bash"), option), names);
    EXPECT_EQ(matches(read_source_file("completions/_castora"), option), names);
    EXPECT_EQ(matches(man, option), names);
    for (const std::string& key : keys) {
        EXPECT_NE(man.find(key), std::string::npos) << key;
    }
    EXPECT_EQ(matches(read_source_file("tests/golden/sample_config.txt"), R"((?:^|\n)(\w+)=)"), keys);
}

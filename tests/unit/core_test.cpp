#include "core/option_table.h"
#include "core/utf8.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace {

std::string read_source_file(const std::string& relative) {
    std::ifstream file{std::string{CASTORA_SOURCE_DIR} + "/" + relative};
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::set<std::string> matches(const std::string& text, const std::string& pattern) {
    std::set<std::string> found;
    const std::regex re{pattern};
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator();
         ++it) {
        found.insert((*it)[1].str());
    }
    return found;
}

} // namespace

TEST(Utf8SequenceLength, AcceptsWellFormedAndRejectsMalformedSequences) {
    const struct {
        std::string_view bytes;
        std::size_t expected;
    } cases[] = {{"A", 1},
                 {"\xC3\xA9", 2},
                 {"\xE2\x82\xAC", 3},
                 {"\xF0\x9F\x8E\xA5", 4},
                 {"\x80", 0},
                 {"\xC0\xAF", 0},
                 {"\xE0\x80\xAF", 0},
                 {"\xED\xA0\x80", 0},
                 {"\xF4\x90\x80\x80", 0},
                 {"\xE2\x82", 0},
                 {"\xC3(", 0},
                 {"\xE2(\xAC", 0},
                 {"\xFF", 0},
                 {"", 0},
                 {"\xED\x9F\xBF", 3},
                 {"\xF4\x8F\xBF\xBF", 4},
                 {"\xE0\xA0\x80", 3},
                 {"\xF0\x90\x80\x80", 4},
                 {"\xC2\x80", 2},
                 {"\xC1\xBF", 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(utf8_sequence_length(c.bytes), c.expected) << testing::PrintToString(c.bytes);
    }
}

TEST(TerminalSafe, KeepsVisibleTextAndDropsWhatCouldDriveTheTerminal) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"Grüße 🎉 ok", "Grüße 🎉 ok"},
        {"a\x1b]0;t\x07"
         "b\x7f\n",
         "a]0;tb"},
        {"c1\xC2\x9B"
         "2J\xC2\x80\xC2\xA0",
         "c12J\xC2\xA0"},
        {"raw\x9B\xFF\xC3", "raw"},
        {"\xE2\x80\xAE"
         "evil\xE2\x80\xAA\xE2\x81\xA6\xE2\x81\xA9\xE2\x80\xA9",
         "evil\xE2\x80\xA9"},
        {"\xE2\x80\xA9\xE2\x81\xAA", "\xE2\x80\xA9\xE2\x81\xAA"}};
    for (const auto& [text, shown] : cases) {
        EXPECT_EQ(terminal_safe(text), shown) << testing::PrintToString(text);
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
    // The starter config sets every key but the target file, which it leaves to the user.
    std::set<std::string> sample_keys =
        matches(read_source_file("tests/golden/sample_config.txt"), R"((?:^|\n)(\w+)=)");
    sample_keys.insert("target_file");
    EXPECT_EQ(sample_keys, keys);
}

#include "update/json_string.h"

#include <gtest/gtest.h>

TEST(ExtractJsonString, FindsStringMembersByPlainSearch) {
    const struct {
        std::string_view text;
        std::size_t capacity;
        bool found;
        std::string_view value;
    } cases[] = {
        {R"({"latest_version": "0.3.0"})", 80, true, "0.3.0"},
        {"{\"latest_version\"\n:\t\r\n \"1\"}", 80, true, "1"},
        {R"({"a":{"latest_version":"nested"}})", 80, true, "nested"},
        {R"({"latest_version": 3})", 80, false, ""},
        {R"({"latest_version": ""})", 80, false, ""},
        {R"({"latest_version": null})", 80, false, ""},
        {R"({"other": "x"})", 80, false, ""},
        {R"({"latest_version" "x"})", 80, false, ""},
        {R"({"latest_version": "a\"b\\c\n\u0041"})", 80, true, "a\"b\\cnu0041"},
        {R"({"latest_version": "abc)", 80, true, "abc"},
        {R"({"latest_version": "ab\)", 80, true, "ab\\"},
        {R"({"latest_version": "abcdef"})", 4, true, "abc"},
        {std::string_view{"{\"latest_version\": \"a\0b\"}", 25}, 80, true, "a"},
    };
    for (const auto& c : cases) {
        std::string out = "stale";
        EXPECT_EQ(extract_json_string(c.text, "latest_version", out, c.capacity), c.found)
            << c.text;
        EXPECT_EQ(out, c.value) << c.text;
    }
}

#include "update/download.h"
#include "update/json_string.h"
#include "update/service_url.h"
#include "update/update_check.h"
#include "update/versions.h"

#include <gtest/gtest.h>

TEST(ServiceUrl, AcceptsOnlyHttpsOfAtMost1023QuotableBytes) {
    const std::string longest = "https://h/" + std::string(1012, 'a') + "~";
    EXPECT_TRUE(is_safe_service_url(longest.c_str()) && is_safe_service_url("https://a.b/u?a=1&b=%20+c,d#f_-."));
    for (const std::string& bad :
         {longest + "a", std::string{""}, std::string{"https:/"}, std::string{"https://h/\x7f"},
          std::string{"https://h/a b"}, std::string{"https://h/caf\xC3\xA9"}}) {
        EXPECT_FALSE(is_safe_service_url(bad.c_str())) << bad;
    }
    EXPECT_FALSE(is_safe_service_url(nullptr));
}

TEST(UpdateAnswer, StringMembersByPlainSearchAndVersionsByNumbers) {
    const std::pair<std::string_view, std::string_view> found[] = {
        {R"({"latest_version": "0.3.0"})", "0.3.0"},
        {"{\"latest_version\"\n:\t\r\n \"1\"}", "1"},
        {R"({"a":{"latest_version":"nested"}})", "nested"},
        {R"({"latest_version": "a\"b\\c\u0"})", "a\"b\\cu0"},
        {R"({"latest_version": "abc)", "abc"},
        {R"({"latest_version": "ab\)", "ab\\"},
        {R"({"latest_version": "0123456789)", "01234567"},
        {std::string_view{"{\"latest_version\": \"a\0b\"}", 25}, "a"},
        {R"({"latest_version": 3})", ""},
        {R"({"latest_version": ""})", ""},
        {R"({"latest_version":)", ""},
        {R"({"other": "x"})", ""},
        {R"({"latest_version" "x"})", ""}};
    for (const auto& [text, value] : found) {
        std::string out = "stale";
        EXPECT_EQ(extract_json_string(text, "latest_version", out, 9), !value.empty()) << text;
        EXPECT_EQ(out, value) << text;
    }
    for (const std::string_view newer :
         {"0.2.10", "0.3", "1", "0.2.1.1", "0.2.1-rc2", "release-0.3.0", "0.2.99999999999999"}) {
        EXPECT_LT(compare_versions("0.2.1", newer), 0) << newer;
    }
    for (const std::string_view same : {"0.2.1", "0.2.1.0", "0.2.1.0.7", "0.2.1-beta", "v0..2..1"}) {
        EXPECT_EQ(compare_versions("0.2.1", same), 0) << same;
    }
    for (const std::string_view older : {"0.2", "0.1.9", "", "abc", "0.2.0.9"}) {
        EXPECT_GT(compare_versions("0.2.1", older), 0) << older;
    }
    EXPECT_EQ(compare_versions("1.2.3.4294967296", "1.2.3.2147483647"), 0);
}

TEST(UpdateAnswer, QueryPackageNameVersionTextAndDigest) {
    const std::string query = "current_version=0.2.1&platform=macos&architecture=universal"
                              "&channel=stable";
    EXPECT_EQ(update_query_url("https://h/u"), "https://h/u?" + query);
    EXPECT_EQ(update_query_url("https://h/u?"), "https://h/u?&" + query);
    EXPECT_EQ(update_query_url("https://h/" + std::string(1020, 'a')).size(), 1023u);
    EXPECT_EQ(package_file_name("0.3.0"), "brevalo-studio-update-0.3.0-macos-universal.tar.gz");
    EXPECT_EQ(package_file_name(""), "brevalo-studio-update-latest-macos-universal.tar.gz");
    EXPECT_EQ(package_file_name(std::string(300, '9')).size(), 255u);
    for (const std::string_view ok : {"0.3.0", "1.0.0-rc_1+build", "...", "AZaz09"}) {
        EXPECT_TRUE(is_safe_version_text(ok)) << ok;
    }
    for (const std::string_view bad : {".", "..", "1'2", "a/b", "$(id)", "1 2", "1\x1b[2J", "é"}) {
        EXPECT_FALSE(is_safe_version_text(bad)) << bad;
    }
    EXPECT_EQ(normalized_sha256(std::string(32, 'A') + std::string(32, '9')),
              std::string(32, 'a') + std::string(32, '9'));
    for (const std::string& bad :
         {std::string(63, 'a'), std::string(65, 'a'), std::string(63, 'a') + "g", std::string(63, 'a') + "/"}) {
        EXPECT_EQ(normalized_sha256(bad), "") << bad;
    }
}

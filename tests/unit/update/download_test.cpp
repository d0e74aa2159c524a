#include "update/download.h"
#include "update/update_check.h"

#include <gtest/gtest.h>

TEST(Download, PackageNameFromTheVersion) {
    EXPECT_EQ(package_file_name("0.3.0"), "brevalo-studio-update-0.3.0-macos-universal.tar.gz");
    EXPECT_EQ(package_file_name(""), "brevalo-studio-update-latest-macos-universal.tar.gz");
}

TEST(Download, VersionTextsThatMayBecomePartOfAFileName) {
    for (const std::string_view ok : {"0.3.0", "1.0.0-rc_1+build", "..."}) {
        EXPECT_TRUE(is_safe_version_text(ok)) << ok;
    }
    for (const std::string_view bad : {".", "..", "1'2", "a/b", "$(id)", "1 2", "1\x1b[2J", "é"}) {
        EXPECT_FALSE(is_safe_version_text(bad)) << bad;
    }
}

TEST(Download, DigestMustBe64HexDigitsAndIsLowerCased) {
    const std::string upper(64, 'A');
    EXPECT_EQ(normalized_sha256(upper), std::string(64, 'a'));
    EXPECT_EQ(normalized_sha256(std::string(63, 'a')), "");
    EXPECT_EQ(normalized_sha256(std::string(65, 'a')), "");
    EXPECT_EQ(normalized_sha256(std::string(63, 'a') + "g"), "");
}

TEST(UpdateCheck, QueryUrlAndPrintableServiceTexts) {
    EXPECT_EQ(
        update_query_url("https://h/u"),
        "https://h/u?current_version=0.2.1&platform=macos&architecture=universal&channel=stable");
    EXPECT_EQ(
        update_query_url("https://h/u?"),
        "https://h/u?&current_version=0.2.1&platform=macos&architecture=universal&channel=stable");
    EXPECT_EQ(update_query_url("https://h/" + std::string(1020, 'a')).size(), 1023u);
    EXPECT_EQ(printable_service_text("1.0\x1b[2J\x7f\n"), "1.0[2J");
}

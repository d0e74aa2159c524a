#include "update/versions.h"

#include <gtest/gtest.h>

TEST(CompareVersions, FourNumericComponentsSeparatedByAnyNonDigits) {
    for (const std::string_view newer :
         {"0.2.10", "0.3", "1", "0.2.1.1", "0.2.1-rc2", "release-0.3.0"}) {
        EXPECT_LT(compare_versions("0.2.1", newer), 0) << newer;
    }
    for (const std::string_view same :
         {"0.2.1", "0.2.1.0", "0.2.1.0.7", "0.2.1-beta", "v0..2..1"}) {
        EXPECT_EQ(compare_versions("0.2.1", same), 0) << same;
    }
    for (const std::string_view older : {"0.2", "0.1.9", "", "abc"}) {
        EXPECT_GT(compare_versions("0.2.1", older), 0) << older;
    }
    EXPECT_LT(compare_versions("0.2.1", "0.2.99999999999999999999"), 0);
}

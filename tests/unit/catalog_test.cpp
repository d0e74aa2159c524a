#include "catalog/profiles.h"

#include <gtest/gtest.h>

TEST(Catalog, EmptyProfileKeyMeansBalanced) {
    EXPECT_EQ(find_profile("")->key, "balanced_480p");
}

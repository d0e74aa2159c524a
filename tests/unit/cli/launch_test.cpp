#include "cli/launch.h"

#include <gtest/gtest.h>

TEST(LocalBridgeUrl, OnlyHttpsOrTheLocalHostItself) {
    for (const std::string_view ok :
         {"https://anything.example/x", "https://", "http://localhost", "http://localhost:18444/a",
          "http://127.0.0.1:18444/brevalo/actions", "http://[::1]:8/a", "http://localhost/a",
          "http://localhost?q", "http://localhost#f"}) {
        EXPECT_TRUE(is_local_bridge_url(ok)) << ok;
    }
    for (const std::string_view bad :
         {"http://localhostx:1/queue", "http://127.0.0.1.evil.example/", "http://192.168.1.5/ack",
          "http://[::1]x/", "HTTP://localhost/", "ftp://localhost/", "",
          "http://localhost@evil/"}) {
        EXPECT_FALSE(is_local_bridge_url(bad)) << bad;
    }
}

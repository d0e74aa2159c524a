#include "cli/options.h"
#include "cli/sample_config.h"
#include "config/config_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

TEST(SampleConfig, LoadsBackIntoADestinationARecordingAndTheDefaultEndpoints) {
    const std::string path = "/tmp/castora-sample-" + std::to_string(getpid()) + ".conf";
    ASSERT_EQ(write_sample_config(path), 0);
    StudioOptions options;
    options.update_url = "https://elsewhere/";
    ASSERT_TRUE(load_config_file(options, path));
    std::remove(path.c_str());
    EXPECT_EQ(options.ingest_url, "rtmp://live.example.com/live");
    EXPECT_EQ(options.targets.size(), 1u);
    EXPECT_EQ(options.record_file, "brevalo-local-recording.mkv");
    EXPECT_EQ(options.update_url, default_update_url);
    EXPECT_TRUE(options.reconnect);
    EXPECT_EQ(write_sample_config("/nonexistent-dir/x.conf"), 2);
}

TEST(SampleConfig, AWriteThatFailsAfterOpeningIsAnErrorNotSuccess) {
    // /dev/full opens fine and refuses every write with "No space left on device".
    if (access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "no /dev/full here";
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(write_sample_config("/dev/full"), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Could not write sample config /dev/full: " + std::string(std::strerror(ENOSPC)) +
                  "\n");
}

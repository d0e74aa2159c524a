#include "publish/recording_path.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

TEST(RecordingPath, RefusesSeparatorsLineBreaksAndOverLongPaths) {
    EXPECT_TRUE(is_valid_record_path(""));
    EXPECT_TRUE(is_valid_record_path("Bob's [show.mkv"));
    EXPECT_TRUE(is_valid_record_path(std::string(1023, 'r')));
    for (const std::string& bad : {std::string{"a|b"}, std::string{"a]b"}, std::string{"a\nb"},
                                   std::string{"a\rb"}, std::string(1024, 'r')}) {
        EXPECT_FALSE(is_valid_record_path(bad)) << bad.size();
    }
}

TEST(RecordingPath, NumberGoesBeforeTheExtensionOfTheFileName) {
    EXPECT_EQ(numbered_recording_path("rec.mkv", 1), "rec-1.mkv");
    EXPECT_EQ(numbered_recording_path("rec", 2), "rec-2");
    EXPECT_EQ(numbered_recording_path("a.b/rec", 1), "a.b/rec-1");
    EXPECT_EQ(numbered_recording_path("dir/.hidden", 1), "dir/.hidden-1");
    EXPECT_EQ(numbered_recording_path("show.final.mkv", 3), "show.final-3.mkv");
}

TEST(RecordingPath, FreeNameSkipsEveryExistingRecording) {
    const auto dir = std::filesystem::temp_directory_path() / "castora-recording-test";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "rec.mkv").string();
    EXPECT_EQ(free_recording_path(path), path);
    std::ofstream{path} << "x";
    std::ofstream{(dir / "rec-1.mkv").string()} << "x";
    EXPECT_EQ(free_recording_path(path), (dir / "rec-2.mkv").string());
    std::filesystem::remove_all(dir);
}

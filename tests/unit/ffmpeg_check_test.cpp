#include "ffmpeg/components.h"
#include "ffmpeg_check/ffmpeg_check.h"
#include "ffmpeg_check/findings_cache.h"
#include "files/private_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <variant>

namespace {

std::string names(const std::vector<const Component*>& components) {
    std::string text;
    for (const Component* component : components) {
        text += std::string{component->name} + " ";
    }
    return text;
}

// Listings as FFmpeg 5.1 and 9.0 write them, cut down to a few parts each.
const std::string version = "ffmpeg version 9.0.2 Copyright (c) 2000-2026 the FFmpeg developers\nbuilt with gcc\n";
const std::string devices =
    "Devices:\n D. = Demuxing supported\n .E = Muxing supported\n --\n DE alsa  ALSA audio output\n"
    " D  avfoundation    AVFoundation input device\n";
const std::string encoders =
    "Encoders:\n V..... = Video\n A..... = Audio\n ------\n V....D h264_videotoolbox    VideoToolbox"
    " H.264 Encoder (codec h264)\n A....D aac    AAC (Advanced Audio Coding)\n";
const std::string filters_51 =
    "Filters:\n  T.. = Timeline support\n  | = Source or sink filter\n ... abench  A->A  "
    "Benchmark.\n ..C scale    V->V    Scale.\n ... pad  V->V  Pad.\n T.C drawtext  V->V  Draw.\n";
const std::string muxers_90 =
    "Formats:\n D.. = Demuxing supported\n .E. = Muxing supported\n ..d = Is a device\n ---\n"
    "  E  fifo   FIFO queue pseudo-muxer\n  E  flv  FLV (Flash Video)\n DE  matroska,webm  x\n";
const std::string protocols = "Supported file protocols:\nInput:\n  srt\n  rtmps\nOutput:\n  file\n  rtmp\n";

} // namespace

TEST(FfmpegCheck, ReadsWhatAnFfmpegListsAndNothingFromAnythingElse) {
    using Answers = std::vector<std::optional<std::string>>;
    using Read = std::variant<FfmpegFindings, std::string>;
    const FfmpegFindings full{true,
                              "9.0.2",
                              {"avfoundation", "h264_videotoolbox", "aac", "scale", "pad", "drawtext", "fifo", "flv",
                               "matroska", "file", "rtmp"}};
    const std::pair<Answers, Read> cases[] = {
        {{version, devices, encoders, filters_51, muxers_90, protocols}, full},
        // The version is the first line's: nothing of the next line joins it.
        {{"ffmpeg version 6.0\nbuilt with gcc\n", devices, encoders, filters_51, muxers_90, protocols},
         FfmpegFindings{true, "6.0", full.present}},
        // -version answers without the banner: surely not an FFmpeg.
        {{"Usage: ffmpeg\n", devices, encoders, filters_51, muxers_90, protocols}, FfmpegFindings{}},
        {{"", "", "", "", "", ""}, FfmpegFindings{}},
        {{"ffmpeg version \n", devices, encoders, filters_51, muxers_90, protocols}, FfmpegFindings{}},
        // A query that failed or a listing without its heading settles nothing.
        {{std::nullopt, devices, encoders, filters_51, muxers_90, protocols}, "its -version query failed"},
        {{version, devices, std::nullopt, filters_51, muxers_90, protocols}, "its -encoders listing failed"},
        {{version, devices, encoders, filters_51, "E flv\n", protocols}, "its -muxers listing cannot be read"},
        {{version, "", "", "", "", ""}, "its -devices listing cannot be read"}};
    for (const auto& [answers, read] : cases) {
        const auto found = read_ffmpeg_answers(answers);
        EXPECT_EQ(found ? Read{*found} : Read{found.failure()}, read) << answers[0].value_or("(failed)");
    }
}

TEST(FfmpegCheck, ALaunchUsesThePartsItsCommandNames) {
    const std::pair<LaunchUse, std::string_view> cases[] = {
        {{{"rtmp://a/x"}, false, false, true, true}, "avfoundation h264_videotoolbox aac scale pad drawtext flv rtmp "},
        {{{"srt://b:1", "rtmps://c/k"}, true, true, false, false},
         "avfoundation h264_videotoolbox scale pad tee fifo flv mpegts matroska rtmps srt file "},
        {{{"udp://d:2"}, true, true, true, true},
         "avfoundation h264_videotoolbox aac scale pad drawtext tee fifo flv "
         "matroska file "}};
    for (const auto& [use, used] : cases) {
        EXPECT_EQ(names(components_used(use)), used);
    }
}

TEST(FfmpegCheck, CachedFindingsServeOnlyTheSameBuildOfTheSameFile) {
    const ExecutableIdentity ffmpeg{"/opt/ff", 100, {7, 8}, {11, 12}, 9, 10};
    const FfmpegFindings findings{true, "9.0.2", {"aac", "tee"}};
    const FfmpegFindings stand_in{};
    EXPECT_EQ(findings_from_cache_text(findings_cache_text(ffmpeg, findings), ffmpeg), findings);
    EXPECT_EQ(findings_from_cache_text(findings_cache_text(ffmpeg, stand_in), ffmpeg), stand_in);
    const std::string text = findings_cache_text(ffmpeg, findings);
    for (const ExecutableIdentity& other : {ExecutableIdentity{"/opt/ff2", 100, {7, 8}, {11, 12}, 9, 10},
                                            ExecutableIdentity{"/opt/ff", 101, {7, 8}, {11, 12}, 9, 10},
                                            ExecutableIdentity{"/opt/ff", 100, {7, 9}, {11, 12}, 9, 10},
                                            ExecutableIdentity{"/opt/ff", 100, {7, 8}, {11, 13}, 9, 10},
                                            ExecutableIdentity{"/opt/ff", 100, {7, 8}, {11, 12}, 8, 10}}) {
        EXPECT_FALSE(findings_from_cache_text(text, other)) << other.path;
    }
    for (const std::string& corrupt : {text.substr(0, text.size() - 4), text + "x", text.substr(1),
                                       std::string{text}.replace(text.find("has aac"), 7, "has bogus")}) {
        EXPECT_FALSE(findings_from_cache_text(corrupt, ffmpeg)) << corrupt;
    }
}

TEST(FfmpegCheck, PrivateFilesAreReadOnlyWhenNobodyElseCanWriteThem) {
    const std::string folder = testing::TempDir() + "castora-cache-test/castora";
    std::filesystem::remove_all(testing::TempDir() + "castora-cache-test");
    ASSERT_TRUE(write_private_file(folder, "entry", "one"));
    ASSERT_TRUE(write_private_file(folder, "entry", "two"));
    struct stat info {};
    ASSERT_EQ(stat((folder + "/entry").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(read_private_file(folder, "entry", 3), "two");
    EXPECT_FALSE(read_private_file(folder, "entry", 2));
    std::filesystem::create_symlink(folder + "/entry", folder + "/link");
    EXPECT_FALSE(read_private_file(folder, "link", 3));
    chmod((folder + "/entry").c_str(), 0620);
    EXPECT_FALSE(read_private_file(folder, "entry", 3));
    chmod((folder + "/entry").c_str(), 0600);
    chmod(folder.c_str(), 0777);
    EXPECT_FALSE(read_private_file(folder, "entry", 3));
    EXPECT_FALSE(write_private_file(folder, "entry", "three"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator{folder}, {}), 2); // no temporary file left
    std::filesystem::remove_all(testing::TempDir() + "castora-cache-test");
}

TEST(FfmpegCheck, AdviceNamesTheFullBuildOnAMac) {
    EXPECT_NE(ffmpeg_advice(true, "").find("brew install ffmpeg-full"), std::string::npos);
    EXPECT_NE(ffmpeg_advice(true, "/usr/local/opt/ffmpeg-full/bin/ffmpeg")
                  .find("--ffmpeg /usr/local/opt/ffmpeg-full/bin/ffmpeg or the line "
                        "ffmpeg=/usr/local/opt/ffmpeg-full/bin/ffmpeg"),
              std::string::npos);
    EXPECT_EQ(ffmpeg_advice(false, "/x").find("brew"), std::string::npos);
}

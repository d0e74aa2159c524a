#include "catalog/profiles.h"
#include "catalog/scenes.h"
#include "cli/options.h"
#include "ffmpeg/ffmpeg_argv.h"
#include "ffmpeg/filter_chain.h"

#include <gtest/gtest.h>

namespace {

FfmpegArgv argv_for(const StudioOptions& options, std::string_view profile_key,
                    std::string_view spec, std::size_t outputs) {
    const IngestProfile& profile = *find_profile(profile_key);
    const ScenePreset& scene = *find_scene(options.scene_key, options.screen);
    return build_ffmpeg_argv(options, profile, scene, spec, outputs);
}

FfmpegArgv tail_from(const FfmpegArgv& argv, std::string_view first) {
    return {std::find(argv.begin(), argv.end(), first), argv.end()};
}

} // namespace

TEST(FfmpegArgv, DefaultsWithOneRtmpOutput) {
    const StudioOptions options;
    const FfmpegArgv argv = argv_for(options, "", "rtmp://h/live/k", 1);
    const FfmpegArgv expected{
        "ffmpeg",
        "-hide_banner",
        "-loglevel",
        "info",
        "-f",
        "avfoundation",
        "-framerate",
        "30",
        "-video_size",
        "854x480",
        "-i",
        "0:0",
        "-c:v",
        "h264_videotoolbox",
        "-tune",
        "zerolatency",
        "-vf",
        build_filter_chain(options, *find_profile(""), *find_scene("", false)),
        "-b:v",
        "1600k",
        "-maxrate",
        "1600k",
        "-bufsize",
        "3200k",
        "-pix_fmt",
        "yuv420p",
        "-g",
        "60",
        "-c:a",
        "aac",
        "-b:a",
        "96k",
        "-ar",
        "48000",
        "-ac",
        "2",
        "-f",
        "flv",
        "rtmp://h/live/k"};
    EXPECT_EQ(argv, expected);
}

TEST(FfmpegArgv, HighProfileToSrt) {
    const FfmpegArgv argv = argv_for(StudioOptions{}, "high_1080p", "srt://b:1", 1);
    EXPECT_EQ(argv[7], "30");
    EXPECT_EQ(argv[9], "1920x1080");
    EXPECT_EQ(
        tail_from(argv, "-b:v"),
        (FfmpegArgv{"-b:v",    "6000k", "-maxrate", "6000k", "-bufsize", "12000k", "-pix_fmt",
                    "yuv420p", "-g",    "60",       "-c:a",  "aac",      "-b:a",   "160k",
                    "-ar",     "48000", "-ac",      "2",     "-f",       "mpegts", "srt://b:1"}));
}

TEST(FfmpegArgv, TeeModeMapsStreamsAfterGlobalHeaders) {
    StudioOptions options;
    EXPECT_EQ(tail_from(argv_for(options, "", "LIST", 2), "-ac"),
              (FfmpegArgv{"-ac", "2", "-flags", "+global_header", "-map", "0:v:0", "-map", "0:a?",
                          "-f", "tee", "LIST"}));
    options.no_audio = true;
    options.record_file = "rec.mkv";
    const FfmpegArgv argv = argv_for(options, "", "LIST", 1);
    EXPECT_EQ(argv[11], "0:none");
    EXPECT_EQ(tail_from(argv, "-g"), (FfmpegArgv{"-g", "60", "-an", "-flags", "+global_header",
                                                 "-map", "0:v:0", "-f", "tee", "LIST"}));
    EXPECT_LE(argv.size(), 43u);
}

TEST(InputSpecifier, DevicesDefaultToZeroAndAreCutAt255Bytes) {
    StudioOptions options;
    options.video_input = "";
    options.audio_input = "Mic";
    EXPECT_EQ(input_specifier(options), "0:Mic");
    options.video_input = std::string(300, 'v');
    EXPECT_EQ(input_specifier(options), std::string(255, 'v'));
    options.video_input = "Cam";
    options.no_audio = true;
    EXPECT_EQ(input_specifier(options), "Cam:none");
}

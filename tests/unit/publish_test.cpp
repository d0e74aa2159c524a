#include "publish/output_urls.h"
#include "publish/recording_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

TEST(OutputUrls, KeyJoinedOrSubstitutedWithinThe1023ByteLimit) {
    const std::string ingest_long = "Publish URL is too long.\n";
    const std::string target_long = "Target URL is too long.\n";
    const std::string a1000(1000, 'a');
    const std::string held = std::string(1011, 'a') + "{stream_key}";
    const struct {
        bool ingest;
        std::string url, key, built_or_message;
    } cases[] = {
        {true, "rtmp://h/live", "k", "rtmp://h/live/k"},
        {true, "rtmp://h/live/", "k", "rtmp://h/live/k"},
        {true, "rtmp://h/{stream_key}/{stream_key}", "k", "rtmp://h/k/{stream_key}"},
        {true, "rtmp://h/live", "", "rtmp://h/live"},
        {true, a1000, std::string(22, 'k'), a1000 + "/" + std::string(22, 'k')},
        {true, a1000, std::string(23, 'k'), ingest_long},
        {true, a1000 + "/", std::string(22, 'k'), ingest_long},
        {true, std::string(1023, 'a'), "", std::string(1023, 'a')},
        {true, std::string(1024, 'a'), "", ingest_long},
        {true, held, "kk", std::string(1011, 'a') + "kk"},
        {true, held, std::string(13, 'k'), ingest_long},
        {false, "rtmp://t/app/{stream_key}", "k", "rtmp://t/app/k"},
        {false, "srt://t:1", "k", "srt://t:1"},
        {false, std::string(1023, 't'), "", std::string(1023, 't')},
        {false, std::string(1024, 't'), "", target_long},
        {false, held, std::string(13, 'k'), target_long},
    };
    for (const auto& c : cases) {
        std::string out;
        CaptureStderr();
        const bool built =
            c.ingest ? build_ingest_url(c.url, c.key, out) : build_target_url(c.url, c.key, out);
        EXPECT_EQ(built ? out : GetCapturedStderr(), c.built_or_message) << c.url;
        if (built) {
            EXPECT_EQ(GetCapturedStderr(), "");
        }
    }
}

TEST(OutputUrls, TeeListEscapesTheMuxersQuotingWithinItsLimit) {
    const OutputUrlList long_urls(15, "rtmp://h/" + std::string(1000, 'x'));
    const struct {
        OutputUrlList urls;
        std::string record, list_or_message;
    } cases[] = {
        {{"rtmp://h/live/k", "srt://b:9000"},
         "rec.mkv",
         "[f=flv:onfail=ignore]rtmp://h/live/k|[f=mpegts:onfail=ignore]srt://b:9000|"
         "[f=matroska]rec.mkv"},
        {{"rtmp://h/a|b'c\\d"},
         "Bob's show.mkv",
         "[f=flv:onfail=ignore]rtmp://h/a\\|b\\'c\\\\d|[f=matroska]Bob\\'s show.mkv"},
        {{}, "rec.mkv", "[f=matroska]rec.mkv"},
        {long_urls, std::string(1023, 'r'), "Recording output list is too long.\n"},
        {OutputUrlList(9, "rtmp://h/" + std::string(1000, '\'')), "",
         "Multistream target list is too long.\n"},
    };
    for (const auto& c : cases) {
        std::string list;
        CaptureStderr();
        const bool built = build_publish_spec(c.urls, c.record, list);
        EXPECT_EQ(built ? list : GetCapturedStderr(), c.list_or_message);
        if (built) {
            EXPECT_EQ(GetCapturedStderr(), "");
        }
    }
    std::string list;
    EXPECT_TRUE(build_publish_spec(long_urls, "", list));
    EXPECT_EQ(list.size(), 15 * 1031u - 1);
    EXPECT_TRUE(needs_tee_muxer(1, "rec.mkv") && needs_tee_muxer(2, "") && !needs_tee_muxer(1, ""));
}

TEST(OutputUrls, TheRecordingEntryNamesExactlyTheFileToWrite) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"rec.mkv", "rec.mkv"},
        {"rec.mkv \t", "rec.mkv\\ \\\t"},
        {" my show.mkv", "\\ my show.mkv"},
        {"file:rec.mkv", "file:file:rec.mkv"},
        {"Show: 1.mkv", "file:Show: 1.mkv"},
        {" a:b.mkv ", "file:\\ a:b.mkv\\ "},
        {"/tmp/a:b.mkv", "/tmp/a:b.mkv"},
        {"a:b/c.mkv", "file:a:b/c.mkv"},
        {"Bob's|\\x.mkv", "Bob\\'s\\|\\\\x.mkv"},
        {"  ", "\\ \\ "},
    };
    for (const auto& [path, destination] : cases) {
        EXPECT_EQ(recording_destination(path), destination) << path;
    }
}

TEST(RecordingPath, RefusedNamesAndNumberedFreeNames) {
    EXPECT_TRUE(is_valid_record_path("Bob's [show.mkv") &&
                is_valid_record_path(std::string(1023, 'r')));
    for (const std::string& bad : {std::string{"a|b"}, std::string{"a]b"}, std::string{"a\nb"},
                                   std::string{"a\rb"}, std::string(1024, 'r')}) {
        EXPECT_FALSE(is_valid_record_path(bad)) << bad.size();
    }
    for (const auto& [path, number, numbered] :
         std::initializer_list<std::tuple<std::string_view, unsigned, std::string_view>>{
             {"rec.mkv", 1, "rec-1.mkv"},
             {"rec", 2, "rec-2"},
             {"a.b/rec", 1, "a.b/rec-1"},
             {"dir/.hidden", 1, "dir/.hidden-1"},
             {"show.final.mkv", 3, "show.final-3.mkv"}}) {
        EXPECT_EQ(numbered_recording_path(path, number), numbered);
    }
    const auto dir = std::filesystem::path{testing::TempDir()} / "castora-recordings";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "rec.mkv").string();
    EXPECT_EQ(free_recording_path(path), path);
    std::ofstream{path} << "x";
    std::ofstream{(dir / "rec-1.mkv").string()} << "x";
    EXPECT_EQ(free_recording_path(path), (dir / "rec-2.mkv").string());
    // A reservation takes the free name at once; an empty one is given back.
    EXPECT_EQ(reserve_recording_path(path), (dir / "rec-2.mkv").string());
    EXPECT_EQ(reserve_recording_path(path), (dir / "rec-3.mkv").string());
    release_empty_recording((dir / "rec-2.mkv").string());
    release_empty_recording(path);
    EXPECT_EQ(free_recording_path(path), (dir / "rec-2.mkv").string());
    EXPECT_EQ(reserve_recording_path((dir / "none" / "r.mkv").string()),
              (dir / "none" / "r.mkv").string());
    std::filesystem::remove_all(dir);
}

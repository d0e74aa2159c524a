#include "publish/output_urls.h"

#include <gtest/gtest.h>

TEST(BuildIngestUrl, JoinsOrSubstitutesTheStreamKey) {
    const struct {
        std::string_view ingest, key, expected;
    } cases[] = {
        {"rtmp://h/live", "k", "rtmp://h/live/k"},
        {"rtmp://h/live/", "k", "rtmp://h/live/k"},
        {"rtmp://h/{stream_key}/x", "k", "rtmp://h/k/x"},
        {"rtmp://h/{stream_key}/{stream_key}", "k", "rtmp://h/k/{stream_key}"},
        {"rtmp://h/app/{stream_key}", "", "rtmp://h/app/"},
        {"rtmp://h/live", "", "rtmp://h/live"},
        {"rtmp://h/live", "a|b'c", "rtmp://h/live/a|b'c"},
    };
    for (const auto& c : cases) {
        std::string out;
        ASSERT_TRUE(build_ingest_url(c.ingest, c.key, out)) << c.ingest;
        EXPECT_EQ(out, c.expected);
    }
}

TEST(BuildIngestUrl, LimitsTheResultTo1023Bytes) {
    std::string out;
    const std::string ingest(1000, 'a');
    EXPECT_TRUE(build_ingest_url(ingest, std::string(22, 'k'), out));
    EXPECT_EQ(out.size(), 1023u);
    EXPECT_FALSE(build_ingest_url(ingest, std::string(23, 'k'), out));
    EXPECT_TRUE(build_ingest_url(std::string(1023, 'a'), "", out));
    EXPECT_FALSE(build_ingest_url(std::string(1024, 'a'), "", out));
    EXPECT_TRUE(build_ingest_url(std::string(1011, 'a') + "{stream_key}", "kk", out));
    EXPECT_EQ(out.size(), 1013u);
    EXPECT_FALSE(
        build_ingest_url(std::string(1011, 'a') + "{stream_key}", std::string(13, 'k'), out));
}

TEST(BuildTargetUrl, FillsThePlaceholderButNeverAppendsTheKey) {
    std::string out;
    ASSERT_TRUE(build_target_url("rtmp://t/app/{stream_key}", "k", out));
    EXPECT_EQ(out, "rtmp://t/app/k");
    ASSERT_TRUE(build_target_url("srt://t:1", "k", out));
    EXPECT_EQ(out, "srt://t:1");
    EXPECT_FALSE(build_target_url("srt://" + std::string(1018, 't'), "", out));
}

TEST(BuildPublishSpec, TeeEntriesEscapeTheMuxersQuotingCharacters) {
    std::string spec;
    ASSERT_TRUE(build_publish_spec({"rtmp://h/live/k", "srt://b:9000"}, "rec.mkv", spec));
    EXPECT_EQ(spec, "[f=flv:onfail=ignore]rtmp://h/live/k|[f=mpegts:onfail=ignore]srt://b:9000|"
                    "[f=matroska]rec.mkv");
    ASSERT_TRUE(build_publish_spec({"rtmp://h/a|b'c\\d"}, "Bob's show.mkv", spec));
    EXPECT_EQ(spec, "[f=flv:onfail=ignore]rtmp://h/a\\|b\\'c\\\\d|[f=matroska]Bob\\'s show.mkv");
    ASSERT_TRUE(build_publish_spec({"rtmps://a/x", "srt://b:1"}, "", spec));
    EXPECT_EQ(spec, "[f=flv:onfail=ignore]rtmps://a/x|[f=mpegts:onfail=ignore]srt://b:1");
}

TEST(BuildPublishSpec, TheLimitAppliesToTheEscapedList) {
    std::string spec;
    const std::string url = "rtmp://h/" + std::string(1000, 'x');
    OutputUrlList urls(15, url);
    ASSERT_TRUE(build_publish_spec(urls, "", spec));
    EXPECT_FALSE(build_publish_spec(urls, std::string(1023, 'r'), spec));
    const std::string quoted = "rtmp://h/" + std::string(1000, '\'');
    EXPECT_FALSE(build_publish_spec(OutputUrlList(9, quoted), "", spec));
}

TEST(TeeMuxer, UsedForSeveralOutputsOrARecording) {
    EXPECT_FALSE(needs_tee_muxer(1, ""));
    EXPECT_TRUE(needs_tee_muxer(1, "rec.mkv"));
    EXPECT_TRUE(needs_tee_muxer(2, ""));
    EXPECT_EQ(container_format("srt://x"), "mpegts");
    EXPECT_EQ(container_format("rtmps://x"), "flv");
}

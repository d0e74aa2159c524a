#include "config/config_file.h"
#include "config/targets.h"
#include "config/text_file.h"
#include "core/options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Outcome = std::pair<bool, std::string>; // loaded, or why not

class TextFiles : public testing::Test {
  protected:
    std::string path = testing::TempDir() + "castora-" + std::to_string(getpid()) + ".txt";
    StudioOptions options;
    void TearDown() override { std::remove(path.c_str()); }
    template <typename Load>
    Outcome load(const std::string& content, Load load) {
        std::ofstream{path, std::ios::binary} << content;
        const std::optional<Failure> failure = load();
        return {!failure, failure ? failure->message : ""};
    }
    std::vector<std::string> warnings;
    Outcome load_config(const std::string& content) {
        return load(content, [&] {
            ConfigLoad loaded = load_config_file(options, path);
            warnings = loaded.warnings;
            return loaded.failure;
        });
    }
    Outcome load_targets(const std::string& content) {
        options.target_file = path;
        return load(content, [&] { return load_target_file(options); });
    }
    Outcome add(std::string_view url) {
        return load("", [&] { return add_target(options, url); });
    }
};

} // namespace

TEST_F(TextFiles, ConfigStoresTextsBooleansAndTargetsAsWritten) {
    EXPECT_EQ(load_config("# c\n  ; also\n\n profile = standard_720p \r\n= ignored\noverlay_title=\n"
                          "watermark=a # b\ningest_url=srt://h:9?mode=caller&x=y\nreconnect=on\n"
                          "auto_download_update=0\ntarget=\ntarget=rtmp://a/x\nffmpeg=/opt/ff\n"
                          "profile=high_1080p\ndisable_error_reporting=yes\nscreen=TRUE\nno_audio= 1\n"),
              Outcome(true, ""));
    EXPECT_EQ(options.profile_key + "|" + *options.overlay_title + "|" + *options.watermark + "|" + options.ingest_url +
                  "|" + options.ffmpeg_path,
              "high_1080p||a # b|srt://h:9?mode=caller&x=y|/opt/ff");
    EXPECT_FALSE(options.overlay_subtitle || options.auto_download_update || options.screen);
    EXPECT_TRUE(options.reconnect && options.disable_error_reporting && options.no_audio);
    EXPECT_EQ(options.targets, (std::vector<StreamTarget>{{"rtmp://a/x", ""}}));
    EXPECT_FALSE(parse_bool("On") || parse_bool("enabled") || parse_bool("") || parse_bool("0"));
}

// A value that likely means something else is kept as written, with a warning naming the line.
TEST_F(TextFiles, ConfigWarnsOfValuesThatLikelyMeanSomethingElse) {
    const std::string only_true = ", which reads as false; only 1, true, yes and on mean true";
    const std::string quoted = " is wrapped in quotes, which stay part of it; write it without them.";
    const std::string spaced = " begins or ends with a space that is not trimmed (a no-break space, say), which "
                               "stays part of it.";
    const std::pair<std::string, std::string> cases[] = {
        {"reconnect=ture", "reconnect is \"ture\"" + only_true + "."},
        {"no_audio=1 # no mic", "no_audio is \"1 # no mic\"" + only_true + " (a # or ; after a value belongs to it)."},
        {"screen=On\x1b[2J", "screen is \"On[2J\"" + only_true + "."},
        {"ingest_url = \"rtmp://h/live\"", "the value of ingest_url" + quoted},
        {"stream_key=''", "the value of stream_key" + quoted},
        {"watermark=\xC2\xA0W", "the value of watermark" + spaced},
        {"record_file=a.mkv\v", "the value of record_file" + spaced},
        {"overlay_file=a\xE3\x80\x80", "the value of overlay_file" + spaced}};
    for (const std::string_view line : {"reconnect=off", "screen=", "no_audio=no", "live_overlays=false",
                                        "reconnect=yes", "overlay_title=\"Hi\" there", "overlay_title=\"Hi'",
                                        "overlay_title=\"", "watermark=a\xC2\xA0-b", "target=rtmp://a/'x'"}) {
        EXPECT_EQ(load_config("# c\n" + std::string{line} + "\n"), Outcome(true, ""));
        EXPECT_EQ(warnings, std::vector<std::string>{}) << line;
    }
    for (const auto& [line, warning] : cases) {
        options = StudioOptions{};
        EXPECT_EQ(load_config("# c\n" + line + "\n"), Outcome(true, ""));
        EXPECT_EQ(warnings, std::vector<std::string>{"Warning: config line 2 in " + path + ": " + warning + "\n"})
            << line;
    }
    EXPECT_EQ(load_config("ingest_url=\"rtmp://h/live\"\nno_audio=1 # x\n"), Outcome(true, ""));
    EXPECT_EQ(options.ingest_url, "\"rtmp://h/live\"");
    EXPECT_FALSE(options.no_audio);
}

TEST_F(TextFiles, LongLinesArePiecesThatCountAsLinesAndOnlyFourCharactersAreTrimmed) {
    std::ofstream{path} << std::string(3000, 'x') + "\n" + std::string(2046, 'y') + "\r\n \t key = v \r\n\v\fk\n";
    const Expected<FileHandle> file = open_text_file(path, "test file");
    LineReader reader{file->get()};
    std::vector<std::string> pieces;
    while (const auto line = reader.next()) {
        pieces.emplace_back(*line);
    }
    EXPECT_EQ(pieces, (std::vector<std::string>{std::string(2047, 'x'), std::string(953, 'x'), std::string(2046, 'y'),
                                                "", "key = v", "\v\fk"}));
    EXPECT_EQ(reader.line_number(), 6u);
}

TEST_F(TextFiles, ConfigStopsAtTheFirstBadLineWithItsMessages) {
    const std::string line = "Invalid config line 3 in " + path + ".\n";
    const std::pair<std::string, std::string> cases[] = {
        {"profile", line},
        {"Profile=x", "Unknown config key: Profile\n" + line},
        {"\vprofile\x1b[2J\xE2\x80\xAE=x", "Unknown config key: profile[2J\n" + line},
        {"dry_run=1", "Unknown config key: dry_run\n" + line},
        {"target=http://x", "Target must start with rtmp://, rtmps://, or srt://: http://x\n" + line},
        {"target=rtmp://a/]", "Target URL cannot contain pipe or closing bracket characters.\n" + line}};
    for (const auto& [bad, messages] : cases) {
        options = StudioOptions{};
        EXPECT_EQ(load_config("screen=1\n\n" + bad + "\nno_audio=1\n"), Outcome(false, messages));
        EXPECT_TRUE(options.screen && !options.no_audio);
    }
}

TEST_F(TextFiles, OnlyRegularFilesAreReadAndAByteOrderMarkIsSkipped) {
    const std::string fifo = path + ".fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const auto& [file, reason] : std::initializer_list<std::pair<std::string, std::string>>{
             {"/nonexistent/c.conf", "No such file or directory"},
             {"/dev/zero", "Is a character device"},
             {testing::TempDir(), "Is a directory"},
             {fifo, "Is a FIFO"}}) {
        EXPECT_EQ(load_config_file(options, file).failure,
                  Failure{"Could not open config file " + file + ": " + reason + "\n"});
    }
    std::remove(fifo.c_str());
    EXPECT_EQ(load_config("\xEF\xBB\xBF# starter\n\xEF\xBB\xBFx=1\n"),
              Outcome(false, "Unknown config key: \xEF\xBB\xBFx\nInvalid config line 2 in " + path + ".\n"));
    EXPECT_EQ(load_targets("\xEF\xBB\xBFrtmp://h/1\n"), Outcome(true, ""));
    EXPECT_FALSE(load_config_file(options, "").failure);
}

TEST_F(TextFiles, TargetsAreCheckedInOrderUpToTheLimitAndLabelledOnlyBeforeTheScheme) {
    const std::string scheme = "Target must start with rtmp://, rtmps://, or srt://: ";
    const std::string pipe = "Target URL cannot contain pipe or closing bracket characters.\n";
    for (const std::string_view url : {"RTMP://h/a", "http://h|a", " rtmp://h/a", "rtmpx://h"}) {
        EXPECT_EQ(add(url), Outcome(false, scheme + std::string{url} + "\n"));
    }
    EXPECT_EQ(add("rtmp://h/a|b"), Outcome(false, pipe));
    EXPECT_EQ(add("srt://h:1]"), Outcome(false, pipe));
    EXPECT_EQ(load_targets("\n# c\n; x\n a = rtmp://h/[1 \t\r\nsrt://h:2?a=b\nB=srt://h:3?s=a\n"), Outcome(true, ""));
    EXPECT_EQ(options.targets,
              (std::vector<StreamTarget>{{"rtmp://h/[1", "a"}, {"srt://h:2?a=b", ""}, {"srt://h:3?s=a", "B"}}));
    EXPECT_EQ(load_targets("rtmp://h/4\n# c\nTwitch: rtmp://h/app/KEY\nrtmp://h/5\n"),
              Outcome(false, scheme + "Twitch: rtmp://h/app/KEY\nInvalid target on line 3 of " + path + ".\n"));
    EXPECT_EQ(load_targets("label=not-a-url\n"),
              Outcome(false, scheme + "label=not-a-url\nInvalid target on line 1 of " + path + ".\n"));
    for (int i = 4; i < max_targets; ++i) {
        EXPECT_EQ(add("srt://h:" + std::to_string(i)), Outcome(true, ""));
    }
    EXPECT_EQ(add(""), Outcome(true, ""));
    EXPECT_EQ(add("srt://h:99"), Outcome(false, "Too many targets. Maximum is 16.\n"));
    EXPECT_EQ(options.targets.size(), 16u);
}

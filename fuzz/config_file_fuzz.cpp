// The studio config loader on arbitrary file contents. Whatever the file holds, and wherever
// loading stops, the record must stay one a launch can use: every target stored obeys the
// target rules, no more than 16 are stored, and every text taken from a line is trimmed and
// holds no line feed (a value never spans two lines).

#include "cli/options.h"
#include "config/config_file.h"
#include "fuzz_support.h"

#include <cstdint>

namespace {

constexpr std::string_view whitespace = " \t\n\r";

void check_value(std::string_view name, std::string_view value) {
    FUZZ_CHECK(value.find('\n') == std::string_view::npos, std::string(name) + fuzz::show(value));
    FUZZ_CHECK(value.empty() || (whitespace.find(value.front()) == std::string_view::npos &&
                                 whitespace.find(value.back()) == std::string_view::npos),
               std::string(name) + fuzz::show(value));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quiet_stderr();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::InputFile input;
    const std::string& path = input.write(data, size);

    StudioOptions options;
    // Loading may stop at any line; the record must hold up either way.
    (void)load_config_file(options, path);

    FUZZ_CHECK(options.targets.size() <= static_cast<std::size_t>(max_targets),
               std::to_string(options.targets.size()));
    for (const std::string& target : options.targets) {
        FUZZ_CHECK(target.starts_with("rtmp://") || target.starts_with("rtmps://") ||
                       target.starts_with("srt://"),
                   fuzz::show(target));
        FUZZ_CHECK(target.find_first_of("|]") == std::string::npos, fuzz::show(target));
        check_value("target ", target);
    }
    const struct {
        std::string_view name;
        const std::string* value;
    } texts[] = {
        {"profile ", &options.profile_key},
        {"scene ", &options.scene_key},
        {"ingest_url ", &options.ingest_url},
        {"stream_key ", &options.stream_key},
        {"target_file ", &options.target_file},
        {"record_file ", &options.record_file},
        {"ffmpeg ", &options.ffmpeg_path},
        {"video_input ", &options.video_input},
        {"audio_input ", &options.audio_input},
        {"update_url ", &options.update_url},
        {"report_url ", &options.report_url},
        {"automation_poll_url ", &options.automation_poll_url},
        {"automation_ack_url ", &options.automation_ack_url},
        {"automation_token ", &options.automation_token},
    };
    for (const auto& text : texts) {
        check_value(text.name, *text.value);
    }
    for (const OptionalText* overlay :
         {&options.overlay_title, &options.overlay_subtitle, &options.score_left,
          &options.score_right, &options.watermark}) {
        if (overlay->has_value()) {
            check_value("overlay ", **overlay);
        }
    }
    // The mode switches and the config and sample paths come only from the command line.
    FUZZ_CHECK(options.config_path.empty() && options.sample_config_path.empty() &&
                   !options.dry_run && !options.print_devices && !options.check_update,
               "a config line set a command-line-only field");
    return 0;
}

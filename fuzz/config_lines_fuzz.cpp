// The config loader and the target-file loader on arbitrary file contents. Wherever loading
// stops, the record must stay one a launch can use: every stored target obeys the target rules,
// at most 16 are stored, every text taken from a line is trimmed and holds no line feed, and no
// line sets what only the command line may set.

#include "config/config_file.h"
#include "config/targets.h"
#include "core/options.h"
#include "fuzz_check.h"

#include <string_view>

namespace {

bool is_trimmed_line_text(std::string_view value) {
    constexpr std::string_view whitespace = " \t\n\r";
    return value.find('\n') == std::string_view::npos &&
           (value.empty() || (whitespace.find(value.front()) == std::string_view::npos &&
                              whitespace.find(value.back()) == std::string_view::npos));
}

void check_record(const StudioOptions& options, const std::string& input) {
    FUZZ_CHECK(options.targets.size() <= static_cast<std::size_t>(max_targets), input);
    for (const std::string& target : options.targets) {
        FUZZ_CHECK(target.starts_with("rtmp://") || target.starts_with("rtmps://") ||
                       target.starts_with("srt://"),
                   target);
        FUZZ_CHECK(target.find_first_of("|]") == std::string::npos && is_trimmed_line_text(target),
                   target);
    }
    for (const std::string* text : {&options.profile_key, &options.ingest_url, &options.stream_key,
                                    &options.record_file, &options.ffmpeg_path, &options.update_url,
                                    &options.report_url, &options.automation_token}) {
        FUZZ_CHECK(is_trimmed_line_text(*text), *text);
    }
    FUZZ_CHECK(options.overlay_title.value_or("").find('\n') == std::string::npos, input);
    FUZZ_CHECK(options.config_path.empty() && options.sample_config_path.empty() &&
                   !options.dry_run && !options.print_devices && !options.check_update,
               input);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input = fuzz::bytes(data, size);
    const std::string path = fuzz::input_file(input);
    StudioOptions from_config;
    (void)load_config_file(from_config, path);
    check_record(from_config, input);
    StudioOptions from_targets;
    from_targets.target_file = path;
    (void)load_target_file(from_targets);
    check_record(from_targets, input);
    return 0;
}

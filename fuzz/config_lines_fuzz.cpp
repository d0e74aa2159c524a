// The config, target-file and overlay-file readers on any file contents. Wherever loading stops,
// the record is one a launch can use: at most 16 targets, each obeying the target rules, texts
// from a line trimmed and without a line feed, and nothing set that only the command line may
// set; an overlay file gives only overlay texts, trimmed, one a line. A failed property aborts,
// and libFuzzer keeps the input.

#include "catalog/overlay_boxes.h"
#include "config/config_file.h"
#include "config/overlay_file.h"
#include "config/targets.h"
#include "core/options.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace {

bool trimmed(const std::string& text) {
    return text.find('\n') == std::string::npos && text.find_first_of(" \t\r") != 0 &&
           (text.empty() || std::string_view{" \t\r"}.find(text.back()) == std::string::npos);
}

bool usable(const StudioOptions& options) {
    return options.targets.size() <= 16 && options.config_path.empty() && !options.dry_run &&
           trimmed(options.profile_key) && trimmed(options.record_file) &&
           std::all_of(options.targets.begin(), options.targets.end(), [](const StreamTarget& target) {
               return (target.url.starts_with("rtmp://") || target.url.starts_with("rtmps://") ||
                       target.url.starts_with("srt://")) &&
                      target.url.find_first_of("|]") == std::string::npos && trimmed(target.url) &&
                      trimmed(target.label);
           });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/castora-fuzz-" + std::to_string(getpid());
    std::ofstream{path, std::ios::binary | std::ios::trunc}.write(reinterpret_cast<const char*>(data),
                                                                  static_cast<std::streamsize>(size));
    StudioOptions from_config, from_targets;
    (void)load_config_file(from_config, path);
    from_targets.target_file = path;
    (void)load_target_file(from_targets);
    if (!usable(from_config) || !usable(from_targets)) {
        std::abort();
    }
    const OverlayFileContent overlays = read_overlay_file_text({reinterpret_cast<const char*>(data), size});
    for (const OverlayFileValue& value : overlays.values) {
        if (find_overlay(value.key) == nullptr || !trimmed(value.text)) {
            std::abort();
        }
    }
    return 0;
}

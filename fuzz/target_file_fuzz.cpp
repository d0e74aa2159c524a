// The target-file loader on arbitrary file contents, with 0 to 17 targets already stored from
// the command line (the first input byte says how many). Targets already stored stay first and
// unchanged, at most 16 are ever held, and every stored target obeys the target rules: a
// scheme of rtmp://, rtmps:// or srt://, no '|' or ']' (they would break the tee list), and
// no whitespace at its edges or line feed inside (it came from one trimmed line).

#include "cli/options.h"
#include "config/targets.h"
#include "fuzz_support.h"

#include <algorithm>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quiet_stderr();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::InputFile input;
    if (size == 0) {
        return 0;
    }
    const std::size_t stored_before = data[0] % (max_targets + 2);
    StudioOptions options;
    for (std::size_t i = 0; i < stored_before; ++i) {
        (void)add_target(options, "rtmp://host/live/" + std::to_string(i));
    }
    const std::vector<std::string> before = options.targets;
    options.target_file = input.write(data + 1, size - 1);

    (void)load_target_file(options);

    const std::size_t count = options.targets.size();
    FUZZ_CHECK(count <= static_cast<std::size_t>(max_targets), std::to_string(count));
    FUZZ_CHECK(count >= before.size() &&
                   std::equal(before.begin(), before.end(), options.targets.begin()),
               "targets stored before the file were changed");
    for (const std::string& target : options.targets) {
        FUZZ_CHECK(target.starts_with("rtmp://") || target.starts_with("rtmps://") ||
                       target.starts_with("srt://"),
                   fuzz::show(target));
        FUZZ_CHECK(target.find_first_of("|]") == std::string::npos, fuzz::show(target));
        FUZZ_CHECK(target.find('\n') == std::string::npos, fuzz::show(target));
        FUZZ_CHECK(std::string_view(" \t\r").find(target.back()) == std::string_view::npos,
                   fuzz::show(target));
    }

    // The label rule only ever drops a label: the URL is the line itself or a piece after its
    // first '='.
    const std::string_view line(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string_view url = target_from_line(line);
    FUZZ_CHECK(url.data() == line.data() || url.empty() ||
                   (url.data() > line.data() + line.find('=') &&
                    url.data() + url.size() <= line.data() + line.size()),
               fuzz::show(line));
    return 0;
}

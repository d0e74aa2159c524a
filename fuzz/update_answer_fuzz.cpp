// The update service's answer: an extracted value fits its buffer and counts as found when it is
// non-empty, versions are ordered consistently, a text shown on the terminal holds no control
// byte, and a version admitted into the package name cannot leave the working directory or break
// the single quoting of a command. A failed property aborts, and libFuzzer keeps the input.

#include "core/utf8.h"
#include "update/download.h"
#include "update/json_string.h"
#include "update/versions.h"

#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string answer(reinterpret_cast<const char*>(data), size);
    const std::string other = answer.substr(size / 2);
    std::string latest;
    const bool found = extract_json_string(answer, "latest_version", latest, 80);
    const auto sign = [](int value) { return (value > 0) - (value < 0); };
    const std::string shown = terminal_safe(answer);
    if (found != !latest.empty() || latest.size() >= 80 ||
        sign(compare_versions(latest, other)) != -sign(compare_versions(other, latest)) ||
        std::any_of(shown.begin(), shown.end(), [](char c) { return c >= 0 && (c < 32 || c == 127); }) ||
        (is_safe_version_text(latest) &&
         package_file_name(latest).find_first_of("/'\\\"$`; \n") != std::string::npos)) {
        std::abort();
    }
    return 0;
}

// The update service's answer: whatever it holds, an extracted value fits its buffer and is
// reported found exactly when it is non-empty, the version order is a consistent order, a text
// shown on the terminal holds no control byte, and a version text admitted into the package
// name can neither leave the working directory nor break the single quoting of a command.

#include "fuzz_check.h"
#include "update/download.h"
#include "update/json_string.h"
#include "update/update_check.h"
#include "update/versions.h"

namespace {

constexpr std::size_t capacity = 80;

int sign(int value) {
    return (value > 0) - (value < 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string answer = fuzz::bytes(data, size);
    std::string latest;
    const bool found = extract_json_string(answer, "latest_version", latest, capacity);
    FUZZ_CHECK(found == !latest.empty() && latest.size() < capacity, answer);
    FUZZ_CHECK(latest.find('\0') == std::string::npos, answer);

    const std::string other = answer.substr(answer.size() / 2);
    FUZZ_CHECK(sign(compare_versions(latest, other)) == -sign(compare_versions(other, latest)),
               latest + " / " + other);
    FUZZ_CHECK(compare_versions(other, other) == 0, other);

    for (const char c : printable_service_text(answer)) {
        const auto byte = static_cast<unsigned char>(c);
        FUZZ_CHECK(byte >= 32 && byte != 127, answer);
    }
    if (is_safe_version_text(latest)) {
        const std::string name = package_file_name(latest);
        FUZZ_CHECK(name.find_first_of("/'\\\"$`; \n") == std::string::npos, name);
        FUZZ_CHECK(name != "." && name != "..", name);
    }
    return 0;
}

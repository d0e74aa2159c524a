// The version comparison on three arbitrary texts (split at the first two line feeds). It must
// be an ordering the update check can trust: a text equals itself, swapping the texts flips
// the sign, the order is transitive, and only the digits count -- any run of other bytes is
// one separator and leading zeros change nothing.

#include "fuzz_support.h"
#include "update/versions.h"

#include <cstdint>

namespace {

int sign(int value) {
    return (value > 0) - (value < 0);
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Every run of non-digits becomes one '.', every run of digits gains a leading "00".
std::string respelled(std::string_view text) {
    std::string out;
    bool in_digits = false;
    bool in_separator = false;
    for (const char c : text) {
        if (is_digit(c)) {
            if (!in_digits) {
                out += "00";
            }
            out += c;
            in_digits = true;
            in_separator = false;
        } else {
            if (!in_separator) {
                out += '.';
            }
            in_digits = false;
            in_separator = true;
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parts =
        fuzz::split(std::string_view(reinterpret_cast<const char*>(data), size), '\n', 3);
    const std::string_view a = parts[0];
    const std::string_view b = parts.size() > 1 ? parts[1] : "0.2.1";
    const std::string_view c = parts.size() > 2 ? parts[2] : "";
    const std::string detail = fuzz::show(a) + " " + fuzz::show(b) + " " + fuzz::show(c);

    FUZZ_CHECK(compare_versions(a, a) == 0, detail);
    const int ab = sign(compare_versions(a, b));
    const int bc = sign(compare_versions(b, c));
    const int ac = sign(compare_versions(a, c));
    FUZZ_CHECK(ab == -sign(compare_versions(b, a)), detail);
    if (ab <= 0 && bc <= 0) {
        FUZZ_CHECK(ac <= 0 && (ac < 0 || (ab == 0 && bc == 0)), detail);
    }
    if (ab >= 0 && bc >= 0) {
        FUZZ_CHECK(ac >= 0 && (ac > 0 || (ab == 0 && bc == 0)), detail);
    }
    FUZZ_CHECK(compare_versions(a, respelled(a)) == 0, detail + " " + fuzz::show(respelled(a)));
    FUZZ_CHECK(sign(compare_versions(respelled(a), respelled(b))) == ab, detail);
    return 0;
}

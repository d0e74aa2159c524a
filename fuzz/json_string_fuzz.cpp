// The update answer's string extractor, two ways on every input.
//
// As an answer: the input is the service's answer text, searched for each member the update
// check reads with that member's capacity. The result never exceeds the capacity, is reported
// found exactly when non-empty, and is only ever found where the quoted key occurs.
//
// As a value: the input (NUL bytes removed) is written as the "latest_version" string of an
// answer, with every double quote and backslash escaped and, as a service may, some other
// bytes escaped too. Extracting it must give back exactly the value, cut to capacity - 1
// bytes: nothing lost, nothing added, and no escape read wrongly.

#include "fuzz_support.h"
#include "update/json_string.h"
#include "update/update_check.h"

#include <cstdint>

namespace {

void check_answer(std::string_view answer) {
    const struct {
        std::string_view key;
        std::size_t capacity;
    } members[] = {
        {"latest_version", latest_version_capacity},
        {"download_url", download_url_capacity},
        {"sha256", sha256_capacity},
        {"k", 1},
        {"k", 2},
    };
    for (const auto& member : members) {
        std::string out = "stale";
        const bool found = extract_json_string(answer, member.key, out, member.capacity);
        FUZZ_CHECK(found == !out.empty(), fuzz::show(answer));
        FUZZ_CHECK(out.size() < member.capacity, fuzz::show(answer));
        const std::string quoted = "\"" + std::string(member.key) + "\"";
        FUZZ_CHECK(!found ||
                       answer.substr(0, answer.find('\0')).find(quoted) != std::string_view::npos,
                   fuzz::show(answer));
    }
}

void check_round_trip(std::string_view data) {
    if (data.size() < 2) {
        return;
    }
    const std::size_t capacity = 1 + static_cast<unsigned char>(data[0]);
    const auto escape_mask = static_cast<unsigned char>(data[1]);
    std::string value;
    for (const char c : data.substr(2)) {
        if (c != '\0') {
            value += c;
        }
    }
    // Spacing and a preceding member vary with the mask, as real answers vary.
    std::string answer = (escape_mask & 1) != 0
                             ? "{\"channel\":\"stable\", \"latest_version\" :\n\t\""
                             : "{\"latest_version\":\"";
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '"' || c == '\\' || ((escape_mask >> (i % 8)) & 1) != 0) {
            answer += '\\';
        }
        answer += c;
    }
    answer += "\",\"download_url\":\"https://example.com/p.pkg\"}";

    std::string out;
    const bool found = extract_json_string(answer, "latest_version", out, capacity);
    const std::string expected = value.substr(0, capacity - 1);
    FUZZ_CHECK(out == expected, fuzz::show(answer) + " gave " + fuzz::show(out) + " capacity " +
                                    std::to_string(capacity));
    FUZZ_CHECK(found == !expected.empty(), fuzz::show(answer));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    check_answer(text);
    check_round_trip(text);
    return 0;
}

// The service URL check stands between a URL from a file or the network and a shell command
// line. What it accepts is an https URL of at most 1023 bytes that single quotes carry to curl
// unchanged (no quote, backslash, blank, control byte or byte of 128 and above), and whose
// update query is accepted too; acceptance never depends on what follows a NUL.

#include "fuzz_check.h"
#include "update/service_url.h"
#include "update/update_check.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes = fuzz::bytes(data, size);
    const std::string url = bytes.substr(0, bytes.find('\0'));
    const bool accepted = is_safe_service_url(bytes.c_str());
    FUZZ_CHECK(accepted == is_safe_service_url(url.c_str()), url);
    if (!accepted) {
        return 0;
    }
    FUZZ_CHECK(url.starts_with("https://") && url.size() <= max_service_url_length, url);
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        FUZZ_CHECK(byte > 32 && byte < 127 &&
                       std::string_view{"'\"\\`$;|<>()@[]{}*!^"}.find(c) == std::string_view::npos,
                   url);
    }
    const std::string query = update_query_url(url);
    FUZZ_CHECK(is_safe_service_url(query.c_str()) && query.starts_with(url), query);
    return 0;
}

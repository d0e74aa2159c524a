// The service URL check stands between a URL from a file or the network and a shell command:
// what it accepts is an https URL of at most 1023 bytes that single quotes carry to curl
// unchanged, and its update query is accepted too. A failed property aborts, and libFuzzer keeps
// the input.

#include "update/service_url.h"
#include "update/update_check.h"

#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string url = input.substr(0, input.find('\0')); // the check reads a C text
    if (is_safe_service_url(input.c_str()) &&
        (!url.starts_with("https://") || url.size() > max_service_url_length ||
         url.find_first_of("'\"\\`$;|<>()@[]{}*!^") != std::string::npos ||
         !std::all_of(url.begin(), url.end(), [](char c) { return c > 32 && c < 127; }) ||
         !is_safe_service_url(update_query_url(url).c_str()))) {
        std::abort();
    }
    return 0;
}

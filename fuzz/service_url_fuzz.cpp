// The service URL check on arbitrary text. It is the only thing standing between a URL from a
// config file or the update service and a shell command line, so it must accept exactly the
// HTTPS URLs of at most 1023 bytes made of ASCII letters, digits and :/?&=._-%+#,~ -- and a
// URL it accepts, put between single quotes in a curl command, must reach curl as one argument
// holding the URL unchanged. The update query built from an accepted endpoint passes too.

#include "fuzz_support.h"
#include "shell_words.h"
#include "update/service_url.h"
#include "update/update_check.h"

#include <cstdint>

namespace {

bool allowed(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           std::string_view(":/?&=._-%+#,~").find(c) != std::string_view::npos;
}

bool expected_verdict(std::string_view url) {
    if (!url.starts_with("https://") || url.size() > max_service_url_length) {
        return false;
    }
    for (const char c : url) {
        if (!allowed(c)) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The check reads a C text: a NUL ends the URL.
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string url = bytes.substr(0, bytes.find('\0'));
    const bool passed = is_safe_service_url(bytes.c_str());
    FUZZ_CHECK(passed == expected_verdict(url), fuzz::show(url));
    if (!passed) {
        return 0;
    }

    const std::string command = "curl -fsS --max-time 5 '" + url + "'";
    const auto words = fuzz::split_shell_words(command, "abcdefghijklmnopqrstuvwxyzS-0123456789");
    FUZZ_CHECK(words && words->size() == 5 && (*words)[4].text == url, fuzz::show(command));

    const std::string query = update_query_url(url);
    FUZZ_CHECK(is_safe_service_url(query.c_str()), fuzz::show(query));
    FUZZ_CHECK(query.starts_with(url.substr(0, query.size())), fuzz::show(query));
    return 0;
}

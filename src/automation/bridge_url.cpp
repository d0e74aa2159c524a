#include "automation/bridge_url.h"

#include <array>

namespace {

constexpr std::array<std::string_view, 3> local_bridge_prefixes{"http://127.0.0.1",
                                                                "http://localhost", "http://[::1]"};

} // namespace

bool is_local_bridge_url(std::string_view url) {
    if (url.starts_with("https://")) {
        return true;
    }
    for (const std::string_view prefix : local_bridge_prefixes) {
        if (!url.starts_with(prefix)) {
            continue;
        }
        // The host must end where the prefix ends (http://localhostx and
        // http://127.0.0.1.evil.example are other machines), and an '@' before the end of the
        // authority makes what came before it a user name.
        const std::string_view rest = url.substr(prefix.size());
        const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
        return (rest.empty() ||
                std::string_view{":/?#"}.find(rest.front()) != std::string_view::npos) &&
               authority.find('@') == std::string_view::npos;
    }
    return false;
}

#include "publish/destinations.h"

namespace {

constexpr std::string_view scheme_mark = "://";

std::string_view after_scheme(std::string_view url) {
    const std::size_t mark = url.find(scheme_mark);
    return mark == std::string_view::npos ? url : url.substr(mark + scheme_mark.size());
}

// Every value of `name=` in the query.
void add_query_values(std::string_view query, std::string_view name,
                      std::vector<std::string>& secrets) {
    for (std::size_t at = 0; at < query.size();) {
        const std::size_t end = std::min(query.find('&', at), query.size());
        const std::string_view pair = query.substr(at, end - at);
        if (pair.starts_with(name) && pair.size() > name.size() && pair[name.size()] == '=') {
            secrets.emplace_back(pair.substr(name.size() + 1));
        }
        at = end + 1;
    }
}

} // namespace

std::string destination_name(std::string_view url) {
    const std::string_view rest = after_scheme(url);
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    authority = authority.substr(authority.rfind('@') + 1); // no user part either
    std::string name{authority};
    const bool has_port = authority.find(':', authority.rfind(']') + 1) != std::string_view::npos;
    if (!has_port && url.starts_with("rtmp://")) {
        name += ":1935";
    } else if (!has_port && url.starts_with("rtmps://")) {
        name += ":443";
    }
    return name;
}

std::vector<std::string> stream_secrets(const OutputUrlList& urls, std::string_view stream_key) {
    std::vector<std::string> secrets;
    if (!stream_key.empty()) {
        secrets.emplace_back(stream_key);
    }
    for (const std::string& url : urls) {
        const std::string_view rest = after_scheme(url);
        const std::size_t query_at = std::min(rest.find('?'), rest.size());
        const std::string_view query = rest.substr(std::min(query_at + 1, rest.size()));
        const std::string_view before_query = rest.substr(0, query_at);
        const std::string_view path =
            before_query.substr(std::min(before_query.find('/'), before_query.size()));
        if (url.starts_with("srt://")) {
            add_query_values(query, "streamid", secrets);
            add_query_values(query, "passphrase", secrets);
        } else if (const std::size_t last = path.rfind('/');
                   last != std::string_view::npos && last > 0 && last + 1 < path.size()) {
            secrets.emplace_back(path.substr(last + 1)); // /app/KEY: KEY
        }
    }
    return secrets;
}

#include "publish/destinations.h"

#include "core/utf8.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::string_view scheme_mark = "://";
constexpr std::array<std::string_view, 9> credential_parameters{
    "passphrase", "streamid", "key", "token", "auth", "password", "pass", "secret", "stream_key"};

bool same_ascii_text_ignoring_case(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

bool names_a_credential(std::string_view name) {
    return std::any_of(
        credential_parameters.begin(), credential_parameters.end(),
        [name](std::string_view c) { return same_ascii_text_ignoring_case(name, c); });
}

std::string_view after_scheme(std::string_view url) {
    const std::size_t mark = url.find(scheme_mark);
    return mark == std::string_view::npos ? url : url.substr(mark + scheme_mark.size());
}

// Every non-empty value of a credential parameter in the query.
void add_credential_values(std::string_view query, std::vector<Secret>& secrets) {
    for (std::size_t at = 0; at < query.size();) {
        const std::size_t end = std::min(query.find('&', at), query.size());
        const std::string_view pair = query.substr(at, end - at);
        const std::size_t equals = pair.find('=');
        if (equals != std::string_view::npos && equals + 1 < pair.size() &&
            names_a_credential(pair.substr(0, equals))) {
            secrets.push_back({std::string{pair.substr(equals + 1)}});
        }
        at = end + 1;
    }
}

// The text at `at` cannot go on a URL's path segment or query value: a secret found before it is
// the whole value, not the start of a longer word.
// A secret this long is hidden wherever it appears; a shorter one where a URL holds it.
constexpr std::size_t unmistakable_secret_length = 8;

bool ends_a_url_part(std::string_view text, std::size_t at) {
    if (at >= text.size()) {
        return true;
    }
    const char c = text[at];
    return !((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
             c == '-' || c == '_' || c == '.' || c == '~' || c == '%');
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

std::vector<NamedDestination> named_destinations(const OutputUrlList& urls,
                                                 const std::vector<std::string>& labels) {
    std::vector<NamedDestination> named;
    for (std::size_t i = 0; i < urls.size(); ++i) {
        const std::string label = i < labels.size() ? terminal_safe(labels[i]) : std::string{};
        const std::string first_choice = label.empty() ? destination_name(urls[i]) : label;
        std::string name = first_choice;
        const auto taken = [&](const NamedDestination& d) { return d.name == name; };
        for (int copy = 2; std::any_of(named.begin(), named.end(), taken); ++copy) {
            name = first_choice + " (" + std::to_string(copy) + ")";
        }
        named.push_back({urls[i], name});
    }
    return named;
}

std::vector<Secret> stream_secrets(const OutputUrlList& urls, std::string_view stream_key) {
    std::vector<Secret> secrets;
    if (!stream_key.empty()) {
        secrets.push_back({std::string{stream_key}});
    }
    for (const std::string& url : urls) {
        const std::string_view rest = after_scheme(url);
        const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
        if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
            const std::string_view user_info = authority.substr(0, at);
            if (const std::size_t colon = user_info.find(':'); colon != std::string_view::npos) {
                secrets.push_back(
                    {":" + std::string{user_info.substr(colon + 1)} + "@", ":****@", true});
            }
        }
        const std::size_t query_at = std::min(rest.find('?'), rest.size());
        const std::string_view query = rest.substr(std::min(query_at + 1, rest.size()));
        const std::string_view before_query = rest.substr(0, query_at);
        const std::string_view path =
            before_query.substr(std::min(before_query.find('/'), before_query.size()));
        add_credential_values(query, secrets);
        if (const std::size_t last = path.rfind('/'); !url.starts_with("srt://") &&
                                                      last != std::string_view::npos && last > 0 &&
                                                      last + 1 < path.size()) {
            secrets.push_back({std::string{path.substr(last + 1)}}); // /app/KEY: KEY
        }
    }
    return secrets;
}

std::vector<Secret> longest_first(std::vector<Secret> secrets) {
    std::sort(secrets.begin(), secrets.end(),
              [](const Secret& a, const Secret& b) { return a.text.size() > b.text.size(); });
    return secrets;
}

std::string with_secrets_hidden(std::string_view text, const std::vector<Secret>& secrets) {
    std::string shown{text};
    for (const Secret& secret : secrets) {
        std::string tee_written;
        append_tee_escaped(tee_written, secret.text);
        for (const std::string& form : {secret.text, tee_written}) {
            for (std::size_t at = form.empty() ? std::string::npos : shown.find(form);
                 at != std::string::npos; at = shown.find(form, at)) {
                const bool in_url = at > 0 && (shown[at - 1] == '/' || shown[at - 1] == '=') &&
                                    ends_a_url_part(shown, at + form.size());
                if (in_url || secret.anywhere || form.size() >= unmistakable_secret_length) {
                    shown.replace(at, form.size(), secret.shown_as);
                    at += secret.shown_as.size();
                } else {
                    at += form.size();
                }
            }
        }
    }
    return shown;
}

std::string with_url_secrets_hidden(std::string_view text) {
    if (text.find(scheme_mark) == std::string_view::npos) {
        return std::string{text};
    }
    return with_secrets_hidden(text, longest_first(stream_secrets({std::string{text}}, {})));
}

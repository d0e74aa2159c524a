#pragma once

#include "publish/output_urls.h"

#include <string>
#include <string_view>
#include <vector>

// How the live lines name an output URL: "host:port" (with the scheme's default port when the
// URL gives none), never its user, path or query, which hold passwords and stream keys.
std::string destination_name(std::string_view url);

struct NamedDestination {
    std::string url;  // as FFmpeg names it in its log
    std::string name; // as the user knows it: its target-file label, or host:port

    bool operator==(const NamedDestination&) const = default;
};

// Each output with its name: its label when it has one (made safe for the terminal), otherwise
// host:port; a name already taken gets " (2)", " (3)" and so on. `labels` go with the outputs
// in order (empty: none).
std::vector<NamedDestination> named_destinations(const OutputUrlList& urls,
                                                 const std::vector<std::string>& labels);

// A text of a destination that is never shown. `text` is replaced by `shown_as` where a URL
// holds it (after a '/' or '='), and anywhere when it is long enough to be unmistakable or
// `anywhere` is set.
struct Secret {
    std::string text;
    std::string shown_as{"****"};
    bool anywhere = false;

    bool operator==(const Secret&) const = default;
};

// The secrets of the outputs: the stream key; the last path segment of an RTMP or RTMPS URL
// after its application name; the password of a URL's user info (":password@", so the user
// stays readable); the value of every query parameter that carries a credential by its name
// (passphrase, streamid, key, token, auth, password, pass, secret, stream_key, in any case).
std::vector<Secret> stream_secrets(const OutputUrlList& urls, std::string_view stream_key);

// The secrets, longest first: the order they are hidden in.
std::vector<Secret> longest_first(std::vector<Secret> secrets);

// The text with each secret hidden, as written and as the tee list escapes it: where a URL holds
// it (after a '/' or '=', up to the end of that part), and anywhere when it is marked so or is
// long enough to be unmistakable (8 bytes). `secrets` come longest first.
std::string with_secrets_hidden(std::string_view text, const std::vector<Secret>& secrets);

// An argument or value as a message may echo it: when it holds a URL, the secrets that
// stream_secrets finds in it are hidden.
std::string with_url_secrets_hidden(std::string_view text);

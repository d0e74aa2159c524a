#include "publish/output_urls.h"

#include <algorithm>

namespace {

// Each network destination gets a queue of its own that reconnects by itself (every 2 s, for
// as long as the run lasts, resuming at a keyframe), so a platform that drops comes back
// without touching the others or the recording. The colons inside fifo_options are escaped
// twice: once for the tee list, once for the fifo's own option list.
constexpr std::string_view recovering_entry_options =
    ":onfail=ignore:use_fifo=1:fifo_options=attempt_recovery=1\\\\:recovery_wait_time=2\\\\:"
    "max_recovery_attempts=0\\\\:drop_pkts_on_overflow=1\\\\:queue_size=600\\\\:"
    "restart_with_keyframe=1";

// The recording goes on when a destination fails, and the stream when the recording fails.
constexpr std::string_view recording_entry_options = "[f=matroska:onfail=ignore]";

std::string network_entry(std::string_view url) {
    std::string entry = "[f=";
    entry += container_format(url);
    entry += recovering_entry_options;
    entry += ']';
    append_tee_escaped(entry, url);
    return entry;
}

} // namespace

Substitution substitute_stream_key(std::string_view url, std::string_view key, std::string& out) {
    const std::size_t at = url.find(stream_key_placeholder);
    if (at == std::string_view::npos) {
        return Substitution::none;
    }
    if (url.size() - stream_key_placeholder.size() + key.size() > max_output_url_length) {
        return Substitution::too_long;
    }
    out.assign(url.substr(0, at));
    out += key;
    out += url.substr(at + stream_key_placeholder.size());
    return Substitution::done;
}

namespace {

// The URL with the key in its placeholder; without one, the key appended after a '/' (which then
// counts as well) when `appends` and the key is not empty, else the URL as it is.
Expected<std::string> with_stream_key(std::string_view url, std::string_view key, bool appends,
                                      std::string_view too_long) {
    std::string out;
    switch (substitute_stream_key(url, key, out)) {
    case Substitution::done:
        return out;
    case Substitution::too_long:
        return Failure{std::string{too_long}};
    case Substitution::none:
        break;
    }
    const bool appends_key = appends && !key.empty();
    if (url.size() + (appends_key ? key.size() + 1 : 0) > max_output_url_length) {
        return Failure{std::string{too_long}};
    }
    out.assign(url);
    if (appends_key) {
        if (!out.ends_with('/')) {
            out += '/';
        }
        out += key;
    }
    return out;
}

} // namespace

Expected<std::string> build_ingest_url(std::string_view ingest_url, std::string_view stream_key) {
    return with_stream_key(ingest_url, stream_key, true, "Publish URL is too long.\n");
}

Expected<std::string> build_target_url(std::string_view target, std::string_view stream_key) {
    return with_stream_key(target, stream_key, false, "Target URL is too long.\n");
}

bool has_url_scheme(std::string_view url) {
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    const std::size_t mark = url.find("://");
    if (mark == std::string_view::npos || !letter(url.front())) {
        return false;
    }
    const std::string_view scheme = url.substr(0, mark);
    return std::all_of(scheme.begin(), scheme.end(), [&](char c) {
        return letter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    });
}

std::string_view container_format(std::string_view url) {
    return url.starts_with("srt://") ? "mpegts" : "flv";
}

bool needs_tee_muxer(std::size_t output_count, std::string_view record_file) {
    return output_count >= 2 || !record_file.empty();
}

void append_tee_escaped(std::string& list, std::string_view text) {
    for (const char c : text) {
        if (c == '\\' || c == '\'' || c == '|') {
            list += '\\';
        }
        list += c;
    }
}

std::string recording_destination(std::string_view path) {
    std::string destination;
    if (const std::size_t colon = path.find(':');
        colon != std::string_view::npos && colon < path.find('/')) {
        destination = "file:";
    }
    constexpr std::string_view blanks = " \t";
    const std::size_t first = path.find_first_not_of(blanks);
    const std::size_t last = path.find_last_not_of(blanks);
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (first == std::string_view::npos || i < first || i > last) {
            destination += '\\';
        }
        append_tee_escaped(destination, path.substr(i, 1));
    }
    return destination;
}

Expected<std::string> build_publish_spec(const OutputUrlList& urls, std::string_view record_file) {
    std::string network;
    for (const std::string& url : urls) {
        const std::string entry = network_entry(url);
        if (network.size() + (network.empty() ? 0 : 1) + entry.size() > max_publish_spec_length) {
            return Failure{"Multistream target list is too long.\n"};
        }
        network += (network.empty() ? "" : "|") + entry;
    }
    // The tee finishes its entries in list order: the recording comes first, so it gets its
    // index written even when a stalled destination holds up the end.
    std::string list;
    if (!record_file.empty()) {
        list = std::string{recording_entry_options} + recording_destination(record_file);
        if (network.size() + (network.empty() ? 0 : 1) + list.size() > max_publish_spec_length) {
            return Failure{"Recording output list is too long.\n"};
        }
    }
    list += (list.empty() || network.empty() ? "" : "|") + network;
    return list;
}

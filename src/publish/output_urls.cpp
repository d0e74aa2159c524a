#include "publish/output_urls.h"

#include <cstdio>

namespace {

bool fail(const char* message) {
    std::fputs(message, stderr);
    return false;
}

// One tee entry: "[options]destination", escaped, with its separator.
std::string tee_entry(bool first, std::string_view options, std::string_view destination) {
    std::string entry = first ? "" : "|";
    entry += '[';
    entry += options;
    entry += ']';
    append_tee_escaped(entry, destination);
    return entry;
}

// A destination that fails (a platform's ingest down, a refused key) must not take the other
// destinations and the local recording down with it. The recording itself keeps the default:
// if it cannot be written the whole run fails visibly.
std::string network_entry_options(std::string_view url) {
    std::string options = "f=";
    options += container_format(url);
    options += ":onfail=ignore";
    return options;
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

bool build_ingest_url(std::string_view ingest_url, std::string_view stream_key, std::string& out) {
    constexpr const char* too_long = "Publish URL is too long.\n";
    switch (substitute_stream_key(ingest_url, stream_key, out)) {
    case Substitution::done:
        return true;
    case Substitution::too_long:
        return fail(too_long);
    case Substitution::none:
        break;
    }
    // Without a placeholder the key is appended after a '/', which then counts as well.
    const bool appends_key = !stream_key.empty();
    if (ingest_url.size() + stream_key.size() + (appends_key ? 1 : 0) > max_output_url_length) {
        return fail(too_long);
    }
    out.assign(ingest_url);
    if (appends_key) {
        if (!out.ends_with('/')) {
            out += '/';
        }
        out += stream_key;
    }
    return true;
}

bool build_target_url(std::string_view target, std::string_view stream_key, std::string& out) {
    constexpr const char* too_long = "Target URL is too long.\n";
    switch (substitute_stream_key(target, stream_key, out)) {
    case Substitution::done:
        return true;
    case Substitution::too_long:
        return fail(too_long);
    case Substitution::none:
        break;
    }
    if (target.size() > max_output_url_length) {
        return fail(too_long);
    }
    out.assign(target);
    return true;
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

bool build_publish_spec(const OutputUrlList& urls, std::string_view record_file, std::string& out) {
    out.clear();
    for (const std::string& url : urls) {
        const std::string entry = tee_entry(out.empty(), network_entry_options(url), url);
        if (out.size() + entry.size() > max_publish_spec_length) {
            return fail("Multistream target list is too long.\n");
        }
        out += entry;
    }
    if (!record_file.empty()) {
        std::string entry = out.empty() ? "" : "|";
        entry += "[f=matroska]";
        entry += recording_destination(record_file);
        if (out.size() + entry.size() > max_publish_spec_length) {
            return fail("Recording output list is too long.\n");
        }
        out += entry;
    }
    return true;
}

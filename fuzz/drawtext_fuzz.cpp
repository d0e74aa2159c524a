// The overlay-text sanitiser, the drawtext element and the whole filter chain, read back the
// way FFmpeg reads a filter graph: first the graph level (filters split at unquoted commas,
// quotes and backslashes removed), then each filter's options (split at unquoted colons).
//
// Whatever the overlay text holds, each element must stay one drawtext filter with exactly
// its nine options and draw the sanitised text; the sanitised text is at most 255 bytes of
// valid UTF-8 with no control byte and none of ' , : ; [ \ ] |, and it is the input itself
// with only control bytes and malformed UTF-8 dropped, those eight characters turned into
// spaces and the end cut at a character boundary as late as the 255 bytes allow.

#include "catalog/profiles.h"
#include "catalog/scenes.h"
#include "cli/options.h"
#include "ffmpeg/filter_chain.h"
#include "fuzz_support.h"

#include <cctype>
#include <cstdint>
#include <optional>

namespace {

constexpr std::string_view ffmpeg_whitespace = " \n\t\r";
constexpr std::string_view replaced_by_space = "',:;[\\]|";

// FFmpeg's av_get_token: leading whitespace skipped, a backslash takes the next byte as it
// is, text between apostrophes is taken as it is, the token ends at an unquoted byte of
// `term`, and trailing whitespace that was not quoted or escaped is dropped.
std::string get_token(std::string_view& buf, std::string_view term) {
    std::size_t at = 0;
    while (at < buf.size() && ffmpeg_whitespace.find(buf[at]) != std::string_view::npos) {
        ++at;
    }
    std::string out;
    std::size_t kept = 0;
    while (at < buf.size() && term.find(buf[at]) == std::string_view::npos) {
        const char c = buf[at++];
        if (c == '\\' && at < buf.size()) {
            out += buf[at++];
            kept = out.size();
        } else if (c == '\'') {
            while (at < buf.size() && buf[at] != '\'') {
                out += buf[at++];
            }
            if (at < buf.size()) {
                ++at;
                kept = out.size();
            }
        } else {
            out += c;
        }
    }
    while (out.size() > kept && ffmpeg_whitespace.find(out.back()) != std::string_view::npos) {
        out.pop_back();
    }
    buf.remove_prefix(at);
    return out;
}

struct Filter {
    std::string name;
    std::string options;
};

// One linear chain of filters, as the graph parser sees it; nothing when the text holds a
// link label, a second chain or anything else a chain of plain filters does not.
std::optional<std::vector<Filter>> parse_chain(std::string_view chain) {
    std::vector<Filter> filters;
    while (true) {
        Filter filter;
        filter.name = get_token(chain, "=,;[");
        if (filter.name.empty()) {
            return std::nullopt;
        }
        if (!chain.empty() && chain.front() == '=') {
            chain.remove_prefix(1);
            filter.options = get_token(chain, "[],;");
        }
        filters.push_back(std::move(filter));
        while (!chain.empty() && ffmpeg_whitespace.find(chain.front()) != std::string_view::npos) {
            chain.remove_prefix(1);
        }
        if (chain.empty()) {
            return filters;
        }
        if (chain.front() != ',') {
            return std::nullopt;
        }
        chain.remove_prefix(1);
    }
}

// A filter's key=value options, split the way FFmpeg's option parser splits them.
std::optional<std::vector<std::pair<std::string, std::string>>>
parse_options(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> options;
    while (!text.empty()) {
        std::size_t key_end = 0;
        while (key_end < text.size() &&
               (std::isalnum(static_cast<unsigned char>(text[key_end])) != 0 ||
                std::string_view("_-./+").find(text[key_end]) != std::string_view::npos)) {
            ++key_end;
        }
        if (key_end == 0 || key_end == text.size() || text[key_end] != '=') {
            return std::nullopt;
        }
        std::string key(text.substr(0, key_end));
        text.remove_prefix(key_end + 1);
        std::string value = get_token(text, ":");
        options.emplace_back(std::move(key), std::move(value));
        if (!text.empty()) {
            text.remove_prefix(1);
        }
    }
    return options;
}

void check_drawtext(const Filter& filter, std::string_view expected_text, std::string_view chain) {
    FUZZ_CHECK(filter.name == "drawtext", fuzz::show(chain));
    const auto options = parse_options(filter.options);
    FUZZ_CHECK(options.has_value(), fuzz::show(filter.options));
    static constexpr std::string_view keys[] = {
        "text", "x", "y", "fontsize", "fontcolor", "box", "boxcolor", "boxborderw", "expansion"};
    FUZZ_CHECK(options->size() == std::size(keys), fuzz::show(filter.options));
    for (std::size_t i = 0; i < std::size(keys); ++i) {
        FUZZ_CHECK((*options)[i].first == keys[i], fuzz::show(filter.options));
    }
    FUZZ_CHECK((*options)[0].second == expected_text,
               fuzz::show((*options)[0].second) + " for " + fuzz::show(expected_text));
    FUZZ_CHECK((*options)[8].second == "none", fuzz::show(filter.options));
}

// What the sanitiser must produce, worked out from its stated rules.
std::string expected_sanitised(std::string_view text) {
    std::string out;
    std::size_t at = 0;
    for (auto c = fuzz::next_kept_character(text, at); !c.empty();
         c = fuzz::next_kept_character(text, at)) {
        if (out.size() + c.size() > max_overlay_text_length) {
            break;
        }
        const bool replaced =
            c.size() == 1 && replaced_by_space.find(c[0]) != std::string_view::npos;
        out += replaced ? std::string_view{" "} : c;
    }
    return out;
}

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(ffmpeg_whitespace);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(ffmpeg_whitespace) - first + 1);
}

void check_element(std::string_view text) {
    const std::string clean = sanitize_overlay_text(text);
    FUZZ_CHECK(clean == expected_sanitised(text), fuzz::show(text) + " gave " + fuzz::show(clean));
    FUZZ_CHECK(clean.size() <= max_overlay_text_length && fuzz::is_valid_utf8(clean),
               fuzz::show(clean));
    for (const char c : clean) {
        const auto byte = static_cast<unsigned char>(c);
        FUZZ_CHECK(byte >= 32 && byte != 127 && replaced_by_space.find(c) == std::string_view::npos,
                   fuzz::show(clean));
    }

    const std::string start = "scale=640:360:force_original_aspect_ratio=decrease,"
                              "pad=640:360:(ow-iw)/2:(oh-ih)/2:color=black";
    std::string chain = start;
    append_drawtext(chain, text, "w-text_w-36", "h-148", 34, "0x050505cc");
    if (clean.empty()) {
        FUZZ_CHECK(chain == start, fuzz::show(chain));
        return;
    }
    const auto filters = parse_chain(chain);
    FUZZ_CHECK(filters.has_value() && filters->size() == 3, fuzz::show(chain));
    check_drawtext(filters->back(), trimmed(clean), chain);
}

// The whole chain for a profile, a scene and five overlay texts, each present or absent.
void check_chain(std::string_view data) {
    if (data.size() < 2) {
        return;
    }
    const auto profiles = ingest_profiles();
    const auto scenes = scene_presets();
    const IngestProfile& profile = profiles[static_cast<unsigned char>(data[0]) % profiles.size()];
    const ScenePreset& scene = scenes[(static_cast<unsigned char>(data[0]) / 8) % scenes.size()];
    const auto present = static_cast<unsigned char>(data[1]);
    const auto texts = fuzz::split(data.substr(2), '\0', 5);

    StudioOptions options;
    OptionalText* fields[] = {&options.overlay_title, &options.overlay_subtitle,
                              &options.score_left, &options.score_right, &options.watermark};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        if (((present >> i) & 1) != 0) {
            *fields[i] = std::string(i < texts.size() ? texts[i] : std::string_view{});
        }
    }
    const std::string chain = build_filter_chain(options, profile, scene);
    FUZZ_CHECK(chain.size() <= max_filter_chain_length, std::to_string(chain.size()));
    const auto filters = parse_chain(chain);
    FUZZ_CHECK(filters.has_value() && filters->size() >= 2 && filters->size() <= 7,
               fuzz::show(chain));
    FUZZ_CHECK((*filters)[0].name == "scale" && (*filters)[1].name == "pad", fuzz::show(chain));
    for (std::size_t i = 2; i < filters->size(); ++i) {
        const auto parsed = parse_options((*filters)[i].options);
        FUZZ_CHECK(parsed.has_value() && !parsed->empty(), fuzz::show(chain));
        check_drawtext((*filters)[i], (*parsed)[0].second, chain);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    check_element(text);
    check_chain(text);
    return 0;
}

#pragma once

#include "core/failure.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::size_t max_output_urls = 16;
inline constexpr std::size_t max_output_url_length = 1023;
inline constexpr std::size_t max_publish_spec_length = 16383;
inline constexpr std::size_t max_record_path_length = 1023;
inline constexpr std::string_view stream_key_placeholder = "{stream_key}";

// Final destination URLs in output order: the ingest URL first when given, then the targets.
using OutputUrlList = std::vector<std::string>;

enum class Substitution { none, done, too_long };

// Replaces the first "{stream_key}" of `url` with `key` into `out`.
Substitution substitute_stream_key(std::string_view url, std::string_view key, std::string& out);

// The ingest URL with its stream key put in place or appended after a '/'.
Expected<std::string> build_ingest_url(std::string_view ingest_url, std::string_view stream_key);

// A target with its placeholder filled; a key is never appended to a target.
Expected<std::string> build_target_url(std::string_view target, std::string_view stream_key);

// True when the URL begins with a scheme and "://": a letter, then letters, digits, '+', '-' or
// '.'. Without one FFmpeg takes the text for a local file name.
bool has_url_scheme(std::string_view url);

// "mpegts" for SRT, "flv" for everything else.
std::string_view container_format(std::string_view url);

// True when the operand must be a tee list rather than a single URL.
bool needs_tee_muxer(std::size_t output_count, std::string_view record_file);

// Writes `text` with each backslash, apostrophe and pipe escaped, as the tee muxer reads them.
void append_tee_escaped(std::string& list, std::string_view text);

// The recording's path as the tee muxer must read it to open exactly that file: a path with a
// ':' before its first '/' becomes a file: URL (FFmpeg would take "Show:" for a protocol), and
// blanks at either end are escaped (the muxer would trim them and open another file).
std::string recording_destination(std::string_view path);

// The tee list of all outputs and the recording, for FFmpeg's tee muxer.
Expected<std::string> build_publish_spec(const OutputUrlList& urls, std::string_view record_file);

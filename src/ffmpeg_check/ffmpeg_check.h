#pragma once

#include "ffmpeg/components.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What castora knows of the FFmpeg a launch would run: looked up once per build of it (see
// findings_cache.h), or asked afresh.
struct FfmpegCheck {
    std::string asked_for;                  // as the options name it
    std::string executable;                 // the file it resolves to; empty when there is none
    std::optional<FfmpegFindings> findings; // nothing: its answers settled nothing
    std::string unsettled;                  // why not ("it gave no answer within 5 seconds")
};

// What the cache holds for the executable, else its answers. Asked afresh (--check-ffmpeg), the
// cache is not read. Settled answers replace the cache entry; answers that settle nothing
// remove it, so that no earlier answer outlives them.
FfmpegCheck check_ffmpeg(const std::string& ffmpeg_path, bool ask_afresh);

// The components of `used` that FFmpeg surely lacks; none unless it answered as an FFmpeg does.
std::vector<const Component*> missing_components(const FfmpegCheck& check,
                                                 const std::vector<const Component*>& used);

// How to get an FFmpeg that has what castora uses: on a Mac, Homebrew's ffmpeg-full (named by
// its path when it is installed under `found_full_build`).
std::string ffmpeg_advice(bool on_mac, std::string_view found_full_build);

// The advice for this machine.
std::string ffmpeg_advice();

// Why a launch does not go live: each missing component, what it is for, and the advice.
std::string missing_components_message(const FfmpegCheck& check,
                                       const std::vector<const Component*>& missing);

// What --check-ffmpeg prints: the executable and its version, then each component castora
// knows, found or missing, with what it serves; the verdict for this launch last.
std::string ffmpeg_check_listing(const FfmpegCheck& check,
                                 const std::vector<const Component*>& used);

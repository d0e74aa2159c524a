#pragma once

#include "core/failure.h"
#include "publish/output_urls.h"

#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The parts of FFmpeg a castora command can use, and which of them one launch uses.

// Each kind is learnt from one of FFmpeg's standard listings.
enum class ComponentKind { input_device, encoder, filter, muxer, protocol };

struct Component {
    std::string_view name; // as FFmpeg lists it
    ComponentKind kind;
    std::string_view serves; // what castora needs it for
};

std::span<const Component> ffmpeg_components();

// "input device", "encoder", "filter", "muxer", "protocol".
std::string_view component_kind_name(ComponentKind kind);

// What a launch sends and draws, as far as FFmpeg's parts go.
struct LaunchUse {
    std::vector<std::string> outputs; // the destination URLs
    bool tee = false;                 // a tee list rather than one URL
    bool recording = false;
    bool audio = true;
    bool draws_text = true;
};

// The components the launch's command uses, in table order.
std::vector<const Component*> components_used(const LaunchUse& use);

// What castora learnt from an executable's answers.
struct FfmpegFindings {
    bool answers_as_ffmpeg = false; // false: its -version answer has no FFmpeg banner
    std::string version;
    std::set<std::string> present; // the table's components it has

    bool operator==(const FfmpegFindings&) const = default;
};

// The standard listings castora asks for, each with -hide_banner: the version first, then one
// listing per kind of component.
struct ListingQuery {
    std::string_view option;
    std::optional<ComponentKind> kind; // nothing: the version
};
std::span<const ListingQuery> ffmpeg_listing_queries();

// The findings from the answers to those queries, in their order (nothing: the query failed).
// A -version answer without FFmpeg's banner settles it: not an FFmpeg. After the banner, each
// listing must have been given and be readable; otherwise the answers settle nothing (a busy
// machine, a slow disk), and why not is returned ("its -filters listing failed").
Expected<FfmpegFindings, std::string>
read_ffmpeg_answers(std::span<const std::optional<std::string>> answers);

#pragma once

#include "automation/bridge_client.h"
#include "catalog/scenes.h"
#include "config/overlay_file.h"
#include "core/failure.h"
#include "ffmpeg/command_plan.h"
#include "publish/destinations.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct StudioOptions;

// One launch, decided once from the options, the catalogues and the checks: everything the
// dry run prints, the FFmpeg check looks at and the live run streams. Nothing reads the options
// after it.

// How overlay texts change while live (with --live-overlays or an overlay file): the command's
// boxes read their texts from files in its overlay folder, which castora replaces.
struct LiveOverlayPlan {
    std::optional<OverlayFileWatch> overlay_file; // watched while live
    BridgeSettings bridge;                        // no poll URL: no bridge
};

struct LaunchPlan {
    const ScenePreset* scene = nullptr;
    CommandPlan command; // as the first run starts it: in the profile's capture mode
    std::vector<NamedDestination> destinations; // in output order, as the live lines name them
    std::vector<Secret> secrets;                // never shown, whatever prints them
    std::string record_file; // each run records to a free name made from it; empty: no recording
    bool reconnect = false;
    bool verbose = false;     // FFmpeg's own log on the terminal, not the status view
    std::string video_device; // what the camera's remembered mode is kept under
    std::optional<LiveOverlayPlan> live_overlays;
    std::vector<std::string> notes; // what the overlay file's first read found, to say at once
    // Lines to say before the command is printed or run: what a dry run shows that a live run
    // refuses, and a setting that does nothing as the launch stands.
    std::vector<std::string> warnings;
};

// Why a launch cannot go on: the message, what follows it on standard output (the listing of
// profiles or scenes to choose from), and its report.
struct LaunchRefusal {
    std::string message;
    std::string listing;
    std::string_view phase;
    std::string_view report_message;
};

enum class PlanUse {
    live,         // a streaming launch: the run folder is made
    dry_run,      // printed only: the recording's free name now, the run folder's template, and
                  // warnings where a live run is refused for what it would stream to
    ffmpeg_check, // looked at only: no destination is needed either
};

Expected<LaunchPlan, LaunchRefusal> make_launch_plan(const StudioOptions& options, PlanUse use);

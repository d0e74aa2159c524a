#pragma once

#include "automation/bridge_client.h"
#include "ffmpeg/overlays.h"
#include "live/overlay_file.h"
#include "live/overlay_state.h"
#include "process/supervisor.h"

#include <functional>
#include <optional>
#include <string>
#include <variant>

// Overlay texts that change while live: drawtext reads each from a file in a folder of this run,
// again for every frame, and castora alone replaces those files, atomically (a new file renamed
// over the old), from the overlay file and the automation bridge.

struct StudioOptions;
struct ScenePreset;

// The folder the dry run shows: the run's own gets a unique name in place of the X's.
inline constexpr std::string_view overlay_folder_template = "/tmp/castora-run-XXXXXX";

// Makes the run's folder, private to the user, and has it and its files removed whatever way the
// run ends. Nothing when it cannot be made (errno says why).
std::optional<std::string> make_overlay_folder();

struct LiveOverlayStart {
    std::string folder; // the run's, or in a dry run the template
    std::optional<OverlayFileWatch> overlay_file;
};

// For a launch with live overlays (--live-overlays, or an overlay file): the overlay file read,
// its texts winning over the options' (what it says of its lines is written on standard error),
// and unless this is a dry run, the run's folder made. Nothing without live overlays; the
// message when the folder cannot be made.
std::variant<std::optional<LiveOverlayStart>, std::string>
start_live_overlays(StudioOptions& options, bool dry_run);

struct LiveOverlaySetup {
    std::string folder;
    OverlayTexts texts; // the boxes drawn and their texts at the start
    std::optional<OverlayFileWatch> overlay_file;
    BridgeSettings bridge; // no poll URL: no bridge
};

// What the live run needs of a start: the boxes the scene and the options draw with their first
// texts, the overlay file, and the bridge. Nothing without live overlays.
std::optional<LiveOverlaySetup> live_overlay_setup(const StudioOptions& options,
                                                   const ScenePreset& scene,
                                                   std::optional<LiveOverlayStart> start);

class LiveOverlays {
  public:
    using Say = std::function<void(const std::string& line)>;

    LiveOverlays(Supervisor& supervisor, LiveOverlaySetup setup, Say say);

    // Writes every text drawn, before FFmpeg first reads them; false when one could not be.
    bool write_all();

    // Watches the overlay file and polls the bridge on the loop.
    void start();

    // The run is over.
    void stop();

  private:
    std::string apply(std::string_view key, std::string_view text);
    void look(SteadyClock::time_point now);
    bool write(std::size_t overlay);

    Supervisor& supervisor_;
    LiveOverlaySetup setup_;
    Say say_;
    OverlayState state_;
    std::optional<BridgeClient> bridge_;
    bool stopped_ = false;
};

#pragma once

#include "automation/bridge_client.h"
#include "ffmpeg/overlays.h"
#include "live/overlay_state.h"
#include "plan/launch_plan.h"
#include "process/supervisor.h"

#include <functional>
#include <optional>
#include <string>

// Overlay texts that change while live: drawtext reads each from a file in the run's folder,
// again for every frame, and castora alone replaces those files, atomically (a new file renamed
// over the old), from the overlay file and the automation bridge.
class LiveOverlays {
  public:
    using Say = std::function<void(const std::string& line)>;

    // The boxes drawn with their first texts, in `folder`; what changes them.
    LiveOverlays(Supervisor& supervisor, std::string folder, const OverlayTexts& drawn,
                 LiveOverlayPlan plan, Say say);

    // Writes every text drawn, before FFmpeg first reads them; false when one could not be.
    bool write_all();

    // Watches the overlay file and polls the bridge on the loop.
    void start();

    // The run is over.
    void stop();

  private:
    std::optional<std::string> apply(std::string_view key, std::string_view text);
    void look(SteadyClock::time_point now);
    bool write(std::size_t overlay);

    Supervisor& supervisor_;
    std::string folder_;
    LiveOverlayPlan plan_;
    Say say_;
    OverlayState state_;
    std::optional<BridgeClient> bridge_;
    bool stopped_ = false;
};

#pragma once

#include "automation/bridge_client.h"
#include "ffmpeg/overlays.h"
#include "live/overlay_state.h"
#include "plan/launch_plan.h"
#include "process/supervisor.h"

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Overlay texts that change while live: drawtext reads each from a file in the run's folder,
// again for every frame, and castora alone replaces those files, atomically (a new file renamed
// over the old), from the overlay file and the automation bridge. A change counts, is said and
// acknowledged as applied only once its file was written; one that could not be written leaves
// the text as it was, so the same change is tried again when it comes again.
class LiveOverlays {
  public:
    using Say = std::function<void(const std::string& line)>;
    // Replaces the file at `path` by one holding `text`, through `temporary`: the error number,
    // or nothing.
    using WriteText = std::function<std::optional<int>(
        const std::string& path, std::string_view text, const std::string& temporary)>;

    // The boxes drawn with their first texts, in `folder`; what changes them.
    LiveOverlays(Supervisor& supervisor, std::string folder, const OverlayTexts& drawn,
                 LiveOverlayPlan plan, Say say, WriteText write_text = replace_text_file);

    // Writes every text drawn, before FFmpeg first reads them; false when one could not be.
    bool write_all();

    // Watches the overlay file and polls the bridge on the loop.
    void start();

    // The run is over.
    void stop();

    // Sets the overlay named `key` to `text` and writes its file: why that was refused or could
    // not be done, or nothing.
    std::optional<std::string> apply(std::string_view key, std::string_view text);

    // The file's write, as it is done while live.
    static std::optional<int> replace_text_file(const std::string& path, std::string_view text,
                                                const std::string& temporary);

  private:
    void look(SteadyClock::time_point now);
    std::optional<int> write(std::size_t overlay, std::string_view text);

    Supervisor& supervisor_;
    std::string folder_;
    LiveOverlayPlan plan_;
    Say say_;
    WriteText write_text_;
    OverlayState state_;
    std::array<int, overlay_count> unwritten_{}; // the error said of a file not written, or 0
    bool write_failed_ = false;                  // since the overlay file was last looked at
    std::optional<BridgeClient> bridge_;
    bool stopped_ = false;
};

#include "live/live_overlays.h"

#include "core/option_table.h"
#include "core/options.h"
#include "core/utf8.h"
#include "ffmpeg/filter_chain.h"
#include "ffmpeg/live_watch.h"
#include "process/cleanup.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The overlay file is looked at this often: a change shows within a few of these.
constexpr std::chrono::milliseconds look_interval{50};

// Only castora writes in the run's folder, so each text has one fixed temporary name.
std::string temporary_path(const std::string& folder, std::string_view key) {
    return folder + "/." + std::string{key} + ".new";
}

bool write_file(const std::string& path, std::string_view text) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            close(fd);
            errno = error;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return close(fd) == 0;
}

} // namespace

std::variant<std::optional<LiveOverlayStart>, std::string>
start_live_overlays(StudioOptions& options, bool dry_run) {
    std::optional<OverlayFileWatch> overlay_file;
    if (!options.overlay_file.empty()) {
        overlay_file.emplace(options.overlay_file);
        const auto into_options = [&](std::string_view key, std::string_view text) {
            std::string refusal = overlay_text_refusal(text);
            if (refusal.empty()) {
                store_value(options, *find_config_key(key), text);
            }
            return refusal;
        };
        for (const std::string& message : overlay_file->look(SteadyClock::now(), into_options)) {
            std::fputs(live_line(message).c_str(), stderr);
        }
    } else if (!options.live_overlays) {
        return std::nullopt;
    }
    if (dry_run) {
        return LiveOverlayStart{std::string{overlay_folder_template}, std::move(overlay_file)};
    }
    const auto folder = make_overlay_folder();
    if (!folder) {
        return std::string{"Could not make a folder for the live overlay texts: "} +
               std::strerror(errno) + "\n";
    }
    return LiveOverlayStart{*folder, std::move(overlay_file)};
}

std::optional<LiveOverlaySetup> live_overlay_setup(const StudioOptions& options,
                                                   const ScenePreset& scene,
                                                   std::optional<LiveOverlayStart> start) {
    if (!start) {
        return std::nullopt;
    }
    OverlayTexts texts = drawn_overlay_texts(options, scene);
    for (std::size_t i = 0; i < overlay_count; ++i) {
        if (texts[i]) {
            texts[i] = overlay_file_text(overlay_boxes()[i], *texts[i]);
        }
    }
    return LiveOverlaySetup{
        start->folder,
        texts,
        std::move(start->overlay_file),
        {options.automation_poll_url, options.automation_ack_url, options.automation_token}};
}

std::optional<std::string> make_overlay_folder() {
    std::string folder{overlay_folder_template};
    if (mkdtemp(folder.data()) == nullptr) {
        return std::nullopt;
    }
    remove_at_end(folder, Removal::always);
    for (const OverlayBox& box : overlay_boxes()) {
        remove_at_end(overlay_file_path(folder, box.key), Removal::always);
        remove_at_end(temporary_path(folder, box.key), Removal::always);
    }
    return folder;
}

LiveOverlays::LiveOverlays(Supervisor& supervisor, LiveOverlaySetup setup, Say say)
    : supervisor_(supervisor), setup_(std::move(setup)), say_(std::move(say)),
      state_(setup_.texts) {}

bool LiveOverlays::write(std::size_t overlay) {
    const std::string_view key = overlay_boxes()[overlay].key;
    const std::string temporary = temporary_path(setup_.folder, key);
    if (write_file(temporary, state_.text(overlay)) &&
        std::rename(temporary.c_str(), overlay_file_path(setup_.folder, key).c_str()) == 0) {
        return true;
    }
    say_("the text of " + std::string{key} + " could not be written: " + std::strerror(errno) +
         "; it shows its last text.");
    unlink(temporary.c_str());
    return false;
}

bool LiveOverlays::write_all() {
    for (std::size_t i = 0; i < overlay_count; ++i) {
        if (state_.drawn(i) && !write(i)) {
            return false;
        }
    }
    return true;
}

std::string LiveOverlays::apply(std::string_view key, std::string_view text) {
    const OverlayState::Outcome outcome = state_.set(key, text);
    if (outcome.rewrite) {
        write(*outcome.rewrite);
    }
    return outcome.refusal;
}

void LiveOverlays::look(SteadyClock::time_point now) {
    if (setup_.overlay_file) {
        const auto apply_text = [this](std::string_view key, std::string_view text) {
            return apply(key, text);
        };
        for (const std::string& message : setup_.overlay_file->look(now, apply_text)) {
            say_(message);
        }
    }
    if (const std::string line = state_.status_line(now); !line.empty()) {
        say_(line + ".");
    }
}

void LiveOverlays::start() {
    supervisor_.every(look_interval, [this](SteadyClock::time_point now) {
        if (!stopped_) {
            look(now);
        }
    });
    if (!setup_.bridge.poll_url.empty()) {
        const auto apply_action = [this](const BridgeAction& action) {
            std::string refusal = apply(action.overlay, action.text);
            if (!refusal.empty()) {
                say_("the automation bridge's action " + terminal_safe(action.id) + " for " +
                     terminal_safe(action.overlay) + " was refused: " + refusal + ".");
            }
            return refusal;
        };
        bridge_.emplace(supervisor_, setup_.bridge, apply_action, say_);
        bridge_->start();
    }
}

void LiveOverlays::stop() {
    stopped_ = true;
    if (bridge_) {
        bridge_->stop();
    }
}

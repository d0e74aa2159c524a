#include "live/live_overlays.h"

#include "core/utf8.h"
#include "ffmpeg/filter_chain.h"
#include "files/replace_file.h"
#include "process/cleanup.h"

#include <cstring>
#include <utility>

namespace {

// The overlay file is looked at this often: a change shows within a few of these.
constexpr std::chrono::milliseconds look_interval{50};

// Only castora writes in the run's folder, so each text has one fixed temporary name.
std::string temporary_path(const std::string& folder, std::string_view key) {
    return folder + "/." + std::string{key} + ".new";
}

OverlayTexts as_shown_from_files(OverlayTexts texts) {
    for (std::size_t i = 0; i < overlay_count; ++i) {
        if (texts[i]) {
            texts[i] = overlay_file_text(overlay_boxes()[i], *texts[i]);
        }
    }
    return texts;
}

} // namespace

LiveOverlays::LiveOverlays(Supervisor& supervisor, std::string folder, const OverlayTexts& drawn,
                           LiveOverlayPlan plan, Say say, WriteText write_text)
    : supervisor_(supervisor), folder_(std::move(folder)), plan_(std::move(plan)),
      say_(std::move(say)), write_text_(std::move(write_text)), state_(as_shown_from_files(drawn)) {
    for (const OverlayBox& box : overlay_boxes()) {
        remove_at_end(overlay_file_path(folder_, box.key), Removal::always);
        remove_at_end(temporary_path(folder_, box.key), Removal::always);
    }
}

std::optional<int> LiveOverlays::replace_text_file(const std::string& path, std::string_view text,
                                                   const std::string& temporary) {
    return replace_file(path, text, 0600, temporary);
}

std::optional<int> LiveOverlays::write(std::size_t overlay, std::string_view text) {
    const std::string_view key = overlay_boxes()[overlay].key;
    return write_text_(overlay_file_path(folder_, key), text, temporary_path(folder_, key));
}

bool LiveOverlays::write_all() {
    for (std::size_t i = 0; i < overlay_count; ++i) {
        if (!state_.drawn(i)) {
            continue;
        }
        if (const auto error = write(i, state_.text(i))) {
            say_("the text of " + std::string{overlay_boxes()[i].key} +
                 " could not be written in " + terminal_safe(folder_) + ": " +
                 std::strerror(*error) + "; the stream does not start.");
            return false;
        }
    }
    return true;
}

std::optional<std::string> LiveOverlays::apply(std::string_view key, std::string_view text) {
    OverlayState::Change change = state_.change(key, text);
    if (change.refusal || !change.overlay) {
        return change.refusal;
    }
    const std::size_t overlay = *change.overlay;
    if (const auto error = write(overlay, change.text)) {
        write_failed_ = true;
        // Said once for as long as the file cannot be written for the same reason.
        if (std::exchange(unwritten_[overlay], *error) != *error) {
            say_("the text of " + std::string{key} +
                 " could not be written: " + std::strerror(*error) + "; the picture still shows " +
                 shown_as(state_.text(overlay)) + ".");
        }
        return "could not be written: " + std::string{std::strerror(*error)};
    }
    unwritten_[overlay] = 0;
    state_.shown(overlay, std::move(change.text));
    return std::nullopt;
}

void LiveOverlays::look(SteadyClock::time_point now) {
    if (plan_.overlay_file) {
        const auto apply_text = [this](std::string_view key, std::string_view text) {
            return apply(key, text);
        };
        write_failed_ = false;
        for (const std::string& message : plan_.overlay_file->look(now, apply_text)) {
            say_(message);
        }
        if (write_failed_) {
            // The file still says what the picture does not show yet: it is taken again.
            plan_.overlay_file->read_again();
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
    if (!plan_.bridge.poll_url.empty()) {
        const auto apply_action = [this](const BridgeAction& action) {
            return apply(action.overlay, action.text);
        };
        bridge_.emplace(supervisor_, plan_.bridge, apply_action, say_);
        bridge_->start();
    }
}

void LiveOverlays::stop() {
    stopped_ = true;
    if (bridge_) {
        bridge_->stop();
    }
}

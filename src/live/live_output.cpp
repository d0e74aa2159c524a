#include "live/live_output.h"

#include "core/write_all.h"
#include "files/run_logs.h"
#include "process/cleanup.h"
#include "process/error_output.h"

#include <unistd.h>
#include <utility>

namespace {

constexpr std::chrono::milliseconds shortest_redraw{500};

// Never waits for a reader that falls behind.
void write_error(std::string_view text) {
    write_error_text(text);
}

} // namespace

LiveOutput::LiveOutput(bool verbose, std::string log_folder) : log_folder_(std::move(log_folder)) {
    if (!verbose && isatty(STDERR_FILENO) == 1) {
        view_.emplace(write_error, [](std::string_view erase) { erase_screen_at_end(erase); });
        colour_ = terminal_has_colour();
    }
}

LiveOutput::~LiveOutput() {
    close();
}

void LiveOutput::terminal(std::string_view text) {
    if (text.empty()) {
        return;
    }
    if (view_) {
        view_->above(text, terminal_width(STDERR_FILENO));
    } else {
        write_error(text);
    }
}

bool LiveOutput::open_log() {
    if (std::exchange(log_tried_, true)) {
        return false;
    }
    auto file = create_run_log(log_folder_);
    if (!file) {
        return false;
    }
    log_path_ = std::move(file->path);
    log_fd_ = file->fd;
    return true;
}

void LiveOutput::log(std::string_view text) {
    if (log_fd_ >= 0 && !text.empty() && !write_all(log_fd_, text)) {
        // A full disk ends the log, not the stream.
        ::close(log_fd_);
        log_fd_ = -1;
    }
}

void LiveOutput::show(const LiveStatus& status, std::chrono::steady_clock::time_point now,
                      bool now_anyway) {
    if (!view_ || (!now_anyway && now - drawn_at_ < shortest_redraw)) {
        return;
    }
    drawn_at_ = now;
    const std::size_t width = terminal_width(STDERR_FILENO);
    view_->draw(render_status(status, width, colour_), width);
}

void LiveOutput::close() {
    if (view_) {
        view_->erase(terminal_width(STDERR_FILENO));
        view_.reset();
    }
    if (log_fd_ >= 0) {
        ::close(log_fd_);
        log_fd_ = -1;
    }
}

#include "live/status_view.h"

#include "live/live_lines.h"

#include <cstdio>
#include <cstdlib>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr std::string_view green = "\x1b[32m";
constexpr std::string_view yellow = "\x1b[33m";
constexpr std::string_view red = "\x1b[31m";
constexpr std::string_view plain = "\x1b[0m";
constexpr std::size_t default_width = 80;
constexpr std::size_t name_column = 20;

// Columns a text takes: one a character (continuation bytes and escape sequences take none).
std::size_t columns(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == 0x1b) {
            while (i < text.size() && text[i] != 'm') {
                ++i;
            }
        } else if ((byte & 0xC0u) != 0x80u) {
            ++count;
        }
    }
    return count;
}

// The text cut to `width` columns without splitting a character.
std::string cut(std::string_view text, std::size_t width) {
    std::size_t count = 0;
    std::size_t end = 0;
    for (; end < text.size(); ++end) {
        const auto byte = static_cast<unsigned char>(text[end]);
        if ((byte & 0xC0u) != 0x80u && ++count > width) {
            break;
        }
    }
    return std::string{text.substr(0, end)};
}

std::string painted(std::string_view text, std::string_view colour, bool colours) {
    return colours ? std::string{colour} + std::string{text} + std::string{plain}
                   : std::string{text};
}

// The first field always (cut to fit), then each further one while it fits.
std::string fitted(const std::vector<std::string>& fields, std::size_t width) {
    std::string line;
    for (const std::string& field : fields) {
        if (line.empty()) {
            line = columns(field) <= width ? field : cut(field, width);
            continue;
        }
        std::string joined = line;
        joined += "  ";
        joined += field;
        if (columns(joined) <= width) {
            line = std::move(joined);
        }
    }
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}

std::string padded(const std::string& text, std::size_t width) {
    const std::size_t used = columns(text);
    return used >= width ? text : text + std::string(width - used, ' ');
}

std::string decimal(double value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    return text;
}

std::string_view state_word(RunState state) {
    switch (state) {
    case RunState::starting:
        return "STARTING";
    case RunState::live:
        return "LIVE";
    case RunState::restarting:
        return "RESTARTING";
    case RunState::stopping:
        return "STOPPING";
    }
    return "";
}

std::pair<std::string_view, std::string_view> health_word(DestinationHealth health) {
    switch (health) {
    case DestinationHealth::connecting:
        return {"connecting", yellow};
    case DestinationHealth::unreachable:
        return {"retrying", red};
    case DestinationHealth::up:
        return {"up", green};
    case DestinationHealth::lost:
        return {"lost", red};
    case DestinationHealth::back:
        return {"back", green};
    case DestinationHealth::off:
        return {"off", red};
    }
    return {"", plain};
}

} // namespace

std::string size_text(std::uintmax_t bytes) {
    const double value = static_cast<double>(bytes);
    if (value >= 1e9) {
        return decimal(value / 1e9, 2) + " GB";
    }
    if (value >= 1e6) {
        return decimal(value / 1e6, 1) + " MB";
    }
    return decimal(value / 1e3, 0) + " KB";
}

std::string bitrate_text(double kbps) {
    return kbps >= 1000 ? decimal(kbps / 1000, 1) + " Mb/s" : decimal(kbps, 0) + " kb/s";
}

std::vector<std::string> render_status(const LiveStatus& status, std::size_t width, bool colour) {
    const std::size_t room = width > 1 ? width - 1 : 1; // never the last column: no wrapping
    const FfmpegProgress progress = status.progress.value_or(FfmpegProgress{});
    const bool healthy = status.state == RunState::live;
    std::vector<std::string> header{
        painted(state_word(status.state), healthy ? green : yellow, colour) + " " +
            live_duration(status.live_for),
        (progress.fps ? decimal(*progress.fps, 1) : std::string{"--"}) + "/" +
            std::to_string(status.profile_fps) + " fps",
        "speed " + (progress.speed ? decimal(*progress.speed, 2) + "x" : std::string{"--"}),
        "dropped " + std::to_string(progress.dropped),
        "duplicated " + std::to_string(progress.duplicated),
        status.profile_key};
    if (progress.speed && *progress.speed < slowest_real_time && status.state == RunState::live) {
        header[2] = painted(header[2], red, colour);
    }
    std::vector<std::string> lines{fitted(header, room)};
    for (const DestinationStatus& destination : status.destinations) {
        const auto [word, word_colour] = health_word(destination.health);
        lines.push_back(fitted({"  " + padded(destination.name, name_column - 2),
                                painted(padded(std::string{word}, 10), word_colour, colour),
                                plural(destination.overflows, "overflow")},
                               room));
    }
    if (!status.recording.empty()) {
        std::vector<std::string> recording{"  rec " + status.recording};
        if (status.recording_bytes) {
            recording.push_back(size_text(*status.recording_bytes));
        }
        if (status.recording_kbps) {
            recording.push_back("at " + bitrate_text(*status.recording_kbps));
        }
        lines.push_back(fitted(recording, room));
    }
    return lines;
}

std::string TerminalView::erase_sequence(std::size_t width) const {
    // A line drawn on a wider terminal takes more rows once the terminal is narrower.
    std::size_t rows = 0;
    for (const std::string& line : drawn_) {
        const std::size_t used = columns(line);
        rows += width > 0 && used > width ? (used + width - 1) / width : 1;
    }
    return rows == 0 ? std::string{} : "\r\x1b[" + std::to_string(rows) + "A\x1b[J";
}

void TerminalView::draw(const std::vector<std::string>& lines, std::size_t width) {
    std::string text = erase_sequence(width);
    for (const std::string& line : lines) {
        text += line;
        text += "\n";
    }
    write_(text);
    drawn_ = lines;
    erasing_(erase_sequence(width));
}

void TerminalView::above(std::string_view text, std::size_t width) {
    std::string out = erase_sequence(width);
    out += text;
    for (const std::string& line : drawn_) {
        out += line;
        out += "\n";
    }
    write_(out);
}

void TerminalView::erase(std::size_t width) {
    write_(erase_sequence(width));
    drawn_.clear();
    erasing_("");
}

bool terminal_has_colour() {
    const char* term = std::getenv("TERM");
    const char* no_colour = std::getenv("NO_COLOR");
    return (no_colour == nullptr || no_colour[0] == '\0') && term != nullptr &&
           std::string_view{term} != "dumb" && term[0] != '\0';
}

std::size_t terminal_width(int fd) {
    winsize size{};
    return ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : default_width;
}

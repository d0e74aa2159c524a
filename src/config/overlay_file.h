#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// The overlay file: key=value lines a creator or any tool edits while live, with the studio
// config's keys for the five overlay texts, its comments and its blank lines.

struct OverlayFileValue {
    unsigned long line = 0;
    std::string key;
    std::string text;
};

struct OverlayFileContent {
    std::vector<OverlayFileValue> values;
    std::vector<std::string> problems; // "line N: why; the line is left out"
};

// Reads the file's text: a line without '=', one longer than a config line (2047 bytes) or one
// whose key is not an overlay's is a problem; a line beginning with '=' is ignored, as in a config
// file, and a leading byte-order mark skipped.
OverlayFileContent read_overlay_file_text(std::string_view text);

// Watches the file with a cheap stat on every look. A changed file is read once it has stayed
// the same from one look to the next, and read again when it changed while being read, so a file
// that an editor or `echo >` rewrites in place is never taken half-written. A file that keeps
// changing (a counter rewriting it many times a second) is read all the same once its change has
// waited 150 ms, and taken only when the read is whole: it ends in a line feed and every line of
// it can be read; so with a look every 50 ms its latest text shows five times a second, each
// within 250 ms.
class OverlayFileWatch {
  public:
    using Clock = std::chrono::steady_clock;

    explicit OverlayFileWatch(std::string path) : path_(std::move(path)) {}

    // Applies one text of the file; why it was refused, or nothing.
    using Apply =
        std::function<std::optional<std::string>(std::string_view key, std::string_view text)>;

    // The first look reads the file at once; later ones read it when it has changed and settled,
    // and apply each of its texts. The messages to say: each problem once, not on every look.
    std::vector<std::string> look(Clock::time_point now, const Apply& apply);

    // The file is taken again on a later look, changed or not (a text of it could not be shown).
    void read_again() { applied_.reset(); }

  private:
    struct Signature {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        std::int64_t modified_ns = 0;
        std::int64_t changed_ns = 0;
        bool operator==(const Signature&) const = default;
    };
    std::string name() const;
    void unreadable(std::vector<std::string>& messages, const std::string& reason);

    std::string path_;
    bool looked_ = false;
    std::optional<Signature> applied_;
    std::optional<Signature> candidate_;
    Clock::time_point candidate_since_{};
    std::optional<Clock::time_point> changing_since_; // a change not taken yet was first seen
    std::string problem_;                             // the file's problem, said once
    std::set<std::string> line_problems_;             // said for the file as it is
};

#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The lines that tell of the bridge's refused actions: one is said at once, and while refusals
// keep coming, the rest come as one line a second with their counts, never one line an action.
class RefusalLines {
  public:
    using Clock = std::chrono::steady_clock;

    // The action was refused: the line to say now, or nothing (it is counted for a later line).
    std::string refused(std::string_view id, std::string_view overlay, std::string_view reason,
                        Clock::time_point now);

    // When the refusals counted are due to be said; nothing when none is counted.
    std::optional<Clock::time_point> due() const;

    // The line for the refusals counted, once they are due at `now`; or nothing.
    std::string line(Clock::time_point now);

  private:
    std::optional<Clock::time_point> last_line_;
    int counted_ = 0;
    std::vector<std::pair<std::string, int>> reasons_; // in the order first met
    std::string last_id_;                              // of the last one counted
    std::string last_overlay_;
    std::string last_reason_;
};

#include "automation/refusal_lines.h"

#include "core/utf8.h"

#include <algorithm>

namespace {

constexpr std::chrono::seconds line_interval{1};

std::string refusal_line(std::string_view id, std::string_view overlay, std::string_view reason) {
    return "the automation bridge's action " + terminal_safe(id) + " for " +
           terminal_safe(overlay) + " was refused: " + std::string{reason} + ".";
}

} // namespace

std::string RefusalLines::refused(std::string_view id, std::string_view overlay,
                                  std::string_view reason, Clock::time_point now) {
    if (counted_ == 0 && (!last_line_ || now - *last_line_ >= line_interval)) {
        last_line_ = now;
        return refusal_line(id, overlay, reason);
    }
    ++counted_;
    const auto known =
        std::find_if(reasons_.begin(), reasons_.end(),
                     [reason](const auto& counted) { return counted.first == reason; });
    if (known == reasons_.end()) {
        reasons_.emplace_back(reason, 1);
    } else {
        ++known->second;
    }
    last_id_ = id;
    last_overlay_ = overlay;
    last_reason_ = reason;
    return {};
}

std::optional<RefusalLines::Clock::time_point> RefusalLines::due() const {
    return counted_ == 0 ? std::nullopt : std::optional{*last_line_ + line_interval};
}

std::string RefusalLines::line(Clock::time_point now) {
    if (counted_ == 0 || now < *due()) {
        return {};
    }
    std::string line;
    if (counted_ == 1) {
        line = refusal_line(last_id_, last_overlay_, last_reason_);
    } else {
        line = std::to_string(counted_) + " more actions of the automation bridge were refused: ";
        const char* separator = "";
        for (const auto& [reason, count] : reasons_) {
            line += separator + reason + " (" + std::to_string(count) + ")";
            separator = ", ";
        }
        line += "; the last was action " + terminal_safe(last_id_) + " for " +
                terminal_safe(last_overlay_) + ".";
    }
    counted_ = 0;
    reasons_.clear();
    last_line_ = now;
    return line;
}

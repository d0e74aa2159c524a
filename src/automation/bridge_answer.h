#pragma once

#include "core/failure.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The automation bridge's protocol, as a bridge author codes against it. castora GETs the poll
// URL; the bridge answers with a JSON object of exactly this shape (other members are ignored):
//
//     {"actions":[{"id":"17","action":"overlay_event","overlay":"score_left","text":"Team A 5"}]}
//
// and castora POSTs one acknowledgement per action to the acknowledgement URL:
//
//     {"id":"17","status":"applied"}
//     {"id":"17","status":"rejected","reason":"unsupported action"}

inline constexpr std::size_t max_bridge_answer_bytes = 65536;
inline constexpr std::size_t max_action_id_bytes = 256;

struct BridgeAction {
    std::string id;
    std::string action;
    std::string overlay; // overlay_event only
    std::string text;    // overlay_event only

    bool operator==(const BridgeAction&) const = default;
};

inline constexpr std::string_view overlay_event = "overlay_event";

// The actions of an answer, or why nothing of it can be used: it is not JSON, or not of that
// shape (a member of the wrong type, an action without its id, an overlay_event without its
// overlay or text). An empty body is an answer without actions.
Expected<std::vector<BridgeAction>, std::string> read_bridge_answer(std::string_view body);

// The acknowledgement of an action: applied without a reason, rejected with one.
std::string bridge_acknowledgement(std::string_view id, const std::optional<std::string>& reason);

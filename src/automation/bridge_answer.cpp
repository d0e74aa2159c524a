#include "automation/bridge_answer.h"

#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

// The member as a string, or nothing when it is missing or of another type.
std::optional<std::string> string_member(const json& object, const char* name) {
    const auto member = object.find(name);
    return member != object.end() && member->is_string()
               ? std::optional<std::string>{member->get<std::string>()}
               : std::nullopt;
}

} // namespace

Expected<std::vector<BridgeAction>, std::string> read_bridge_answer(std::string_view body) {
    if (body.find_first_not_of(" \t\r\n") == std::string_view::npos) {
        return std::vector<BridgeAction>{};
    }
    const json answer = json::parse(body.begin(), body.end(), nullptr, false);
    if (answer.is_discarded()) {
        return std::string{"it is not JSON"};
    }
    const auto actions = answer.is_object() ? answer.find("actions") : answer.end();
    if (!answer.is_object() || actions == answer.end() || !actions->is_array()) {
        return std::string{"it is not an object with an \"actions\" array"};
    }
    std::vector<BridgeAction> read;
    for (const json& action : *actions) {
        if (!action.is_object()) {
            return std::string{"an action is not an object"};
        }
        BridgeAction one;
        const auto id = string_member(action, "id");
        const auto kind = string_member(action, "action");
        if (!id || id->empty() || id->size() > max_action_id_bytes || !kind) {
            return std::string{"an action has no \"id\" string of at most 256 bytes, or no "
                               "\"action\" string"};
        }
        one.id = *id;
        one.action = *kind;
        if (one.action == overlay_event) {
            const auto overlay = string_member(action, "overlay");
            const auto text = string_member(action, "text");
            if (!overlay || !text) {
                return std::string{"an overlay_event has no \"overlay\" or \"text\" string"};
            }
            one.overlay = *overlay;
            one.text = *text;
        }
        read.push_back(std::move(one));
    }
    return read;
}

std::string bridge_acknowledgement(std::string_view id, const std::optional<std::string>& reason) {
    // In the order the protocol writes them.
    nlohmann::ordered_json acknowledgement = {{"id", std::string{id}},
                                              {"status", reason ? "rejected" : "applied"}};
    if (reason) {
        acknowledgement["reason"] = *reason;
    }
    // Whatever bytes the reason holds, the acknowledgement stays JSON.
    return acknowledgement.dump(-1, ' ', false, json::error_handler_t::replace);
}

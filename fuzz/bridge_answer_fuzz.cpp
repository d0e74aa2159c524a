// The automation bridge's answer, as any bridge may send it. Whatever comes, nothing crashes and
// an answer read holds only actions a launch can act on: a non-empty id of at most 256 bytes
// that an acknowledgement carries back, as JSON, exactly. A failed property aborts, and
// libFuzzer keeps the input.

#include "automation/bridge_answer.h"

#include <nlohmann/json.hpp>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body{reinterpret_cast<const char*>(data), size};
    const auto answer = read_bridge_answer(body);
    for (const BridgeAction& action : answer ? *answer : std::vector<BridgeAction>{}) {
        const auto acknowledgement =
            nlohmann::json::parse(bridge_acknowledgement(action.id, "unknown overlay"), nullptr, false);
        if (action.id.empty() || action.id.size() > max_action_id_bytes || acknowledgement.is_discarded() ||
            acknowledgement["id"] != action.id) {
            std::abort();
        }
    }
    return 0;
}

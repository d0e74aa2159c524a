#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

// What castora did with the automation bridge's actions, by id, and the acknowledgements waiting
// to be sent. A bridge may send an action again until it is acknowledged (or forever): an action
// already settled is acknowledged again, never carried out again, and an acknowledgement already
// waiting is not queued twice. Both are bounded, so a bridge that floods castora with actions
// cannot make it grow: the newest 4096 ids are remembered, and at most 1024 acknowledgements wait
// (one that finds the queue full is sent when the bridge sends its action again).
class ActionLedger {
  public:
    static constexpr std::size_t remembered_ids = 4096;
    static constexpr std::size_t waiting_acknowledgements = 1024;

    // The acknowledgement of the action with this id when it was settled, else nothing.
    const std::string* settled(const std::string& id) const;

    // The action was carried out or refused: `acknowledgement` says which.
    void settle(const std::string& id, const std::string& acknowledgement);

    // Queues the acknowledgement of a settled action, unless it waits already. False when the
    // queue is full: it is left out.
    bool queue(const std::string& id);

    // The next acknowledgement to send, with its action's id, or nothing.
    std::optional<std::pair<std::string, std::string>> next() const;

    // The next acknowledgement was sent, or given up.
    void sent();

  private:
    std::unordered_map<std::string, std::string> acknowledgements_; // by id
    std::deque<std::string> settled_order_;                         // oldest first
    std::deque<std::pair<std::string, std::string>> queue_;         // id, acknowledgement
    std::unordered_set<std::string> waiting_;                       // the ids in the queue
};

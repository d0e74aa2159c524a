#include "automation/action_ledger.h"

const std::string* ActionLedger::settled(const std::string& id) const {
    const auto found = acknowledgements_.find(id);
    return found == acknowledgements_.end() ? nullptr : &found->second;
}

void ActionLedger::settle(const std::string& id, const std::string& acknowledgement) {
    if (const auto [at, added] = acknowledgements_.try_emplace(id, acknowledgement); !added) {
        return;
    }
    settled_order_.push_back(id);
    if (settled_order_.size() > remembered_ids) {
        acknowledgements_.erase(settled_order_.front());
        settled_order_.pop_front();
    }
}

bool ActionLedger::queue(const std::string& id) {
    const std::string* acknowledgement = settled(id);
    if (acknowledgement == nullptr || waiting_.contains(id)) {
        return true;
    }
    if (queue_.size() >= waiting_acknowledgements) {
        return false;
    }
    queue_.emplace_back(id, *acknowledgement);
    waiting_.insert(id);
    return true;
}

std::optional<std::pair<std::string, std::string>> ActionLedger::next() const {
    return queue_.empty() ? std::nullopt : std::optional{queue_.front()};
}

void ActionLedger::sent() {
    if (!queue_.empty()) {
        waiting_.erase(queue_.front().first);
        queue_.pop_front();
    }
}

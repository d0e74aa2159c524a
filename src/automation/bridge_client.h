#pragma once

#include "automation/action_ledger.h"
#include "automation/bridge_answer.h"
#include "automation/refusal_lines.h"
#include "process/supervisor.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

struct BridgeSettings {
    std::string poll_url;
    std::string ack_url; // empty: actions are not acknowledged
    std::string token;   // empty: no Authorization header
};

// Polls the automation bridge while live, on the live run's loop, and hands each action on.
//
// Every request is a curl run through the one process starter, in a process group of its own,
// bounded in time, ended with the run. The URL and the token reach curl on its standard input,
// never on a command line (which every user of the machine can read) and never in a message; no
// redirect is followed, so the token goes to the configured URL and nowhere else.
//
// The bridge may hold a poll for up to 25 s (long poll) or answer at once. castora asks again at
// once after new actions, half a second after an answer without any (or with only actions it
// has settled before), and backs off to every 5 s while the bridge cannot be reached, saying once
// that it went away and once that it is back.
//
// Each action is carried out once: one sent again (the same id) is acknowledged again, not
// applied again. The acknowledgements are sent one at a time, each once, from a bounded queue
// (see ActionLedger); refused actions are said as RefusalLines says them.
class BridgeClient {
  public:
    // Applies an overlay_event; why it was refused, or nothing.
    using Apply = std::function<std::optional<std::string>(const BridgeAction& action)>;
    // Says a line of its own ("Live: " goes before it).
    using Say = std::function<void(const std::string& line)>;

    BridgeClient(Supervisor& supervisor, BridgeSettings settings, Apply apply, Say say);
    ~BridgeClient();
    BridgeClient(const BridgeClient&) = delete;
    BridgeClient& operator=(const BridgeClient&) = delete;

    // The first poll; a token no HTTP header can carry stops here, with its message.
    void start();

    // The run is over: no request starts any more, and the ends of those running are not news.
    void stop();

  private:
    class Request;
    void poll();
    void polled(const Request& request);
    bool take(const BridgeAction& action);
    void say_refusals_when_due();
    void acknowledge_next();
    void acknowledged(const Request& request);
    void ask_again_in(std::chrono::milliseconds pause);
    void unusable(const std::string& problem);
    void set_problem(std::string& said, const std::string& problem, const std::string& line);

    Supervisor& supervisor_;
    BridgeSettings settings_;
    Apply apply_;
    Say say_;
    std::unique_ptr<Request> poll_;
    std::unique_ptr<Request> acknowledgement_;
    ActionLedger ledger_;
    RefusalLines refusals_;
    bool refusals_due_ = false; // a task says them when due
    bool queue_full_ = false;   // said: acknowledgements were left out
    std::chrono::milliseconds backoff_{0};
    std::string unreachable_;    // said: the bridge cannot be reached
    std::string unusable_;       // said: an answer could not be used
    std::string unacknowledged_; // said: an acknowledgement was not taken
    bool stopped_ = false;
};

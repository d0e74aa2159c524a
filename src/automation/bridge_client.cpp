#include "automation/bridge_client.h"

#include "core/utf8.h"
#include "process/curl.h"
#include "process/signals.h"

#include <algorithm>
#include <utility>

#include <sys/wait.h>

namespace {

using std::chrono::milliseconds;

// The bridge may hold a poll 25 s; curl gives up a little later, and the run's loop after that.
constexpr int poll_seconds = 28;
constexpr milliseconds poll_time_limit{30000};
constexpr int acknowledgement_seconds = 5;
constexpr milliseconds acknowledgement_time_limit{10000};
constexpr milliseconds pause_after_empty_answer{500};
constexpr milliseconds first_backoff{1000};
constexpr milliseconds longest_backoff{5000};
// Beyond the answer: the line break and the HTTP status that curl writes after it.
constexpr std::size_t status_trailer_bytes = 8;

bool carries_in_a_header(std::string_view token) {
    return std::none_of(token.begin(), token.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 32 || byte == 127;
    });
}

std::string curl_failure(int status, int seconds) {
    switch (status) {
    case 6:
        return "its host name cannot be resolved";
    case 7:
        return "the connection was refused";
    case 28:
        return "it gave no answer within " + std::to_string(seconds) + " s";
    case 35:
    case 51:
    case 58:
    case 60:
        return "the TLS connection failed";
    case 52:
        return "it closed the connection without answering";
    case 56:
        return "the connection broke";
    default:
        return "curl ended with status " + std::to_string(status);
    }
}

} // namespace

// One curl run: its output (the answer, then the HTTP status on a line of its own) and how it
// ended.
class BridgeClient::Request : public ChildWatcher {
  public:
    Request(BridgeClient& owner, bool is_poll) : owner_(owner), is_poll_(is_poll) {}

    int start(const std::string& url, const std::string& body) {
        CurlRequest request{{"--silent", "--globoff", "--proto", "=http,https", "--noproxy",
                             "127.0.0.1,localhost,::1", "--max-time",
                             std::to_string(is_poll_ ? poll_seconds : acknowledgement_seconds),
                             "--write-out", "\\n%{http_code}"},
                            url,
                            {},
                            std::nullopt};
        if (!owner_.settings_.token.empty()) {
            request.headers.push_back("Authorization: Bearer " + owner_.settings_.token);
        }
        if (!is_poll_) {
            request.headers.emplace_back("Content-Type: application/json");
            request.data = body;
            request.options.insert(request.options.end(), {"--output", "/dev/null"});
        }
        ChildSpec spec = curl_child(request);
        spec.silent = true;
        spec.piped_fd = 1;
        return owner_.supervisor_.start(spec, *this,
                                        is_poll_ ? poll_time_limit : acknowledgement_time_limit);
    }

    bool received(std::string_view bytes) override {
        output_ += bytes;
        too_large_ = output_.size() > max_bridge_answer_bytes + status_trailer_bytes;
        return !too_large_;
    }

    void ended(const ChildEnd& end) override {
        end_ = end;
        // A stop ends curl with the rest: that is no news of the bridge.
        if (owner_.stopped_ || owner_.supervisor_.stopping()) {
            return;
        }
        if (is_poll_) {
            owner_.polled(*this);
        } else {
            owner_.acknowledged(*this);
        }
    }

    bool answered_too_much() const { return too_large_; }

    // Why the request failed, or nothing; the answer is in `body`.
    std::string failure(std::string& body) const {
        const int seconds = is_poll_ ? poll_seconds : acknowledgement_seconds;
        if (end_.timed_out) {
            return "it gave no answer within " + std::to_string(seconds) + " s";
        }
        if (!end_.waited || !WIFEXITED(end_.status)) {
            return "curl was ended";
        }
        if (WEXITSTATUS(end_.status) != 0) {
            return curl_failure(WEXITSTATUS(end_.status), seconds);
        }
        const std::size_t line = output_.rfind('\n');
        const std::string status = output_.substr(line == std::string::npos ? 0 : line + 1);
        if (!status.starts_with('2') || status.size() != 3) {
            return "it answered with HTTP status " + terminal_safe(status);
        }
        body = output_.substr(0, line == std::string::npos ? 0 : line);
        return {};
    }

    bool is_poll() const { return is_poll_; }

  private:
    BridgeClient& owner_;
    bool is_poll_;
    std::string output_;
    bool too_large_ = false;
    ChildEnd end_;
};

BridgeClient::BridgeClient(Supervisor& supervisor, BridgeSettings settings, Apply apply, Say say)
    : supervisor_(supervisor), settings_(std::move(settings)), apply_(std::move(apply)),
      say_(std::move(say)) {}

BridgeClient::~BridgeClient() = default;

void BridgeClient::start() {
    if (!carries_in_a_header(settings_.token)) {
        say_("the automation token holds a line break or another control character, which no "
             "HTTP header can carry; the automation bridge is not asked.");
        return;
    }
    poll();
}

void BridgeClient::stop() {
    stopped_ = true;
}

void BridgeClient::poll() {
    if (stopped_) {
        return;
    }
    poll_ = std::make_unique<Request>(*this, true);
    if (const int error = poll_->start(settings_.poll_url, {}); error != 0) {
        set_problem(unreachable_, "curl cannot be run",
                    "the automation bridge cannot be asked: curl cannot be run.");
        ask_again_in(longest_backoff);
    }
}

void BridgeClient::set_problem(std::string& said, const std::string& problem,
                               const std::string& line) {
    if (said != problem) {
        say_(line);
        said = problem;
    }
}

void BridgeClient::ask_again_in(milliseconds pause) {
    supervisor_.at(SteadyClock::now() + pause, [this] { poll(); });
}

void BridgeClient::polled(const Request& request) {
    if (request.answered_too_much()) {
        unusable("it is larger than " + std::to_string(max_bridge_answer_bytes / 1024) + " KiB");
        return ask_again_in(pause_after_empty_answer);
    }
    std::string body;
    if (const std::string failure = request.failure(body); !failure.empty()) {
        set_problem(unreachable_, failure,
                    "the automation bridge cannot be reached: " + failure +
                        "; castora keeps asking.");
        backoff_ =
            std::min(longest_backoff, backoff_ == milliseconds{0} ? first_backoff : 2 * backoff_);
        return ask_again_in(backoff_);
    }
    backoff_ = milliseconds{0};
    if (!unreachable_.empty()) {
        say_("the automation bridge is back.");
        unreachable_.clear();
    }
    const auto actions = read_bridge_answer(body);
    if (!actions) {
        unusable(actions.failure());
        return ask_again_in(pause_after_empty_answer);
    }
    unusable_.clear();
    bool news = false;
    for (const BridgeAction& action : *actions) {
        news = take(action) || news;
    }
    say_refusals_when_due();
    acknowledge_next();
    ask_again_in(news ? milliseconds{0} : pause_after_empty_answer);
}

// Carries out an action not seen before and queues its acknowledgement; one settled before is
// only acknowledged again. True for a new one.
bool BridgeClient::take(const BridgeAction& action) {
    const bool news = ledger_.settled(action.id) == nullptr;
    if (news) {
        const std::optional<std::string> refusal =
            action.action == overlay_event ? apply_(action) : "unsupported action";
        if (refusal && action.action == overlay_event) {
            if (const std::string line =
                    refusals_.refused(action.id, action.overlay, *refusal, SteadyClock::now());
                !line.empty()) {
                say_(line);
            }
        }
        ledger_.settle(action.id, bridge_acknowledgement(action.id, refusal));
    }
    if (!settings_.ack_url.empty() && !ledger_.queue(action.id) &&
        !std::exchange(queue_full_, true)) {
        say_("the automation bridge sends actions faster than castora can acknowledge them: " +
             std::to_string(ActionLedger::waiting_acknowledgements) +
             " acknowledgements wait, and the others are sent when the bridge sends their actions "
             "again.");
    }
    return news;
}

void BridgeClient::say_refusals_when_due() {
    const auto due = refusals_.due();
    if (!due || std::exchange(refusals_due_, true)) {
        return;
    }
    supervisor_.at(*due, [this] {
        refusals_due_ = false;
        if (const std::string line = refusals_.line(SteadyClock::now());
            !line.empty() && !stopped_) {
            say_(line);
        }
    });
}

void BridgeClient::unusable(const std::string& problem) {
    set_problem(unusable_, problem,
                "an answer of the automation bridge cannot be used: " + problem +
                    "; nothing of it was applied.");
}

void BridgeClient::acknowledge_next() {
    const auto next = ledger_.next();
    if (!next) {
        queue_full_ = false; // drained: another flood is said again
        return;
    }
    if (stopped_ || acknowledgement_) {
        return;
    }
    acknowledgement_ = std::make_unique<Request>(*this, false);
    if (acknowledgement_->start(settings_.ack_url, next->second) != 0) {
        // curl cannot be run now: this one is sent when the bridge sends its action again.
        acknowledgement_.reset();
        ledger_.sent();
    }
}

void BridgeClient::acknowledged(const Request& request) {
    std::string body;
    const std::string failure = request.failure(body);
    if (!failure.empty()) {
        set_problem(unacknowledged_, failure,
                    "the automation bridge did not take the acknowledgement of action " +
                        terminal_safe(ledger_.next()->first) + ": " + failure + ".");
    } else {
        unacknowledged_.clear();
    }
    ledger_.sent();
    // The request is done with once this returns; the next one takes its place afterwards.
    supervisor_.at(SteadyClock::now(), [this] {
        acknowledgement_.reset();
        acknowledge_next();
    });
}

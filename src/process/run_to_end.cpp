#include "process/run_to_end.h"

#include "process/supervisor.h"

#include <sys/wait.h>

namespace {

// Keeps at most `limit` bytes of what comes; past the limit the pipe is closed, which ends a
// child that would write more.
class Capture : public ChildWatcher {
  public:
    explicit Capture(std::size_t limit) : limit_(limit) {}
    bool received(std::string_view bytes) override {
        text.append(bytes.substr(0, limit_ - text.size()));
        return text.size() < limit_;
    }
    void ended(const ChildEnd& end) override {
        clean =
            end.waited && !end.timed_out && WIFEXITED(end.status) && WEXITSTATUS(end.status) == 0;
    }
    std::string text;
    bool clean = false;

  private:
    std::size_t limit_;
};

} // namespace

std::optional<std::string> run_to_end(const ChildSpec& spec, std::size_t limit,
                                      std::chrono::milliseconds time_limit) {
    Supervisor supervisor;
    Capture capture{limit};
    if (supervisor.start(spec, capture, time_limit) != 0) {
        return std::nullopt;
    }
    supervisor.run();
    if (!capture.clean) {
        return std::nullopt;
    }
    return std::move(capture.text);
}

#include "ffmpeg_check/probe.h"

#include "process/supervisor.h"

#include <array>
#include <sys/wait.h>

namespace {

// A listing is a few kilobytes; a program that writes more is not an FFmpeg listing anything.
constexpr std::size_t max_answer_bytes = 1 << 20;

class Answer : public ChildWatcher {
  public:
    bool received(std::string_view bytes) override {
        text.append(bytes.substr(0, max_answer_bytes - text.size()));
        return text.size() < max_answer_bytes;
    }
    void ended(const ChildEnd& end) override {
        timed_out = end.timed_out;
        exited_cleanly = end.waited && WIFEXITED(end.status) && WEXITSTATUS(end.status) == 0;
    }
    std::string text;
    bool timed_out = false;
    bool exited_cleanly = false;
};

} // namespace

Expected<FfmpegFindings, std::string> probe_ffmpeg(const std::string& executable) {
    const auto queries = ffmpeg_listing_queries();
    std::vector<Answer> answers(queries.size());
    Supervisor supervisor;
    for (std::size_t i = 0; i < queries.size(); ++i) {
        ChildSpec spec;
        spec.argv = {executable, "-hide_banner", std::string{queries[i].option}};
        spec.own_process_group = true;
        spec.silent = true;
        spec.piped_fd = 1;
        if (supervisor.start(spec, answers[i], probe_time_limit) != 0) {
            supervisor.end_commands();
            supervisor.run();
            return std::string{"it could not be started"};
        }
    }
    supervisor.run();
    std::vector<std::optional<std::string>> texts;
    for (Answer& answer : answers) {
        if (answer.timed_out) {
            return "it gave no answer within " +
                   std::to_string(
                       std::chrono::duration_cast<std::chrono::seconds>(probe_time_limit).count()) +
                   " seconds";
        }
        texts.push_back(answer.exited_cleanly ? std::optional{std::move(answer.text)}
                                              : std::nullopt);
    }
    return read_ffmpeg_answers(texts);
}

#include "core/out_of_memory.h"
#include "process/child.h"
#include "process/cleanup.h"
#include "process/error_output.h"
#include "process/running_clock.h"
#include "process/signals.h"
#include "process/supervisor.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <new>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// Collects a child's output and how it ended.
struct Collected : ChildWatcher {
    std::string output;
    ChildEnd end;
    bool received(std::string_view bytes) override {
        output += bytes;
        return true;
    }
    void ended(const ChildEnd& e) override { end = e; }
};

ChildSpec shell(const std::string& command) {
    ChildSpec spec;
    spec.argv = {"/bin/sh", "-c", command};
    spec.own_process_group = true;
    spec.piped_fd = 1;
    return spec;
}

[[noreturn]] void exit_for(int signal_number) {
    _exit(100 + signal_number);
}

} // namespace

TEST(Supervisor, RunsSeveralChildrenAndTimersFromOneLoop) {
    Supervisor supervisor;
    Collected fast;
    Collected slow;
    Collected fed;
    std::string order;
    ChildSpec with_input = shell("tr a-z A-Z");
    with_input.input = "secret token";
    ASSERT_EQ(supervisor.start(shell("echo one; echo two >&2"), fast), 0);
    ASSERT_EQ(supervisor.start(shell("echo start; exec sleep 30"), slow, std::chrono::milliseconds{300}), 0);
    ASSERT_EQ(supervisor.start(with_input, fed), 0);
    supervisor.at(SteadyClock::now() + std::chrono::milliseconds{100}, [&] { order += "b"; });
    supervisor.at(SteadyClock::now(), [&] { order += "a"; });
    const auto started = SteadyClock::now();
    supervisor.run();
    EXPECT_LT(SteadyClock::now() - started, std::chrono::seconds{5});
    EXPECT_EQ(order, "ab");
    EXPECT_EQ(fast.output + slow.output + fed.output, "one\nstart\nSECRET TOKEN");
    EXPECT_TRUE(fast.end.waited && WIFEXITED(fast.end.status) && !fast.end.timed_out);
    EXPECT_TRUE(slow.end.timed_out && WIFSIGNALED(slow.end.status));
    EXPECT_FALSE(any_child_running());
}

TEST(StartChild, StartsNothingWhenEitherPipeCannotBeMade) {
    ChildSpec output_only = shell("exit 0");
    ChildSpec input_only;
    input_only.argv = {"/bin/cat"};
    input_only.input = "text";
    for (const ChildSpec& spec : {output_only, input_only}) {
        // One descriptor left: a pipe needs two.
        const int lowest_free = dup(0);
        close(lowest_free);
        rlimit before{};
        getrlimit(RLIMIT_NOFILE, &before);
        rlimit tight = before;
        tight.rlim_cur = static_cast<rlim_t>(lowest_free) + 1;
        setrlimit(RLIMIT_NOFILE, &tight);
        const StartedChild started = start_child(spec);
        setrlimit(RLIMIT_NOFILE, &before);
        EXPECT_EQ(started.pid, -1);
        EXPECT_EQ(started.error, EMFILE);
    }
}

TEST(Supervisor, AStopBeforeAnyChildEndsTheProcessAtOnce) {
    EXPECT_EXIT(
        {
            install_signal_handlers(exit_for, exit_for);
            raise(SIGTERM);
            std::this_thread::sleep_for(std::chrono::seconds{5});
            _exit(1);
        },
        testing::ExitedWithCode(100 + SIGTERM), "");
}

TEST(Supervisor, AStopEndsEveryChildThenTheProcessAfterRemovingWhatMustNotOutliveTheRun) {
    const std::string dir = testing::TempDir() + "castora-stop-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    EXPECT_EXIT(
        {
            install_signal_handlers(exit_for, exit_for);
            std::ofstream{dir + "/written"} << "x";
            std::ofstream{dir + "/empty"};
            remove_at_end(dir, Removal::always);
            remove_at_end(dir + "/written", Removal::if_empty);
            remove_at_end(dir + "/empty", Removal::if_empty);
            Supervisor supervisor;
            Collected child;
            supervisor.start(shell("trap '' TERM; exec sleep 30"), child);
            supervisor.at(SteadyClock::now() + std::chrono::milliseconds{200}, [] { raise(SIGINT); });
            supervisor.run();
            _exit(1);
        },
        testing::ExitedWithCode(100 + SIGINT), "");
    // The written file stays, so its folder does as well; the empty one is gone.
    EXPECT_TRUE(std::filesystem::exists(dir + "/written") && !std::filesystem::exists(dir + "/empty"));
    std::filesystem::remove_all(dir);
}

TEST(RunningClock, LeavesOutEveryStretchInWhichTheProgramWasStopped) {
    using std::chrono::milliseconds;
    struct Reading {
        int steady_ms;
        bool continued;
        int running_ms;
    };
    const std::vector<std::vector<Reading>> cases{
        {{100, false, 100}, {250, false, 250}},
        // Stopped 12 s between two readings, the time between them is left out.
        {{100, false, 100}, {12100, true, 100}, {12200, false, 200}},
        {{100, false, 100}, {5100, true, 100}, {5200, false, 200}, {9200, true, 200}},
        // A reading taken out of order counts nothing.
        {{100, false, 100}, {50, false, 100}, {150, false, 150}}};
    const SteadyClock::time_point start = SteadyClock::now();
    for (const auto& readings : cases) {
        RunningClock clock = running_clock_from(start);
        for (const Reading& r : readings) {
            EXPECT_EQ(read_running_clock(clock, start + milliseconds{r.steady_ms}, r.continued),
                      start + milliseconds{r.running_ms})
                << r.steady_ms;
        }
    }
}

TEST(HeldOutput, KeepsLinesWholeAndSaysHowManyWereDroppedOnceTheReaderIsBack) {
    constexpr std::size_t capacity = 16;
    const std::string one = "castora dropped 1 line of output while standard error was not being read.\n";
    const std::string two = "castora dropped 2 lines of output while standard error was not being read.\n";
    struct Step {
        std::string_view hold; // empty: the reader takes `take` bytes
        std::size_t take = 0;
    };
    struct Case {
        std::vector<Step> steps;
        std::string held;
    };
    const Case cases[] = {{{{"ab\ncd\n"}}, "ab\ncd\n"},
                          {{{"0123456789\n"}, {"abcdefgh\n"}}, "0123456789\n"},
                          {{{"0123456789\n"}, {"abcdefgh\n"}, {"", 11}}, one},
                          // A line dropped at its start is dropped to its end, though its later pieces would fit.
                          {{{"0123456789ab\n"}, {"cdef"}, {"gh\n"}, {"wxyz\n"}, {"", 13}}, two},
                          // A line cut short ends before the count.
                          {{{"0123456789"}, {"abcdefgh\n"}, {"", 10}}, "\n" + one},
                          // A progress line ends with a carriage return.
                          {{{"frame=1\rframe=2\r"}, {"frame=3\r"}, {"", 16}}, "\n" + one},
                          // The count comes before the next line held.
                          {{{"0123456789\n"}, {"abcdefgh\n"}, {"", 5}, {"xy\n"}}, "56789\n" + one + "xy\n"}};
    for (const Case& c : cases) {
        HeldOutput held = held_output(capacity);
        for (const Step& step : c.steps) {
            if (step.hold.empty()) {
                output_taken(held, step.take);
            } else {
                hold_output(held, step.hold, capacity);
            }
        }
        EXPECT_EQ(held.text, c.held) << c.steps.front().hold;
    }
}

TEST(Supervisor, OutOfMemoryEndsEveryChildThroughTheStopSequenceBeforeTheEnd) {
    const std::string marker = testing::TempDir() + "castora-memory-" + std::to_string(getpid());
    EXPECT_EXIT(
        {
            install_out_of_memory_handler(end_children_from_signal_handler);
            Supervisor supervisor;
            Collected child;
            ChildSpec spec = shell("trap 'echo asked > " + marker + "; exit 0' TERM; sleep 30 & wait");
            spec.stop_style = StopStyle::finish;
            supervisor.start(spec, child);
            std::get_new_handler()();
        },
        testing::ExitedWithCode(2), "Out of memory");
    std::ifstream asked{marker};
    std::string word;
    EXPECT_TRUE(asked >> word && word == "asked");
    std::filesystem::remove(marker);
}

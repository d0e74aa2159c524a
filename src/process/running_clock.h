#pragma once

#include <chrono>

using SteadyClock = std::chrono::steady_clock;

// Time that passes only while this program runs, for the steps of a stop: a stretch in which it
// was stopped (Ctrl-Z, SIGSTOP) does not count. Told at a reading that the program was continued
// since the last one, the clock leaves out all the time between the two: a loop that reads it at
// least every tenth of a second loses at most that much of its running time.
struct RunningClock {
    SteadyClock::time_point last_reading;
    SteadyClock::duration left_out{};
};

RunningClock running_clock_from(SteadyClock::time_point now);

// The running time at `now`, on the steady clock's scale: `now` less everything left out so far.
SteadyClock::time_point read_running_clock(RunningClock& clock, SteadyClock::time_point now,
                                           bool continued_since_last_reading);

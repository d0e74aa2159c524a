#include "process/running_clock.h"

#include <algorithm>

RunningClock running_clock_from(SteadyClock::time_point now) {
    return RunningClock{now, {}};
}

SteadyClock::time_point read_running_clock(RunningClock& clock, SteadyClock::time_point now,
                                           bool continued_since_last_reading) {
    // A steady clock never goes back; a reading taken out of order counts nothing.
    now = std::max(now, clock.last_reading);
    if (continued_since_last_reading) {
        clock.left_out += now - clock.last_reading;
    }
    clock.last_reading = now;
    return now - clock.left_out;
}

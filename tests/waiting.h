// Waiting in tests: for a condition, never for a stretch of time. The deadline is long
// enough for a loaded two-core machine running the sanitized builds; the wait ends as soon
// as the condition holds, so its length costs nothing while all goes well.
#pragma once

#include <time.h>
#include <unistd.h>

#define TEST_DEADLINE_SECONDS 60.0

inline double test_clock_seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

// Polls until the condition holds; false when it still does not at the deadline. The
// condition is asked once more after the deadline, so a poll that slept past it counts.
template <typename F>
bool wait_for_condition(F condition, double seconds = TEST_DEADLINE_SECONDS, unsigned pause_microseconds = 2000) {
    double end = test_clock_seconds() + seconds;
    for (;;) {
        bool late = test_clock_seconds() > end;
        if (condition()) return true;
        if (late) return false;
        usleep(pause_microseconds);
    }
}

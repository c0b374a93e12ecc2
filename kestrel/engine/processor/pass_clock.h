// The clock of a timed pass: the high-resolution counter, or the millisecond clock when the
// "Timer Precision" preference is off.
#pragma once

#include <cstdint>

// Timer state of a timed pass (user-interface thread only).
struct IterationTimer {
    int64_t freq = 0;   // counter frequency, counts per second
    int64_t time1 = 0;  // counter at start
    int64_t time2 = 0;  // counter at stop
    double ratio = 0;   // counts per microsecond
    double mes1 = 0;
    double mes2 = 0;
};

class PassClock {
public:
    explicit PassClock(IterationTimer& state) : t_(state) {}
    // False (after the "Kestrel Timer Exception" box) when the counter cannot be read.
    bool Start();
    // The elapsed milliseconds; false (after the box) when the counter cannot be read.
    bool Stop(double* elapsed_ms);

private:
    IterationTimer& t_;
    bool high_ = true;
    uint32_t start_ms_ = 0;
};

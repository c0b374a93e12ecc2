// The timing rules every video test shares: the millisecond clock or the high-resolution
// counter (chosen by use_high_precision), -1.0 after a clock failure, and the choice of one of
// three runs when the repeat flag is set.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace lumen {

inline constexpr const char* kTimerMessage = "Error retrieving high frequency timer counts";
inline constexpr const char* kTimerCaption = "VideoKestrel Timer Exception";

// One timed interval. With the high-resolution counter a failed read shows the timer box (with
// the caption given) and makes the interval fail.
class Stopwatch {
public:
    explicit Stopwatch(std::string caption = kTimerCaption) : caption_(std::move(caption)) {}
    // Makes the windows ready for drawing (gdi::PrepareAll: the caller holds no surface context),
    // then reads the start; false after the timer box.
    bool Start();
    // Milliseconds since Start; -1.0 after the timer box (or when Start failed).
    double Stop();

private:
    bool Fail();
    std::string caption_;
    bool high_ = false;
    bool started_ = false;
    int64_t ns1_ = 0;
    uint32_t tick1_ = 0;
};

// Which of three runs gives the result (0, 1 or 2), by strict comparisons: run1 when it lies
// strictly between the others, else run2 when it does, else run3 (so a tie takes run3).
int ChosenRun(double run1, double run2, double run3);

struct TimedRuns {
    int run = 0;      // the run whose time (and counts) the test keeps
    double ms = 0.0;  // its time; below 0 when a run failed
};

// Runs a test's timed sequence: once when the repeat flag is 0, else three times (run = 0, 1, 2),
// then chooses by ChosenRun. A run that returns a negative time ends the series with that time.
TimedRuns RunTimed(int repeat, const std::function<double(int run)>& run);

// For tests: the next n reads of the high-resolution counter fail.
void FailNextCounterReads(int n);

}  // namespace lumen

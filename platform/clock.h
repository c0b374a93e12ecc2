// Clocks: the high-resolution counter, the millisecond clock since program start, the process's
// kernel and user times, and the one sleep every fixed pause of the suite goes through.
#pragma once

#include <cstdint>

namespace kp {

// The high-resolution counter counts nanoseconds of CLOCK_MONOTONIC.
inline constexpr int64_t kCounterFrequency = 1000000000;
// Reads the counter; false when the clock cannot be read.
bool QueryCounter(int64_t* value);
// The counter's frequency in counts per second; false when there is no counter.
bool QueryCounterFrequency(int64_t* frequency);

// Milliseconds of wall time since the program started (not processor time).
uint32_t MillisecondsSinceStart();

// Kernel and user time of the whole process, in 100-ns units.
struct ProcessTimes {
    uint64_t kernel = 0;
    uint64_t user = 0;
};
ProcessTimes GetProcessTimes();

// Sleeps for ms milliseconds times the test sleep scale (programs: the full value).
void Sleep(int ms);
// For tests: a function that sees every pause (its milliseconds before scaling, on the pausing
// thread) before it is taken; nullptr removes it.
using SleepObserver = void (*)(int ms);
void SetSleepObserver(SleepObserver observer);

// Clears the upper halves of the 256-bit vector registers (vzeroupper) where the processor has
// AVX; does nothing elsewhere. Code run before a timed pass (drawing, the C library) can leave
// them in use, and every SSE instruction of the pass would then pay a state transition. Every
// timed pass calls it on the thread that does the work, right before its clock starts.
void ClearUpperVectorState();

// For tests: an observer called by ClearUpperVectorState just after the clear, on the same
// thread. Returns the previous observer; nullptr removes it.
using VectorStateObserver = void (*)();
VectorStateObserver SetVectorStateObserver(VectorStateObserver observer);

}  // namespace kp

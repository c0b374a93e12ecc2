// The two layers that run a processor kernel: the worker-thread iteration (create the kernel's
// workers parked, bind them to processors, start them together, time them, join them) and the
// driver loop that repeats iterations for 20 seconds of summed time.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "kestrel/engine/processor/pass_clock.h"

namespace kp { class Worker; }

inline constexpr int kMaxWorkers = 100;
// Worker i of the iteration that is running, null otherwise.
extern kp::Worker* global_current_thread[kMaxWorkers];

extern IterationTimer iteration_timer;

// An adjusted elapsed time never falls below this share of the measured one, so subtracting
// creation or kernel time can never stop a driver's loop from reaching its 20 seconds.
inline constexpr double kMinAdjustedShare = 0.25;
// A driver's loop also ends after this much wall time, whatever its summed time.
inline constexpr uint32_t kDriverWallLimitMs = 200000;
// The wall clock of the drivers' loops, in milliseconds (the program's: kp::MillisecondsSinceStart).
using DriverWallClock = uint32_t (*)();
// Puts a clock in its place (tests); nullptr puts the program's back. Returns the one replaced.
DriverWallClock SetDriverWallClock(DriverWallClock clock);

// The elapsed time of an iteration less the workers' creation time and the share of the
// process's kernel-time growth (100-ns units) that fell on the other processors, floored.
double AdjustedElapsed(double measured, double creation_ms, uint64_t kernel_growth, int numprocessors);

struct WorkerIteration {
    int n = 1;                                     // workers
    std::function<void(int32_t argument)> work;   // what each worker computes
    std::function<int32_t(int index)> argument;   // the argument of worker i
    bool trim_heap = true;                         // hand free heap pages back before creating
    // The clock starts before the workers are created, each worker starts as soon as it is
    // ready, and the time spent creating them is subtracted.
    bool subtract_creation_time = false;
    // The process's kernel-time growth, shared out over the other processors, is subtracted.
    bool subtract_kernel_time = false;
    // The workers' priority level; run.tpriority when not given.
    std::optional<int> priority;
};

// Runs one iteration; the workers' elapsed time in ms, or -1.0 on failure (after its box).
// A thread that cannot be created ends the program after its box.
double RunWorkerIteration(const WorkerIteration& iteration);
// The same for workers that report whether they could do their work (0 done, else failed, e.g.
// no memory for their data): one failed worker fails the whole iteration (-1.0), so work that
// never ran is never counted.
double RunFailableIteration(WorkerIteration iteration, const std::function<int(int32_t)>& work);

// How long the processor tests measure: the drivers' loops run for driver_seconds of summed
// iteration time, and the MegaFlops test for its own table's time by memory level times
// flops_scale. The program keeps these values; tests shorten them.
struct MeasuringTimes {
    double driver_seconds = 20.0;
    double flops_scale = 1.0;
};
extern MeasuringTimes measuring_times;

struct DriverLoop {
    std::function<double()> iteration;     // one iteration: elapsed ms or -1.0
    double count_per_iteration = 0;        // work counted per iteration
    bool pump_before_each = false;         // also look for Stop before every iteration
    std::optional<int> ui_priority_during; // the user-interface thread's level during the loop
    std::optional<int> ui_priority_after;  // ... and after it, on every way out
};

struct DriverTotals {
    double count = 0;    // work done
    double seconds = 0;  // summed iteration time
};

// Repeats the iteration until its summed time reaches measuring_times.driver_seconds. 0 with the
// totals, or -1
// after "Test aborted!" when Stop was pressed or an iteration failed.
int RunDriverLoop(const DriverLoop& loop, DriverTotals* totals);

// Stop: every worker still in a slot is cancelled (when parked) and waited for.
void StopAllWorkers();

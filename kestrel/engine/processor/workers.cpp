#include "kestrel/engine/processor/workers.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "kestrel/engine/run/host.h"
#include "kestrel/engine/processor/kernel_records.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "platform/pages.h"
#include "platform/processors.h"
#include "platform/ui_thread.h"
#include "platform/workers.h"
#include "shared/helpers.h"

kp::Worker* global_current_thread[kMaxWorkers] = {};
IterationTimer iteration_timer;
MeasuringTimes measuring_times;

BitOpStruct global_bitopstruct;
SortStruct global_numsortstruct;
FlopStruct global_flopstruct;
FourierStruct global_fourierstruct;
FFTstruct global_fftstruct;
AssignStruct global_assignstruct;
SSPstruct global_sspstruct;
ElimStruct global_elimstruct;
MatrixOpsStruct global_matrixopsstruct;

namespace {

std::atomic<DriverWallClock> g_wall_clock{&kp::MillisecondsSinceStart};

void ProgressBox(const char* text, const char* caption) {
    kp::MessageBox(kp::Owner::Progress, text, caption, kp::Icon::Stop);
}

// Restores the user-interface thread's priority level on every way out of a driver loop.
class UiPriorityGuard {
public:
    UiPriorityGuard(std::optional<int> during, std::optional<int> after) : after_(after) {
        if (during) kp::SetCurrentThreadPriority(*during);
    }
    ~UiPriorityGuard() {
        if (after_) kp::SetCurrentThreadPriority(*after_);
    }
    UiPriorityGuard(const UiPriorityGuard&) = delete;
    UiPriorityGuard& operator=(const UiPriorityGuard&) = delete;

private:
    std::optional<int> after_;
};

}  // namespace

double AdjustedElapsed(double measured, double creation_ms, uint64_t kernel_growth, int numprocessors) {
    double adjusted = measured - creation_ms;
    if (numprocessors > 1) {
        adjusted -= double(kernel_growth) * double(numprocessors - 1) / (10000.0 * numprocessors);
    }
    return std::max(adjusted, measured * kMinAdjustedShare);
}

double RunWorkerIteration(const WorkerIteration& it) {
    const int n = std::clamp(it.n, 1, kMaxWorkers);
    int next = results.processor_affinity_start;

    int error = 0;
    auto* arguments = static_cast<int32_t*>(AllocateMemory(sizeof(int32_t) * size_t(n), &error));
    if (arguments == nullptr) {
        ProgressBox("Allocation Error!", "Fatal Memory Exception");
        return -1.0;
    }
    if (it.trim_heap) kp::TrimHeap();

    kp::WorkerTeam team(n, global_current_thread);
    PassClock clock(iteration_timer);
    auto fail = [&](double result) {
        team.Cancel();
        FreeMemory(arguments, &error);
        kp::RunDeferredUiActions();
        return result;
    };

    if (it.subtract_creation_time && !clock.Start()) return fail(-1.0);
    double creation_ms = 0.0;
    for (int i = 0; i < n; ++i) {
        arguments[i] = it.argument ? it.argument(i) : i;
        uint32_t before = kp::MillisecondsSinceStart();
        const int32_t arg = arguments[i];
        if (!team.Create(i, [&it, arg] { it.work(arg); }, it.priority.value_or(run.tpriority))) {
            ProgressBox("Operation Failed!", "Fatal Thread Exception");
            fail(-1.0);
            std::exit(EXIT_FAILURE);
        }
        if (results.uniprocemulation != 0 || results.testing_os == 0) {
            if (SetThreadToProcessor(team.worker(i), next) == 0) return fail(-1.0);
        }
        if (next >= run.numprocessors || results.uniprocemulation != 0) {
            next = results.processor_affinity_start;
        } else {
            ++next;
        }
        if (it.subtract_creation_time) {
            creation_ms += double(kp::MillisecondsSinceStart() - before);
            team.Release(i);
        }
    }

    const kp::ProcessTimes times_before = kp::GetProcessTimes();
    if (!it.subtract_creation_time && !clock.Start()) return fail(-1.0);
    team.ReleaseAll();
    team.Join();
    double elapsed = 0.0;
    if (!clock.Stop(&elapsed)) return fail(-1.0);
    const kp::ProcessTimes times_after = kp::GetProcessTimes();

    if (it.subtract_creation_time || it.subtract_kernel_time) {
        uint64_t growth = it.subtract_kernel_time ? times_after.kernel - times_before.kernel : 0;
        elapsed = AdjustedElapsed(elapsed, it.subtract_creation_time ? creation_ms : 0.0, growth,
                                  run.numprocessors);
    }

    // Freed on this thread, after the join, the table also hands the heap's free pages back:
    // the one trim for every release the workers made.
    FreeMemory(arguments, &error);
    kp::RunDeferredUiActions();  // the workers' lines and boxes, and a fatal error's end
    return elapsed;
}

double RunFailableIteration(WorkerIteration it, const std::function<int(int32_t)>& work) {
    std::atomic<bool> failed{false};
    it.work = [&failed, &work](int32_t argument) {
        if (work(argument) != 0) failed = true;
    };
    const double elapsed = RunWorkerIteration(it);
    return failed ? -1.0 : elapsed;
}

DriverWallClock SetDriverWallClock(DriverWallClock clock) {
    return g_wall_clock.exchange(clock != nullptr ? clock : &kp::MillisecondsSinceStart);
}

int RunDriverLoop(const DriverLoop& loop, DriverTotals* totals) {
    UiPriorityGuard priority(loop.ui_priority_during, loop.ui_priority_after);
    double total_ms = 0.0;
    double count = 0.0;
    auto stopped = [](double result) { return run.testend.load() == 1 || result == -1.0; };
    const DriverWallClock wall_clock = g_wall_clock.load();
    const uint32_t wall_start = wall_clock();
    do {
        if (loop.pump_before_each) {
            Host().PumpPending();
            if (stopped(0.0)) {
                passtring("Test aborted!");
                return -1;
            }
        }
        double result = loop.iteration();
        total_ms += result;
        count += loop.count_per_iteration;
        Host().PumpPending();
        if (stopped(result)) {
            passtring("Test aborted!");
            return -1;
        }
    } while (TicksToFracSecs(total_ms) < measuring_times.driver_seconds &&
             uint32_t(wall_clock() - wall_start) < kDriverWallLimitMs);
    totals->count = count;
    totals->seconds = TicksToFracSecs(total_ms);
    return 0;
}

void StopAllWorkers() {
    for (kp::Worker*& w : global_current_thread) {
        if (w != nullptr) {
            kp::StopWorker(w);
            w = nullptr;
        }
    }
}

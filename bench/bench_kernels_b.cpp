// Time per iteration of the integer and Fourier kernels at two work sizes (memory levels 0 and
// 2): the iteration with one worker (thread creation, binding and join included) and the
// worker's own work run on this thread, so that the numbers show the work growing with its size.
//
//   build/bin/bench_kernels_b [repetitions]
//
// The Queries kernel runs the sort-and-search workload linked in directly, so no counter
// library needs to be installed beside the program.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "counters/kestest/kestest.h"
#include "kestrel/engine/processor/kernels_fourier.h"
#include "kestrel/engine/processor/kernels_integer.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/engine/processor/workers.h"
#include "platform/processors.h"

namespace {

int g_reps = 5;

// Mean milliseconds over the repetitions after one unmeasured run.
double Mean(const std::function<double()>& timed) {
    timed();
    double total = 0.0;
    for (int i = 0; i < g_reps; ++i) total += timed();
    return total / g_reps;
}

double WallMs(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// One kernel at one size: its iteration (nullptr when it has none here) and its worker.
void Report(const char* kernel, int level, const char* size, const std::function<double()>& iteration,
            const std::function<void()>& worker) {
    const double it = iteration ? Mean(iteration) : -1.0;
    const double own = Mean([&] { return WallMs(worker); });
    if (it >= 0.0) {
        std::printf("%-15s level %d  %-16s iteration %10.3f ms   worker %10.3f ms\n", kernel, level, size, it, own);
    } else {
        std::printf("%-15s level %d  %-16s iteration %10s      worker %10.3f ms\n", kernel, level, size, "-", own);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) g_reps = std::max(1, std::atoi(argv[1]));
    SetDefaults();
    run.numprocessors = kp::GetNumProcessors();
    prefs.use_high_precision = 1;
    char size[64];

    for (int level : {0, 2}) {
        prefs.memory_load_value = level;
        int32_t arg = level;

        std::snprintf(size, sizeof size, "%d values", 50000 << level);
        Report("Bit Operations", level, size, [] { return DoBitOpIteration(1); },
               [&] { arg = level; DoBitOps(&arg); });

        pkes_run_sort_test = &DoSort;
        std::snprintf(size, sizeof size, "%d values", 10000 << level);
        Report("Queries", level, size, nullptr, [&] { arg = 0; DoSort2(&arg); });

        const int32_t ndft = level == 0 ? 2225 : 8888;
        std::snprintf(size, sizeof size, "%d points", ndft);
        Report("Integrations", level, size, [ndft] { return DoFPUTransIteration(1, ndft); },
               [&] { arg = ndft; DoFourierIntegral(&arg); });

        const int32_t points = 8192 << level;
        std::snprintf(size, sizeof size, "%d points", points);
        Report("Filters", level, size, [points] { return DoFourierTransformIteration(1, points); },
               [&] { arg = points; StartFourierTransforms(&arg); });

        const int32_t edge = level == 0 ? 125 : 230;
        ASSIGNROWS = ASSIGNCOLS = edge;
        std::snprintf(size, sizeof size, "%d x %d", edge, edge);
        Report("Analyzations", level, size, [edge] { return DoAnalyzeIteration(1, edge); },
               [&] { arg = edge; Analyze(&arg); });

        modulations::thesize = 10 << level;
        std::snprintf(size, sizeof size, "thesize %d", modulations::thesize);
        Report("Modulations", level, size, [] { return DoSpeedTestIteration(1); },
               [&] { arg = 0; Speed(&arg); });
    }
    return 0;
}

// Time per iteration of the Factorizations, Matrix Operations and MegaFlops kernels at two work
// sizes each, on this machine's processors (build with optimisation: the Release or
// RelWithDebInfo tree). A time that does not grow with the work size would mean work optimised
// away.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "kestrel/engine/processor/kernels_elimination.h"
#include "kestrel/engine/processor/kernels_flops.h"
#include "kestrel/engine/processor/kernels_lsq.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/engine/processor/workers.h"
#include "platform/processors.h"

namespace {

// Median wall time in ms of `runs` calls.
double MedianMs(int runs, const std::function<void()>& call) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        call();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main() {
    SetDefaults();
    run.numprocessors = kp::GetNumProcessors();
    results.processor_affinity_start = 1;
    std::printf("%d processors\n\n", run.numprocessors);

    std::printf("Factorizations (one worker, integer least squares n x (n - 2))\n");
    for (int32_t level : {0, 3}) {
        const double ms = MedianMs(9, [level] { DoQuDecompTest(&level); });
        std::printf("  level %d, n = %3d: %8.3f ms per worker\n", level, LsqRows(level), ms);
    }
    const int elim_workers = std::max(4, run.numprocessors);
    for (int level : {0, 3}) {
        prefs.memory_load_value = level;
        double measured = 0.0;
        const double ms = MedianMs(5, [&] { measured = DoElimIteration(elim_workers); });
        std::printf("  level %d: %8.3f ms per iteration of %d workers (measured %.3f ms)\n", level, ms,
                    elim_workers, measured);
    }

    std::printf("\nMatrix Operations (one worker, eigenvalues of a size x size matrix)\n");
    for (int32_t size : {90, 250}) {
        const double ms = MedianMs(5, [size] { DoEigenRoutine(&size); });
        std::printf("  size %3d: %8.3f ms per worker\n", size, ms);
    }
    const int matrix_workers = std::max(16, run.numprocessors);
    for (int size : {90, 250}) {
        double measured = 0.0;
        const double ms = MedianMs(3, [&] { measured = DoMatrixOpsIteration(matrix_workers, size); });
        std::printf("  size %3d: %8.3f ms per iteration of %d workers (measured %.3f ms)\n", size, ms,
                    matrix_workers, measured);
    }

    std::printf("\nMegaFlops (order 100; the leading dimension grows with the level)\n");
    for (int level : {0, 6}) {
        flops::thesize = flops::LeadingSize(level);
        kflopcount.flops = 0;
        const double ms = MedianMs(3, [] { DoBeginFlops(nullptr); });
        std::printf("  level %d, lda %4d: %8.3f ms per worker, %.0f KFLOPS per worker\n", level,
                    flops::thesize + 1, ms, double(kflopcount.flops) / 3.0);
    }
    for (int level : {0, 6}) {
        prefs.memory_load_value = level;
        measuring_times.flops_scale = 0.0;  // one pass
        double rate = 0.0;
        const double ms = MedianMs(3, [&] { rate = DoFlopIteration(); });
        std::printf("  level %d: %8.3f ms per pass of %d workers, %.0f KFLOPS summed\n", level, ms,
                    std::max(FLOPSIZE, run.numprocessors), rate);
    }
    return 0;
}

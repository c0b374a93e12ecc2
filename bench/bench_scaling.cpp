// How the nine processor tests scale with their worker count: each test's own iteration (the
// one its driver repeats, with the driver's count of work per iteration) at 1, 2, 4 and 8
// workers, capped at this machine's processors, beside an integer loop run by the same
// iteration machinery on the same processors. The MegaFlops iteration takes its worker count
// from the processor count and never runs fewer than four workers, so it starts at 4 and its
// efficiency is taken against 4.
//
//   build/bench/bench_scaling [rounds] [memory level] [test name]
//
// Every figure is the driver's view: work counted per iteration over the iteration's returned
// time. Efficiency at n workers is rate(n) / (n x rate(1)); a test whose workers do independent
// work should stay near 1, as the control does. The control's loop takes one worker as long as
// the test's own work, so the ratio of the two efficiencies separates the test from the cost of
// releasing and joining threads and from other load on the machine. Build with optimisation
// (RelWithDebInfo).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/processor/kernel_records.h"
#include "kestrel/engine/processor/kernels_elimination.h"
#include "kestrel/engine/processor/kernels_flops.h"
#include "kestrel/engine/processor/kernels_fourier.h"
#include "kestrel/engine/processor/kernels_integer.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/engine/processor/workers.h"
#include "platform/processors.h"
#include "platform/ui_thread.h"
#include "shared/helpers.h"
#include "bench/spread.h"

#ifndef KESTREL_LIBRARY_DIR
#define KESTREL_LIBRARY_DIR "."
#endif

namespace {

// Each measurement repeats its iteration until this much summed iteration time has passed.
constexpr double kMinMs = 250.0;
constexpr int kMinIterations = 2;

int g_level = 0;

// Work counted and time taken, summed over repeated iterations.
struct Tally {
    double count = 0;
    double ms = 0;
    double Rate() const { return ms > 0.0 ? count * 1000.0 / ms : 0.0; }
};

struct Test {
    const char* name;
    // Runs one iteration with n workers: its returned time in ms, and the work it counts.
    std::function<double(int n, double* count)> iteration;
    int least_workers = 1;  // the iteration cannot run fewer
    // Why the test's own design keeps it from scaling, shown when it falls short.
    const char* design_note = nullptr;
};

Tally Measure(const std::function<double(int, double*)>& iteration, int n) {
    Tally t;
    for (int i = 0; i < kMinIterations || t.ms < kMinMs; ++i) {
        double count = 0;
        const double ms = iteration(n, &count);
        if (ms < 0.0) {
            std::fprintf(stderr, "an iteration failed\n");
            std::exit(EXIT_FAILURE);
        }
        t.ms += ms;
        t.count += count;
    }
    return t;
}

// The control: every worker runs the same integer loop of `loops` steps, in an iteration made,
// bound, released and joined as the tests' iterations are.
double ControlIteration(int n, int64_t loops, double* count) {
    WorkerIteration it;
    it.n = n;
    it.argument = [](int i) { return int32_t(i); };
    it.work = [loops](int32_t seed) {
        uint32_t x = uint32_t(seed) + 1u;
        for (int64_t i = 0; i < loops; ++i) {
            x = x * 1664525u + 1013904223u;
            asm volatile("" : "+r"(x));
        }
        PublishChecksum(double(x));
    };
    *count = double(n) * double(loops);
    return RunWorkerIteration(it);
}

std::vector<Test> Tests() {
    static constexpr int32_t kIntegrationSizes[7] = {2225, 4444, 8888, 17777, 35555, 71111, 142222};
    static constexpr int32_t kAssignSizes[7] = {125, 180, 230, 300, 500, 700, 1000};
    const int level = g_level;
    std::vector<Test> tests;
    tests.push_back({"Bit Operations", [level](int n, double* c) {
                         *c = n * BitOpsCredit(level);
                         return DoBitOpIteration(n);
                     }});
    tests.push_back({"Queries", [](int n, double* c) {
                         *c = n * 6041.0;
                         return DoQueryIteration(n);
                     }});
    tests.push_back({"MegaFlops",
                     [](int n, double* c) {
                         // One pass of max(4, processors) workers; its figure is the sum of the
                         // workers' own rates, so it is counted per millisecond of pass time.
                         run.numprocessors = n;
                         measuring_times.flops_scale = 0.0;
                         const double rate = DoFlopIteration();
                         const double ms = clicks;  // the one pass's time
                         *c = rate * ms / 1000.0;
                         return rate < 0.0 ? -1.0 : ms;
                     },
                     4});
    tests.push_back({"Integrations",
                     [level](int n, double* c) {
                         *c = n;
                         return DoFPUTransIteration(n, kIntegrationSizes[level]);
                     },
                     1,
                     "the transform is computed once per process and shared, so after the first "
                     "iteration a worker only allocates and zero-fills its vectors and interpolates "
                     "over about a hundred points: some tens of microseconds, less than releasing "
                     "and joining its thread"});
    tests.push_back({"Filters", [level](int n, double* c) {
                         *c = n * 3.0 * 100.0;
                         return DoFourierTransformIteration(n, 8192 << level);
                     }});
    tests.push_back({"Analyzations",
                     [level](int n, double* c) {
                         ASSIGNROWS = ASSIGNCOLS = kAssignSizes[level];
                         *c = n * 60.0;  // the driver's stored rate multiplies this by n again
                         return DoAnalyzeIteration(n, kAssignSizes[level]);
                     },
                     1,
                     "each worker starts as soon as it is created and the creation time is "
                     "subtracted, so early workers run while later ones are made, and the process's "
                     "kernel time, shared out over the other processors, is subtracted as well"});
    tests.push_back({"Modulations", [level](int n, double* c) {
                         modulations::thesize = 10 << level;
                         *c = n * 10.0;
                         return DoSpeedTestIteration(n);
                     }});
    tests.push_back({"Factorizations",
                     [](int n, double* c) {
                         *c = n * 100.0;
                         return DoElimIteration(n);
                     },
                     1,
                     "the process's kernel-time growth, shared out over the other processors, is "
                     "subtracted from the measured time"});
    tests.push_back({"Matrix Operations",
                     [level](int n, double* c) {
                         *c = n * 100.0;
                         return DoMatrixOpsIteration(n, MatrixOpsSize(level));
                     },
                     1,
                     "each worker starts as soon as it is created and the creation time is "
                     "subtracted, so early workers run while later ones are made"});
    return tests;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    g_level = argc > 2 ? std::clamp(std::atoi(argv[2]), 0, 6) : 0;
    const std::string only = argc > 3 ? argv[3] : "";
    kp::MarkUiThread();
    SetDefaults();
    prefs.memory_load_value = g_level;
    prefs.use_high_precision = 1;
    results.processor_affinity_start = 1;
    results.testing_os = 0;
    results.uniprocemulation = 0;
    perflink.program_directory = KESTREL_LIBRARY_DIR;
    const int processors = kp::GetNumProcessors();

    std::vector<int> counts;
    for (int n : {1, 2, 4, 8}) {
        if (n <= processors) counts.push_back(n);
    }
    std::printf("Scaling of each processor test's own iteration at 1, 2, 4, 8 workers (up to %d "
                "processors) against an integer loop on the same threads; efficiency = rate(n) / "
                "(n x rate(first)); %d rounds, min/median/max; memory level %d\n",
                processors, rounds, g_level);

    for (const Test& test : Tests()) {
        if (!only.empty() && only != test.name) continue;
        std::vector<int> ns;
        for (int n : counts) {
            if (n >= test.least_workers) ns.push_back(n);
        }
        if (ns.empty()) {
            std::printf("\n%s: needs %d processors\n", test.name, test.least_workers);
            continue;
        }
        // The control's loop is sized to take as long for one worker as the test's own work, timed
        // after one iteration that fills what the test keeps between iterations.
        run.numprocessors = ns.front();
        double first_count = 0;
        test.iteration(ns.front(), &first_count);
        const double first_ms = test.iteration(ns.front(), &first_count);
        double probe_count = 0;
        const double probe_ms = ControlIteration(1, 1 << 20, &probe_count);
        // Workers run side by side, so one worker's work takes about the iteration's time.
        const int64_t loops =
            std::max<int64_t>(1000, int64_t(double(1 << 20) * first_ms / std::max(probe_ms, 1e-3)));

        std::vector<std::vector<double>> rate(ns.size()), eff(ns.size()), crate(ns.size()),
            ceff(ns.size());
        for (int r = 0; r < rounds; ++r) {
            double base = 0, cbase = 0;
            for (size_t k = 0; k < ns.size(); ++k) {
                const int n = ns[k];
                run.numprocessors = n;  // workers are dealt one to a processor, 1..n
                const double rt = Measure(test.iteration, n).Rate();
                const double rc = Measure([loops](int w, double* c) { return ControlIteration(w, loops, c); }, n)
                                      .Rate();
                if (k == 0) {
                    base = rt / n;
                    cbase = rc / n;
                }
                rate[k].push_back(rt);
                crate[k].push_back(rc);
                eff[k].push_back(rt / (n * base));
                ceff[k].push_back(rc / (n * cbase));
            }
        }

        std::printf("\n%s (one iteration of %d: %.2f ms)\n", test.name, ns.front(), first_ms);
        std::printf("  %7s  %-36s %-18s  %-18s  %s\n", "workers", "rate per second (min/median/max)",
                    "efficiency", "control efficiency", "median ratio");
        for (size_t k = 0; k < ns.size(); ++k) {
            const Spread s = Of(rate[k]), e = Of(eff[k]), c = Of(ceff[k]);
            std::printf("  %7d  %11.4g %11.4g %11.4g  %5.2f %5.2f %5.2f  %5.2f %5.2f %5.2f  %5.2f\n",
                        ns[k], s.min, s.median, s.max, e.min, e.median, e.max, c.min, c.median, c.max,
                        e.median / c.median);
        }
        if (test.design_note != nullptr) {
            std::printf("  by its own design this test's efficiency is not a plain scaling figure: %s\n",
                        test.design_note);
        }
        if (Of(ceff.back()).median < 0.9) {
            std::printf("  the control itself stays below 0.9 at %d workers: the processors are "
                        "busy with other work, so this run cannot show the test's own scaling\n",
                        ns.back());
        }
    }
    return 0;
}

#include "lumen/timing.h"

#include <atomic>

#include "lumen/lumen_state.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "shared/gdi/present.h"

namespace lumen {
namespace {

std::atomic<int> g_fail_reads{0};

bool ReadCounter(int64_t* value) {
    int pending = g_fail_reads.load();
    while (pending > 0) {
        if (g_fail_reads.compare_exchange_weak(pending, pending - 1)) return false;
    }
    return kp::QueryCounter(value);
}

}  // namespace

bool Stopwatch::Fail() {
    kp::MessageBox(kp::Owner::Main, kTimerMessage, caption_, kp::Icon::Stop);
    started_ = false;
    return false;
}

bool Stopwatch::Start() {
    // A window's memory is there before the work, as a screen's is: the pictures of the windows
    // shown and their shown copies are made and written now, outside the time.
    gdi::PrepareAll();
    if (clock_start_hook) clock_start_hook();
    kp::ClearUpperVectorState();
    high_ = use_high_precision != 0;
    started_ = true;
    if (!high_) {
        tick1_ = kp::MillisecondsSinceStart();
        return true;
    }
    int64_t frequency = 0;
    if (!kp::QueryCounterFrequency(&frequency) || !ReadCounter(&ns1_)) return Fail();
    return true;
}

double Stopwatch::Stop() {
    if (!started_) return -1.0;
    if (!high_) return double(kp::MillisecondsSinceStart() - tick1_);
    int64_t ns2 = 0;
    if (!ReadCounter(&ns2)) {
        Fail();
        return -1.0;
    }
    // Whole 64-bit nanoseconds: no part of the counter is dropped.
    return double(ns2 - ns1_) / 1.0e6;
}

int ChosenRun(double run1, double run2, double run3) {
    if ((run2 < run1 && run1 < run3) || (run3 < run1 && run1 < run2)) return 0;
    if ((run1 < run2 && run2 < run3) || (run3 < run2 && run2 < run1)) return 1;
    return 2;
}

TimedRuns RunTimed(int repeat, const std::function<double(int run)>& run) {
    if (repeat == 0) {
        return {0, run(0)};
    }
    double ms[3] = {};
    for (int r = 0; r < 3; ++r) {
        ms[r] = run(r);
        if (ms[r] < 0.0) return {r, ms[r]};
    }
    const int chosen = ChosenRun(ms[0], ms[1], ms[2]);
    return {chosen, ms[chosen]};
}

void FailNextCounterReads(int n) { g_fail_reads.store(n < 0 ? 0 : n); }

}  // namespace lumen

#include "shared/helpers.h"

#include <atomic>
#include <cmath>
#include <cstdlib>

#include "platform/msgbox.h"
#include "platform/pages.h"
#include "platform/ui_thread.h"
#include "platform/workers.h"

namespace {

std::atomic<void (*)(const std::string&)> g_oom_reporter{nullptr};

bool RealSetter(kp::Worker* worker, int n) { return kp::BindWorker(worker, n); }
std::atomic<AffinitySetter> g_setter{&RealSetter};

// An atomic store is a side effect the compiler must keep, so the value (and the work that
// produced it) cannot be dropped.
std::atomic<double> g_sink{0.0};

}  // namespace

void* AllocateMemory2(size_t size, int* error) {
    void* p = kp::AllocPages(size + 20);
    if (error != nullptr) *error = p == nullptr ? 1 : 0;
    return p;
}

void* AllocateMemory(size_t size, int* error) {
    void* p = AllocateMemory2(size, error);
    if (p == nullptr) {
        if (auto reporter = g_oom_reporter.load()) reporter("Out of Memory");
    }
    return p;
}

void FreeMemory(void* block, int* error) {
    if (error != nullptr) *error = 0;
    kp::FreePages(block);
    // A worker leaves the trim to its iteration, which trims once after the join: a trim is a
    // system call and would be timed with the worker's work.
    if (!kp::OnWorkerThread()) kp::TrimHeap();
}

void SetOutOfMemoryReporter(void (*reporter)(const std::string& line)) {
    g_oom_reporter.store(reporter);
}

void FatalError() {
    auto end = [] {
        kp::MessageBox(kp::Owner::Main, "Allocation Error!", "Fatal Memory Exception", kp::Icon::Stop);
        std::exit(EXIT_FAILURE);
    };
    if (kp::OnUiThread()) end();
    // A worker: the user-interface thread shows the box and ends the program after the join.
    kp::DeferToUiThread(end);
    throw kp::WorkerAbort{};
}

long TicksToSecs(uint32_t ticks) { return long(ticks * 0.001); }

double TicksToFracSecs(double ticks) { return ticks * 0.001; }

uint32_t FileTimeToQuadWord(uint64_t filetime) { return uint32_t(filetime & 0xffffffffu); }

int SetThreadToProcessor(kp::Worker* worker, int n) {
    if (g_setter.load()(worker, n)) return 1;
    kp::MessageBox(kp::Owner::Main, "Process Affinity Error!", "Fatal Thread Exception!",
                   kp::Icon::Exclamation);
    return 0;
}

AffinitySetter SetAffinitySetter(AffinitySetter setter) {
    return g_setter.exchange(setter != nullptr ? setter : &RealSetter);
}

double ksqrt(double x) { return x < 0.0 ? std::sqrt(-x) : std::sqrt(x); }

void PublishChecksum(double value) { g_sink.store(value, std::memory_order_relaxed); }

double LastChecksum() { return g_sink.load(std::memory_order_relaxed); }

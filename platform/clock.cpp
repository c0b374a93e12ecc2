#include "platform/clock.h"

#include <sys/resource.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "platform/testswitch.h"

namespace kp {
namespace {

int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Taken when the program's static data is set up, before main.
const int64_t g_start_ns = MonotonicNs();

uint64_t To100ns(const timeval& tv) {
    return uint64_t(tv.tv_sec) * 10000000u + uint64_t(tv.tv_usec) * 10u;
}

std::atomic<VectorStateObserver> g_vector_state_observer{nullptr};

#if defined(__x86_64__) || defined(__i386__)
// The processor has AVX and the system keeps its register state.
bool HasAvx() {
    static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("avx") != 0);
    return has;
}

__attribute__((target("avx"))) void ZeroUpper() { _mm256_zeroupper(); }
#endif

}  // namespace

bool QueryCounter(int64_t* value) {
    timespec ts{};
    if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return false;
    *value = int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
    return true;
}

bool QueryCounterFrequency(int64_t* frequency) {
    timespec res{};
    if (clock_getres(CLOCK_MONOTONIC, &res) != 0) return false;
    *frequency = kCounterFrequency;
    return true;
}

uint32_t MillisecondsSinceStart() {
    return uint32_t((MonotonicNs() - g_start_ns) / 1000000);
}

ProcessTimes GetProcessTimes() {
    rusage ru{};
    ProcessTimes t;
    if (getrusage(RUSAGE_SELF, &ru) == 0) {
        t.kernel = To100ns(ru.ru_stime);
        t.user = To100ns(ru.ru_utime);
    }
    return t;
}

namespace {
std::atomic<SleepObserver> g_sleep_observer{nullptr};
}  // namespace

void SetSleepObserver(SleepObserver observer) { g_sleep_observer = observer; }

void Sleep(int ms) {
    if (SleepObserver observer = g_sleep_observer.load()) observer(ms);
    if (ms <= 0) return;
    double scaled = ms * TestSleepScale();
    if (scaled <= 0.0) return;
    std::this_thread::sleep_for(std::chrono::microseconds(int64_t(scaled * 1000.0)));
}

void ClearUpperVectorState() {
#if defined(__x86_64__) || defined(__i386__)
    if (HasAvx()) ZeroUpper();
#endif
    if (const VectorStateObserver observe = g_vector_state_observer.load(std::memory_order_relaxed)) observe();
}

VectorStateObserver SetVectorStateObserver(VectorStateObserver observer) {
    return g_vector_state_observer.exchange(observer);
}

}  // namespace kp

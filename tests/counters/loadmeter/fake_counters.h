// A counter provider for the analyser's tests: counters that move at known rates against a
// clock of its own, which only a value read advances (by 1 ms).
#pragma once

#include <strings.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "counters/loadmeter/sampling.h"
#include "platform/processors.h"

namespace kt {

class FakeCounters : public CounterProvider {
public:
    // Starts shortly before the 100 ns sample time wraps at 2^32, long after boot.
    static constexpr int64_t kStartNs = 4294967296000 - 3000000;
    static constexpr int64_t kStepNs = 1000000;
    static constexpr uint64_t kAvailableBytes = 6442450944;  // above 4 GiB

    // % processor time of a CPU (by its system number) and its interrupts per second.
    static double Load(int cpu) { return 20.0 * (cpu % 4 + 1); }
    static double Interrupts(int cpu) { return 1000.0 * (cpu + 1); }
    // What processor i (0-based) of the run reports.
    static int CpuOf(int i) {
        int cpu = kp::CpuOfProcessor(i + 1);
        return cpu >= 0 ? cpu : i;
    }
    // The rates of context switches, page faults and pages.
    static double Rate(int q) { return q == 2 ? 10000.0 : q == 3 ? 5000.0 : 2000.0; }

    Sampler::Clock clock() {
        return [this] { return now_.load(); };
    }
    int reads(int cpu) const { return cpuReads_[cpu % 32].load(); }
    int totalReads() const { return total_.load(); }

    int32_t GetCounterIds(const char* object, const char* counter, uint32_t* objectIndex,
                          uint32_t* counterIndex) override {
        for (int q = 0; q < kQuantities; ++q) {
            if (strcasecmp(object, kQuantity[q].object) == 0 && strcasecmp(counter, kQuantity[q].counter) == 0) {
                *objectIndex = 100;
                *counterIndex = uint32_t(q + 1);
                return 0;
            }
        }
        return 2;
    }

    uint32_t GetCounterValue(uint32_t, uint32_t counterIndex, const char* instance, int32_t, void* value) override {
        const int64_t now = now_ += kStepNs;
        ++total_;
        const int64_t t = now / 100;
        const int cpu = instance != nullptr ? std::atoi(instance) : 0;
        uint64_t v = 0;
        switch (int(counterIndex) - 1) {
            case kCpu: v = uint64_t(t) * uint64_t(4 - cpu % 4) / 5; ++cpuReads_[cpu % 32]; break;
            case kInterrupts: v = uint64_t(now / 1000000) * uint64_t(cpu + 1); ++cpuReads_[cpu % 32]; break;
            case kContextSwitches: v = uint64_t(now / 100000); break;
            case kPageFaults: v = uint64_t(now / 200000); break;
            case kPages: v = uint64_t(now / 500000); break;
            case kMemory: v = kAvailableBytes; break;
            default: break;
        }
        std::memcpy(value, &v, 8);
        return uint32_t(t);
    }
    uint32_t GetWin95Data(const char*, const char*) override { return 0; }
    int32_t StartCounters(const char*, const char*) override { return 0; }
    int32_t StopCounters(const char*, const char*) override { return 0; }

private:
    std::atomic<int64_t> now_{kStartNs};
    std::atomic<int> cpuReads_[32] = {};
    std::atomic<int> total_{0};
};

}  // namespace kt

// Sampling of the analyser's counters: the counter entry points it reads through, the rate rule,
// the % CPU computation, and the sums and counts of one run that the sampling threads fill and
// the reply of each interval averages.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

#include "counters/loadmeter/layout.h"
#include "shared/records.h"

// The five counter entry points of the counter library (the real library, or a fake in tests).
class CounterProvider {
public:
    virtual ~CounterProvider() = default;
    virtual int32_t GetCounterIds(const char* object, const char* counter, uint32_t* objectIndex,
                                  uint32_t* counterIndex) = 0;
    virtual uint32_t GetCounterValue(uint32_t objectIndex, uint32_t counterIndex, const char* instance,
                                     int32_t parentSelector, void* value) = 0;
    virtual uint32_t GetWin95Data(const char* object, const char* counter) = 0;
    virtual int32_t StartCounters(const char* object, const char* counter) = 0;
    virtual int32_t StopCounters(const char* object, const char* counter) = 0;
};

// (now - old) / base seconds; 0 when now equals old or base is not positive.
double CounterRate(int64_t now, int64_t old, int64_t base);

// The state of one rate counter.
struct RateState {
    uint32_t last = 0;         // last raw value
    int64_t lastCounter = 0;   // high-resolution counter at that value
    bool first = true;
};
struct RateSample {
    double value = 0;
    bool counted = true;  // false: the sample does not count towards the average
};
// The per-second rate of a cumulative 32-bit counter read as v at counter reading c
// (frequency f).
RateSample ApplyRateRule(RateState& state, uint32_t v, int64_t c, int64_t f);

// % processor time from the idle time v and the sample time t (both in 100 ns, 32 bits) against
// the last pair; 0..100.
double CpuPercent(uint32_t v, uint32_t vLast, uint32_t t, uint32_t tLast);

class Sampler {
public:
    // The high-resolution counter in ns (the system's when not given).
    using Clock = std::function<int64_t()>;
    Sampler(CounterProvider& counters, Clock clock = {});

    // Starts a run: n processors (1..32) and the enable flags. Clears every sum and count and
    // reads every counter of the run once, so that the first counted sample is a real difference.
    void Start(int n, const int32_t perfData[kQuantities]);
    bool perProcessor() const { return perProcessor_; }
    int processors() const { return n_; }
    int enabled() const { return enabled_; }
    // The quantity a sampling slot samples.
    int QuantityOfSlot(int slot) const { return perProcessor_ ? single_ : slot; }

    // Takes one sample of a slot (processor in per-processor mode, quantity otherwise) under the
    // lock and adds it to the sums. False, and nothing changed, when the lock was not had in wait.
    bool TakeSample(int slot, std::chrono::milliseconds wait, double* value);

    // Fills the averages of the interval into rec for the quantities rec enables (the others keep
    // what rec holds) and clears those quantities' sums and counts. Takes the lock.
    void FillReply(PerfMonData& rec);
    // Clears the per-processor sums. Takes the lock.
    void ClearProcessorSums();

    // For tests: the state as the sampling threads leave it.
    int count(int q) const { return count_[q]; }
    double sum(int q) const { return sum_[q]; }
    float lastAverage(int q) const { return lastAverage_[q]; }
    std::timed_mutex& mutex() { return mutex_; }

private:
    uint64_t ReadCounter(int q, int processor, uint32_t* time);
    double SampleCounter(int q, int k, bool* counted);
    double SampleCpu(int i, bool* counted);
    double SampleInterrupts(int i, bool* counted);
    double SampleRate(int q, bool* counted);
    void Clear();

    CounterProvider& counters_;
    Clock clock_;
    std::timed_mutex mutex_;
    int n_ = 1;
    int enabled_ = 0;
    bool perProcessor_ = false;
    int single_ = 0;  // the quantity of per-processor mode
    int32_t perfData_[kQuantities] = {};

    double sum_[kQuantities] = {};
    int count_[kQuantities] = {};
    float lastAverage_[kQuantities] = {};
    double cpuSum_[32] = {};
    double interruptSum_[32] = {};
    uint32_t lastIdle_[32] = {};
    uint32_t lastTime_[32] = {};
    bool cpuPrimed_[32] = {};
    RateState interruptRate_[32];
    RateState quantityRate_[kQuantities];
};

#include "counters/loadmeter/sampling.h"

#include <algorithm>
#include <string>

#include "platform/clock.h"
#include "platform/processors.h"

double CounterRate(int64_t now, int64_t old, int64_t base) {
    if (now == old || base <= 0) return 0.0;
    return double(now - old) / double(base);
}

RateSample ApplyRateRule(RateState& state, uint32_t v, int64_t c, int64_t f) {
    if (state.first) {
        state = {v, c, false};
        return {0.0, false};
    }
    // A counter that steps back a little (not a wrap) loses this sample.
    if (v < state.last && state.last - v < 65536) {
        state.last = v;
        state.lastCounter = c;
        return {0.0, false};
    }
    if (v == state.last) return {0.0, true};
    const double elapsed = CounterRate(c, state.lastCounter, f);
    if (elapsed <= 0.0) return {0.0, true};
    const bool wrapped = v < state.last;
    double rate = double(uint32_t(v - state.last)) / elapsed;
    state.last = v;
    state.lastCounter = c;
    if (wrapped && rate > 1500000000.0) rate = 0.0;
    return {rate, true};
}

double CpuPercent(uint32_t v, uint32_t vLast, uint32_t t, uint32_t tLast) {
    // Both differences are taken modulo 2^32: the 100 ns sample time wraps every 429 s.
    const uint32_t dv = v - vLast;
    const uint32_t dt = t - tLast;
    const double percent = (1.0 - double(dv) / double(std::max<uint32_t>(dt, 1))) * 100.0;
    return std::clamp(percent, 0.0, 100.0);
}

Sampler::Sampler(CounterProvider& counters, Clock clock) : counters_(counters), clock_(std::move(clock)) {
    if (!clock_) {
        clock_ = [] {
            int64_t c = 0;
            kp::QueryCounter(&c);
            return c;
        };
    }
}

void Sampler::Clear() {
    std::fill(std::begin(sum_), std::end(sum_), 0.0);
    std::fill(std::begin(count_), std::end(count_), 0);
    std::fill(std::begin(cpuSum_), std::end(cpuSum_), 0.0);
    std::fill(std::begin(interruptSum_), std::end(interruptSum_), 0.0);
}

void Sampler::Start(int n, const int32_t perfData[kQuantities]) {
    std::lock_guard<std::timed_mutex> lock(mutex_);
    n_ = ClampProcessors(n);
    std::copy(perfData, perfData + kQuantities, perfData_);
    enabled_ = CountEnabled(perfData_);
    perProcessor_ = PerProcessorMode(perfData_, n_);
    single_ = perfData_[kCpu] != 0 ? kCpu : kInterrupts;
    std::fill(std::begin(lastAverage_), std::end(lastAverage_), 0.0f);
    std::fill(std::begin(cpuPrimed_), std::end(cpuPrimed_), false);
    for (RateState& r : interruptRate_) r = RateState{};
    for (RateState& r : quantityRate_) r = RateState{};
    // One uncounted reading of everything the run samples.
    bool counted = true;
    if (perProcessor_) {
        for (int k = 0; k < n_; ++k) SampleCounter(single_, k, &counted);
    } else {
        for (int q = 0; q < kQuantities; ++q) {
            if (perfData_[q] != 0) SampleCounter(q, 0, &counted);
        }
    }
    Clear();
}

uint64_t Sampler::ReadCounter(int q, int processor, uint32_t* time) {
    uint32_t objectIndex = 0;
    uint32_t counterIndex = 0;
    counters_.GetCounterIds(kQuantity[q].object, kQuantity[q].counter, &objectIndex, &counterIndex);
    // Processor i is the i-th CPU this process may use; its counters carry that CPU's number.
    std::string instance;
    if (processor >= 0) {
        const int cpu = kp::CpuOfProcessor(processor + 1);
        instance = std::to_string(cpu >= 0 ? cpu : processor);
    }
    unsigned char value[8] = {};
    const uint32_t t = counters_.GetCounterValue(objectIndex, counterIndex,
                                                 processor >= 0 ? instance.c_str() : nullptr, 0, value);
    if (time != nullptr) *time = t;
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | value[i];
    return v;
}

double Sampler::SampleCpu(int i, bool* counted) {
    uint32_t t = 0;
    const uint32_t v = uint32_t(ReadCounter(kCpu, i, &t));
    const bool primed = cpuPrimed_[i];
    const double percent = primed ? CpuPercent(v, lastIdle_[i], t, lastTime_[i]) : 0.0;
    lastIdle_[i] = v;
    lastTime_[i] = t;
    cpuPrimed_[i] = true;
    if (!primed) *counted = false;
    return percent;
}

double Sampler::SampleInterrupts(int i, bool* counted) {
    const uint32_t v = uint32_t(ReadCounter(kInterrupts, i, nullptr));
    const bool first = interruptRate_[i].first;
    const RateSample r = ApplyRateRule(interruptRate_[i], v, clock_(), kp::kCounterFrequency);
    if (first) interruptSum_[i] = 0.0;
    if (!r.counted) *counted = false;
    return r.value;
}

double Sampler::SampleRate(int q, bool* counted) {
    const uint32_t v = uint32_t(ReadCounter(q, -1, nullptr));
    const RateSample r = ApplyRateRule(quantityRate_[q], v, clock_(), kp::kCounterFrequency);
    if (!r.counted) *counted = false;
    return r.value;
}

double Sampler::SampleCounter(int q, int k, bool* counted) {
    if (q == kCpu || q == kInterrupts) {
        // Per-processor mode reads processor k alone; general mode every processor, and gives
        // their mean. A sample that does not count adds nothing to any processor.
        double values[32] = {};
        const int from = perProcessor_ ? k : 0;
        const int to = perProcessor_ ? k + 1 : n_;
        bool all = true;
        double total = 0.0;
        for (int i = from; i < to; ++i) {
            values[i] = q == kCpu ? SampleCpu(i, &all) : SampleInterrupts(i, &all);
            total += values[i];
        }
        if (!all) {
            *counted = false;
            return 0.0;
        }
        double* sums = q == kCpu ? cpuSum_ : interruptSum_;
        for (int i = from; i < to; ++i) sums[i] += values[i];
        return total / double(to - from);
    }
    if (q == kMemory) return double(ReadCounter(kMemory, -1, nullptr));
    return SampleRate(q, counted);
}

bool Sampler::TakeSample(int slot, std::chrono::milliseconds wait, double* value) {
    std::unique_lock<std::timed_mutex> lock(mutex_, std::defer_lock);
    // A thread that does not get the lock leaves the shared sums alone this time.
    if (!lock.try_lock_for(wait)) return false;
    const int q = QuantityOfSlot(slot);
    bool counted = true;
    const double v = SampleCounter(q, perProcessor_ ? slot : 0, &counted);
    sum_[q] += v;
    if (counted) ++count_[q];
    *value = v;
    return true;
}

void Sampler::FillReply(PerfMonData& rec) {
    std::lock_guard<std::timed_mutex> lock(mutex_);
    for (int q = 0; q < kQuantities; ++q) {
        if (rec.perfData[q] == 0) continue;
        const double c = std::max(count_[q], 1);
        // In per-processor mode every processor's thread adds to the one count.
        const double perProcessorCount = perProcessor_ ? c / n_ : c;
        if (q == kCpu || q == kInterrupts) {
            float* out = q == kCpu ? rec.cpu_scores_1 : rec.cpu_scores_2;
            const double* sums = q == kCpu ? cpuSum_ : interruptSum_;
            for (int i = 0; i < n_; ++i) out[i] = float(sums[i] / perProcessorCount);
        }
        rec.score[q] = float(sum_[q] / c);
        lastAverage_[q] = rec.score[q];
        sum_[q] = 0.0;
        count_[q] = 0;
    }
}

void Sampler::ClearProcessorSums() {
    std::lock_guard<std::timed_mutex> lock(mutex_);
    std::fill(cpuSum_, cpuSum_ + n_, 0.0);
    std::fill(interruptSum_, interruptSum_ + n_, 0.0);
}

#include "counters/loadmeter/layout.h"
#include "shared/strformat.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

const Quantity kQuantity[kQuantities] = {
    {"% CPU", "Processor", "% Processor Time"},
    {"Interrupts/s", "Processor", "Interrupts/sec"},
    {"C.Switches/s", "System", "Context Switches/sec"},
    {"P.Faults/s", "Memory", "Page Faults/sec"},
    {"Pages/s", "Memory", "Pages/sec"},
    {"Memory", "Memory", "Available Bytes"},
};

namespace {

// A value truncated to an integer, saturated at the ends of long.
long Truncate(double v) {
    if (std::isnan(v)) return 0;
    if (v >= double(LONG_MAX)) return LONG_MAX;
    if (v <= double(LONG_MIN)) return LONG_MIN;
    return long(v);
}

}  // namespace

int WindowHeight(int captionButtonWidth) {
    if (captionButtonWidth < 25) return 50;
    if (captionButtonWidth <= 28) return 60;
    return 70;
}

int ClampProcessors(int32_t n) { return std::clamp(n, 1, 32); }

int SamplingPeriodMs(int32_t countertime) { return std::max(countertime, 10); }

int CountEnabled(const int32_t perfData[kQuantities]) {
    return int(std::count_if(perfData, perfData + kQuantities, [](int32_t f) { return f != 0; }));
}

bool PerProcessorMode(const int32_t perfData[kQuantities], int n) {
    return CountEnabled(perfData) == 1 && (perfData[kCpu] != 0 || perfData[kInterrupts] != 0) && n >= 2;
}

std::vector<CounterPlace> LayoutCounterWindows(const PerfMonData& settings, int n, int h) {
    const int left = settings.indices[0];
    const int span = settings.indices[1] - left;
    const int top = settings.indices[2];
    std::vector<CounterPlace> places;
    if (PerProcessorMode(settings.perfData, n)) {
        const bool cpu = settings.perfData[kCpu] != 0;
        for (int j = 0; j < n; ++j) {
            const int row = j / 6;
            const int width = std::max(1, span / std::min(n - 6 * row, 6));
            places.push_back({j, cpu ? StrPrintf("CPU %d", j) : StrPrintf("CPU%d INT/S", j),
                              left + (j % 6) * width, top + row * h, width, h, true, 1});
        }
        return places;
    }
    const int enabled = CountEnabled(settings.perfData);
    if (enabled == 0) return places;
    const int width = std::max(1, span / enabled);
    for (int q = 0; q < kQuantities; ++q) {
        if (settings.perfData[q] == 0) continue;
        const int rank = int(places.size());
        places.push_back({q, kQuantity[q].title, left + rank * width, top, width, h, false, enabled});
    }
    return places;
}

std::string FormatCounterText(double value, bool perProcessor, int quantity, int enabled, int stripRight) {
    if (perProcessor) return StrPrintf(quantity == kCpu ? "%ld%%" : "%ld", Truncate(value));
    const bool narrow = enabled > 4 && stripRight < 800;
    if (narrow && value > 10000 && value < 1000000) return StrPrintf("%.1fk", value * 0.001);
    if (narrow && value > 1000000) return StrPrintf("%.1fm", value * 0.000001);
    return StrPrintf("%ld", Truncate(value));
}

int CounterTextX(int clientRight, size_t length, bool perProcessor, int enabled) {
    const int even = int(length) - int(length % 2);
    if (perProcessor) return clientRight / 2 - 4 * even - 2;
    if (enabled > 3) return 5;
    return clientRight / 2 - 4 * even;
}

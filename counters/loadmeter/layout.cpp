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

std::vector<CounterPlace> LayoutCounterWindows(const PerfMonData& settings, int n, int h,
                                               const CounterWidth& minimumWidth) {
    const int left = settings.indices[0];
    const int right = settings.indices[1];
    const int span = right - left;
    const int top = settings.indices[2];
    std::vector<CounterPlace> places;
    int rowLength = 6;  // windows side by side at most
    if (PerProcessorMode(settings.perfData, n)) {
        const int q = settings.perfData[kCpu] != 0 ? kCpu : kInterrupts;
        for (int j = 0; j < n; ++j) {
            places.push_back({j, q == kCpu ? StrPrintf("CPU %d", j) : StrPrintf("CPU%d INT/S", j), 0, 0, 0, h, true, 1,
                              q, right});
        }
    } else {
        const int enabled = CountEnabled(settings.perfData);
        for (int q = 0; q < kQuantities; ++q) {
            if (settings.perfData[q] != 0) places.push_back({q, kQuantity[q].title, 0, 0, 0, h, false, enabled, q, right});
        }
        rowLength = std::max(enabled, 1);
    }
    int need = 1;
    if (minimumWidth) {
        for (const CounterPlace& p : places) need = std::max(need, minimumWidth(p));
    }
    if (need > 1) rowLength = std::clamp(span / need, 1, rowLength);
    const int count = int(places.size());
    for (int j = 0; j < count; ++j) {
        const int row = j / rowLength;
        const int width = std::max({1, need, span / std::min(count - rowLength * row, rowLength)});
        CounterPlace& p = places[size_t(j)];
        p.x = left + (j % rowLength) * width;
        p.y = top + row * h;
        p.width = width;
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

std::vector<std::string> WidestCounterTexts(const CounterPlace& place) {
    std::vector<double> values = {100.0};
    if (place.quantity == kMemory) values = {999999.0, 1000000.0, 1e12 - 1.0};
    else if (place.quantity != kCpu) values = {999999.0, 1000000.0, 1e7 - 1.0};
    std::vector<std::string> texts;
    for (double v : values) {
        texts.push_back(FormatCounterText(v, place.perProcessor, place.quantity, place.enabled, place.stripRight));
    }
    return texts;
}

int CounterClientWidth(int textWidth, size_t length, bool perProcessor, int enabled) {
    int width = std::max(textWidth + 2, 1);
    for (;;) {
        const int x = CounterTextX(width, length, perProcessor, enabled);
        if (x >= 1 && x + textWidth <= width - 1) return width;
        ++width;
    }
}

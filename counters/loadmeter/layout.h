// The analyser's counter windows: which windows, where, and the text each shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "shared/records.h"

inline constexpr int kQuantities = 6;

// The six quantities, in the order of the record's enable flags and averages.
struct Quantity {
    const char* title;    // window title in general mode
    const char* object;   // counter object
    const char* counter;  // counter name
};
extern const Quantity kQuantity[kQuantities];

enum QuantityIndex { kCpu = 0, kInterrupts = 1, kContextSwitches = 2, kPageFaults = 3, kPages = 4, kMemory = 5 };

// The height of a counter window from the width of a caption button.
int WindowHeight(int captionButtonWidth);

// The processor count of a record, 1..32.
int ClampProcessors(int32_t n);
// The sampling sleep of a record in ms: never below 10, so no sampling thread spins.
int SamplingPeriodMs(int32_t countertime);

int CountEnabled(const int32_t perfData[kQuantities]);
// Per-processor mode: only % CPU or only Interrupts/s enabled, and at least two processors.
bool PerProcessorMode(const int32_t perfData[kQuantities], int n);

// One counter window. slot is what its sampling thread samples: the processor in per-processor
// mode, the quantity in general mode.
struct CounterPlace {
    int slot = 0;
    std::string title;
    int x = 0, y = 0, width = 0, height = 0;
    bool perProcessor = false;  // how the window places its text
    int enabled = 0;
    int quantity = 0;    // the quantity shown
    int stripRight = 0;  // the strip's right edge (how the values are written)
};

// The width a window needs to show its caption and its values whole.
using CounterWidth = std::function<int(const CounterPlace&)>;

// The windows of a run along the strip (settings.indices: left, right, top), each h high. The
// strip is shared out among a row's windows; when the widest need (minimumWidth) is more than a
// share, as many windows as fit go side by side and the rest go into further rows below, each
// row shared out among its windows (never narrower than that need).
std::vector<CounterPlace> LayoutCounterWindows(const PerfMonData& settings, int n, int h,
                                               const CounterWidth& minimumWidth = {});

// The text of one sample. quantity is the sampled quantity, enabled the number of enabled
// quantities and stripRight the strip's right edge.
std::string FormatCounterText(double value, bool perProcessor, int quantity, int enabled, int stripRight);
// Where a text of the given length starts in a window whose client area ends at clientRight.
int CounterTextX(int clientRight, size_t length, bool perProcessor, int enabled);
// The widest texts a window keeps room for: % CPU up to 100, the rates up to ten million a
// second, the free memory up to a million megabytes, as FormatCounterText writes them.
std::vector<std::string> WidestCounterTexts(const CounterPlace& place);
// The narrowest client width in which a text textWidth pixels wide and `length` characters long
// lies whole, at least a pixel in from both edges, where CounterTextX puts it.
int CounterClientWidth(int textWidth, size_t length, bool perProcessor, int enabled);
inline constexpr int kCounterTextY = 5;

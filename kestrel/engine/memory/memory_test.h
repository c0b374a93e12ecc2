// The memory test: eight timed tests that write or copy a buffer whose size the memory level
// chooses, with 8-byte and 1-byte elements, first in order and then through scattered index
// patterns. The mean of their rates is scored against a reference machine (Kes MemoryMarks).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "shared/records.h"

inline constexpr int64_t kMegabyte = 1048576;
// The reference machine's mean throughput in MB/s and the score it stands for.
inline constexpr double memoryscore = 14.58;
inline constexpr double totalscore = 100.0;
inline constexpr float nummemorytests = 8;

// Runs the test on the user-interface thread. 0 when all eight tests ran; -1 when it was
// skipped, stopped or failed (results.TotalMemory is then left as it was).
int DoMemTest();

// Where the test reads the free physical memory in bytes: the counter reader ("Memory",
// "Available Bytes") unless a test installs another. Returns the previous reader; nullptr
// restores the counter reader.
using FreeMemoryReader = int64_t (*)();
FreeMemoryReader SetFreeMemoryReader(FreeMemoryReader reader);

// Every buffer the test holds is written once when it is taken, before any pass is timed. For
// tests: an observer called just before the first timed pass of each test (1 to 8) with the
// buffers held at that moment. Returns the previous observer; nullptr removes it.
struct MemoryBuffer {
    const void* data;
    int64_t bytes;
};
using FirstPassObserver = void (*)(int test, const std::vector<MemoryBuffer>& held);
FirstPassObserver SetFirstPassObserver(FirstPassObserver observer);

// The buffer size for memory level 0..6 with free_bytes free: 2^level MB when at least twice
// that is free; otherwise 1 MB, or 0 at level 0 (the test is skipped).
int64_t MemoryTestSize(int level, int64_t free_bytes);
// The size of the patterned series: a quarter of a size above 1 MB, but at least 1 MB.
int64_t PatternedSize(int64_t size);

// The index patterns. Tests 5 and 6, over `elements` doubles: index1[i] = 16i mod elements,
// index2[i] = 13i mod elements. Tests 7 and 8, over the bytes of `size`, for i < size / 4:
// index1[i] = |4i - 10k| mod size, k running 0, 1..length, 1..length, ...
void BuildDoublePattern(uint32_t* index1, uint32_t* index2, int64_t elements);
void BuildBytePattern(uint32_t* index1, int64_t size, int length);

// MB/s of `length` passes over `size` bytes that took total_ms together; a total below the
// clock's resolution counts as that resolution.
double MemoryRate(int length, int64_t size, double total_ms, double resolution_ms);

// The closing block for the mean of the eight rates; sets results.TotalMemory.
void ReportMemoryTotals(double mean);

// The counter lines written after a test from the analyser's averages.
std::vector<std::string> MemoryCounterLines(const PerfMonData& rec, const int32_t perf_counters[6],
                                            int processors);
// The analyser answered with zeros (averages 0, 1, 2, 3 and 5) while some counter other than
// the fifth is chosen.
bool AnalyserStalled(const PerfMonData& rec, const int32_t perf_counters[6]);

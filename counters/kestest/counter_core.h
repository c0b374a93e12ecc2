// The insides of the counter library: the English name list and its lookup, the readers of the
// /proc tree, the performance-data block built from them and the walker that reads one counter
// out of it, and the dynamic statistics. The exported entry points (kestest.h) forward here.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kestest {

// ---- names (names.cpp)

// Title indices of the objects and counters we offer.
enum TitleIndex : uint32_t {
    kSystemObject = 2,
    kMemoryObject = 4,
    kProcessorObject = 6,
    kObjectsObject = 8,
    kProcessorTime = 10,
    kInterruptsPerSec = 12,
    kContextSwitchesPerSec = 14,
    kPageFaultsPerSec = 16,
    kPagesPerSec = 18,
    kAvailableBytes = 20,
    kCacheBytes = 22,
    kSystemCacheResidentBytes = 24,
    kProcesses = 26,
    kThreads = 28,
};

// The English name list: NUL-terminated strings alternating index and name.
extern const std::string_view kCounterNames;

// Looks both names up in nameList (case-blind); codes as GetCounterIdsKestrelA.
int32_t FindCounterIds(const char* objectName, const char* counterName, uint32_t* objectIndex,
                       uint32_t* counterIndex, std::string_view nameList = kCounterNames);

// Case-blind equality, folding only A-Z.
bool SameName(std::string_view a, std::string_view b);

// ---- /proc readers (proc_source.cpp); paths below kp::ProcRoot()

struct CpuLine {
    int cpu = -1;              // -1: the aggregate "cpu" line
    uint64_t fields[8] = {};   // user nice system idle iowait irq softirq steal, clock ticks
    uint64_t IdleTicks() const { return fields[3] + fields[4]; }
    uint64_t TotalTicks() const;
};
struct ProcStat {
    CpuLine total;
    std::vector<CpuLine> cpus;  // in file order
    uint64_t ctxt = 0;
};
ProcStat ReadProcStat();
// /proc/interrupts: per CPU number, the sum of the rows that have a column per CPU.
std::map<int, uint64_t> ReadInterruptsPerCpu();
// "name value" (vmstat) or "Name: value kB" (meminfo) lines; missing names read as 0.
std::map<std::string, uint64_t> ReadNamedNumbers(const std::string& file);
uint64_t NamedNumber(const std::map<std::string, uint64_t>& values, const char* name);
// Buffers plus Cached less shared memory (KiB): the file cache that stays resident.
uint64_t ResidentFileCacheKiB(const std::map<std::string, uint64_t>& meminfo);
uint64_t CountProcesses();
uint64_t ReadThreadCount();  // /proc/loadavg, the number after "/"
uint64_t ClockTicksPerSecond();
uint64_t PageBytes();

// ---- the block (perf_block.cpp)

inline constexpr int32_t kErrorMoreData = 234;
// Builds the block for objectIndex from /proc into buffer. 0, or kErrorMoreData with size set to
// the size needed when *size is too small.
int32_t QueryPerfData(uint32_t objectIndex, uint8_t* buffer, uint32_t* size);
// Now on CLOCK_MONOTONIC in 100 ns units.
int64_t PerfTime100nSec();

// ---- the walker (walker.cpp)

using PerfQuery = std::function<int32_t(uint32_t objectIndex, uint8_t* buffer, uint32_t* size)>;
inline constexpr uint32_t kFirstQuerySize = 51200;
inline constexpr uint32_t kQuerySizeStep = 25600;

// Reads one counter through query; result as GetCounterValueForIdNumberKestrelA.
uint32_t ReadCounterValue(uint32_t objectIndex, uint32_t counterIndex, const char* instanceName,
                          int32_t parentSelector, void* value, const PerfQuery& query = QueryPerfData);
// Looks both indices up by name, then reads: the lookup's code when it fails.
uint32_t ReadCounterValueByNames(const char* objectName, const char* counterName, const char* instanceName,
                                 int32_t parentSelector, void* value);

// ---- dynamic statistics (win95_stats.cpp)

int32_t StartStatistic(const char* objectName, const char* counterName);
int32_t StopStatistic(const char* objectName, const char* counterName);
uint32_t ReadStatistic(const char* objectName, const char* counterName);
uint32_t InstantStatistic(const char* objectName, const char* counterName);

// ---- boxes (walker.cpp): caption "Performance Exception", owned by the active window
void PerfBox(const std::string& text, bool warning);

}  // namespace kestest

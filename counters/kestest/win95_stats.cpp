// The dynamic statistics, named by object and statistic ("KERNEL", "CPUUsage"), read from /proc.
// Starting and stopping succeed for the statistics we know; the processor usage is measured from
// the previous reading (or the start) of this process.
#include <mutex>

#include "counters/kestest/counter_core.h"

namespace kestest {
namespace {

constexpr int32_t kNotFound = 2;

enum class Stat { CpuUsage, PageFaults, PageOuts, PageIns, FreePages, DiskCachePages, Threads };

struct StatName {
    const char* object;
    const char* counter;
    Stat stat;
};

constexpr StatName kStats[] = {
    {"KERNEL", "CPUUsage", Stat::CpuUsage},      {"VMM", "cPageFaults", Stat::PageFaults},
    {"VMM", "cPageOuts", Stat::PageOuts},        {"VMM", "cPageIns", Stat::PageIns},
    {"VMM", "cpgFree", Stat::FreePages},         {"VMM", "cpgDiskcache", Stat::DiskCachePages},
    {"KERNEL", "Threads", Stat::Threads},
};

const StatName* Find(const char* object, const char* counter) {
    if (object == nullptr || counter == nullptr) return nullptr;
    for (const StatName& s : kStats) {
        if (SameName(s.object, object) && SameName(s.counter, counter)) return &s;
    }
    return nullptr;
}

// The processor usage between two readings of the aggregate processor times.
struct CpuUsageState {
    std::mutex mutex;
    uint64_t total = 0;  // ticks at the previous reading or start (0: since boot)
    uint64_t idle = 0;
    uint32_t last = 0;   // the previous result
};
CpuUsageState g_cpu;

void StartCpuUsage() {
    CpuLine now = ReadProcStat().total;
    std::lock_guard<std::mutex> lock(g_cpu.mutex);
    g_cpu.total = now.TotalTicks();
    g_cpu.idle = now.IdleTicks();
}

uint32_t ReadCpuUsage() {
    CpuLine now = ReadProcStat().total;
    std::lock_guard<std::mutex> lock(g_cpu.mutex);
    uint64_t total = now.TotalTicks(), idle = now.IdleTicks();
    if (total <= g_cpu.total) return g_cpu.last;
    uint64_t dt = total - g_cpu.total;
    uint64_t di = idle > g_cpu.idle ? idle - g_cpu.idle : 0;
    g_cpu.last = uint32_t(100 * (dt > di ? dt - di : 0) / dt);
    g_cpu.total = total;
    g_cpu.idle = idle;
    return g_cpu.last;
}

uint64_t Pages(uint64_t kib) { return kib * 1024 / PageBytes(); }

uint32_t Value(Stat stat) {
    switch (stat) {
        case Stat::CpuUsage: return ReadCpuUsage();
        case Stat::PageFaults: return uint32_t(NamedNumber(ReadNamedNumbers("vmstat"), "pgfault"));
        case Stat::PageOuts: return uint32_t(NamedNumber(ReadNamedNumbers("vmstat"), "pswpout"));
        case Stat::PageIns: return uint32_t(NamedNumber(ReadNamedNumbers("vmstat"), "pswpin"));
        case Stat::FreePages: return uint32_t(Pages(NamedNumber(ReadNamedNumbers("meminfo"), "MemFree")));
        case Stat::DiskCachePages: return uint32_t(Pages(ResidentFileCacheKiB(ReadNamedNumbers("meminfo"))));
        case Stat::Threads: return uint32_t(ReadThreadCount());
    }
    return 0;
}

}  // namespace

int32_t StartStatistic(const char* objectName, const char* counterName) {
    const StatName* s = Find(objectName, counterName);
    if (s == nullptr) {
        PerfBox("Error finding counter info", false);
        return kNotFound;
    }
    if (s->stat == Stat::CpuUsage) StartCpuUsage();
    return 0;
}

int32_t StopStatistic(const char* objectName, const char* counterName) {
    if (Find(objectName, counterName) == nullptr) {
        PerfBox("Unable to stop the performance statistics", false);
        return kNotFound;
    }
    return 0;
}

uint32_t ReadStatistic(const char* objectName, const char* counterName) {
    const StatName* s = Find(objectName, counterName);
    if (s == nullptr) {
        PerfBox("Allocation Error", true);
        return kNotFound;
    }
    return Value(s->stat);
}

uint32_t InstantStatistic(const char* objectName, const char* counterName) {
    StartStatistic(objectName, counterName);
    uint32_t value = ReadStatistic(objectName, counterName);
    StopStatistic(objectName, counterName);
    return value;
}

}  // namespace kestest

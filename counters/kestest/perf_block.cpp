// The performance-data block of one object, built from /proc on every query.
#include <time.h>

#include <cstring>

#include "counters/kestest/counter_core.h"
#include "counters/kestest/perf_layout.h"

namespace kestest {
namespace {

uint32_t Align8(size_t n) { return uint32_t((n + 7) & ~size_t(7)); }

class Writer {
public:
    size_t size() const { return bytes_.size(); }
    std::vector<uint8_t>& bytes() { return bytes_; }
    // Appends a zeroed, 8-byte aligned stretch of n bytes and returns its offset.
    size_t Reserve(size_t n) {
        size_t at = bytes_.size();
        bytes_.resize(at + Align8(n), 0);
        return at;
    }
    template <class T>
    void Put(size_t at, const T& value) { std::memcpy(bytes_.data() + at, &value, sizeof(T)); }

private:
    std::vector<uint8_t> bytes_;
};

// The counter offsets within a counter block: each value on a boundary of its own size.
std::vector<uint32_t> CounterOffsets(const std::vector<PerfCounterInfo>& counters, uint32_t* blockLength) {
    std::vector<uint32_t> offsets;
    uint32_t at = sizeof(PerfCounterBlock);
    for (const PerfCounterInfo& c : counters) {
        at = (at + c.size - 1) / c.size * c.size;
        offsets.push_back(at);
        at += c.size;
    }
    *blockLength = Align8(at);
    return offsets;
}

void PutCounterBlock(Writer& w, const std::vector<PerfCounterInfo>& counters, const std::vector<uint32_t>& offsets,
                     uint32_t length, const std::vector<uint64_t>& values) {
    size_t at = w.Reserve(length);
    w.Put(at, PerfCounterBlock{length, 0});
    for (size_t i = 0; i < counters.size() && i < values.size(); ++i) {
        // Little-endian: the low bytes of the value are the value of a 4-byte counter.
        std::memcpy(w.bytes().data() + at + offsets[i], &values[i], counters[i].size);
    }
}

}  // namespace

std::vector<uint8_t> BuildPerfBlock(int64_t perfTime100nSec, const std::vector<PerfObject>& objects) {
    Writer w;
    size_t head = w.Reserve(sizeof(PerfDataBlock));
    for (const PerfObject& o : objects) {
        size_t start = w.Reserve(sizeof(PerfObjectType));
        w.Reserve(o.counters.size() * sizeof(PerfCounterDefinition));
        uint32_t blockLength = 0;
        std::vector<uint32_t> offsets = CounterOffsets(o.counters, &blockLength);
        for (size_t i = 0; i < o.counters.size(); ++i) {
            PerfCounterDefinition d{};
            d.ByteLength = sizeof(PerfCounterDefinition);
            d.CounterNameTitleIndex = o.counters[i].titleIndex;
            d.CounterSize = o.counters[i].size;
            d.CounterOffset = offsets[i];
            w.Put(start + sizeof(PerfObjectType) + i * sizeof(PerfCounterDefinition), d);
        }
        PerfObjectType t{};
        t.DefinitionLength = uint32_t(w.size() - start);
        t.HeaderLength = sizeof(PerfObjectType);
        t.ObjectNameTitleIndex = o.titleIndex;
        t.NumCounters = uint32_t(o.counters.size());
        t.NumInstances = o.hasInstances ? int32_t(o.instances.size()) : -1;
        if (!o.hasInstances) PutCounterBlock(w, o.counters, offsets, blockLength, o.values);
        for (size_t n = 0; o.hasInstances && n < o.instances.size(); ++n) {
            const PerfInstance& in = o.instances[n];
            PerfInstanceDefinition d{};
            d.NameOffset = sizeof(PerfInstanceDefinition);
            d.NameLength = uint32_t(2 * (in.name.size() + 1));
            d.ByteLength = Align8(d.NameOffset + d.NameLength);
            d.ParentObjectInstance = in.parent;
            size_t at = w.Reserve(d.ByteLength);
            w.Put(at, d);
            for (size_t k = 0; k < in.name.size(); ++k) {
                w.Put(at + d.NameOffset + 2 * k, char16_t(static_cast<unsigned char>(in.name[k])));
            }
            PutCounterBlock(w, o.counters, offsets, blockLength, in.values);
        }
        t.TotalByteLength = uint32_t(w.size() - start);
        w.Put(start, t);
    }
    PerfDataBlock b{};
    std::memcpy(b.Signature, u"PERF", sizeof(b.Signature));
    b.TotalByteLength = uint32_t(w.size());
    b.HeaderLength = sizeof(PerfDataBlock);
    b.NumObjectTypes = uint32_t(objects.size());
    b.PerfTime100nSec = perfTime100nSec;
    w.Put(head, b);
    return std::move(w.bytes());
}

int64_t PerfTime100nSec() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 10000000 + ts.tv_nsec / 100;
}

namespace {

PerfObject ProcessorObject() {
    PerfObject o;
    o.titleIndex = kProcessorObject;
    o.counters = {{kProcessorTime, 8}, {kInterruptsPerSec, 4}};
    o.hasInstances = true;
    ProcStat stat = ReadProcStat();
    std::map<int, uint64_t> interrupts = ReadInterruptsPerCpu();
    const uint64_t hz = ClockTicksPerSecond();
    uint64_t idleSum = 0, interruptSum = 0;
    for (const CpuLine& cpu : stat.cpus) {
        // Idle time in 100 ns units: the processor time counts its complement.
        uint64_t idle = cpu.IdleTicks() * 10000000 / hz;
        uint64_t irq = interrupts.count(cpu.cpu) ? interrupts[cpu.cpu] : 0;
        o.instances.push_back({std::to_string(cpu.cpu), 0, {idle, irq}});
        idleSum += idle;
        interruptSum += irq;
    }
    uint64_t n = stat.cpus.empty() ? 1 : stat.cpus.size();
    o.instances.push_back({"_Total", 0, {idleSum / n, interruptSum}});
    return o;
}

PerfObject MemoryObject() {
    std::map<std::string, uint64_t> vmstat = ReadNamedNumbers("vmstat");
    std::map<std::string, uint64_t> meminfo = ReadNamedNumbers("meminfo");
    // The kernel counts paging in and out in KiB.
    uint64_t pages = (NamedNumber(vmstat, "pgpgin") + NamedNumber(vmstat, "pgpgout")) * 1024 / PageBytes();
    uint64_t resident = ResidentFileCacheKiB(meminfo);
    PerfObject o;
    o.titleIndex = kMemoryObject;
    o.counters = {{kPageFaultsPerSec, 4}, {kPagesPerSec, 4}, {kAvailableBytes, 8},
                  {kCacheBytes, 8}, {kSystemCacheResidentBytes, 8}};
    o.values = {NamedNumber(vmstat, "pgfault"), pages, NamedNumber(meminfo, "MemAvailable") * 1024,
                (resident + NamedNumber(meminfo, "SReclaimable")) * 1024, resident * 1024};
    return o;
}

}  // namespace

int32_t QueryPerfData(uint32_t objectIndex, uint8_t* buffer, uint32_t* size) {
    std::vector<PerfObject> objects;
    switch (objectIndex) {
        case kSystemObject:
            objects.push_back({kSystemObject, {{kContextSwitchesPerSec, 4}}, false, {ReadProcStat().ctxt}, {}});
            break;
        case kMemoryObject:
            objects.push_back(MemoryObject());
            break;
        case kProcessorObject:
            objects.push_back(ProcessorObject());
            break;
        case kObjectsObject:
            objects.push_back({kObjectsObject, {{kProcesses, 4}, {kThreads, 4}}, false,
                               {CountProcesses(), ReadThreadCount()}, {}});
            break;
        default:
            break;  // a block without objects
    }
    std::vector<uint8_t> block = BuildPerfBlock(PerfTime100nSec(), objects);
    if (buffer == nullptr || *size < block.size()) {
        *size = uint32_t(block.size());
        return kErrorMoreData;
    }
    std::memcpy(buffer, block.data(), block.size());
    *size = uint32_t(block.size());
    return 0;
}

}  // namespace kestest

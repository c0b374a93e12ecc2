// Reading one counter: query the object's performance-data block and walk it to the counter's
// raw value. Every length and offset taken from the block is checked against the part that must
// hold it; one that points outside counts as "not found".
#include <cstdlib>
#include <cstring>

#include "counters/kestest/counter_core.h"
#include "counters/kestest/perf_layout.h"
#include "platform/msgbox.h"

namespace kestest {

void PerfBox(const std::string& text, bool warning) {
    kp::MessageBox(kp::Owner::Active, text, "Performance Exception",
                   warning ? kp::Icon::Exclamation : kp::Icon::None, kp::Buttons::Ok);
}

namespace {

// The part of the block between begin and end (offsets from the block's start).
struct Span {
    const uint8_t* base;
    size_t begin;
    size_t end;
    bool Holds(size_t at, size_t length) const { return at >= begin && at <= end && length <= end - at; }
    template <class T>
    bool Load(size_t at, T* out) const {
        if (!Holds(at, sizeof(T))) return false;
        std::memcpy(out, base + at, sizeof(T));
        return true;
    }
};

// The instance name at `at` (UTF-16, NUL-terminated inside the span) equals name, case-blind.
bool SameInstanceName(const Span& span, size_t at, const char* name) {
    size_t n = std::strlen(name);
    if (n > 255) return false;
    for (size_t i = 0; i <= n; ++i) {
        char16_t c = 0;
        if (!span.Load(at + 2 * i, &c)) return false;
        char16_t want = i < n ? char16_t(static_cast<unsigned char>(name[i])) : 0;
        auto fold = [](char16_t x) { return (x >= u'A' && x <= u'Z') ? char16_t(x - u'A' + u'a') : x; };
        if (fold(c) != fold(want)) return false;
    }
    return true;
}

// Copies the value of the counter block at `at` into value (at most 8 bytes); false when the
// block or the value lies outside the span.
bool CopyValue(const Span& span, size_t at, const PerfCounterDefinition& def, void* value) {
    PerfCounterBlock block{};
    if (!span.Load(at, &block) || block.ByteLength < sizeof(block) || !span.Holds(at, block.ByteLength)) return false;
    size_t n = def.CounterSize < 8 ? def.CounterSize : 8;
    Span inBlock{span.base, at, at + block.ByteLength};
    if (!inBlock.Holds(at + size_t(def.CounterOffset), n)) return false;
    std::memcpy(value, span.base + at + def.CounterOffset, n);
    return true;
}

// Walks a block of size bytes; boxes a miss.
void Walk(const uint8_t* data, size_t size, uint32_t objectIndex, uint32_t counterIndex, const char* instanceName,
          int32_t parentSelector, void* value) {
    const Span all{data, 0, size};
    PerfDataBlock head{};
    all.Load(0, &head);

    Span object{data, 0, 0};
    PerfObjectType obj{};
    bool found = false;
    size_t at = head.HeaderLength;
    for (uint32_t i = 0; i < head.NumObjectTypes && !found; ++i) {
        if (!all.Load(at, &obj) || obj.TotalByteLength < sizeof(obj) || !all.Holds(at, obj.TotalByteLength)) break;
        found = obj.ObjectNameTitleIndex == objectIndex;
        if (found) object = {data, at, at + obj.TotalByteLength};
        at += obj.TotalByteLength;
    }
    if (!found) {
        PerfBox("Oject Not Found", true);
        return;
    }

    PerfCounterDefinition def{};
    found = false;
    for (uint32_t j = 0; j < obj.NumCounters && !found; ++j) {
        size_t d = object.begin + size_t(obj.HeaderLength) + size_t(j) * kCounterDefinitionSize;
        if (!object.Load(d, &def)) break;
        found = def.CounterNameTitleIndex == counterIndex;
    }
    if (!found) {
        PerfBox("Counter not found", true);
        return;
    }

    size_t block = object.begin + size_t(obj.DefinitionLength);
    if (obj.NumInstances == -1) {
        if (!CopyValue(object, block, def, value)) PerfBox("Counter not found", true);
        return;
    }
    for (int32_t k = 0; k < obj.NumInstances; ++k) {
        PerfInstanceDefinition inst{};
        PerfCounterBlock counters{};
        if (!object.Load(block, &inst) || inst.ByteLength < sizeof(inst) || !object.Holds(block, inst.ByteLength)) break;
        size_t countersAt = block + inst.ByteLength;
        if (!object.Load(countersAt, &counters) || counters.ByteLength < sizeof(counters)) break;
        bool match = inst.ParentObjectInstance == parentSelector &&
                     (instanceName == nullptr || SameInstanceName(object, block + size_t(inst.NameOffset), instanceName));
        if (match) {
            if (!CopyValue(object, countersAt, def, value)) PerfBox("Counter not found", true);
            return;
        }
        block = countersAt + counters.ByteLength;
    }
    PerfBox("Instance Doesn't Exist", true);
}

}  // namespace

uint32_t ReadCounterValue(uint32_t objectIndex, uint32_t counterIndex, const char* instanceName,
                          int32_t parentSelector, void* value, const PerfQuery& query) {
    // A failed read leaves zero, never a stale value.
    if (value != nullptr) std::memset(value, 0, 8);
    if (objectIndex == 0 || counterIndex == 0 || value == nullptr) return 64;

    uint32_t capacity = kFirstQuerySize;
    uint8_t* data = static_cast<uint8_t*>(std::malloc(capacity));
    uint32_t size = capacity;
    int32_t rc = data != nullptr ? query(objectIndex, data, &size) : 0;
    while (data != nullptr && rc == kErrorMoreData) {
        std::free(data);
        capacity += kQuerySizeStep;
        data = static_cast<uint8_t*>(std::malloc(capacity));
        size = capacity;
        if (data != nullptr) rc = query(objectIndex, data, &size);
    }
    if (data == nullptr) {
        PerfBox("Allocation Error", true);
        return 0;
    }
    if (rc != 0 || size < sizeof(PerfDataBlock) || size > capacity ||
        std::memcmp(data, u"PERF", 4 * sizeof(char16_t)) != 0) {
        std::free(data);
        PerfBox("Cannot Create Performance Data.", true);
        return 0;
    }
    PerfDataBlock head{};
    std::memcpy(&head, data, sizeof(head));
    uint32_t time = uint32_t(uint64_t(head.PerfTime100nSec));
    Walk(data, size, objectIndex, counterIndex, instanceName, parentSelector, value);
    std::free(data);
    return time;
}

uint32_t ReadCounterValueByNames(const char* objectName, const char* counterName, const char* instanceName,
                                 int32_t parentSelector, void* value) {
    uint32_t objectIndex = 0, counterIndex = 0;
    int32_t rc = FindCounterIds(objectName, counterName, &objectIndex, &counterIndex);
    if (rc != 0) return uint32_t(rc);
    return ReadCounterValue(objectIndex, counterIndex, instanceName, parentSelector, value);
}

}  // namespace kestest


// The performance-data block the counter reader walks: a data block header, then one object type
// after another. An object type holds its header, its 40-byte counter definitions, and either one
// counter block (an object without instances) or, per instance, an instance definition with its
// UTF-16 name followed by that instance's counter block. All lengths and offsets are in bytes and
// relative to the start of the structure that holds them; every part starts on an 8-byte boundary.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestest {

struct PerfDataBlock {
    char16_t Signature[4];    // "PERF"
    uint32_t TotalByteLength;
    uint32_t HeaderLength;    // where the first object type starts
    uint32_t NumObjectTypes;
    uint32_t Reserved;
    int64_t PerfTime100nSec;  // sample time, 100 ns units
};
static_assert(sizeof(PerfDataBlock) == 32);

struct PerfObjectType {
    uint32_t TotalByteLength;   // the whole object; the next one follows at this distance
    uint32_t DefinitionLength;  // header plus counter definitions: first instance or counter block
    uint32_t HeaderLength;      // where the counter definitions start
    uint32_t ObjectNameTitleIndex;
    uint32_t NumCounters;
    int32_t NumInstances;       // -1: no instances, a single counter block
};
static_assert(sizeof(PerfObjectType) == 24);

struct PerfCounterDefinition {
    uint32_t ByteLength;
    uint32_t CounterNameTitleIndex;
    uint32_t CounterSize;    // bytes of the raw value: 4 or 8
    uint32_t CounterOffset;  // from the start of a counter block
    uint32_t Reserved[6];
};
static_assert(sizeof(PerfCounterDefinition) == 40);

struct PerfInstanceDefinition {
    uint32_t ByteLength;  // definition and name; the instance's counter block follows
    int32_t ParentObjectInstance;
    uint32_t NameOffset;  // UTF-16 name, NUL-terminated
    uint32_t NameLength;  // bytes, the NUL included
};
static_assert(sizeof(PerfInstanceDefinition) == 16);

struct PerfCounterBlock {
    uint32_t ByteLength;  // header and values; the next instance follows at this distance
    uint32_t Reserved;
};
static_assert(sizeof(PerfCounterBlock) == 8);

inline constexpr uint32_t kCounterDefinitionSize = 40;

// What a block is built from.
struct PerfCounterInfo {
    uint32_t titleIndex;
    uint32_t size;  // 4 or 8
};
struct PerfInstance {
    std::string name;
    int32_t parent = 0;
    std::vector<uint64_t> values;  // one per counter, low bytes used for size 4
};
struct PerfObject {
    uint32_t titleIndex = 0;
    std::vector<PerfCounterInfo> counters;
    bool hasInstances = false;
    std::vector<uint64_t> values;         // without instances
    std::vector<PerfInstance> instances;  // with instances
};

std::vector<uint8_t> BuildPerfBlock(int64_t perfTime100nSec, const std::vector<PerfObject>& objects);

}  // namespace kestest

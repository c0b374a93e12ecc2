// The walk of crafted performance-data blocks: matches, misses and their boxes, growth of the
// buffer, and blocks whose lengths or offsets point outside.
#include <gtest/gtest.h>

#include <cstring>

#include "counters/kestest/counter_core.h"
#include "counters/kestest/perf_layout.h"
#include "platform/msgbox.h"

namespace {

using namespace kestest;

constexpr int64_t kTime = 0x123456789abLL;  // the result is its low 32 bits
constexpr uint32_t kTimeLow = 0x456789abu;
constexpr uint32_t kObj = 100, kOther = 200, kSmall = 102, kBig = 104, kAbsent = 106;

// Serves one block the way the system's query does: "more data" while the buffer is too small.
struct BlockQuery {
    std::vector<uint8_t> block;
    std::vector<uint32_t> capacities;  // buffer size of every call
    int32_t Answer(uint32_t, uint8_t* buffer, uint32_t* size) {
        capacities.push_back(*size);
        if (*size < block.size()) return kErrorMoreData;
        std::memcpy(buffer, block.data(), block.size());
        *size = uint32_t(block.size());
        return 0;
    }
    PerfQuery Fn() {
        return [this](uint32_t o, uint8_t* b, uint32_t* s) { return Answer(o, b, s); };
    }
    template <class T>
    void Patch(size_t at, const T& v) { std::memcpy(block.data() + at, &v, sizeof(T)); }
};

PerfObject Plain(uint32_t title, uint64_t small, uint64_t big) {
    PerfObject o;
    o.titleIndex = title;
    o.counters = {{kSmall, 4}, {kBig, 8}};
    o.values = {small, big};
    return o;
}

PerfObject WithInstances(std::vector<PerfInstance> instances) {
    PerfObject o;
    o.titleIndex = kObj;
    o.counters = {{kSmall, 4}, {kBig, 8}};
    o.hasInstances = true;
    o.instances = std::move(instances);
    return o;
}

// Offsets of the parts of a block with one object (the first object after the block header).
constexpr size_t kObjectAt = sizeof(PerfDataBlock);
size_t DefinitionAt(size_t j) { return kObjectAt + sizeof(PerfObjectType) + j * sizeof(PerfCounterDefinition); }
size_t FirstPartAt(size_t counters) { return DefinitionAt(counters); }

struct Read {
    uint32_t result;
    uint64_t value;
    std::vector<std::string> boxes;
};

Read ReadFrom(BlockQuery& q, uint32_t object, uint32_t counter, const char* instance = nullptr, int32_t parent = 0) {
    kp::BoxRecorder rec;
    uint8_t buffer[8];
    std::memset(buffer, 0xAB, sizeof(buffer));  // a failed read must not leave this behind
    Read r{};
    r.result = ReadCounterValue(object, counter, instance, parent, buffer, q.Fn());
    std::memcpy(&r.value, buffer, 8);
    for (const kp::BoxRequest& b : rec.boxes()) {
        EXPECT_EQ(b.caption, "Performance Exception");
        EXPECT_EQ(b.icon, kp::Icon::Exclamation);
        EXPECT_EQ(b.owner, kp::Owner::Active);
        r.boxes.push_back(b.text);
    }
    return r;
}

using Boxes = std::vector<std::string>;

TEST(CounterWalker, ObjectsWithoutInstances) {
    BlockQuery q{BuildPerfBlock(kTime, {Plain(kOther, 1, 2), Plain(kObj, 0x11223344, 0x5566778899aabbccULL)}), {}};
    Read small = ReadFrom(q, kObj, kSmall);
    EXPECT_EQ(small.result, kTimeLow);
    EXPECT_EQ(small.value, 0x11223344u);  // four bytes copied, the rest zero
    EXPECT_TRUE(small.boxes.empty());
    EXPECT_EQ(ReadFrom(q, kObj, kBig).value, 0x5566778899aabbccULL);
    EXPECT_EQ(ReadFrom(q, kOther, kBig).value, 2u);
    // Without instances the instance name and the parent selector play no part.
    Read named = ReadFrom(q, kObj, kSmall, "no such instance", 5);
    EXPECT_EQ(named.value, 0x11223344u);
    EXPECT_TRUE(named.boxes.empty());
}

TEST(CounterWalker, InstancesByNameAndParent) {
    BlockQuery q{BuildPerfBlock(kTime, {WithInstances({{"0", 0, {10, 11}}, {"Disk", 3, {20, 21}},
                                                        {"disk", 0, {30, 31}}, {"_Total", 0, {40, 41}}})}),
                 {}};
    EXPECT_EQ(ReadFrom(q, kObj, kBig, "0").value, 11u);
    EXPECT_EQ(ReadFrom(q, kObj, kSmall, "_TOTAL").value, 40u);
    // Names compare case-blind; the parent selector picks between equal names.
    EXPECT_EQ(ReadFrom(q, kObj, kSmall, "DISK", 0).value, 30u);
    EXPECT_EQ(ReadFrom(q, kObj, kSmall, "disk", 3).value, 20u);
    // Without a name the first instance of the parent is taken.
    EXPECT_EQ(ReadFrom(q, kObj, kSmall, nullptr, 3).value, 20u);
    EXPECT_EQ(ReadFrom(q, kObj, kSmall, nullptr, 0).value, 10u);

    Read mismatch = ReadFrom(q, kObj, kSmall, "0", 3);
    EXPECT_EQ(mismatch.result, kTimeLow);
    EXPECT_EQ(mismatch.value, 0u);
    EXPECT_EQ(mismatch.boxes, Boxes{"Instance Doesn't Exist"});
    EXPECT_EQ(ReadFrom(q, kObj, kSmall, "1").boxes, Boxes{"Instance Doesn't Exist"});
    EXPECT_EQ(ReadFrom(q, kObj, kSmall, "0 ").boxes, Boxes{"Instance Doesn't Exist"});

    BlockQuery empty{BuildPerfBlock(kTime, {WithInstances({})}), {}};
    Read none = ReadFrom(empty, kObj, kSmall);
    EXPECT_EQ(none.value, 0u);
    EXPECT_EQ(none.boxes, Boxes{"Instance Doesn't Exist"});
}

TEST(CounterWalker, MissingObjectOrCounterBoxesAndZeroes) {
    BlockQuery q{BuildPerfBlock(kTime, {Plain(kObj, 7, 8)}), {}};
    Read object = ReadFrom(q, kOther, kSmall);
    EXPECT_EQ(object.result, kTimeLow);
    EXPECT_EQ(object.value, 0u);
    EXPECT_EQ(object.boxes, Boxes{"Oject Not Found"});
    Read counter = ReadFrom(q, kObj, kAbsent);
    EXPECT_EQ(counter.result, kTimeLow);
    EXPECT_EQ(counter.value, 0u);
    EXPECT_EQ(counter.boxes, Boxes{"Counter not found"});

    // Zero indices or no buffer: 64 without a query.
    EXPECT_EQ(ReadFrom(q, 0, kSmall).result, 64u);
    EXPECT_EQ(ReadFrom(q, 0, kSmall).value, 0u);
    EXPECT_EQ(ReadFrom(q, kObj, 0).result, 64u);
    size_t calls = q.capacities.size();
    EXPECT_EQ(ReadCounterValue(kObj, kSmall, nullptr, 0, nullptr, q.Fn()), 64u);
    EXPECT_EQ(q.capacities.size(), calls);
}

TEST(CounterWalker, CounterDefinitionsStepFortyBytes) {
    BlockQuery q{BuildPerfBlock(kTime, {Plain(kObj, 7, 8)}), {}};
    PerfCounterDefinition first{};
    std::memcpy(&first, q.block.data() + DefinitionAt(0), sizeof(first));
    first.ByteLength = 8;  // not what the walk steps by
    q.Patch(DefinitionAt(0), first);
    EXPECT_EQ(ReadFrom(q, kObj, kBig).value, 8u);
}

TEST(CounterWalker, BufferGrowsUntilTheBlockFits) {
    std::vector<PerfInstance> many;
    for (int i = 0; i < 1600; ++i) many.push_back({std::to_string(i), 0, {uint64_t(i), uint64_t(i) * 3}});
    BlockQuery q{BuildPerfBlock(kTime, {WithInstances(many)}), {}};
    ASSERT_GT(q.block.size(), 76800u);
    ASSERT_LE(q.block.size(), 102400u);
    Read r = ReadFrom(q, kObj, kBig, "1599");
    EXPECT_EQ(r.value, 4797u);
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_EQ(q.capacities, (std::vector<uint32_t>{51200, 76800, 102400}));
}

TEST(CounterWalker, FailedQueryOrForeignBlock) {
    BlockQuery q{BuildPerfBlock(kTime, {Plain(kObj, 7, 8)}), {}};
    PerfQuery failing = [](uint32_t, uint8_t*, uint32_t*) { return 5; };
    kp::BoxRecorder rec;
    uint64_t value = ~0ull;
    EXPECT_EQ(ReadCounterValue(kObj, kSmall, nullptr, 0, &value, failing), 0u);
    EXPECT_EQ(value, 0u);
    PerfQuery empty = [](uint32_t, uint8_t*, uint32_t* size) { *size = 0; return 0; };
    EXPECT_EQ(ReadCounterValue(kObj, kSmall, nullptr, 0, &value, empty), 0u);
    q.block[0] = 'X';  // no "PERF" signature
    EXPECT_EQ(ReadCounterValue(kObj, kSmall, nullptr, 0, &value, q.Fn()), 0u);
    ASSERT_EQ(rec.boxes().size(), 3u);
    for (const kp::BoxRequest& b : rec.boxes()) EXPECT_EQ(b.text, "Cannot Create Performance Data.");
}

TEST(CounterWalker, AtMostEightBytesAreCopied) {
    BlockQuery q{BuildPerfBlock(kTime, {Plain(kObj, 7, 0x0102030405060708ULL)}), {}};
    PerfCounterDefinition big{};
    std::memcpy(&big, q.block.data() + DefinitionAt(1), sizeof(big));
    big.CounterSize = 16;
    big.CounterOffset -= 8;  // sixteen bytes that lie inside the counter block
    q.Patch(DefinitionAt(1), big);
    uint8_t buffer[24];
    std::memset(buffer, 0xCD, sizeof(buffer));
    kp::BoxRecorder rec;
    ReadCounterValue(kObj, kBig, nullptr, 0, buffer, q.Fn());
    EXPECT_TRUE(rec.boxes().empty());
    uint64_t low = 0;
    std::memcpy(&low, buffer, 8);
    EXPECT_EQ(low, 7u);  // the block's first eight bytes from the new offset: the 4-byte counter and padding
    for (size_t i = 8; i < sizeof(buffer); ++i) EXPECT_EQ(buffer[i], 0xCD) << i;
}

TEST(CounterWalker, OffsetsOutsideTheBlockAreRefused) {
    const std::vector<uint8_t> plain = BuildPerfBlock(kTime, {Plain(kObj, 7, 8)});
    auto patched = [&](size_t at, uint32_t v) {
        BlockQuery q{plain, {}};
        q.Patch(at, v);
        return q;
    };
    const size_t counterBlock = FirstPartAt(2);
    struct Case {
        const char* what;
        size_t at;
        uint32_t value;
        const char* box;
    } cases[] = {
        {"first object", offsetof(PerfDataBlock, HeaderLength), 1u << 30, "Oject Not Found"},
        {"object length", kObjectAt + offsetof(PerfObjectType, TotalByteLength), 1u << 30, "Oject Not Found"},
        {"definitions", kObjectAt + offsetof(PerfObjectType, HeaderLength), 1u << 30, "Counter not found"},
        {"counter block", kObjectAt + offsetof(PerfObjectType, DefinitionLength), 1u << 30, "Counter not found"},
        {"block length", counterBlock + offsetof(PerfCounterBlock, ByteLength), 1u << 30, "Counter not found"},
        {"value offset", DefinitionAt(1) + offsetof(PerfCounterDefinition, CounterOffset), 0xfffffffcu,
         "Counter not found"},
    };
    for (const Case& c : cases) {
        BlockQuery q = patched(c.at, c.value);
        Read r = ReadFrom(q, kObj, kBig);
        EXPECT_EQ(r.value, 0u) << c.what;
        EXPECT_EQ(r.boxes, Boxes{c.box}) << c.what;
    }

    // Instances: a chain that runs out of the object, a name outside it, a short instance.
    const std::vector<uint8_t> withInstances = BuildPerfBlock(kTime, {WithInstances({{"0", 0, {1, 2}}})});
    const size_t instance = FirstPartAt(2);
    struct InstanceCase {
        const char* what;
        size_t at;
        uint32_t value;
        const char* name;
    } instanceCases[] = {
        // "1" is not the one instance: the walk goes on past it
        {"instance count", kObjectAt + offsetof(PerfObjectType, NumInstances), 1000000, "1"},
        {"instance length", instance + offsetof(PerfInstanceDefinition, ByteLength), 1u << 30, "0"},
        {"short instance", instance + offsetof(PerfInstanceDefinition, ByteLength), 4, "0"},
        {"name offset", instance + offsetof(PerfInstanceDefinition, NameOffset), 1u << 30, "0"},
        {"name at the end", instance + offsetof(PerfInstanceDefinition, NameOffset),
         uint32_t(withInstances.size() - instance - 1), "0"},
    };
    for (const InstanceCase& c : instanceCases) {
        BlockQuery q{withInstances, {}};
        q.Patch(c.at, c.value);
        Read r = ReadFrom(q, kObj, kBig, c.name);
        EXPECT_EQ(r.value, 0u) << c.what;
        EXPECT_EQ(r.boxes, Boxes{"Instance Doesn't Exist"}) << c.what;
    }
}

}  // namespace

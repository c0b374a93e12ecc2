// The lookup of title indices by English name.
#include <gtest/gtest.h>

#include <string>

#include "counters/kestest/counter_core.h"

namespace {

using kestest::FindCounterIds;
using namespace std::string_literals;

struct Lookup {
    int32_t code;
    uint32_t object;
    uint32_t counter;
    std::string printed;
};

Lookup Find(const char* object, const char* counter, std::string_view list = kestest::kCounterNames) {
    Lookup r{-1, 99, 99, {}};
    testing::internal::CaptureStdout();
    r.code = FindCounterIds(object, counter, &r.object, &r.counter, list);
    r.printed = testing::internal::GetCapturedStdout();
    return r;
}

TEST(CounterNames, EveryNameTheCallersUseHasItsIndex) {
    struct Want {
        const char* object;
        const char* counter;
        uint32_t objectIndex;
        uint32_t counterIndex;
    } wants[] = {
        {"Processor", "% Processor Time", kestest::kProcessorObject, kestest::kProcessorTime},
        {"Processor", "Interrupts/sec", kestest::kProcessorObject, kestest::kInterruptsPerSec},
        {"System", "Context Switches/sec", kestest::kSystemObject, kestest::kContextSwitchesPerSec},
        {"Memory", "Page Faults/sec", kestest::kMemoryObject, kestest::kPageFaultsPerSec},
        {"Memory", "Pages/sec", kestest::kMemoryObject, kestest::kPagesPerSec},
        {"Memory", "Available Bytes", kestest::kMemoryObject, kestest::kAvailableBytes},
        {"Memory", "Cache Bytes", kestest::kMemoryObject, kestest::kCacheBytes},
        {"Memory", "System Cache Resident Bytes", kestest::kMemoryObject, kestest::kSystemCacheResidentBytes},
        {"Objects", "Processes", kestest::kObjectsObject, kestest::kProcesses},
        {"Objects", "Threads", kestest::kObjectsObject, kestest::kThreads},
    };
    for (const Want& w : wants) {
        Lookup r = Find(w.object, w.counter);
        EXPECT_EQ(r.code, 0) << w.object << " / " << w.counter;
        EXPECT_EQ(r.object, w.objectIndex) << w.object;
        EXPECT_EQ(r.counter, w.counterIndex) << w.counter;
        EXPECT_EQ(r.printed, "");
    }
}

TEST(CounterNames, LetterCaseDoesNotMatter) {
    Lookup r = Find("pROCESSOR", "% processor TIME");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.object, uint32_t(kestest::kProcessorObject));
    EXPECT_EQ(r.counter, uint32_t(kestest::kProcessorTime));
    // Only A-Z fold: other characters must be equal.
    EXPECT_EQ(Find("Processor", "% Processor Time ").code, 2);
}

TEST(CounterNames, MissingNamesAndNullArguments) {
    Lookup none = Find("Disk", "Threads");
    EXPECT_EQ(none.code, 1);
    EXPECT_EQ(none.object, 0u);  // the out values are cleared first
    EXPECT_EQ(none.counter, uint32_t(kestest::kThreads));
    Lookup noCounter = Find("Objects", "Semaphores");
    EXPECT_EQ(noCounter.code, 2);
    EXPECT_EQ(noCounter.object, uint32_t(kestest::kObjectsObject));
    EXPECT_EQ(noCounter.counter, 0u);

    uint32_t o = 7, c = 7;
    EXPECT_EQ(FindCounterIds(nullptr, "Threads", &o, &c), 64);
    EXPECT_EQ(FindCounterIds("Objects", nullptr, &o, &c), 64);
    EXPECT_EQ(FindCounterIds("Objects", "Threads", nullptr, &c), 64);
    EXPECT_EQ(FindCounterIds("Objects", "Threads", &o, nullptr), 64);
}

TEST(CounterNames, ANameThatIsBothIsTakenAsTheCounter) {
    Lookup r = Find("Memory", "Memory");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.counter, uint32_t(kestest::kMemoryObject));
    EXPECT_EQ(r.object, 0u);
    // A second occurrence is a duplicate counter, not the object.
    std::string list = "2\0Pool\0" "4\0x\0" "6\0POOL\0"s;
    Lookup again = Find("Pool", "pool", list);
    EXPECT_EQ(again.code, 256);
    EXPECT_EQ(again.printed, "Duplicate Object name found: 'pool'! (2 and: 6)\n");
}

TEST(CounterNames, DuplicatesAreRefusedWithTheirLine) {
    std::string list = "2\0Disk\0" "4\0Reads\0" "6\0Writes\0" "8\0Reads\0" "10\0disk\0"s;
    Lookup object = Find("Disk", "Writes", list);
    EXPECT_EQ(object.code, 128);
    EXPECT_EQ(object.printed, "Duplicate Object name found: 'Disk'! (2 and: 10)\n");
    Lookup counter = Find("Disk", "READS", list);
    EXPECT_EQ(counter.code, 256);
    EXPECT_EQ(counter.printed, "Duplicate Object name found: 'READS'! (4 and: 8)\n");
}

TEST(CounterNames, EdgesOfTheList) {
    // A match on the very first string has no index before it.
    std::string list = "Disk\0" "4\0Reads\0"s;
    Lookup first = Find("Disk", "Reads", list);
    EXPECT_EQ(first.code, 0);
    EXPECT_EQ(first.object, 0u);
    EXPECT_EQ(first.counter, 4u);
    // Names longer than 255 characters match nothing, even an equal entry.
    std::string longName(300, 'q');
    std::string longList = "2\0"s + longName + "\0"s + "4\0Reads\0"s;
    EXPECT_EQ(Find(longName.c_str(), "Reads", longList).code, 1);
    EXPECT_EQ(Find("Reads", longName.c_str(), longList).code, 2);
    std::string fits(255, 'q');
    std::string fitsList = "2\0"s + fits + "\0"s + "4\0Reads\0"s;
    EXPECT_EQ(Find(fits.c_str(), "Reads", fitsList).code, 0);
}

}  // namespace

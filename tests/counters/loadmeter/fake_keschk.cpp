// A stand-in for the analyser's counter library, for the tests that run the real analyser:
// counters that move at known rates on the system clock. With FAKE_KESCHK_PARTIAL one entry
// point is missing.
#include <strings.h>
#include <time.h>

#include <cstdlib>
#include <cstring>

#include "counters/kestest/kestest.h"

namespace {

struct Name {
    const char* object;
    const char* counter;
};
const Name kNames[] = {
    {"Processor", "% Processor Time"}, {"Processor", "Interrupts/sec"}, {"System", "Context Switches/sec"},
    {"Memory", "Page Faults/sec"},     {"Memory", "Pages/sec"},         {"Memory", "Available Bytes"},
};

uint64_t Now100ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 10000000u + uint64_t(ts.tv_nsec) / 100u;
}

}  // namespace

extern "C" {

int32_t GetCounterIdsKestrelA(const char* objectName, const char* counterName, uint32_t* objectIndex,
                              uint32_t* counterIndex) {
    if (objectName == nullptr || counterName == nullptr || objectIndex == nullptr || counterIndex == nullptr) return 64;
    for (uint32_t i = 0; i < 6; ++i) {
        if (strcasecmp(objectName, kNames[i].object) == 0 && strcasecmp(counterName, kNames[i].counter) == 0) {
            *objectIndex = 2;
            *counterIndex = 2 * (i + 1);
            return 0;
        }
    }
    return 2;
}

uint32_t GetCounterValueForIdNumberKestrelA(uint32_t objectIndex, uint32_t counterIndex, const char* instanceName,
                                            int32_t, void* value) {
    if (objectIndex == 0 || counterIndex == 0 || value == nullptr) return 64;
    std::memset(value, 0, 8);
    const uint64_t t = Now100ns();
    const uint64_t cpu = instanceName != nullptr ? uint64_t(std::atoi(instanceName)) : 0;
    uint64_t v = 0;
    switch (counterIndex) {
        case 2: v = t * (4 - cpu % 4) / 5; break;  // idle time: 20, 40, 60 or 80 % busy
        case 4: v = t / 10000 * (cpu + 1); break;  // interrupts
        case 6: v = t / 1000; break;
        case 8: v = t / 2000; break;
        case 10: v = t / 5000; break;
        case 12: v = 6442450944u; break;           // available bytes
        default: break;
    }
    std::memcpy(value, &v, 8);
    return uint32_t(t);
}

uint32_t GetCounterWin95DataKestrelA(const char*, const char*) { return 0; }
int32_t StartCountersA(const char*, const char*) { return 0; }
#ifndef FAKE_KESCHK_PARTIAL
int32_t StopCountersA(const char*, const char*) { return 0; }
#endif

}  // extern "C"

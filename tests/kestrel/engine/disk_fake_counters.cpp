// A stand-in counter library for the disk test's tests: every counter of the "Memory" object
// reads 123456789 bytes.
#include <cstring>

#include "counters/kestest/kestest.h"

extern "C" {

KESTEST_EXPORT int32_t GetCounterIdsKestrelA(const char* objectName, const char* counterName,
                                             uint32_t* objectIndex, uint32_t* counterIndex) {
    if (objectName == nullptr || counterName == nullptr) return 64;
    *objectIndex = std::strcmp(objectName, "Memory") == 0 ? 4 : 260;
    *counterIndex = 10;
    return 0;
}

KESTEST_EXPORT uint32_t GetCounterValueForIdNumberKestrelA(uint32_t objectIndex, uint32_t, const char*, int32_t,
                                                           void* value) {
    const uint64_t v = objectIndex == 4 ? 123456789u : 0u;
    std::memcpy(value, &v, sizeof v);
    return 1;
}
}

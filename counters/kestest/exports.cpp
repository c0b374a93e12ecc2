// The counter entry points of libkestest.so and libkeschk.so; the version script of each
// library picks the ones it exports.
#include "counters/kestest/counter_core.h"
#include "counters/kestest/kestest.h"

extern "C" {

int32_t GetCounterIdsKestrelA(const char* objectName, const char* counterName, uint32_t* objectIndex,
                              uint32_t* counterIndex) {
    return kestest::FindCounterIds(objectName, counterName, objectIndex, counterIndex);
}

uint32_t GetCounterValueForIdNumberKestrelA(uint32_t objectIndex, uint32_t counterIndex, const char* instanceName,
                                            int32_t parentSelector, void* value) {
    return kestest::ReadCounterValue(objectIndex, counterIndex, instanceName, parentSelector, value);
}

int32_t StartCountersA(const char* objectName, const char* counterName) {
    return kestest::StartStatistic(objectName, counterName);
}

int32_t StopCountersA(const char* objectName, const char* counterName) {
    return kestest::StopStatistic(objectName, counterName);
}

uint32_t GetCounterWin95DataKestrelA(const char* objectName, const char* counterName) {
    return kestest::ReadStatistic(objectName, counterName);
}

uint32_t InstantCountA(const char* objectName, const char* counterName) {
    return kestest::InstantStatistic(objectName, counterName);
}

}  // extern "C"

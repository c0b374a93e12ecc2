/* The counter library's entry points, as the main program and the analyser bind them by name
   (dlsym) after loading libkestest.so or libkeschk.so. Every argument and result is 32 bits
   wide except the pointers. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KESTEST_EXPORT __attribute__((visibility("default")))

/* Looks up the title indices of an object and a counter by their English names (compared
   without regard to case). 0 when both are found; 1 object not found; 2 counter not found;
   32 no memory for the name list; 64 a null argument; 128 / 256 the object / counter name occurs
   twice. */
KESTEST_EXPORT int32_t GetCounterIdsKestrelA(const char* objectName, const char* counterName,
                                             uint32_t* objectIndex, uint32_t* counterIndex);

/* Reads one counter: its raw value (4 or 8 bytes, little-endian) into value, which holds at
   least 8 bytes and is zero-filled first. instanceName may be null; parentSelector picks the
   instance's parent. Result: the low 32 bits of the sample time in 100 ns units; 64 when an
   index or the buffer is zero. */
KESTEST_EXPORT uint32_t GetCounterValueForIdNumberKestrelA(uint32_t objectIndex, uint32_t counterIndex,
                                                           const char* instanceName,
                                                           int32_t parentSelector, void* value);

/* Start and stop a named statistic; 0 or an error code. */
KESTEST_EXPORT int32_t StartCountersA(const char* objectName, const char* counterName);
KESTEST_EXPORT int32_t StopCountersA(const char* objectName, const char* counterName);

/* The current value of a started statistic, or an error code on failure. */
KESTEST_EXPORT uint32_t GetCounterWin95DataKestrelA(const char* objectName, const char* counterName);
/* Starts the statistic, reads it and stops it again. */
KESTEST_EXPORT uint32_t InstantCountA(const char* objectName, const char* counterName);

/* The sort-and-search workload of the Queries test: memory level 0..6, worker index. 0. */
KESTEST_EXPORT int DoSort(int sizeLevel, int column);

typedef int32_t (*GetCounterIdsFn)(const char*, const char*, uint32_t*, uint32_t*);
typedef uint32_t (*GetCounterValueFn)(uint32_t, uint32_t, const char*, int32_t, void*);
typedef int32_t (*StartStopCountersFn)(const char*, const char*);
typedef uint32_t (*GetWin95DataFn)(const char*, const char*);
typedef int (*DoSortFn)(int, int);

#ifdef __cplusplus
}
#endif

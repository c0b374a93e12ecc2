// Memory, timer and processor helpers used by every test of the suite.
#pragma once

#include <cstdint>
#include <string>

namespace kp { class Worker; }

// Zero-filled, page-aligned blocks of size + 20 bytes. On failure AllocateMemory hands the line
// "Out of Memory" to the program's report (when one is installed); AllocateMemory2 is silent.
// The flag is set to 1 on failure and 0 otherwise.
void* AllocateMemory(size_t size, int* error);
void* AllocateMemory2(size_t size, int* error);
// Releases a block and has the C library hand its free pages back (on a worker thread the
// iteration does that once after the join instead). Sets the flag to 0.
void FreeMemory(void* block, int* error);
// Where AllocateMemory's failure line goes (the main program passes its report).
void SetOutOfMemoryReporter(void (*reporter)(const std::string& line));

// Shows "Allocation Error!" and ends the process with a failure exit code. On a worker thread the
// worker ends at once and the user-interface thread does both after the join.
[[noreturn]] void FatalError();

// Milliseconds to whole seconds (truncated) and to seconds with fraction.
long TicksToSecs(uint32_t ticks);
double TicksToFracSecs(double ticks);
// The low 32 bits of a time in 100-ns units.
uint32_t FileTimeToQuadWord(uint64_t filetime);

// Binds a worker to processor n (1-based). On failure: "Process Affinity Error!" box, 0.
int SetThreadToProcessor(kp::Worker* worker, int n);
// Tests replace the binding step to see how workers are dealt over processors.
using AffinitySetter = bool (*)(kp::Worker* worker, int n);
AffinitySetter SetAffinitySetter(AffinitySetter setter);  // nullptr restores the real one

// Square root that answers a domain error the way the kernels expect: sqrt(-x) for x < 0.
double ksqrt(double x);

// Kernels publish a checksum of their results here, so the compiler cannot drop their work.
void PublishChecksum(double value);
double LastChecksum();

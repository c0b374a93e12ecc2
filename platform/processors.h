// Processors and thread priorities.
//
// "Processor n" (1-based) is the n-th CPU of the set this process may run on (its affinity set
// at program start), so binding never reaches outside a restricted set. At most 32 are used.
//
// Priorities keep the levels the programs use (-15 idle, -2 lowest, -1 below normal, 0 normal,
// 1 above normal, 2 highest, 15 time critical) and become per-thread nice values relative to the
// program's value at start. A raise the system refuses (no privilege) is skipped silently.
#pragma once

#include <pthread.h>

#include <vector>

namespace kp {

inline constexpr int kMaxProcessors = 32;

// The CPUs of the process's allowed set, in ascending order (at most 32).
const std::vector<int>& AllowedCpus();
// The number of processors: the size of the allowed set, at most 32.
int GetNumProcessors();
// The system CPU number of processor n (1-based), or -1 when there is no such processor.
int CpuOfProcessor(int n);

// Binds a thread to processor n alone; false when n is out of range or the system refuses.
bool BindThreadToProcessor(pthread_t thread, int n);

// The nice value (relative to the start value) of a priority level.
int NiceOffsetOfPriority(int priority);
// Sets the calling thread's priority level. False only when the level could not be applied at
// all; a refused raise leaves the thread where it is and still counts as done.
bool SetCurrentThreadPriority(int priority);
// The calling thread's current nice value.
int CurrentThreadNice();

}  // namespace kp

// The integer kernels of the processor test: Bit Operations (test 1), Queries (test 2),
// Analyzations (test 6, the Hungarian method for the assignment problem) and Modulations (test 7,
// periods of linear recurrences modulo a prime and its square), each with its driver and its
// worker-thread iteration.
#pragma once

#include <array>
#include <cstdint>

#include "counters/kestest/kestest.h"

// ---- Bit Operations -------------------------------------------------------------------------

// The source values of the Bit Operations data.
extern const std::array<int32_t, 1000> arrays2;

// The work done on one element: shifts and logical operations in 15 passes, then 15 tests of the
// lowest bit of the result. Returns the tested bits (bit k = the bit tested in pass k + 1).
int32_t DoBitOperations(int32_t value);
// Worker: 50000 × 2^level elements from arrays2, each through DoBitOperations. 0, or -1 when
// its array cannot be had.
int DoBitOps(int32_t* level);
// Bit operations credited per worker and iteration at a memory level (210 per element).
double BitOpsCredit(int level);

// ---- Queries --------------------------------------------------------------------------------

// The counter library's sort-and-search entry, set by the Queries iteration while it runs.
extern DoSortFn pkes_run_sort_test;
// Worker: one run of the library's workload with the memory level and the worker index. 0 when
// the library answered 0, else -1.
int DoSort2(int32_t* index);

// ---- Analyzations ---------------------------------------------------------------------------

// Rows and columns of the assignment problem (set by the driver to the work size).
extern int32_t ASSIGNROWS;
extern int32_t ASSIGNCOLS;

// Subtracts each row's minimum from the row, then each column's minimum from the column.
void calc_minimum_costs(int32_t** cost);
// Assigns zeros (mark 1) and crosses out the zeros in the same row or column (mark 2); returns
// the number of assignments.
int first_analyze(int32_t** cost, int32_t** mark);
// Covers the zeros and moves the smallest uncovered cost. 0, or -1 when its vectors cannot be
// had.
int second_analyze(int32_t** cost, int32_t** mark, int32_t size);
// Worker: a size × size problem solved 15 times. 0 (after "test failed" when its matrices or
// vectors cannot be had).
int Analyze(int32_t* size);

// ---- Modulations ----------------------------------------------------------------------------

namespace modulations {
inline constexpr int32_t prime = 71;
inline constexpr int32_t prime2 = 5041;  // prime squared
inline constexpr int kSlots = 32;        // one per worker: at most 32 workers
// How far the outer loop of the recurrences runs (set by the driver: 10 × 2^level).
extern int32_t thesize;

// A worker's counters: the steps of the last recurrences modulo prime and prime2, the number of
// recurrences run and the sum of all their steps.
struct alignas(64) SpeedSlot {  // a cache line each: workers never share one
    int32_t counter1 = 0;
    int32_t counter2 = 0;
    int32_t runs = 0;
    int64_t steps = 0;
};
extern SpeedSlot slots[kSlots];
}  // namespace modulations

// Worker: for every i below thesize that prime does not divide and j = 1..11, follows
// x' = j x + i x_prev from (1, j) modulo prime, then modulo prime2, until (0, 1) comes round.
// -1 for a worker index without a slot.
int Speed(int32_t* index);

// ---- Two small containers of values (no kernel uses them) -----------------------------------

// Values are taken from the head: the queue stores at the tail, the stack at the head.
template <bool StoreAtHead>
class value_chain {
public:
    ~value_chain() { clear(); }
    void store(int32_t value);
    int32_t retrieve();  // 0 when empty
    int clear();         // the number of nodes freed
    int32_t count() const { return count_; }

private:
    struct node {
        int32_t value;
        node* next;
    };
    node* head_ = nullptr;
    node* tail_ = nullptr;
    int32_t count_ = 0;
};

using queue = value_chain<false>;
using stack = value_chain<true>;

// ---- Iterations and drivers -----------------------------------------------------------------

// One timed run of n workers: elapsed milliseconds, or -1.0 on failure.
double DoBitOpIteration(int n);
double DoQueryIteration(int n);
double DoAnalyzeIteration(int n, int32_t size);
double DoSpeedTestIteration(int n);

// Drivers: 0 with the rate stored in the test's record, -1 when stopped or failed.
int DoBitTest();
int DoQuery();
int DoAnalyze();
int DoSpeedTest();

#include "kestrel/engine/processor/kernels_integer.h"
#include "kestrel/engine/processor/nr_alloc.h"

#include <dlfcn.h>

#include <algorithm>
#include <climits>
#include <new>
#include <string>

#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/processor/kernel_rate.h"
#include "kestrel/engine/processor/kernel_records.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/engine/processor/workers.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "shared/helpers.h"
#include "shared/perf_link.h"

namespace {

int Level() { return std::clamp(int(prefs.memory_load_value), 0, 6); }
// The drivers' worker count: at least `least`, more when there are more processors.
int Workers(int least) { return std::max(least, run.numprocessors); }

// Signed 32-bit sums and differences that wrap as the machine does, without undefined behaviour.
int32_t WrapAdd(int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); }
int32_t WrapSub(int32_t a, int32_t b) { return int32_t(uint32_t(a) - uint32_t(b)); }

constexpr std::array<int32_t, 1000> MakeSourceValues() {
    std::array<int32_t, 1000> v = {800, 600, 100, 700, 500, 300, 250, 10, 5, 88};
    uint32_t state = 12345;
    for (size_t i = 10; i < v.size(); ++i) {
        state = state * 1103515245u + 12345u;
        v[i] = int32_t(1 + (state >> 8) % 32253);
    }
    return v;
}

// A zero-filled matrix of signed 32-bit values, rows and columns 0..n-1 (nullptr after the
// allocator's box when it cannot be had).
int32_t** LongMatrix(int32_t n) { return allocate_long_matrix(0, n - 1, 0, n - 1); }

void FreeLongMatrix(int32_t** m, int32_t n) {
    if (m != nullptr) free_long_matrix(m, 0, n - 1, 0);
}

}  // namespace

// ---- Bit Operations -------------------------------------------------------------------------

const std::array<int32_t, 1000> arrays2 = MakeSourceValues();

// Each operation is done as written: the empty barrier after it makes the value unknown to
// the compiler, which otherwise folds the eight operations of a pass into three or four (and the
// whole function into one constant, since every value ends at -4).
#define OPAQUE(x) asm volatile("" : "+r"(x))

int32_t DoBitOperations(int32_t value) {
    int32_t v = value;
    int32_t w = 0;
    for (int32_t pass = 2; pass <= 32768; pass <<= 1) {
        v |= 2;
        OPAQUE(v);
        v >>= 2;
        OPAQUE(v);
        v <<= 8;
        OPAQUE(v);
        v >>= 4;
        OPAQUE(v);
        v <<= 2;
        OPAQUE(v);
        v >>= 2;
        OPAQUE(v);
        v |= 4;
        OPAQUE(v);
        v ^= 8;
        OPAQUE(v);
        w = v;
    }
    int32_t tested = 0;
    int bit = 0;
    for (int32_t pass = 2; pass <= 32768; pass <<= 1, ++bit) {
        if (w & 1) tested |= int32_t(1) << bit;
        w >>= 1;
        OPAQUE(w);
    }
    return tested;
}

#undef OPAQUE

double BitOpsCredit(int level) { return 210.0 * double(50000 << std::clamp(level, 0, 6)); }

int DoBitOps(int32_t* level) {
    const int32_t n = 50000 << std::clamp(*level, 0, 6);
    int error = 0;
    auto* values = static_cast<int32_t*>(AllocateMemory2(sizeof(int32_t) * size_t(n + 1), &error));
    if (values == nullptr) return -1;
    for (int32_t i = 0; i < n; ++i) values[i] = arrays2[size_t(i % 1000)];
    int64_t sum = 0;
    for (int32_t i = 0; i < n; ++i) sum += DoBitOperations(values[i]);
    FreeMemory(values, &error);
    PublishChecksum(double(sum));
    return 0;
}

// ---- Queries --------------------------------------------------------------------------------

DoSortFn pkes_run_sort_test = nullptr;

int DoSort2(int32_t* index) {
    DoSortFn sort = pkes_run_sort_test;
    if (sort == nullptr) return -1;
    return sort(prefs.memory_load_value, *index) == 0 ? 0 : -1;
}

// ---- Analyzations ---------------------------------------------------------------------------

int32_t ASSIGNROWS = 0;
int32_t ASSIGNCOLS = 0;

void calc_minimum_costs(int32_t** cost) {
    for (int32_t r = 0; r < ASSIGNROWS; ++r) {
        int32_t least = INT32_MAX;
        for (int32_t c = 0; c < ASSIGNCOLS; ++c) least = std::min(least, cost[r][c]);
        for (int32_t c = 0; c < ASSIGNCOLS; ++c) cost[r][c] = WrapSub(cost[r][c], least);
    }
    for (int32_t c = 0; c < ASSIGNCOLS; ++c) {
        int32_t least = INT32_MAX;
        for (int32_t r = 0; r < ASSIGNROWS; ++r) least = std::min(least, cost[r][c]);
        if (least == 0) continue;
        for (int32_t r = 0; r < ASSIGNROWS; ++r) cost[r][c] = WrapSub(cost[r][c], least);
    }
}

int first_analyze(int32_t** cost, int32_t** mark) {
    const int32_t rows = ASSIGNROWS;
    const int32_t cols = ASSIGNCOLS;
    for (int32_t r = 0; r < rows; ++r) std::fill(mark[r], mark[r] + cols, 0);
    auto free_zero = [&](int32_t r, int32_t c) { return cost[r][c] == 0 && mark[r][c] == 0; };
    // Assigns (r, c) and crosses out the other zeros of its row and/or its column.
    auto cross_row = [&](int32_t r, int32_t c) {
        for (int32_t o = 0; o < cols; ++o) {
            if (o != c && cost[r][o] == 0) mark[r][o] = 2;
        }
    };
    auto cross_column = [&](int32_t r, int32_t c) {
        for (int32_t o = 0; o < rows; ++o) {
            if (o != r && cost[o][c] == 0) mark[o][c] = 2;
        }
    };

    int assignments = 0;
    int k = 0;
    while (k < 11) {
        ++k;
        for (int32_t r = 0; r < rows; ++r) {
            int found = 0;
            int32_t at = -1;
            for (int32_t c = 0; c < cols; ++c) {
                if (free_zero(r, c)) {
                    ++found;
                    at = c;
                }
            }
            if (found == 1) {
                mark[r][at] = 1;
                ++assignments;
                ++k;
                cross_column(r, at);
            }
        }
        for (int32_t c = 0; c < cols; ++c) {
            int found = 0;
            int32_t at = -1;
            for (int32_t r = 0; r < rows; ++r) {
                if (free_zero(r, c)) {
                    ++found;
                    at = r;
                }
            }
            if (found == 1) {
                mark[at][c] = 1;
                ++assignments;
                ++k;
                cross_row(at, c);
            }
        }
    }
    if (assignments == rows) return assignments;

    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t c = 0; c < cols; ++c) {
            if (!free_zero(r, c)) continue;
            mark[r][c] = 1;
            ++assignments;
            cross_row(r, c);
            cross_column(r, c);
            break;
        }
    }
    return assignments;
}

int second_analyze(int32_t** cost, int32_t** mark, int32_t size) {
    int error = 0;
    const size_t bytes = sizeof(int32_t) * size_t(size);
    auto* row_marked = static_cast<int32_t*>(AllocateMemory2(bytes, &error));
    if (row_marked == nullptr) return -1;
    auto* col_marked = static_cast<int32_t*>(AllocateMemory2(bytes, &error));
    if (col_marked == nullptr) {
        FreeMemory(row_marked, &error);
        return -1;
    }
    std::fill(row_marked, row_marked + size, 0);
    std::fill(col_marked, col_marked + size, 0);

    for (int32_t r = 0; r < size; ++r) {
        row_marked[r] = std::find(mark[r], mark[r] + size, 1) == mark[r] + size ? 1 : 0;
    }
    int k = 0;
    do {
        ++k;
        for (int32_t r = 0; r < size; ++r) {
            if (!row_marked[r]) continue;
            for (int32_t c = 0; c < size; ++c) {
                if (cost[r][c] == 0) col_marked[c] = 1;
            }
        }
        for (int32_t c = 0; c < size; ++c) {
            if (!col_marked[c]) continue;
            for (int32_t r = 0; r < size; ++r) {
                if (!row_marked[r] && mark[r][c] == 1) {
                    row_marked[r] = 1;
                    ++k;
                }
            }
        }
    } while (k < 11);

    int32_t least = INT32_MAX;
    for (int32_t r = 0; r < size; ++r) {
        if (!row_marked[r]) continue;
        for (int32_t c = 0; c < size; ++c) {
            if (!col_marked[c]) least = std::min(least, cost[r][c]);
        }
    }
    for (int32_t r = 0; r < size; ++r) {
        for (int32_t c = 0; c < size; ++c) {
            if (row_marked[r] && !col_marked[c]) {
                cost[r][c] = WrapSub(cost[r][c], least);
            } else if (!row_marked[r] && col_marked[c]) {
                cost[r][c] = WrapAdd(cost[r][c], least);
            }
        }
    }
    FreeMemory(col_marked, &error);
    FreeMemory(row_marked, &error);
    return 0;
}

int Analyze(int32_t* size_argument) {
    const int32_t size = *size_argument;
    int32_t** mark = LongMatrix(size + 1);
    int32_t** cost = mark != nullptr ? LongMatrix(size + 1) : nullptr;
    auto failed = [&] {
        passtring("test failed");
        FreeLongMatrix(cost, size + 1);
        FreeLongMatrix(mark, size + 1);
        return -1;
    };
    if (cost == nullptr) return failed();

    for (int32_t r = 0; r < size; ++r) {
        for (int32_t c = 0; c < size; ++c) cost[r][c] = c;
    }
    calc_minimum_costs(cost);
    int64_t assigned = 0;
    for (int pass = 0; pass < 15; ++pass) {
        assigned += first_analyze(cost, mark);
        if (second_analyze(cost, mark, size) == -1) return failed();
    }
    PublishChecksum(double(assigned) + double(size > 0 ? cost[size - 1][size - 1] : 0));
    FreeLongMatrix(cost, size + 1);
    FreeLongMatrix(mark, size + 1);
    return 0;
}

// ---- Modulations ----------------------------------------------------------------------------

namespace modulations {
int32_t thesize = 10;
SpeedSlot slots[kSlots];
}  // namespace modulations

int Speed(int32_t* index) {
    using namespace modulations;
    const int32_t slot = *index;
    if (slot < 0 || slot >= kSlots) return -1;
    SpeedSlot& s = slots[slot];
    s = SpeedSlot{};
    const int32_t size = thesize;
    for (int32_t i = 1; i < size; ++i) {
        if (i % prime == 0) continue;
        for (int32_t j = 1; j <= 11; ++j) {
            int32_t prev = 1, cur = j;
            int32_t counter1 = 1, counter2 = 1;
            while (!(prev == 0 && cur == 1)) {
                const int32_t next = (j * cur + i * prev) % prime;
                prev = cur;
                cur = next;
                ++counter1;
            }
            prev = 1;
            cur = j;
            while (!(prev == 0 && cur == 1)) {
                const int32_t next = (j * cur + i * prev) % prime2;
                prev = cur;
                cur = next;
                ++counter2;
            }
            s.counter1 = counter1;
            s.counter2 = counter2;
            ++s.runs;
            s.steps += counter1 + counter2;
        }
    }
    PublishChecksum(double(s.steps));
    return 0;
}

// ---- Containers -----------------------------------------------------------------------------

template <bool StoreAtHead>
void value_chain<StoreAtHead>::store(int32_t value) {
    node* n = new (std::nothrow) node{value, nullptr};
    if (n == nullptr) FatalError();
    if (StoreAtHead) {
        n->next = head_;
        head_ = n;
        if (tail_ == nullptr) tail_ = n;
    } else {
        if (tail_ != nullptr) tail_->next = n; else head_ = n;
        tail_ = n;
    }
    ++count_;
}

template <bool StoreAtHead>
int32_t value_chain<StoreAtHead>::retrieve() {
    if (head_ == nullptr) return 0;
    node* n = head_;
    const int32_t value = n->value;
    head_ = n->next;
    if (head_ == nullptr) tail_ = nullptr;
    delete n;
    --count_;
    return value;
}

template <bool StoreAtHead>
int value_chain<StoreAtHead>::clear() {
    int freed = 0;
    while (count_ > 0) {
        retrieve();
        ++freed;
    }
    return freed;
}

template class value_chain<false>;
template class value_chain<true>;

// ---- Iterations -----------------------------------------------------------------------------

double DoBitOpIteration(int n) {
    WorkerIteration it;
    it.n = n;
    it.argument = [](int) { return prefs.memory_load_value; };
    return RunFailableIteration(it, [](int32_t level) { return DoBitOps(&level); });
}

double DoQueryIteration(int n) {
    const std::string folder =
        perflink.program_directory.empty() ? kp::ProgramDirectory() : perflink.program_directory;
    void* library = dlopen((folder + "/" + kCounterLibrary).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        kp::MessageBox(kp::Owner::Progress, "Error loading KESTEST.DLL", "Library Exception",
                       kp::Icon::Exclamation);
        return -1.0;
    }
    auto sort = reinterpret_cast<DoSortFn>(dlsym(library, "DoSort"));
    if (sort == nullptr) {
        kp::MessageBox(kp::Owner::Progress, "Error Passing function A", "Library Exception",
                       kp::Icon::Exclamation);
        dlclose(library);
        return -1.0;
    }
    pkes_run_sort_test = sort;
    WorkerIteration it;
    it.n = n;
    it.argument = [](int i) { return int32_t(i); };
    const double elapsed = RunFailableIteration(it, [](int32_t index) { return DoSort2(&index); });
    pkes_run_sort_test = nullptr;
    dlclose(library);
    return elapsed;
}

double DoAnalyzeIteration(int n, int32_t size) {
    WorkerIteration it;
    it.n = n;
    it.argument = [size](int) { return size; };
    it.trim_heap = false;
    it.subtract_creation_time = true;
    it.subtract_kernel_time = true;
    return RunFailableIteration(it, [](int32_t s) { return Analyze(&s); });
}

double DoSpeedTestIteration(int n) {
    // A scratch matrix the workers do not touch, filled outside the timed interval.
    const int32_t edge = 14 * modulations::thesize;
    int32_t** scratch = LongMatrix(edge + 1);
    if (scratch == nullptr) return -1.0;
    for (int32_t i = 0; i < edge; ++i) {
        for (int32_t j = 0; j < edge; ++j) scratch[i][j] = j;
    }
    WorkerIteration it;
    it.n = std::min(n, modulations::kSlots);
    it.argument = [](int i) { return int32_t(i); };
    it.work = [](int32_t index) { Speed(&index); };
    const double elapsed = RunWorkerIteration(it);
    FreeLongMatrix(scratch, edge + 1);
    return elapsed;
}

// ---- Drivers --------------------------------------------------------------------------------

int DoBitTest() {
    const int n = Workers(8);
    DriverLoop loop;
    loop.iteration = [n] { return DoBitOpIteration(n); };
    loop.count_per_iteration = n * BitOpsCredit(Level());
    DriverTotals totals;
    if (RunDriverLoop(loop, &totals) != 0) return -1;
    global_bitopstruct.bitopspersec = RatePerSecond(totals.count, totals.seconds);
    return 0;
}

int DoQuery() {
    const int n = Workers(8);
    global_numsortstruct.numarrays = n;
    DriverLoop loop;
    loop.iteration = [n] { return DoQueryIteration(n); };
    loop.count_per_iteration = n * 6041.0;
    loop.ui_priority_during = run.tpriority;
    loop.ui_priority_after = -1;
    DriverTotals totals;
    if (RunDriverLoop(loop, &totals) != 0) return -1;
    global_numsortstruct.sortspersec = RatePerSecond(totals.count, totals.seconds);
    return 0;
}

int DoAnalyze() {
    static constexpr int32_t kSizes[7] = {125, 180, 230, 300, 500, 700, 1000};
    const int n = Workers(8);
    const int32_t size = kSizes[Level()];
    ASSIGNROWS = size;
    ASSIGNCOLS = size;
    global_assignstruct.numarrays = uint32_t(n);
    DriverLoop loop;
    loop.iteration = [n, size] { return DoAnalyzeIteration(n, size); };
    loop.count_per_iteration = n * 60.0;
    DriverTotals totals;
    if (RunDriverLoop(loop, &totals) != 0) return -1;
    global_assignstruct.iterspersec = RatePerSecond(n * totals.count, totals.seconds);
    return 0;
}

int DoSpeedTest() {
    const int n = std::min(Workers(4), modulations::kSlots);
    modulations::thesize = 10 << Level();
    DriverLoop loop;
    loop.iteration = [n] { return DoSpeedTestIteration(n); };
    loop.count_per_iteration = n * 10.0;
    loop.pump_before_each = true;
    DriverTotals totals;
    if (RunDriverLoop(loop, &totals) != 0) return -1;
    global_sspstruct.iterspersec = RatePerSecond(totals.count, totals.seconds);
    return 0;
}

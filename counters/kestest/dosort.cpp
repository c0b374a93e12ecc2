// The sort-and-search workload of the Queries test: a fixed sequence of sorts and searches over
// integer arrays whose size grows with the memory level. Several worker threads run it at once,
// each with its own arrays and result table.
#include "counters/kestest/dosort_internal.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "counters/kestest/kestest.h"
#include "shared/helpers.h"

namespace ksort {

IntArray::IntArray(int n) {
    data = new (std::nothrow) int32_t[n > 0 ? n : 1]();
    failed = data == nullptr;
    count = failed || n < 0 ? 0 : n;
}

IntArray::~IntArray() { delete[] data; }

IntArray& IntArray::operator=(const IntArray& other) {
    if (this == &other) return *this;
    delete[] data;
    data = nullptr;
    count = 0;
    sorted = other.sorted;
    if (other.count > 0) {
        data = new (std::nothrow) int32_t[other.count];
        failed = data == nullptr;
        if (!failed) {
            std::memcpy(data, other.data, sizeof(int32_t) * other.count);
            count = other.count;
        }
    }
    return *this;
}

void CombSort(IntArray& a, int lo, int hi) {
    if (lo < 0) lo = 0;
    hi = a.Last(hi);
    if (hi <= lo) return;
    int gap = hi - lo + 1;
    do {
        gap = gap * 8 / 11;
        if (gap < 1) gap = 1;
        a.sorted = true;
        for (int i = lo; i <= hi - gap; ++i) {
            if (a[i + gap] < a[i]) {
                std::swap(a[i], a[i + gap]);
                a.sorted = false;
            }
        }
    } while (gap > 1 || !a.sorted);
}

void HeapSort(IntArray& a, int m) {
    if (m > a.count) m = a.count;
    // Build a max-heap by inserting the elements one after the other.
    for (int i = 1; i < m; ++i) {
        for (int c = i; c > 0 && a[(c - 1) / 2] < a[c]; c = (c - 1) / 2) std::swap(a[(c - 1) / 2], a[c]);
    }
    // Move the largest to the end of the heap and let the displaced element sink.
    for (int end = m - 1; end > 0; --end) {
        std::swap(a[0], a[end]);
        int p = 0;
        for (;;) {
            int c = 2 * p + 1;
            if (c >= end) break;
            if (c + 1 < end && a[c] < a[c + 1]) ++c;
            if (!(a[p] < a[c])) break;
            std::swap(a[p], a[c]);
            p = c;
        }
    }
}

void QuickSort(IntArray& a, int lo, int hi) {
    if (lo < 0) lo = 0;
    hi = a.Last(hi);
    while (lo < hi) {
        const int32_t pivot = a[(lo + hi) / 2];
        int i = lo, j = hi;
        do {
            while (a[i] < pivot) ++i;
            while (pivot < a[j]) --j;
            if (j < i) break;
            std::swap(a[i], a[j]);
            ++i;
            --j;
        } while (j >= i);
        if (lo < j) QuickSort(a, lo, j);
        lo = i;  // the right part without recursion
    }
}

int LinearSearch(IntArray& a, int lo, int hi, int32_t key) {
    hi = a.Last(hi);
    for (int i = lo < 0 ? 0 : lo; i <= hi; ++i) {
        if (a[i] == key) return i;
    }
    return -1;
}

namespace {

// Moves the element at from to to (to <= from); the elements between shift up by one.
void MoveElement(IntArray& a, int to, int from) {
    const int32_t v = a[from];
    for (int k = from; k > to; --k) a[k] = a[k - 1];
    a[to] = v;
}

}  // namespace

int MoveUpSearch(IntArray& a, int lo, int hi, int32_t key) {
    const int d = LinearSearch(a, lo, hi, key);
    if (d > lo) std::swap(a[d], a[d - 1]);
    return d;
}

int MoveToFrontSearch(IntArray& a, int lo, int hi, int32_t key) {
    const int d = LinearSearch(a, lo, hi, key);
    if (d > lo) MoveElement(a, lo, d);
    return d;
}

int MoveHalfWaySearch(IntArray& a, int lo, int hi, int32_t key) {
    const int d = LinearSearch(a, lo, hi, key);
    if (d - lo > 1) MoveElement(a, lo + (d - lo) / 2, d);
    return d;
}

int MiddleOutSearch(IntArray& a, int lo, int hi, int32_t key) {
    if (lo < 0) lo = 0;
    hi = a.Last(hi);
    if (hi < lo) return -1;
    const int mid = lo + (hi - lo + 1) / 2;
    if (a[mid] == key) return mid;
    for (int d = 1; mid - d >= lo || mid + d <= hi; ++d) {
        if (mid - d >= lo && a[mid - d] == key) return mid - d;
        if (mid + d <= hi && a[mid + d] == key) return mid + d;
    }
    return -1;
}

namespace {

// One set for the whole library. Concurrent callers may interleave their updates; the figures
// only steer the direction of the search, so relaxed atomics are enough.
struct AdaptiveStats {
    std::atomic<int> lower{-1};
    std::atomic<int> upper{-1};
    std::atomic<int64_t> hits{0};
    std::atomic<int64_t> positionSum{0};
};
AdaptiveStats g_adaptive;

}  // namespace

int AdaptiveSearch(IntArray& a, int lo, int hi, int32_t key) {
    if (hi < lo || lo < 0 || lo >= a.count) return -1;
    hi = a.Last(hi);
    constexpr auto relaxed = std::memory_order_relaxed;
    if (g_adaptive.lower.load(relaxed) != lo || g_adaptive.upper.load(relaxed) != hi) {
        g_adaptive.hits.store(0, relaxed);
        g_adaptive.positionSum.store(0, relaxed);
        g_adaptive.lower.store(lo, relaxed);
        g_adaptive.upper.store(hi, relaxed);
    }
    const int64_t hits = g_adaptive.hits.load(relaxed);
    bool downwards = false;
    if (hits > 1) {
        // The mean is truncated before the comparison: any mean position from 1 on turns the
        // search around.
        const int64_t mean = g_adaptive.positionSum.load(relaxed) / hits;
        downwards = mean > 0.5;
    }
    int found = -1;
    if (downwards) {
        for (int i = hi; i >= lo && found < 0; --i) {
            if (a[i] == key) found = i;
        }
    } else {
        found = LinearSearch(a, lo, hi, key);
    }
    if (found >= 0) {
        g_adaptive.positionSum.fetch_add(found, relaxed);
        g_adaptive.hits.fetch_add(1, relaxed);
    }
    return found;
}

int BinarySearch(IntArray& a, int hi, int32_t key) {
    int lo = 0;
    hi = a.Last(hi);
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        const int32_t v = a[mid];
        if (v == key) return mid;
        if (key < v) hi = mid - 1;
        else lo = mid + 1;
    }
    return -1;
}

int LeftmostSearch(IntArray& a, int hi, int32_t key) {
    int p = BinarySearch(a, hi, key);
    if (p < 0) return -1;
    while (p > 0 && a[p - 1] == key) --p;
    return p;
}

int KthOccurrence(IntArray& a, int hi, int32_t key, int k) {
    const int p = LeftmostSearch(a, hi, key);
    if (p < 0) return -1;
    const int q = p + k - 1;
    return q <= a.Last(hi) && a[q] == key ? q : -1;
}

int64_t SortWorkload(int sizeLevel, int column) {
    constexpr int kRows = 1000, kColumns = 32;
    // Working rows below the result rows: search bound, inner range, last result, loop counter.
    constexpr int kUpper = kRows, kInnerLo = kRows + 1, kInnerHi = kRows + 2, kLast = kRows + 3,
                  kLoop = kRows + 4;
    if (sizeLevel < 0) sizeLevel = 0;
    if (sizeLevel > 6) sizeLevel = 6;
    // More workers than columns share columns; each call has a table of its own.
    const int col = (column % kColumns + kColumns) % kColumns;
    const int n = 10000 << sizeLevel;

    std::unique_ptr<int32_t[]> table(new (std::nothrow) int32_t[(kRows + 5) * kColumns]());
    if (!table) return 0;
    auto cell = [&](int row) -> int32_t& { return table[row * kColumns + col]; };
    int32_t& upper = cell(kUpper);
    int32_t& innerLo = cell(kInnerLo);
    int32_t& innerHi = cell(kInnerHi);
    int32_t& last = cell(kLast);
    int32_t& i = cell(kLoop);
    int64_t sum = 0;

    upper = 999;
    innerLo = 249;
    innerHi = 749;
    IntArray A(n), B(n), D(10);
    for (i = 0; i < n; ++i) A[i] = kSourceTable[i % kSourceCount];

    B = A;
    CombSort(B, 0, upper);
    B = A;
    HeapSort(B, upper);  // indices 0..998
    B = A;
    QuickSort(B, 0, upper);
    B = A;
    CombSort(B, innerLo, innerHi);
    B = A;
    for (i = 0; i < n; ++i) QuickSort(B, innerLo, innerHi);

    for (i = 0; i < n; ++i) sum += last = LinearSearch(A, 0, upper, B[i]);

    for (int r = 0; r < 3; ++r) sum += last = MoveUpSearch(A, 0, upper, B[0]);
    for (int r = 0; r < 3; ++r) sum += last = MoveUpSearch(A, 0, upper, B[999]);
    for (int r = 0; r < 3; ++r) sum += last = MoveToFrontSearch(A, 0, upper, B[1]);
    for (int r = 0; r < 2; ++r) sum += last = MoveToFrontSearch(A, 0, upper, B[998]);
    for (int r = 0; r < 3; ++r) sum += last = MoveHalfWaySearch(A, 0, upper, B[2]);
    for (int r = 0; r < 2; ++r) sum += last = MoveHalfWaySearch(A, 0, upper, B[499]);

    for (i = 0; i < n / 2; ++i) sum += last = MiddleOutSearch(A, 0, upper, B[i]);
    // Left out of the checksum: its direction depends on what other callers found.
    for (int r = 0; r < 3; ++r) last = AdaptiveSearch(A, 0, upper, B[0]);
    for (i = 0; i < n; ++i) sum += last = BinarySearch(B, upper, A[i]);

    D = B;
    D[1] = D[3];
    D[2] = D[3];
    for (i = 0; i < n; ++i) sum += last = LeftmostSearch(D, upper, A[i]);
    for (int k = 2; k <= 3; ++k) sum += last = KthOccurrence(D, upper, D[1], k);

    for (int r = 0; r < 4; ++r) {
        for (i = 0; i < n; ++i) cell(i % kRows) = B[i];
    }
    for (int row = 0; row < kRows; ++row) sum += cell(row);
    return sum;
}

}  // namespace ksort

extern "C" int DoSort(int sizeLevel, int column) {
    PublishChecksum(static_cast<double>(ksort::SortWorkload(sizeLevel, column)));
    return 0;
}

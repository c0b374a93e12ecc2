// The building blocks of the sort-and-search workload behind DoSort: the integer array, the
// sorts, the searches and the self-organising reorderings. Ranges are inclusive index ranges
// lo..hi; every upper bound is clamped to the array's last index, and a search gives the position
// or -1.
#pragma once

#include <cstdint>

namespace ksort {

constexpr int kSourceCount = 1000;
extern const int32_t kSourceTable[kSourceCount];

// An array of 32-bit integers that never reads or writes outside its elements: an index outside
// 0..count - 1 reaches the spare integer instead. A failed allocation leaves count 0 (and failed
// set), so the steps that follow run on the spare integer alone.
struct IntArray {
    int32_t* data = nullptr;
    int count = 0;
    bool failed = false;
    bool sorted = false;
    int32_t spare = 0;

    IntArray() = default;
    explicit IntArray(int n);
    IntArray(const IntArray&) = delete;
    ~IntArray();
    // Frees the elements, then copies count, sorted flag and elements of the other array.
    IntArray& operator=(const IntArray& other);

    int32_t& operator[](int i) { return i >= 0 && i < count ? data[i] : spare; }
    int Last(int hi) const { return hi < count - 1 ? hi : count - 1; }
};

// Comb sort over lo..hi: the gap starts at the range's length and shrinks by 8/11 per pass.
void CombSort(IntArray& a, int lo, int hi);
// Heap sort of the first m elements (indices 0..m - 1).
void HeapSort(IntArray& a, int m);
void QuickSort(IntArray& a, int lo, int hi);

// Searches from lo upwards.
int LinearSearch(IntArray& a, int lo, int hi, int32_t key);
// Searches from lo upwards and moves the found element: one place towards the front, to the
// front, or from position d to d / 2; the elements passed over shift up by one.
int MoveUpSearch(IntArray& a, int lo, int hi, int32_t key);
int MoveToFrontSearch(IntArray& a, int lo, int hi, int32_t key);
int MoveHalfWaySearch(IntArray& a, int lo, int hi, int32_t key);
// Probes the middle of the range first, then alternately one place lower and one higher.
int MiddleOutSearch(IntArray& a, int lo, int hi, int32_t key);
// Linear search whose direction follows where earlier hits in the same range were found. The
// statistics are shared by every caller in the process.
int AdaptiveSearch(IntArray& a, int lo, int hi, int32_t key);
// Binary search over 0..hi; a range that is not sorted may miss keys it holds.
int BinarySearch(IntArray& a, int hi, int32_t key);
// Binary search, then back to the first of a run of equal elements.
int LeftmostSearch(IntArray& a, int hi, int32_t key);
// Position of the k-th of the equal elements that start at the leftmost hit of key, or -1.
int KthOccurrence(IntArray& a, int hi, int32_t key, int k);

// The whole workload for one caller; returns a checksum of its search results and result column.
int64_t SortWorkload(int sizeLevel, int column);

}  // namespace ksort

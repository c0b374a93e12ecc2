// The sort-and-search workload: its source table, the sorts, the reorderings, the searches at
// their edges, and DoSort itself at every level and from several threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>
#include <vector>

#include "counters/kestest/dosort_internal.h"
#include "counters/kestest/kestest.h"
#include "shared/helpers.h"

namespace {

using ksort::IntArray;

// An array holding the given values; the spare integer gets a value of the test's choosing, so
// a read outside the elements shows up as a false hit.
struct Array {
    IntArray a;
    explicit Array(const std::vector<int32_t>& v, int32_t spare = -999) : a(int(v.size())) {
        std::copy(v.begin(), v.end(), a.data);
        a.spare = spare;
    }
    std::vector<int32_t> Values() const { return {a.data, a.data + a.count}; }
};

std::vector<int32_t> SourceValues() { return {ksort::kSourceTable, ksort::kSourceTable + ksort::kSourceCount}; }

TEST(SourceTable, HasTheGivenShape) {
    const std::vector<int32_t> v = SourceValues();
    ASSERT_EQ(v.size(), 1000u);
    const std::vector<int32_t> head = {800, 600, 100, 700, 500, 300, 250, 10, 5, 88,
                                       97, 1022, 15000, 2535, 2344, 8283, 1245, 12, 18, 3};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), v.begin()));
    EXPECT_EQ(std::set<int32_t>(v.begin(), v.end()).size(), 525u);
    EXPECT_EQ(*std::min_element(v.begin(), v.end()), 1);
    EXPECT_EQ(*std::max_element(v.begin(), v.end()), 32253);
    EXPECT_FALSE(std::is_sorted(v.begin(), v.end()));
}

// Checks that lo..hi is ordered and holds the same values as before, and nothing else moved.
void ExpectRangeSorted(const std::vector<int32_t>& before, const std::vector<int32_t>& after, int lo, int hi) {
    ASSERT_EQ(before.size(), after.size());
    std::vector<int32_t> expected = before;
    std::sort(expected.begin() + lo, expected.begin() + hi + 1);
    EXPECT_EQ(after, expected);
}

TEST(Sorts, CombAndQuickSortOrderTheirRange) {
    const std::vector<int32_t> src = SourceValues();
    for (auto sort : {&ksort::CombSort, &ksort::QuickSort}) {
        Array whole(src);
        sort(whole.a, 0, 999);
        ExpectRangeSorted(src, whole.Values(), 0, 999);
        Array inner(src);
        sort(inner.a, 249, 749);
        ExpectRangeSorted(src, inner.Values(), 249, 749);
        // An already ordered range stays as it is, as in the repeated runs of the workload.
        sort(inner.a, 249, 749);
        ExpectRangeSorted(src, inner.Values(), 249, 749);
        Array small({3, 3, 1, 3, 2, 1, 3});
        sort(small.a, 0, 6);
        EXPECT_EQ(small.Values(), (std::vector<int32_t>{1, 1, 2, 3, 3, 3, 3}));
    }
}

TEST(Sorts, CombSortEndsWithASortedFlag) {
    Array a({5, 4, 3, 2, 1});
    ksort::CombSort(a.a, 0, 4);
    EXPECT_TRUE(a.a.sorted);
    EXPECT_EQ(a.Values(), (std::vector<int32_t>{1, 2, 3, 4, 5}));
}

TEST(Sorts, HeapSortLeavesTheLastIndexAlone) {
    std::vector<int32_t> src = SourceValues();
    src[999] = 0;  // smaller than everything: would move to the front if it were in the heap
    Array a(src);
    ksort::HeapSort(a.a, 999);
    ExpectRangeSorted(src, a.Values(), 0, 998);
    EXPECT_EQ(a.a[999], 0);
}

TEST(Sorts, RangesAreClampedToTheArray) {
    for (auto sort : {&ksort::CombSort, &ksort::QuickSort}) {
        Array a({9, 7, 8, 1, 4}, -5);
        sort(a.a, 0, 999);
        EXPECT_EQ(a.Values(), (std::vector<int32_t>{1, 4, 7, 8, 9}));
        EXPECT_EQ(a.a.spare, -5);
    }
    Array h({9, 7, 8, 1, 4}, -5);
    ksort::HeapSort(h.a, 999);
    EXPECT_EQ(h.Values(), (std::vector<int32_t>{1, 4, 7, 8, 9}));
    EXPECT_EQ(h.a.spare, -5);
}

TEST(Sorts, ArrayWithoutElementsIsLeftAlone) {
    // What a failed allocation leaves: no elements, every access on the spare integer.
    IntArray a;
    a.failed = true;
    a.spare = 4;
    ksort::CombSort(a, 0, 999);
    ksort::HeapSort(a, 999);
    ksort::QuickSort(a, 249, 749);
    EXPECT_EQ(a.spare, 4);
    EXPECT_EQ(ksort::LinearSearch(a, 0, 999, 4), -1);
    EXPECT_EQ(ksort::BinarySearch(a, 999, 4), -1);
    EXPECT_EQ(ksort::MiddleOutSearch(a, 0, 999, 4), -1);
    EXPECT_EQ(ksort::AdaptiveSearch(a, 0, 999, 4), -1);
    IntArray copy(3);
    copy = a;
    EXPECT_EQ(copy.count, 0);
}

TEST(Reordering, MoveUpToFrontAndHalfWay) {
    const std::vector<int32_t> v = {10, 20, 30, 40, 50, 60};
    Array up(v);
    EXPECT_EQ(ksort::MoveUpSearch(up.a, 0, 5, 40), 3);
    EXPECT_EQ(up.Values(), (std::vector<int32_t>{10, 20, 40, 30, 50, 60}));
    EXPECT_EQ(ksort::MoveUpSearch(up.a, 0, 5, 40), 2);
    EXPECT_EQ(ksort::MoveUpSearch(up.a, 0, 5, 40), 1);
    EXPECT_EQ(ksort::MoveUpSearch(up.a, 0, 5, 40), 0);
    EXPECT_EQ(up.Values(), (std::vector<int32_t>{40, 10, 20, 30, 50, 60}));

    Array front(v);
    EXPECT_EQ(ksort::MoveToFrontSearch(front.a, 0, 5, 50), 4);
    EXPECT_EQ(front.Values(), (std::vector<int32_t>{50, 10, 20, 30, 40, 60}));
    EXPECT_EQ(ksort::MoveToFrontSearch(front.a, 0, 5, 50), 0);
    EXPECT_EQ(front.Values(), (std::vector<int32_t>{50, 10, 20, 30, 40, 60}));

    Array half(v);
    EXPECT_EQ(ksort::MoveHalfWaySearch(half.a, 0, 5, 60), 5);
    EXPECT_EQ(half.Values(), (std::vector<int32_t>{10, 20, 60, 30, 40, 50}));
    EXPECT_EQ(ksort::MoveHalfWaySearch(half.a, 0, 5, 60), 2);
    EXPECT_EQ(half.Values(), (std::vector<int32_t>{10, 60, 20, 30, 40, 50}));
    EXPECT_EQ(ksort::MoveHalfWaySearch(half.a, 0, 5, 60), 1);  // position 1 stays
    EXPECT_EQ(half.Values(), (std::vector<int32_t>{10, 60, 20, 30, 40, 50}));
}

TEST(Reordering, MissesAndTheSearchBoundLeaveTheArrayAlone) {
    const std::vector<int32_t> v = {10, 20, 30, 40, 50, 60};
    Array a(v);
    EXPECT_EQ(ksort::MoveUpSearch(a.a, 0, 5, 99), -1);
    EXPECT_EQ(ksort::MoveToFrontSearch(a.a, 0, 5, 99), -1);
    EXPECT_EQ(ksort::MoveHalfWaySearch(a.a, 0, 5, 99), -1);
    EXPECT_EQ(ksort::MoveToFrontSearch(a.a, 0, 3, 60), -1);  // beyond the bound
    EXPECT_EQ(ksort::MoveUpSearch(a.a, 0, 5, 10), 0);
    EXPECT_EQ(a.Values(), v);
}

TEST(Searches, LinearAndMiddleOutProbeOrder) {
    std::vector<int32_t> v(1000, 1);
    v[0] = v[999] = 7;  // the middle-out search reaches 999 before 0
    v[499] = v[501] = 8;
    v[500] = v[498] = 9;
    Array a(v);
    EXPECT_EQ(ksort::LinearSearch(a.a, 0, 999, 7), 0);
    EXPECT_EQ(ksort::MiddleOutSearch(a.a, 0, 999, 7), 999);
    EXPECT_EQ(ksort::MiddleOutSearch(a.a, 0, 999, 8), 499);
    EXPECT_EQ(ksort::MiddleOutSearch(a.a, 0, 999, 9), 500);
    EXPECT_EQ(ksort::MiddleOutSearch(a.a, 0, 999, 5), -1);
    Array odd({1, 4, 4, 4, 1});
    EXPECT_EQ(ksort::MiddleOutSearch(odd.a, 0, 4, 4), 2);
    EXPECT_EQ(ksort::MiddleOutSearch(odd.a, 0, 4, 1), 0);
    Array edge({1, 2, 3}, 6);
    EXPECT_EQ(ksort::MiddleOutSearch(edge.a, 0, 999, 6), -1);
    EXPECT_EQ(ksort::LinearSearch(edge.a, 0, 999, 6), -1);
}

TEST(Searches, AdaptiveTurnsAroundAfterHitsPastTheStart) {
    Array a({1, 1, 5, 1, 5});
    EXPECT_EQ(ksort::AdaptiveSearch(a.a, 0, 4, 5), 2);
    EXPECT_EQ(ksort::AdaptiveSearch(a.a, 0, 4, 5), 2);
    EXPECT_EQ(ksort::AdaptiveSearch(a.a, 0, 4, 5), 4);  // mean position 2: from the top down
    EXPECT_EQ(ksort::AdaptiveSearch(a.a, 0, 3, 5), 2);  // a new range starts afresh
    Array front({5, 1, 5});
    for (int r = 0; r < 4; ++r) EXPECT_EQ(ksort::AdaptiveSearch(front.a, 0, 2, 5), 0);
    EXPECT_EQ(ksort::AdaptiveSearch(front.a, 2, 1, 5), -1);
    EXPECT_EQ(ksort::AdaptiveSearch(front.a, 3, 9, 5), -1);
}

TEST(Searches, BinaryHitsMissesAndEdges) {
    const std::vector<int32_t> v = {1, 3, 5, 7, 9};
    Array a(v);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(ksort::BinarySearch(a.a, 4, v[i]), i);
    EXPECT_EQ(ksort::BinarySearch(a.a, 4, 4), -1);
    // The spare integer holds the key: a read past either end would report a hit.
    a.a.spare = 10;
    EXPECT_EQ(ksort::BinarySearch(a.a, 999, 10), -1);
    a.a.spare = 0;
    EXPECT_EQ(ksort::BinarySearch(a.a, 999, 0), -1);
    Array guard({1, 2, 3, 4, 9, 9});
    EXPECT_EQ(ksort::BinarySearch(guard.a, 3, 9), -1);  // nothing read above the bound
    // Only the inner part ordered: its keys are found, an outer key below it is missed.
    Array part({50, 1, 2, 3, 4, 5, 0});
    EXPECT_EQ(ksort::BinarySearch(part.a, 6, 3), 3);
    EXPECT_EQ(ksort::BinarySearch(part.a, 6, 50), -1);
}

TEST(Searches, LeftmostAndKthOccurrence) {
    Array d({2, 4, 4, 4, 7, 9});
    EXPECT_EQ(ksort::LeftmostSearch(d.a, 5, 4), 1);
    EXPECT_EQ(ksort::LeftmostSearch(d.a, 5, 9), 5);
    EXPECT_EQ(ksort::LeftmostSearch(d.a, 5, 5), -1);
    EXPECT_EQ(ksort::KthOccurrence(d.a, 5, 4, 2), 2);
    EXPECT_EQ(ksort::KthOccurrence(d.a, 5, 4, 3), 3);
    EXPECT_EQ(ksort::KthOccurrence(d.a, 5, 4, 4), -1);
    // A hit at index 0 stops there, even when the spare integer equals the key.
    Array front({4, 4, 4, 7}, 4);
    EXPECT_EQ(ksort::LeftmostSearch(front.a, 3, 4), 0);
    EXPECT_EQ(ksort::KthOccurrence(front.a, 3, 4, 3), 2);
    // The k-th place lies beyond the bound.
    Array tail({1, 2, 7}, 7);
    EXPECT_EQ(ksort::KthOccurrence(tail.a, 2, 7, 2), -1);
    // A key the binary search misses has no k-th occurrence, whatever the first elements hold.
    Array unsorted({5, 5, 1, 2, 3, 4});
    ASSERT_EQ(ksort::LeftmostSearch(unsorted.a, 5, 5), -1);
    EXPECT_EQ(ksort::KthOccurrence(unsorted.a, 5, 5, 2), -1);
    EXPECT_EQ(ksort::KthOccurrence(unsorted.a, 5, 5, 3), -1);
}

class DoSortLevel : public ::testing::TestWithParam<int> {};

TEST_P(DoSortLevel, ReturnsZeroAndPublishesItsChecksum) {
    const int level = GetParam();
    PublishChecksum(0.0);
    EXPECT_EQ(DoSort(level, level * 5), 0);
    EXPECT_NE(LastChecksum(), 0.0);
    if (level == 6) {
        // Levels beyond the main program's range run as level 6.
        EXPECT_EQ(static_cast<double>(ksort::SortWorkload(40, 3)), LastChecksum());
    }
}

INSTANTIATE_TEST_SUITE_P(AllLevels, DoSortLevel, ::testing::Range(0, 7));

TEST(DoSort, ColumnsAndLowLevelsAreClamped) {
    const int64_t reference = ksort::SortWorkload(0, 0);
    EXPECT_EQ(ksort::SortWorkload(0, 31), reference);
    EXPECT_EQ(ksort::SortWorkload(0, 99), reference);
    EXPECT_EQ(ksort::SortWorkload(0, -7), reference);
    EXPECT_EQ(ksort::SortWorkload(-3, 5), reference);
    EXPECT_NE(ksort::SortWorkload(1, 0), reference);
}

TEST(DoSort, ConcurrentCallsAgree) {
    const int64_t reference = ksort::SortWorkload(1, 0);
    constexpr int kThreads = 8;
    std::vector<int64_t> sums(kThreads, 0);
    std::vector<int> results(kThreads, -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            results[t] = DoSort(1, t * 12);  // columns 0..84: more workers than columns
            sums[t] = ksort::SortWorkload(1, t);
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(results[t], 0);
        EXPECT_EQ(sums[t], reference);
    }
    EXPECT_EQ(LastChecksum(), static_cast<double>(reference));
}

}  // namespace

// The integer kernels: Bit Operations, Queries, Analyzations (Hungarian method), Modulations,
// with their iterations and drivers.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/processor/kernel_rate.h"
#include "kestrel/engine/processor/kernel_records.h"
#include "kestrel/engine/processor/kernels_integer.h"
#include "platform/pages.h"
#include "platform/processors.h"
#include "platform/process.h"
#include "platform/workers.h"
#include "tests/kestrel/engine/kernel_test_support.h"
#include "tests/support/isolation.h"

namespace {

// A square matrix as the kernels address it (cost[row][column]).
class Matrix {
public:
    explicit Matrix(std::vector<std::vector<int32_t>> rows) : rows_(std::move(rows)) {
        for (auto& r : rows_) pointers_.push_back(r.data());
    }
    explicit Matrix(int size) : Matrix(std::vector<std::vector<int32_t>>(size_t(size), std::vector<int32_t>(size_t(size)))) {}
    int32_t** get() { return pointers_.data(); }
    const std::vector<std::vector<int32_t>>& rows() const { return rows_; }

private:
    std::vector<std::vector<int32_t>> rows_;
    std::vector<int32_t*> pointers_;
};

void SetProblemSize(int32_t size) {
    ASSIGNROWS = size;
    ASSIGNCOLS = size;
}

// ---- Bit Operations -------------------------------------------------------------------------

TEST(BitOperations, ValuesRunIntoMinusFourAndItsBitsAreTested) {
    // From 0 the passes give 4^(k+1) - 4 (12, 60, 252, ...) until the shift left by 8 wraps at
    // pass 13, after which every pass gives -4 again: the 15 tested bits are those of -4.
    EXPECT_EQ(DoBitOperations(0), 0x7ffc);
    // 800: 3212, 12860, ... wraps sooner; -1 and INT32_MIN reach -4 at once or after one pass.
    EXPECT_EQ(DoBitOperations(800), 0x7ffc);
    EXPECT_EQ(DoBitOperations(-1), 0x7ffc);
    EXPECT_EQ(DoBitOperations(INT32_MIN), 0x7ffc);
}

TEST(BitOperations, SourceTableAndCredit) {
    const int32_t first[10] = {800, 600, 100, 700, 500, 300, 250, 10, 5, 88};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(arrays2[size_t(i)], first[i]);
    for (int32_t v : arrays2) {
        EXPECT_GE(v, 1);
        EXPECT_LE(v, 32253);
    }
    EXPECT_DOUBLE_EQ(BitOpsCredit(0), 10500000.0);  // 210 per element, 50000 elements
    EXPECT_DOUBLE_EQ(BitOpsCredit(6), 672000000.0);
}

TEST(BitOperations, WorkerFailsQuietlyWithoutItsArray) {
    kp::MarkUiThread();
    kt::RecordingHost host;
    kp::BoxRecorder boxes;
    report = ReportText{};
    int32_t level = 0;
    EXPECT_EQ(DoBitOps(&level), 0);
    kp::FailNextPageAllocations(1);
    EXPECT_EQ(DoBitOps(&level), -1);
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(report.num, 0);
    EXPECT_EQ(kp::LivePageBlocks(), 0u);
}

// ---- Analyzations ---------------------------------------------------------------------------

TEST(Hungarian, CostsOfTheTestAreAllZeroAndTheDiagonalIsAssigned) {
    SetProblemSize(5);
    Matrix cost(5), mark(5);
    for (int r = 0; r < 5; ++r) {
        for (int c = 0; c < 5; ++c) cost.get()[r][c] = c;
    }
    calc_minimum_costs(cost.get());
    for (const auto& row : cost.rows()) EXPECT_EQ(row, std::vector<int32_t>(5, 0));

    EXPECT_EQ(first_analyze(cost.get(), mark.get()), 5);
    for (int r = 0; r < 5; ++r) {
        for (int c = 0; c < 5; ++c) EXPECT_EQ(mark.rows()[size_t(r)][size_t(c)], r == c ? 1 : 2);
    }
    // A full assignment leaves nothing to move.
    EXPECT_EQ(second_analyze(cost.get(), mark.get(), 5), 0);
    for (const auto& row : cost.rows()) EXPECT_EQ(row, std::vector<int32_t>(5, 0));
}

TEST(Hungarian, SmallProblemReachesItsOptimalAssignment) {
    SetProblemSize(3);
    const std::vector<std::vector<int32_t>> original = {{4, 1, 3}, {2, 0, 5}, {3, 2, 2}};
    Matrix cost(original), mark(3);
    calc_minimum_costs(cost.get());
    // Rows less 1, 0, 2; then column 0 less its minimum 1.
    EXPECT_EQ(cost.rows(), (std::vector<std::vector<int32_t>>{{2, 0, 2}, {1, 0, 5}, {0, 0, 0}}));

    // Row 0 has one zero, then column 0 one free zero: row 1 stays unassigned.
    EXPECT_EQ(first_analyze(cost.get(), mark.get()), 2);
    EXPECT_EQ(mark.rows()[0][1], 1);
    EXPECT_EQ(mark.rows()[2][0], 1);

    // Row 1 is marked, so column 1, so row 0; the least uncovered cost (1) moves.
    EXPECT_EQ(second_analyze(cost.get(), mark.get(), 3), 0);
    EXPECT_EQ(cost.rows(), (std::vector<std::vector<int32_t>>{{1, 0, 1}, {0, 0, 4}, {0, 1, 0}}));

    ASSERT_EQ(first_analyze(cost.get(), mark.get()), 3);
    int total = 0;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            if (mark.rows()[size_t(r)][size_t(c)] == 1) total += original[size_t(r)][size_t(c)];
        }
    }
    EXPECT_EQ(total, 5);  // the cheapest of the six assignments
}

// Signed 32-bit costs wrap as two's complement: every difference and sum below leaves the 32-bit
// range, so an exact (or saturating) computation would give other costs.
TEST(Hungarian, SignedCostsWrapAsTwosComplement) {
    constexpr int32_t kMax = INT32_MAX;
    constexpr int32_t kMin = INT32_MIN;
    SetProblemSize(2);
    Matrix cost(std::vector<std::vector<int32_t>>{{kMax, kMin}, {0, 0}});
    calc_minimum_costs(cost.get());
    // Row 0 less kMin: kMax - kMin is 2^32 - 1, which wraps to -1; column 0 then less -1.
    EXPECT_EQ(cost.rows(), (std::vector<std::vector<int32_t>>{{0, 0}, {1, 0}}));

    // Rows 0 and 1 and column 1 are marked (as in the small problem); the least uncovered cost
    // is kMin. Uncovered costs less kMin wrap below zero, the twice covered -1 plus kMin to kMax.
    SetProblemSize(3);
    Matrix moved(std::vector<std::vector<int32_t>>{{2, 0, 2}, {1, 0, kMin}, {0, -1, 0}});
    Matrix mark(std::vector<std::vector<int32_t>>{{0, 1, 0}, {0, 0, 0}, {1, 0, 0}});
    ASSERT_EQ(second_analyze(moved.get(), mark.get(), 3), 0);
    EXPECT_EQ(moved.rows(), (std::vector<std::vector<int32_t>>{
                                {kMin + 2, 0, kMin + 2}, {kMin + 1, 0, 0}, {0, kMax, 0}}));
}

TEST(Hungarian, WorkerAndItsFailures) {
    kp::MarkUiThread();
    kt::RecordingHost host;
    kp::BoxRecorder boxes;
    report = ReportText{};
    SetProblemSize(40);
    int32_t size = 40;
    EXPECT_EQ(Analyze(&size), 0);
    EXPECT_EQ(report.num, 0);
    EXPECT_EQ(kp::LivePageBlocks(), 0u);

    kp::FailNextPageAllocations(1);  // the mark matrix
    EXPECT_EQ(Analyze(&size), -1);
    EXPECT_EQ(report.szGreeting, (std::vector<std::string>{"Out of Memory", "test failed"}));
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Allocation Error!");
    EXPECT_EQ(boxes.boxes()[0].caption, "Fatal Memory Exception");
    EXPECT_EQ(kp::LivePageBlocks(), 0u);

    Matrix cost(3), mark(3);
    SetProblemSize(3);
    kp::FailNextPageAllocations(1);
    EXPECT_EQ(second_analyze(cost.get(), mark.get(), 3), -1);
    EXPECT_EQ(kp::LivePageBlocks(), 0u);
}

// ---- Modulations ----------------------------------------------------------------------------

TEST(Modulations, RecurrencesComeBackToTheirStart) {
    modulations::thesize = 10;
    int32_t slot = 3;
    ASSERT_EQ(Speed(&slot), 0);
    const modulations::SpeedSlot& s = modulations::slots[3];
    EXPECT_EQ(s.runs, 9 * 11);  // i = 1..9, j = 1..11
    // The counters of the last run (i = 9, j = 11) are periods of x' = 11 x + 9 x_prev: modulo
    // 71 a divisor of 71^2 - 1 or 71 (71 - 1); modulo 71^2 the same period or 71 times it.
    ASSERT_GT(s.counter1, 1);
    EXPECT_TRUE(5040 % s.counter1 == 0 || 4970 % s.counter1 == 0) << s.counter1;
    EXPECT_TRUE(s.counter2 == s.counter1 || s.counter2 == 71 * s.counter1) << s.counter2;
    EXPECT_GE(s.steps, int64_t(2 * s.runs));

    modulations::thesize = 72;  // i = 71 is skipped
    slot = 0;
    ASSERT_EQ(Speed(&slot), 0);
    EXPECT_EQ(modulations::slots[0].runs, 70 * 11);

    slot = modulations::kSlots;
    EXPECT_EQ(Speed(&slot), -1);
    modulations::thesize = 10;
}

// ---- Containers -----------------------------------------------------------------------------

TEST(Containers, StackAndQueueOrderAndClear) {
    stack s;
    s.store(1);
    s.store(2);
    s.store(3);
    EXPECT_EQ(s.retrieve(), 3);
    EXPECT_EQ(s.clear(), 2);
    EXPECT_EQ(s.count(), 0);
    EXPECT_EQ(s.retrieve(), 0);  // empty

    queue q;
    q.store(1);
    q.store(2);
    q.store(3);
    EXPECT_EQ(q.retrieve(), 1);
    EXPECT_EQ(q.retrieve(), 2);
    q.store(4);
    EXPECT_EQ(q.retrieve(), 3);
    EXPECT_EQ(q.retrieve(), 4);
    EXPECT_EQ(q.retrieve(), 0);
    q.store(5);
    EXPECT_EQ(q.clear(), 1);
}

TEST(Rate, NoTimeGivesNoRate) {
    EXPECT_DOUBLE_EQ(RatePerSecond(10.0, 2.0), 5.0);
    EXPECT_EQ(RatePerSecond(10.0, 0.0), 0.0);
    EXPECT_EQ(RatePerSecond(10.0, -1.0), 0.0);
}

// ---- Queries --------------------------------------------------------------------------------

class QueryTest : public kt::KernelRunTest {
protected:
    void SetUp() override {
        KernelRunTest::SetUp();
        folder_ = kt::FreshDir("lib");
        perflink.program_directory = folder_;
    }
    void TearDown() override {
        perflink.program_directory.clear();
        KernelRunTest::TearDown();
    }
    std::string Library() const { return folder_ + "/libkestest.so"; }
    void Install(const std::string& built) {
        std::filesystem::copy_file(kp::ProgramDirectory() + "/" + built, Library());
    }
    bool Loaded() const {
        void* h = dlopen(Library().c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (h != nullptr) dlclose(h);
        return h != nullptr;
    }
    std::string folder_;
};

TEST_F(QueryTest, EveryWorkerRunsTheLibrarysWorkloadOnce) {
    Install("libfake_kestest.so");
    prefs.memory_load_value = 3;
    void* own = dlopen(Library().c_str(), RTLD_NOW | RTLD_LOCAL);  // to read the counts
    ASSERT_NE(own, nullptr);
    auto calls = reinterpret_cast<int (*)()>(dlsym(own, "FakeSortCalls"));
    auto columns = reinterpret_cast<uint32_t (*)()>(dlsym(own, "FakeSortColumns"));
    auto levels = reinterpret_cast<int (*)()>(dlsym(own, "FakeSortLevelSum"));
    ASSERT_TRUE(calls && columns && levels);

    EXPECT_GE(DoQueryIteration(8), 0.0);
    EXPECT_EQ(calls(), 8);
    EXPECT_EQ(columns(), 0xffu);     // worker indices 0..7
    EXPECT_EQ(levels(), 8 * 3);      // each with the memory level
    EXPECT_EQ(pkes_run_sort_test, nullptr);
    EXPECT_TRUE(AllSlotsNull());
    EXPECT_TRUE(boxes.boxes().empty());
    dlclose(own);
    EXPECT_FALSE(Loaded());  // the iteration let its own hold go
}

TEST_F(QueryTest, MissingLibraryFailsTheIteration) {
    EXPECT_EQ(DoQueryIteration(8), -1.0);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Error loading KESTEST.DLL");
    EXPECT_EQ(boxes.boxes()[0].caption, "Library Exception");
    EXPECT_EQ(boxes.boxes()[0].icon, kp::Icon::Exclamation);
    EXPECT_TRUE(Bound().empty());  // no worker was made

    boxes.Clear();
    EXPECT_EQ(DoQuery(), -1);
    EXPECT_EQ(report.szGreeting, std::vector<std::string>{"Test aborted!"});
    EXPECT_EQ(boxes.boxes().size(), 1u);
}

TEST_F(QueryTest, LibraryWithoutTheEntryFailsAndIsReleased) {
    Install("libforward_lib.so");
    EXPECT_EQ(DoQueryIteration(8), -1.0);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Error Passing function A");
    EXPECT_EQ(boxes.boxes()[0].caption, "Library Exception");
    EXPECT_EQ(boxes.boxes()[0].icon, kp::Icon::Exclamation);
    EXPECT_FALSE(Loaded());
    EXPECT_TRUE(Bound().empty());
}

TEST_F(QueryTest, DriverStoresARateAndLowersItsThreadAfterwards) {
    Install("libfake_kestest.so");
    ASSERT_EQ(DoQuery(), 0);
    EXPECT_GT(global_numsortstruct.sortspersec, 0.0);
    EXPECT_EQ(global_numsortstruct.numarrays, 8);
    EXPECT_TRUE(AllSlotsNull());
    ExpectDealtInTurns(8);
    // The thread is left at "below normal": setting that level again changes nothing.
    const int after = kp::CurrentThreadNice();
    kp::SetCurrentThreadPriority(-1);
    EXPECT_EQ(kp::CurrentThreadNice(), after);
    EXPECT_FALSE(Loaded());
}

// ---- Drivers --------------------------------------------------------------------------------

using IntegerDriverTest = kt::KernelRunTest;

TEST_F(IntegerDriverTest, BitOperations) {
    ASSERT_EQ(DoBitTest(), 0);
    EXPECT_GT(global_bitopstruct.bitopspersec, 0.0);
    EXPECT_TRUE(AllSlotsNull());
    ExpectDealtInTurns(8);
    EXPECT_EQ(report.num, 0);
}

TEST_F(IntegerDriverTest, AnalyzationsWithMoreProcessorsThanTheLeastWorkerCount) {
    run.numprocessors = 10;  // ten workers; the setter accepts processors 9 and 10 too
    ASSERT_EQ(DoAnalyze(), 0);
    EXPECT_GT(global_assignstruct.iterspersec, 0.0);
    EXPECT_EQ(global_assignstruct.numarrays, 10u);
    EXPECT_EQ(ASSIGNROWS, 125);
    EXPECT_EQ(ASSIGNCOLS, 125);
    EXPECT_TRUE(AllSlotsNull());
    EXPECT_EQ(Bound().size() % 10, 0u);
    EXPECT_EQ(report.num, 0);  // no "test failed"
}

TEST_F(IntegerDriverTest, Modulations) {
    ASSERT_EQ(DoSpeedTest(), 0);
    EXPECT_GT(global_sspstruct.iterspersec, 0.0);
    EXPECT_EQ(modulations::thesize, 10);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(modulations::slots[i].runs, 99);
    EXPECT_TRUE(AllSlotsNull());
    ExpectDealtInTurns(8);
    EXPECT_EQ(kp::LivePageBlocks(), 0u);  // the scratch matrix is gone
}

TEST_F(IntegerDriverTest, ModulationsLooksForStopBeforeTheFirstIteration) {
    host.on_pump = [](int) { run.testend = 1; };
    EXPECT_EQ(DoSpeedTest(), -1);
    EXPECT_TRUE(Bound().empty());
    EXPECT_EQ(report.szGreeting, std::vector<std::string>{"Test aborted!"});
}

TEST_F(IntegerDriverTest, ModulationsWithoutItsScratchMatrixAborts) {
    global_sspstruct.iterspersec = 0.0;
    kp::FailNextPageAllocations(1);
    EXPECT_EQ(DoSpeedTest(), -1);
    EXPECT_EQ(report.szGreeting, (std::vector<std::string>{"Out of Memory", "Test aborted!"}));
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Allocation Error!");
    EXPECT_TRUE(Bound().empty());
    EXPECT_EQ(global_sspstruct.iterspersec, 0.0);
}

}  // namespace

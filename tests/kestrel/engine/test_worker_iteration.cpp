// The worker-thread iteration, the driver loop and the helpers they use.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/engine/processor/workers.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "platform/pages.h"
#include "platform/processors.h"
#include "platform/workers.h"
#include "shared/helpers.h"
#include "tests/support/isolation.h"
#include "tests/support/recording_host.h"

namespace {

// The processors the iteration asked for, in the order it asked.
std::mutex g_bound_mutex;
std::vector<int> g_bound;
int g_fail_at_call = -1;

bool RecordingSetter(kp::Worker*, int n) {
    std::lock_guard<std::mutex> lock(g_bound_mutex);
    if (int(g_bound.size()) == g_fail_at_call) return false;
    g_bound.push_back(n);
    return true;
}

// In a death test's child the recorder of the parent must not answer: the log switch does.
void SetMessageBoxBackendForDeath() { kp::SetMessageBoxBackend(nullptr); }

class IterationTest : public ::testing::Test {
protected:
    void SetUp() override {
        kp::MarkUiThread();
        SetDefaults();
        report = ReportText{};
        run.testend = 0;
        run.numprocessors = 4;
        run.tpriority = 0;
        prefs = Preferences{};
        g_bound.clear();
        g_fail_at_call = -1;
        previous_ = SetAffinitySetter(&RecordingSetter);
    }
    void TearDown() override { SetAffinitySetter(previous_); }

    WorkerIteration Counting(int n) {
        WorkerIteration it;
        it.n = n;
        it.argument = [](int i) { return int32_t(10 + i); };
        it.work = [this](int32_t arg) {
            ++ran;
            arg_sum += arg;
        };
        return it;
    }

    static bool AllSlotsNull() {
        for (kp::Worker* w : global_current_thread) {
            if (w != nullptr) return false;
        }
        return true;
    }

    kt::RecordingHost host;
    kp::BoxRecorder boxes;
    std::atomic<int> ran{0};
    std::atomic<int> arg_sum{0};
    AffinitySetter previous_ = nullptr;
};

TEST_F(IterationTest, WorkersAreDealtOverTheProcessorsFromTheStart) {
    results.processor_affinity_start = 3;
    run.numprocessors = 4;
    double elapsed = RunWorkerIteration(Counting(8));
    EXPECT_GE(elapsed, 0.0);
    EXPECT_EQ(g_bound, (std::vector<int>{3, 4, 3, 4, 3, 4, 3, 4}));
    EXPECT_EQ(ran.load(), 8);
    EXPECT_EQ(arg_sum.load(), 8 * 10 + 28);  // each worker got its own argument
    EXPECT_TRUE(AllSlotsNull());
}

TEST_F(IterationTest, PlainRunStartsAtTheFirstProcessor) {
    run.numprocessors = 3;
    RunWorkerIteration(Counting(7));
    EXPECT_EQ(g_bound, (std::vector<int>{1, 2, 3, 1, 2, 3, 1}));
}

TEST_F(IterationTest, UniprocessorEmulationBindsEveryWorkerToTheStartProcessor) {
    results.uniprocemulation = 1;
    results.processor_affinity_start = 2;
    results.testing_os = 1;  // emulation binds even in the OS pass
    RunWorkerIteration(Counting(6));
    EXPECT_EQ(g_bound, std::vector<int>(6, 2));
    EXPECT_EQ(ran.load(), 6);
}

TEST_F(IterationTest, OperatingSystemPassBindsNoWorker) {
    results.testing_os = 1;
    RunWorkerIteration(Counting(5));
    EXPECT_TRUE(g_bound.empty());
    EXPECT_EQ(ran.load(), 5);
    EXPECT_TRUE(AllSlotsNull());
}

TEST_F(IterationTest, AStartBeyondTheProcessorCountWrapsInsteadOfRunningAway) {
    results.processor_affinity_start = 5;
    run.numprocessors = 4;
    RunWorkerIteration(Counting(3));
    EXPECT_EQ(g_bound, (std::vector<int>{5, 5, 5}));
}

TEST_F(IterationTest, AffinityFailureReleasesAndJoinsTheParkedWorkers) {
    g_fail_at_call = 2;
    EXPECT_EQ(RunWorkerIteration(Counting(6)), -1.0);
    EXPECT_EQ(ran.load(), 0);  // no worker ran its work
    EXPECT_TRUE(AllSlotsNull());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Process Affinity Error!");
    EXPECT_EQ(boxes.boxes()[0].caption, "Fatal Thread Exception!");
    EXPECT_EQ(kp::LivePageBlocks(), 0u);  // the tables were freed
}

TEST_F(IterationTest, AllocationFailureAbortsTheTest) {
    kp::FailNextPageAllocations(1);
    EXPECT_EQ(RunWorkerIteration(Counting(4)), -1.0);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Allocation Error!");
    EXPECT_EQ(boxes.boxes()[0].caption, "Fatal Memory Exception");
    EXPECT_EQ(boxes.boxes()[0].owner, kp::Owner::Progress);
    EXPECT_EQ(ran.load(), 0);
    EXPECT_EQ(report.szGreeting, std::vector<std::string>{"Out of Memory"});

    report = ReportText{};
    kp::FailNextPageAllocations(1);
    DriverLoop loop;
    loop.iteration = [this] { return RunWorkerIteration(Counting(2)); };
    loop.count_per_iteration = 1;
    DriverTotals totals;
    EXPECT_EQ(RunDriverLoop(loop, &totals), -1);
    EXPECT_EQ(report.szGreeting, (std::vector<std::string>{"Out of Memory", "Test aborted!"}));
}

TEST_F(IterationTest, WorkersLeaveTheHeapTrimToTheIterationAfterTheJoin) {
    std::atomic<int> trims_in_work{0};
    std::atomic<size_t> seen_last{0};
    WorkerIteration it;
    it.n = 8;
    it.work = [&](int32_t) {
        for (int i = 0; i < 20; ++i) {
            int error = 1;
            const size_t trims = kp::HeapTrims();
            FreeMemory(AllocateMemory(1000, &error), &error);
            if (kp::HeapTrims() != trims) ++trims_in_work;
        }
        size_t seen = seen_last.load();
        while (seen < kp::HeapTrims() && !seen_last.compare_exchange_weak(seen, kp::HeapTrims())) {
        }
    };
    ASSERT_GE(RunWorkerIteration(it), 0.0);
    EXPECT_EQ(trims_in_work.load(), 0);
    EXPECT_GT(kp::HeapTrims(), seen_last.load());  // once the last worker had released its blocks

    // On this thread, as on the user-interface thread, every release trims.
    const size_t trims = kp::HeapTrims();
    int error = 1;
    FreeMemory(AllocateMemory(1000, &error), &error);
    EXPECT_EQ(kp::HeapTrims(), trims + 1);
}

TEST_F(IterationTest, ThreadCreationFailureEndsTheProgramWithAFailureCode) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            kp::FailNextThreadCreations(1);
            RunWorkerIteration(Counting(3));
            std::exit(0);
        },
        ::testing::ExitedWithCode(1), "");
}

TEST_F(IterationTest, LinesAndBoxesOfWorkersAppearAfterTheJoin) {
    WorkerIteration it = Counting(3);
    it.work = [](int32_t arg) {
        passtring("test failed " + std::to_string(arg));
        kp::MessageBox(kp::Owner::Main, "worker box", "Kestrel Message");
    };
    it.argument = [](int i) { return int32_t(i); };
    results.testing_os = 1;
    RunWorkerIteration(it);
    ASSERT_EQ(report.num, 3);
    std::vector<std::string> lines = report.szGreeting;
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"test failed 0", "test failed 1", "test failed 2"}));
    EXPECT_EQ(boxes.boxes().size(), 3u);
}

TEST_F(IterationTest, ElapsedTimeInBothClocks) {
    results.testing_os = 1;
    WorkerIteration it = Counting(2);
    it.work = [](int32_t) { std::this_thread::sleep_for(std::chrono::milliseconds(40)); };
    prefs.use_high_precision = 1;
    double fine = RunWorkerIteration(it);
    EXPECT_GE(fine, 39.0);
    prefs.use_high_precision = 0;
    double coarse = RunWorkerIteration(it);
    EXPECT_GE(coarse, 39.0);
    EXPECT_EQ(coarse, std::floor(coarse));  // whole milliseconds
    EXPECT_GT(iteration_timer.ratio, 0.0);
}

TEST_F(IterationTest, SubtractionsNeverDriveTheElapsedTimeToZero) {
    results.testing_os = 1;
    run.numprocessors = 32;
    WorkerIteration it = Counting(8);
    // Much kernel time in little wall time: the kernel-time share can exceed the elapsed time.
    it.work = [](int32_t) {
        for (int i = 0; i < 200000; ++i) (void)getppid();
    };
    it.subtract_kernel_time = true;
    it.subtract_creation_time = true;
    for (int round = 0; round < 3; ++round) EXPECT_GT(RunWorkerIteration(it), 0.0);
}

TEST_F(IterationTest, FatalErrorOnAWorkerIsShownAfterTheJoinThenEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::string log = kt::TempDir() + "/fatal.log";
    EXPECT_EXIT(
        {
            setenv("KESTREL_TEST_MSGBOX_LOG", log.c_str(), 1);
            SetMessageBoxBackendForDeath();
            WorkerIteration it = Counting(2);
            it.work = [](int32_t arg) {
                if (arg == 11) FatalError();
            };
            RunWorkerIteration(it);
            std::exit(0);  // not reached
        },
        ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(kt::ReadFile(log), "[Fatal Memory Exception] (stop) Allocation Error! -> ok\n");
}

TEST(AdjustedElapsed, SubtractsCreationAndTheOtherProcessorsShareOfKernelTime) {
    EXPECT_DOUBLE_EQ(AdjustedElapsed(100.0, 10.0, 0, 1), 90.0);
    // 200 ms of kernel time (2,000,000 units of 100 ns) over 4 processors: 3/4 of it.
    EXPECT_DOUBLE_EQ(AdjustedElapsed(1000.0, 0.0, 2000000, 4), 850.0);
    // One processor: no kernel share.
    EXPECT_DOUBLE_EQ(AdjustedElapsed(1000.0, 0.0, 2000000, 1), 1000.0);
    // Growth far beyond 32 bits is no wrap.
    EXPECT_DOUBLE_EQ(AdjustedElapsed(1e9, 0.0, 40000000000ull, 2), 1e9 - 2e6);
    // Never below a quarter of what was measured.
    EXPECT_DOUBLE_EQ(AdjustedElapsed(100.0, 500.0, 0, 1), 25.0);
    EXPECT_DOUBLE_EQ(AdjustedElapsed(100.0, 0.0, 80000000, 32), 25.0);
}

TEST_F(IterationTest, StopEndsWorkersLeftInTheSlots) {
    std::atomic<int> count{0};
    kp::WorkerTeam team(3, global_current_thread);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(team.Create(i, [&] { ++count; }, 0));
    StopAllWorkers();
    EXPECT_TRUE(AllSlotsNull());
    EXPECT_EQ(count.load(), 0);
}

TEST_F(IterationTest, DriverLoopRunsTwentySecondsOfSummedTime) {
    int calls = 0;
    DriverLoop loop;
    loop.iteration = [&] { ++calls; return 3000.0; };
    loop.count_per_iteration = 5;
    DriverTotals totals;
    ASSERT_EQ(RunDriverLoop(loop, &totals), 0);
    EXPECT_EQ(calls, 7);  // 21 s is the first total at or above 20 s
    EXPECT_DOUBLE_EQ(totals.count, 35.0);
    EXPECT_DOUBLE_EQ(totals.seconds, 21.0);
    EXPECT_EQ(host.pumps, 7);  // Stop is looked for after every iteration
    EXPECT_EQ(report.num, 0);

    measuring_times.driver_seconds = 5.0;  // tests shorten the loop
    calls = 0;
    ASSERT_EQ(RunDriverLoop(loop, &totals), 0);
    EXPECT_EQ(calls, 2);
    measuring_times = MeasuringTimes{};
}

// The wall clock the driver loop reads: moved on by the fake iterations below.
uint32_t g_wall_ms = 0;
uint32_t FakeWallClock() { return g_wall_ms; }

// Iterations whose summed time hardly grows (1 ms each) while a minute of wall time passes in
// each: the loop ends on its 200 seconds of wall time, also when the clock wraps on the way.
TEST_F(IterationTest, DriverLoopEndsAfterTwoHundredSecondsOfWallTime) {
    const DriverWallClock previous = SetDriverWallClock(&FakeWallClock);
    for (const uint32_t start : {0u, UINT32_MAX - 90000u}) {
        SCOPED_TRACE(start);
        g_wall_ms = start;
        int calls = 0;
        DriverLoop loop;
        loop.iteration = [&] {
            if (++calls == 100) run.testend = 1;  // no end in sight: the loop would go on for ever
            kp::Sleep(60000);                      // cut to nothing in tests
            g_wall_ms += 60000;
            return 1.0;
        };
        loop.count_per_iteration = 5;
        DriverTotals totals;
        ASSERT_EQ(RunDriverLoop(loop, &totals), 0);
        EXPECT_EQ(calls, 4);  // 240 s is the first wall time at or above 200 s
        EXPECT_DOUBLE_EQ(totals.count, 20.0);
        EXPECT_DOUBLE_EQ(totals.seconds, 0.004);
        EXPECT_EQ(report.num, 0);
    }
    SetDriverWallClock(previous);
    run.testend = 0;
}

TEST_F(IterationTest, DriverLoopStopsWhenStopIsPressed) {
    int calls = 0;
    host.on_pump = [](int pump) { if (pump == 2) run.testend = 1; };
    DriverLoop loop;
    loop.iteration = [&] { ++calls; return 100.0; };
    DriverTotals totals;
    EXPECT_EQ(RunDriverLoop(loop, &totals), -1);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(report.szGreeting, std::vector<std::string>{"Test aborted!"});
}

TEST_F(IterationTest, DriverLoopLooksForStopBeforeEachIterationWhenAsked) {
    int calls = 0;
    host.on_pump = [](int) { run.testend = 1; };
    DriverLoop loop;
    loop.iteration = [&] { ++calls; return 100.0; };
    loop.pump_before_each = true;
    DriverTotals totals;
    EXPECT_EQ(RunDriverLoop(loop, &totals), -1);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(report.num, 1);
}

TEST_F(IterationTest, DriverLoopRestoresTheUserInterfacePriorityOnAbort) {
    const int start = kp::CurrentThreadNice();
    DriverLoop loop;
    loop.iteration = [] { return -1.0; };
    loop.ui_priority_during = 0;
    loop.ui_priority_after = -1;
    DriverTotals totals;
    EXPECT_EQ(RunDriverLoop(loop, &totals), -1);
    EXPECT_EQ(kp::CurrentThreadNice(), std::min(start + kp::NiceOffsetOfPriority(-1), 19));
}

TEST(Helpers, TicksToSeconds) {
    EXPECT_EQ(TicksToSecs(1999), 1);
    EXPECT_EQ(TicksToSecs(999), 0);
    EXPECT_EQ(TicksToSecs(4294967295u), 4294967);
    EXPECT_DOUBLE_EQ(TicksToFracSecs(1999), 1.999);
    EXPECT_DOUBLE_EQ(TicksToFracSecs(0.5), 0.0005);
    EXPECT_EQ(FileTimeToQuadWord(0x123456789abcdef0ull), 0x9abcdef0u);
}

TEST(Helpers, ksqrtAnswersNegativeArgumentsWithTheRootOfTheirMagnitude) {
    EXPECT_DOUBLE_EQ(ksqrt(16.0), 4.0);
    EXPECT_DOUBLE_EQ(ksqrt(-16.0), 4.0);
    EXPECT_DOUBLE_EQ(ksqrt(0.0), 0.0);
}

TEST(Helpers, AllocateMemoryIsZeroFilledPageAlignedAndReportsFailure) {
    kp::MarkUiThread();
    kt::RecordingHost host;  // routes the failure line into the report
    report = ReportText{};
    int error = 7;
    auto* p = static_cast<unsigned char*>(AllocateMemory(10000, &error));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % uintptr_t(sysconf(_SC_PAGESIZE)), 0u);
    for (int i = 0; i < 10020; ++i) ASSERT_EQ(p[i], 0);  // size + 20 bytes
    FreeMemory(p, &error);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(kp::LivePageBlocks(), 0u);

    kp::FailNextPageAllocations(2);
    EXPECT_EQ(AllocateMemory(100, &error), nullptr);
    EXPECT_EQ(error, 1);
    EXPECT_EQ(AllocateMemory2(100, &error), nullptr);
    EXPECT_EQ(error, 1);
    EXPECT_EQ(report.szGreeting, std::vector<std::string>{"Out of Memory"});  // only the first
}

TEST(Helpers, FatalErrorEndsTheProgramWithAFailureCode) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(FatalError(), ::testing::ExitedWithCode(1), "");
}

TEST(Helpers, ChecksumsAreKept) {
    PublishChecksum(42.5);
    EXPECT_EQ(LastChecksum(), 42.5);
}

}  // namespace

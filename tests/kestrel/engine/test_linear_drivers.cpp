// The Factorizations, Matrix Operations and MegaFlops drivers and iterations, run with short
// measuring times on eight processors (the binding is recorded instead of made).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "kestrel/engine/processor/kernel_records.h"
#include "kestrel/engine/processor/kernels_elimination.h"
#include "kestrel/engine/processor/kernels_flops.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/engine/processor/workers.h"
#include "platform/msgbox.h"
#include "platform/pages.h"
#include "platform/processors.h"
#include "platform/workers.h"
#include "shared/helpers.h"
#include "tests/support/recording_host.h"

namespace {

std::mutex g_mutex;
std::vector<int> g_bound;
// When set, the binding of the first worker makes every later page allocation fail, so the
// iteration's own table is there but no worker gets its data.
std::atomic<bool> g_starve_workers{false};

bool RecordingSetter(kp::Worker*, int n) {
    if (g_starve_workers.exchange(false)) kp::FailNextPageAllocations(1 << 30);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_bound.push_back(n);
    return true;
}

class LinearDrivers : public ::testing::Test {
protected:
    void SetUp() override {
        kp::MarkUiThread();
        SetDefaults();
        report = ReportText{};
        prefs = Preferences{};
        run.testend = 0;
        run.numprocessors = 8;
        run.tpriority = 0;
        measuring_times.driver_seconds = 0.05;
        measuring_times.flops_scale = 1e-6;  // one pass
        g_bound.clear();
        g_starve_workers = false;
        previous_ = SetAffinitySetter(&RecordingSetter);
        blocks_ = kp::LivePageBlocks();
    }
    void TearDown() override {
        kp::FailNextPageAllocations(0);
        SetAffinitySetter(previous_);
        measuring_times = MeasuringTimes{};
        EXPECT_TRUE(AllSlotsNull());
        EXPECT_EQ(kp::LivePageBlocks(), blocks_);
    }

    static bool AllSlotsNull() {
        return std::all_of(std::begin(global_current_thread), std::end(global_current_thread),
                           [](kp::Worker* w) { return w == nullptr; });
    }
    // The workers of each iteration were dealt over processors 1..8 in turn.
    static void ExpectDealtOverEight(int workers_per_iteration) {
        ASSERT_FALSE(g_bound.empty());
        ASSERT_EQ(g_bound.size() % size_t(workers_per_iteration), 0u);
        for (size_t i = 0; i < g_bound.size(); ++i) {
            ASSERT_EQ(g_bound[i], int(i % size_t(workers_per_iteration)) % 8 + 1) << i;
        }
    }
    size_t Iterations(int workers_per_iteration) const { return g_bound.size() / size_t(workers_per_iteration); }
    // Counts the iterations after which a worker was still in its slot (the driver loop looks
    // for Stop after every iteration).
    void WatchSlots() {
        host.on_pump = [this](int) {
            if (!AllSlotsNull()) ++slots_left;
        };
    }
    int slots_left = 0;

    kt::RecordingHost host;
    kp::BoxRecorder boxes;
    AffinitySetter previous_ = nullptr;
    size_t blocks_ = 0;
};

TEST_F(LinearDrivers, FactorizationsStoreAPositiveRate) {
    global_elimstruct.iterspersec = 0;
    const int start_nice = kp::CurrentThreadNice();
    WatchSlots();
    ASSERT_EQ(DoElimination(), 0);
    EXPECT_EQ(slots_left, 0);
    EXPECT_GT(global_elimstruct.iterspersec, 0.0);
    ExpectDealtOverEight(8);  // max(4, 8 processors) workers
    EXPECT_EQ(host.pumps, int(Iterations(8)));
    EXPECT_EQ(report.num, 0);
    EXPECT_TRUE(boxes.boxes().empty());
    // The user-interface thread is left one level below normal.
    EXPECT_EQ(kp::CurrentThreadNice(), std::min(start_nice + kp::NiceOffsetOfPriority(-1), 19));
}

TEST_F(LinearDrivers, FactorizationsUseFourWorkersAtLeast) {
    run.numprocessors = 2;
    ASSERT_EQ(DoElimination(), 0);
    ASSERT_FALSE(g_bound.empty());
    ASSERT_EQ(g_bound.size() % 4, 0u);
    for (size_t i = 0; i < g_bound.size(); ++i) ASSERT_EQ(g_bound[i], int(i % 2) + 1);
    EXPECT_EQ(host.pumps, int(Iterations(4)));
}

TEST_F(LinearDrivers, FactorizationWorkersWithoutTheirDataFailTheIteration) {
    g_starve_workers = true;
    EXPECT_EQ(DoElimIteration(4), -1.0);
    kp::FailNextPageAllocations(0);
    ASSERT_EQ(boxes.boxes().size(), 4u);  // one per worker, shown after the join
    EXPECT_EQ(boxes.boxes()[0].text, "Allocation Error!");

    report = ReportText{};
    g_starve_workers = true;
    EXPECT_EQ(DoElimination(), -1);
    kp::FailNextPageAllocations(0);
    ASSERT_FALSE(report.szGreeting.empty());
    EXPECT_EQ(report.szGreeting.back(), "Test aborted!");
}

TEST_F(LinearDrivers, MatrixOperationsStoreAPositiveRate) {
    global_matrixopsstruct.iterspersec = 0;
    WatchSlots();
    ASSERT_EQ(DoMatrixOps(), 0);
    EXPECT_EQ(slots_left, 0);
    EXPECT_GT(global_matrixopsstruct.iterspersec, 0.0);
    ExpectDealtOverEight(16);  // max(16, 8 processors) workers
    EXPECT_EQ(report.num, 0);

    // More processors than 16: one worker each.
    run.numprocessors = 20;
    g_bound.clear();
    ASSERT_EQ(DoMatrixOps(), 0);
    ASSERT_EQ(g_bound.size() % 20, 0u);
    for (size_t i = 0; i < 20; ++i) EXPECT_EQ(g_bound[i], int(i) + 1);
}

TEST_F(LinearDrivers, MatrixOperationsWorkersWithoutTheirMatricesFailTheIteration) {
    g_starve_workers = true;
    EXPECT_EQ(DoMatrixOpsIteration(16, 30), -1.0);
    kp::FailNextPageAllocations(0);
    EXPECT_EQ(boxes.boxes().size(), 16u);

    report = ReportText{};
    g_starve_workers = true;
    EXPECT_EQ(DoMatrixOps(), -1);
    kp::FailNextPageAllocations(0);
    ASSERT_FALSE(report.szGreeting.empty());
    EXPECT_EQ(report.szGreeting.back(), "Test aborted!");
}

TEST_F(LinearDrivers, StopEndsTheLoopsAfterTheCurrentIteration) {
    host.on_pump = [](int) { run.testend = 1; };
    EXPECT_EQ(DoMatrixOps(), -1);
    EXPECT_EQ(Iterations(16), 1u);
    EXPECT_EQ(report.szGreeting, std::vector<std::string>{"Test aborted!"});
}

TEST_F(LinearDrivers, MegaFlopsStoresThePassRate) {
    global_flopstruct.flops = 0;
    WatchSlots();
    ASSERT_EQ(DoFlops(), 0);
    EXPECT_EQ(slots_left, 0);
    EXPECT_GT(global_flopstruct.flops, 0.0);
    ExpectDealtOverEight(8);
    EXPECT_EQ(Iterations(8), 1u);  // the measuring time is over after one pass
    EXPECT_EQ(flops::thesize, 200);
    EXPECT_EQ(report.num, 0);
    EXPECT_TRUE(gMutex.try_lock());
    gMutex.unlock();

    // Fewer processors than FLOPSIZE: four workers all the same.
    run.numprocessors = 1;
    g_bound.clear();
    prefs.memory_load_value = 2;
    ASSERT_EQ(DoFlops(), 0);
    EXPECT_EQ(g_bound, (std::vector<int>{1, 1, 1, 1}));
    EXPECT_EQ(flops::thesize, 400);
}

TEST_F(LinearDrivers, MegaFlopsEndsOnlyOnStop) {
    // A button command that is refused does not end the measurement.
    measuring_times.flops_scale = 0.0;
    ASSERT_EQ(DoFlops(), 0);
    EXPECT_EQ(host.pumps, 1);
    EXPECT_EQ(report.num, 0);

    host.on_pump = [](int) { run.testend = 1; };
    measuring_times.flops_scale = 1.0;  // would run for 20 seconds
    EXPECT_EQ(DoFlops(), -1);
    EXPECT_EQ(host.pumps, 2);
    EXPECT_EQ(report.szGreeting, std::vector<std::string>{"Test aborted!"});
}

TEST_F(LinearDrivers, MegaFlopsWorkersThatCannotAllocateAddNothingButThePassCounts) {
    g_starve_workers = true;
    const double rate = DoFlopIteration();
    kp::FailNextPageAllocations(0);
    EXPECT_EQ(rate, 0.0);
    EXPECT_TRUE(boxes.boxes().empty());  // the silent allocator
}

TEST_F(LinearDrivers, MegaFlopsThreadCreationFailureEndsTheProgramWithAFailureCode) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            kp::SetMessageBoxBackend(nullptr);
            kp::FailNextThreadCreations(1);
            DoFlops();
            std::exit(0);
        },
        ::testing::ExitedWithCode(1), "");
}

TEST_F(LinearDrivers, WorkersRunAtTheIterationsPriority) {
    std::vector<int> nice;
    std::mutex m;
    WorkerIteration it;
    it.n = 2;
    it.work = [&](int32_t) {
        std::lock_guard<std::mutex> lock(m);
        nice.push_back(kp::CurrentThreadNice());
    };
    RunWorkerIteration(it);
    it.priority = -1;
    RunWorkerIteration(it);
    ASSERT_EQ(nice.size(), 4u);
    EXPECT_EQ(nice[0], nice[1]);
    EXPECT_EQ(nice[2], std::min(nice[0] + kp::NiceOffsetOfPriority(-1) - kp::NiceOffsetOfPriority(0), 19));
}

}  // namespace

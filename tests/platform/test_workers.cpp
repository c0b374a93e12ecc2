// The worker team: parked workers, release order, cancelling, slots, and priorities.
#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include <malloc.h>

#include <cstdlib>

#include "platform/clock.h"
#include "platform/pages.h"
#include "platform/processors.h"
#include "platform/workers.h"
#include "tests/support/vector_state.h"

namespace {

TEST(WorkerTeam, WorkersWaitAtTheGateUntilReleased) {
    std::atomic<int> ran{0};
    kp::WorkerTeam team(4);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(team.Create(i, [&] { ++ran; }, 0));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(ran.load(), 0);
    team.ReleaseAll();
    team.Join();
    EXPECT_EQ(ran.load(), 4);
}

TEST(WorkerTeam, ReleasedOneByOneInIndexOrder) {
    std::mutex m;
    std::condition_variable ran;
    std::vector<int> order;
    kp::WorkerTeam team(5);
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(team.Create(i, [&, i] {
            std::lock_guard<std::mutex> l(m);
            order.push_back(i);
            ran.notify_all();
        }, 0));
    }
    // Releasing one at a time and waiting for each shows that a release starts exactly that one
    // (the bound only keeps a fault from hanging the test).
    for (int i = 0; i < 5; ++i) {
        team.Release(i);
        std::unique_lock<std::mutex> l(m);
        ran.wait_for(l, std::chrono::seconds(60), [&] { return order.size() > size_t(i); });
    }
    team.Join();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(WorkerTeam, SlotsHoldWorkersUntilJoined) {
    kp::Worker* slots[100] = {};
    {
        kp::WorkerTeam team(3, slots);
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(team.Create(i, [] {}, 0));
        for (int i = 0; i < 3; ++i) EXPECT_EQ(slots[i], team.worker(i));
        EXPECT_EQ(slots[3], nullptr);
        team.ReleaseAll();
        team.Join();
        for (int i = 0; i < 3; ++i) EXPECT_EQ(slots[i], nullptr);
    }
}

TEST(WorkerTeam, CancelEndsParkedWorkersWithoutRunningTheirWork) {
    std::atomic<int> ran{0};
    kp::Worker* slots[100] = {};
    kp::WorkerTeam team(3, slots);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(team.Create(i, [&] { ++ran; }, 0));
    team.Release(0);
    team.Cancel();
    EXPECT_EQ(ran.load(), 1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(slots[i], nullptr);
}

TEST(WorkerTeam, DestroyingATeamNeverLeavesAThreadParked) {
    std::atomic<int> ran{0};
    {
        kp::WorkerTeam team(2);
        ASSERT_TRUE(team.Create(0, [&] { ++ran; }, 0));
        ASSERT_TRUE(team.Create(1, [&] { ++ran; }, 0));
    }  // would hang in join, or crash on a joinable thread, if the parked workers stayed
    EXPECT_EQ(ran.load(), 0);
}

TEST(WorkerTeam, JoinLetsUnreleasedWorkersGo) {
    std::atomic<int> ran{0};
    kp::WorkerTeam team(3);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(team.Create(i, [&] { ++ran; }, 0));
    team.Release(1);
    team.Join();  // would wait for ever on workers 0 and 2
    EXPECT_EQ(ran.load(), 1);
}

TEST(WorkerTeam, ASlotIsCreatedOnce) {
    kp::WorkerTeam team(2);
    ASSERT_TRUE(team.Create(0, [] {}, 0));
    EXPECT_FALSE(team.Create(0, [] {}, 0));
    EXPECT_FALSE(team.Create(2, [] {}, 0));
    EXPECT_FALSE(team.Create(-1, [] {}, 0));
    team.ReleaseAll();
    team.Join();
}

TEST(WorkerTeam, AbortEndsOnlyThatWorker) {
    std::atomic<int> after{0};
    kp::WorkerTeam team(2);
    ASSERT_TRUE(team.Create(0, [&] { throw kp::WorkerAbort{}; ++after; }, 0));
    ASSERT_TRUE(team.Create(1, [&] { ++after; }, 0));
    team.ReleaseAll();
    team.Join();
    EXPECT_EQ(after.load(), 1);
}

TEST(WorkerTeam, StopWorkerFromOutsideTheTeam) {
    kp::Worker* slots[100] = {};
    kp::WorkerTeam team(2, slots);
    std::atomic<int> ran{0};
    ASSERT_TRUE(team.Create(0, [&] { ++ran; }, 0));
    ASSERT_TRUE(team.Create(1, [&] { ++ran; }, 0));
    kp::StopWorker(slots[0]);
    kp::StopWorker(slots[1]);
    team.Join();  // joining twice is harmless
    EXPECT_EQ(ran.load(), 0);
}

TEST(WorkerTeam, EachWorkerSetsItsOwnPriority) {
    std::atomic<int> seen_low{99}, seen_normal{99};
    const int start = kp::CurrentThreadNice();
    kp::WorkerTeam team(2);
    ASSERT_TRUE(team.Create(0, [&] { seen_low = kp::CurrentThreadNice(); }, -2));
    ASSERT_TRUE(team.Create(1, [&] { seen_normal = kp::CurrentThreadNice(); }, 0));
    team.ReleaseAll();
    team.Join();
    EXPECT_EQ(seen_low.load(), std::min(start + kp::NiceOffsetOfPriority(-2), 19));
    EXPECT_EQ(seen_normal.load(), start);
}

TEST(WorkerTeam, WorkersAreBoundBeforeTheyRun) {
    const int n = kp::GetNumProcessors();
    std::vector<int> cpu(size_t(n), -1);
    kp::WorkerTeam team(n);
    for (int i = 0; i < n; ++i) {
        ASSERT_TRUE(team.Create(i, [&cpu, i] { cpu[size_t(i)] = sched_getcpu(); }, 0));
        ASSERT_TRUE(kp::BindWorker(team.worker(i), i + 1));
    }
    team.ReleaseAll();
    team.Join();
    for (int i = 0; i < n; ++i) EXPECT_EQ(cpu[size_t(i)], kp::CpuOfProcessor(i + 1));
}

TEST(WorkerTeam, InjectedCreationFailure) {
    kp::WorkerTeam team(2);
    kp::FailNextThreadCreations(1);
    EXPECT_FALSE(team.Create(0, [] {}, 0));
    EXPECT_TRUE(team.Create(1, [] {}, 0));
    EXPECT_EQ(team.worker(0), nullptr);
    team.ReleaseAll();
    team.Join();
}

TEST(WorkerTeam, TeamsRunOnTheStacksOfTheTeamBefore) {
    // Each team's stacks, as the threads themselves see them.
    auto stacks_of_a_team = [] {
        std::mutex m;
        std::set<std::pair<void*, size_t>> stacks;
        kp::WorkerTeam team(8);
        for (int i = 0; i < 8; ++i) {
            EXPECT_TRUE(team.Create(i, [&] {
                pthread_attr_t attr;
                void* base = nullptr;
                size_t size = 0;
                if (pthread_getattr_np(pthread_self(), &attr) == 0) {
                    pthread_attr_getstack(&attr, &base, &size);
                    pthread_attr_destroy(&attr);
                }
                std::lock_guard<std::mutex> l(m);
                stacks.insert({base, size});
            }, 0));
        }
        team.ReleaseAll();
        team.Join();
        return stacks;
    };
    const auto first = stacks_of_a_team();
    ASSERT_EQ(first.size(), 8u);
    for (const auto& [base, size] : first) EXPECT_EQ(size, size_t(1) << 20);
    EXPECT_EQ(stacks_of_a_team(), first);  // nothing mapped anew, nothing given back
}

// Each worker's work starts with the upper vector state clean, whatever the thread that made it
// and the workers' own code before did with it.
std::atomic<int> g_clean_starts{0};
std::atomic<int> g_dirty_starts{0};

void RecordWorkStart() {
    (kt::UpperVectorStateInUse() ? g_dirty_starts : g_clean_starts).fetch_add(1);
}

TEST(WorkerTeam, EachWorkStartsWithTheUpperVectorStateClean) {
    if (!kt::CanReadVectorState()) GTEST_SKIP() << "the processor cannot tell its vector state";
    kt::DirtyUpperVectorState();
    kp::WorkerTeam team(4);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(team.Create(i, [] {}, 0));
    kp::SetVectorStateObserver(&RecordWorkStart);
    team.ReleaseAll();
    team.Join();
    kp::SetVectorStateObserver(nullptr);
    EXPECT_EQ(g_clean_starts.load(), 4);
    EXPECT_EQ(g_dirty_starts.load(), 0);
}

// Once the worker layer runs, a block of any size a test makes per frame (up to 32 MB) comes from
// the heap and is used again, never from a mapping of its own: the mapping threshold is set
// where the trim threshold is, which would otherwise hold it at the C library's start value.
TEST(HeapRules, BlocksUpToTheMappingThresholdComeFromTheHeap) {
    kp::StartThreadSpawner();
    for (const size_t bytes :
         {size_t(200) << 10, size_t(1) << 20, size_t(8) << 20, kp::kHeapMappingThreshold - 4096}) {
        SCOPED_TRACE(bytes);
        const size_t mapped_before = mallinfo2().hblks;
        void* block = std::malloc(bytes);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(mallinfo2().hblks, mapped_before);
        std::free(block);
    }
}

}  // namespace

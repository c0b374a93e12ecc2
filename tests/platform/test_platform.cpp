// Clocks, pages, processors and the message-box service.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/msgbox.h"
#include "platform/pages.h"
#include "platform/processors.h"
#include "platform/testswitch.h"
#include "tests/support/isolation.h"

namespace {

TEST(Clock, CounterIsMonotonicNanoseconds) {
    int64_t f = 0, a = 0, b = 0;
    ASSERT_TRUE(kp::QueryCounterFrequency(&f));
    EXPECT_EQ(f, 1000000000);
    ASSERT_TRUE(kp::QueryCounter(&a));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(kp::QueryCounter(&b));
    EXPECT_GE(b - a, 5000000);
}

TEST(Clock, MillisecondsSinceStartIsWallTimeNotProcessorTime) {
    uint32_t a = kp::MillisecondsSinceStart();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // sleeping uses no processor time
    EXPECT_GE(kp::MillisecondsSinceStart() - a, 29u);
}

TEST(Clock, ProcessKernelTimeGrowsWithSystemCalls) {
    kp::ProcessTimes a = kp::GetProcessTimes();
    for (int i = 0; i < 200000; ++i) (void)getppid();
    for (int i = 0; i < 2000; ++i) {
        void* p = mmap(nullptr, 1 << 16, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        static_cast<char*>(p)[0] = 1;
        munmap(p, 1 << 16);
    }
    kp::ProcessTimes b = kp::GetProcessTimes();
    EXPECT_GE(b.kernel, a.kernel);
    EXPECT_GT(b.kernel + b.user, a.kernel + a.user);
}

TEST(Clock, SleepFollowsTheTestScale) {
    setenv("KESTREL_TEST_SLEEP_SCALE", "0", 1);
    uint32_t a = kp::MillisecondsSinceStart();
    kp::Sleep(5000);
    EXPECT_LT(kp::MillisecondsSinceStart() - a, 1000u);
    setenv("KESTREL_TEST_SLEEP_SCALE", "0.01", 1);
    a = kp::MillisecondsSinceStart();
    kp::Sleep(2000);  // 20 ms
    EXPECT_GE(kp::MillisecondsSinceStart() - a, 19u);
    setenv("KESTREL_TEST_SLEEP_SCALE", "junk", 1);
    EXPECT_EQ(kp::TestSleepScale(), 1.0);
    unsetenv("KESTREL_TEST_SLEEP_SCALE");
    EXPECT_EQ(kp::TestSleepScale(), 1.0);
}

size_t Page() { return size_t(sysconf(_SC_PAGESIZE)); }

bool AllBytesAre(const unsigned char* p, size_t size, unsigned char value) {
    for (size_t i = 0; i < size; ++i) {
        if (p[i] != value) return false;
    }
    return true;
}

// Keeps the calling thread on one processor of its allowed set while it lives.
class OnOneProcessor {
public:
    OnOneProcessor() {
        sched_getaffinity(0, sizeof saved_, &saved_);
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int c = 0; c < CPU_SETSIZE; ++c) {
            if (CPU_ISSET(c, &saved_)) {
                CPU_SET(c, &one);
                break;
            }
        }
        sched_setaffinity(0, sizeof one, &one);
    }
    ~OnOneProcessor() { sched_setaffinity(0, sizeof saved_, &saved_); }

private:
    cpu_set_t saved_;
};

TEST(Pages, ZeroFilledPageAlignedAndReleased) {
    // A block kept for reuse once released, and one mapped on its own.
    for (const size_t size : {3 * Page() + 7, (size_t(4) << 20) + 7}) {
        SCOPED_TRACE(size);
        size_t before = kp::LivePageBlocks();
        auto* p = static_cast<unsigned char*>(kp::AllocPages(size));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % uintptr_t(Page()), 0u);
        EXPECT_TRUE(AllBytesAre(p, size, 0));
        p[size - 1] = 0xff;  // the whole size is writable
        EXPECT_EQ(kp::LivePageBlocks(), before + 1);
        EXPECT_FALSE(kp::FreePages(p + Page()));  // not from inside the block
        EXPECT_TRUE(kp::FreePages(p));
        EXPECT_EQ(kp::LivePageBlocks(), before);
        EXPECT_FALSE(kp::FreePages(p));  // not twice
    }
    int local = 0;
    EXPECT_FALSE(kp::FreePages(&local));  // nor what it did not hand out
}

TEST(Pages, AReleasedBlockComesBackZeroFilled) {
    OnOneProcessor pinned;  // the block goes back where the next request looks first
    for (const size_t size : {size_t(1), Page() + 1, 7 * Page() + 7, (size_t(4) << 20) + 7}) {
        SCOPED_TRACE(size);
        auto* p = static_cast<unsigned char*>(kp::AllocPages(size));
        ASSERT_NE(p, nullptr);
        std::memset(p, 0xa5, size);
        ASSERT_TRUE(kp::FreePages(p));
        auto* again = static_cast<unsigned char*>(kp::AllocPages(size));
        EXPECT_EQ(again, p);  // the same pages, used before
        EXPECT_TRUE(AllBytesAre(again, size, 0));
        kp::FreePages(again);
    }
}

TEST(Pages, ReleasedBlocksServeLaterThreadsWithoutTheSystem) {
    // What a worker does: the rows of two matrices, a few vectors and two large arrays, all
    // released at its end.
    auto work = [] {
        std::vector<void*> blocks;
        for (int i = 0; i < 200; ++i) blocks.push_back(kp::AllocPages(Page()));
        for (int i = 0; i < 8; ++i) blocks.push_back(kp::AllocPages(7 * Page() + 7));
        for (int i = 0; i < 2; ++i) blocks.push_back(kp::AllocPages((size_t(1) << 20) + 7));
        for (auto b = blocks.rbegin(); b != blocks.rend(); ++b) kp::FreePages(*b);
    };
    std::thread(work).join();
    const size_t mappings = kp::SystemMappings();
    const size_t live = kp::LivePageBlocks();
    // Every iteration makes new worker threads: they find the blocks of the ones before.
    for (int i = 0; i < 4; ++i) std::thread(work).join();
    EXPECT_EQ(kp::SystemMappings(), mappings);
    EXPECT_EQ(kp::LivePageBlocks(), live);
}

TEST(Pages, IdlePoolPagesGoBackToTheSystemAndComeBackZeroFilled) {
    // One processor's pools throughout: a thread that moves cuts from another processor's chunk.
    OnOneProcessor pinned;
    const size_t size = 3 * Page();
    auto* kept = static_cast<unsigned char*>(kp::AllocPages(5 * Page()));
    ASSERT_NE(kept, nullptr);
    std::memset(kept, 0x77, 5 * Page());
    std::vector<void*> siblings;  // released beside the kept block
    for (int i = 0; i < 50; ++i) siblings.push_back(kp::AllocPages(5 * Page()));
    std::vector<unsigned char*> blocks;
    for (int i = 0; i < 600; ++i) {
        auto* p = static_cast<unsigned char*>(kp::AllocPages(size));
        ASSERT_NE(p, nullptr);
        std::memset(p, 0x5a, size);
        blocks.push_back(p);
    }
    const size_t large = (size_t(1) << 20) + 7;
    auto* kept_large = static_cast<unsigned char*>(kp::AllocPages(large));
    std::memset(kept_large, 0x33, large);
    for (void* p : siblings) kp::FreePages(p);
    for (unsigned char* p : blocks) kp::FreePages(p);
    kp::FreePages(kept_large);  // kept whole for the next request of its size

    kp::ReturnFreePages();
    std::vector<unsigned char> large_in_core(large / Page() + 1);
    EXPECT_EQ(mincore(kept_large, large, large_in_core.data()), -1);  // unmapped
    size_t resident = 0;
    std::vector<unsigned char> in_core(3);
    for (unsigned char* p : blocks) {
        ASSERT_EQ(mincore(p, size, in_core.data()), 0);
        for (unsigned char v : in_core) resident += v & 1u;
    }
    EXPECT_EQ(resident, 0u);
    EXPECT_TRUE(AllBytesAre(kept, 5 * Page(), 0x77));  // a block in use keeps its pages

    const size_t mappings = kp::SystemMappings();
    size_t dirty = 0;
    for (unsigned char*& p : blocks) {
        p = static_cast<unsigned char*>(kp::AllocPages(size));
        ASSERT_NE(p, nullptr);
        if (!AllBytesAre(p, size, 0)) ++dirty;
    }
    EXPECT_EQ(dirty, 0u);
    EXPECT_EQ(kp::SystemMappings(), mappings);  // the same address space serves again
    for (unsigned char* p : blocks) kp::FreePages(p);
    kp::FreePages(kept);
}

// A block in flight between threads, with the value its maker filled it with.
struct Filled {
    unsigned char* p;
    size_t size;
    unsigned char value;
};

TEST(Pages, EightThreadsAllocateAndReleaseTogether) {
    // Thread t makes blocks and hands each to thread t + 1, which checks and releases it. Odd and
    // even threads make different sizes, so a thread finds the sizes it wants released on its
    // neighbours' processors and takes them from there while the neighbours release more.
    const size_t large = (size_t(4) << 20) + 7;
    const std::vector<size_t> sizes[2] = {{1, 3 * Page(), 7 * Page() + 7, 100},
                                          {Page() + 1, 5 * Page(), 40 * Page(), 2 * Page()}};
    constexpr int kThreads = 8;
    constexpr int kRounds = 1500;
    const size_t before = kp::LivePageBlocks();
    std::atomic<int> faults{0};
    std::mutex inbox_mutex[kThreads];
    std::vector<Filled> inbox[kThreads];

    auto release = [&](const Filled& f) {
        if (!AllBytesAre(f.p, f.size, f.value)) ++faults;  // another block overlapped it
        if (!kp::FreePages(f.p)) ++faults;
    };
    auto drain = [&](int t) {
        std::vector<Filled> taken;
        {
            std::lock_guard<std::mutex> lock(inbox_mutex[t]);
            taken.swap(inbox[t]);
        }
        for (const Filled& f : taken) release(f);
    };
    auto worker = [&](int t) {
        const std::vector<size_t>& mine = sizes[t % 2];
        for (int r = 0; r < kRounds; ++r) {
            const size_t size = r % 211 == 0 ? large : mine[size_t(r) % mine.size()];
            auto* p = static_cast<unsigned char*>(kp::AllocPages(size));
            if (p == nullptr || reinterpret_cast<uintptr_t>(p) % Page() != 0 || !AllBytesAre(p, size, 0)) {
                ++faults;
                continue;
            }
            const auto value = static_cast<unsigned char>(1 + (t * 37 + r) % 255);
            std::memset(p, value, size);
            {
                std::lock_guard<std::mutex> lock(inbox_mutex[(t + 1) % kThreads]);
                inbox[(t + 1) % kThreads].push_back({p, size, value});
            }
            drain(t);
        }
    };
    std::atomic<int> running{kThreads};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            worker(t);
            --running;
        });
    }
    // Meanwhile idle chunks go back to the system and come back into use.
    while (running.load() > 0) {
        kp::ReturnFreePages();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (std::thread& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) drain(t);
    EXPECT_EQ(faults.load(), 0);
    EXPECT_EQ(kp::LivePageBlocks(), before);
}

TEST(Pages, InjectedFailures) {
    kp::FailNextPageAllocations(2);
    EXPECT_EQ(kp::AllocPages(100), nullptr);
    EXPECT_EQ(kp::AllocPages(100), nullptr);
    void* p = kp::AllocPages(100);
    EXPECT_NE(p, nullptr);
    kp::FreePages(p);
}

TEST(Processors, CountIsTheAllowedSet) {
    cpu_set_t set;
    CPU_ZERO(&set);
    ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
    int expected = std::min(CPU_COUNT(&set), 32);
    EXPECT_EQ(kp::GetNumProcessors(), expected);
    for (int n = 1; n <= expected; ++n) EXPECT_TRUE(CPU_ISSET(kp::CpuOfProcessor(n), &set));
    EXPECT_EQ(kp::CpuOfProcessor(0), -1);
    EXPECT_EQ(kp::CpuOfProcessor(expected + 1), -1);
}

TEST(Processors, BindingPutsAThreadOnTheNthAllowedCpu) {
    const int n = kp::GetNumProcessors();
    std::thread t([n] {
        for (int p = 1; p <= n; ++p) {
            ASSERT_TRUE(kp::BindThreadToProcessor(pthread_self(), p));
            cpu_set_t set;
            CPU_ZERO(&set);
            pthread_getaffinity_np(pthread_self(), sizeof set, &set);
            EXPECT_EQ(CPU_COUNT(&set), 1);
            EXPECT_TRUE(CPU_ISSET(kp::CpuOfProcessor(p), &set));
            EXPECT_EQ(sched_getcpu(), kp::CpuOfProcessor(p));
        }
        EXPECT_FALSE(kp::BindThreadToProcessor(pthread_self(), n + 1));
        EXPECT_FALSE(kp::BindThreadToProcessor(pthread_self(), 0));
    });
    t.join();
}

TEST(Processors, PriorityLevelsBecomePerThreadNiceValues) {
    EXPECT_EQ(kp::NiceOffsetOfPriority(0), 0);
    EXPECT_GT(kp::NiceOffsetOfPriority(-1), 0);
    EXPECT_GT(kp::NiceOffsetOfPriority(-2), kp::NiceOffsetOfPriority(-1));
    EXPECT_LT(kp::NiceOffsetOfPriority(1), 0);
    EXPECT_LT(kp::NiceOffsetOfPriority(15), kp::NiceOffsetOfPriority(2));
    const int main_nice = kp::CurrentThreadNice();
    std::thread t([main_nice] {
        ASSERT_TRUE(kp::SetCurrentThreadPriority(-2));
        EXPECT_EQ(kp::CurrentThreadNice(), std::min(main_nice + kp::NiceOffsetOfPriority(-2), 19));
        // A raise may be refused without privilege; it is not an error either way.
        EXPECT_TRUE(kp::SetCurrentThreadPriority(2));
    });
    t.join();
    EXPECT_EQ(kp::CurrentThreadNice(), main_nice);  // only that thread changed
}

TEST(MessageBox, DefaultAnswerIsTheDefaultButton) {
    kp::BoxRequest box;
    box.buttons = kp::Buttons::YesNoCancel;
    EXPECT_EQ(kp::DefaultAnswer(box), kp::Answer::Yes);
    box.defaultButton = 2;
    EXPECT_EQ(kp::DefaultAnswer(box), kp::Answer::Cancel);
    box.defaultButton = 7;  // out of range: the first
    EXPECT_EQ(kp::DefaultAnswer(box), kp::Answer::Yes);
    box.buttons = kp::Buttons::Ok;
    box.defaultButton = 1;
    EXPECT_EQ(kp::DefaultAnswer(box), kp::Answer::Ok);
}

TEST(MessageBox, RecorderRecordsAndAnswersByScript) {
    kp::MarkUiThread();
    kp::BoxRecorder rec;
    rec.Script({kp::Answer::No});
    EXPECT_EQ(kp::MessageBox(kp::Owner::Main, "Save?", "Kestrel Message", kp::Icon::Question,
                             kp::Buttons::YesNo),
              kp::Answer::No);
    EXPECT_EQ(kp::MessageBox(kp::Owner::Main, "Again?", "Kestrel Message", kp::Icon::Question,
                             kp::Buttons::YesNo),
              kp::Answer::Yes);
    ASSERT_EQ(rec.boxes().size(), 2u);
    EXPECT_EQ(rec.boxes()[0].text, "Save?");
    EXPECT_EQ(rec.boxes()[0].caption, "Kestrel Message");
    EXPECT_EQ(rec.boxes()[0].icon, kp::Icon::Question);
}

TEST(MessageBox, BoxesFromOtherThreadsWaitForTheUserInterfaceThread) {
    kp::MarkUiThread();
    kp::BoxRecorder rec;
    std::thread t([] {
        EXPECT_EQ(kp::MessageBox(kp::Owner::Progress, "first", "A"), kp::Answer::Ok);
        EXPECT_EQ(kp::MessageBox(kp::Owner::Progress, "second", "B"), kp::Answer::Ok);
    });
    t.join();
    EXPECT_TRUE(rec.boxes().empty());
    EXPECT_EQ(kp::DeferredUiActionCount(), 2u);
    kp::RunDeferredUiActions();
    ASSERT_EQ(rec.boxes().size(), 2u);
    EXPECT_EQ(rec.boxes()[0].text, "first");
    EXPECT_EQ(rec.boxes()[1].text, "second");
    EXPECT_EQ(kp::DeferredUiActionCount(), 0u);
}

TEST(MessageBox, TestLogSwitchRecordsEveryBox) {
    kp::MarkUiThread();
    std::string log = kt::TempDir() + "/boxes.log";
    setenv("KESTREL_TEST_MSGBOX_LOG", log.c_str(), 1);
    EXPECT_EQ(kp::MessageBox(kp::Owner::Main, "Could not open the file.", "File Exception"),
              kp::Answer::Ok);
    EXPECT_EQ(kp::MessageBox(kp::Owner::Main, "Save the report?", "Kestrel Message",
                             kp::Icon::Question, kp::Buttons::YesNoCancel),
              kp::Answer::Yes);
    unsetenv("KESTREL_TEST_MSGBOX_LOG");
    EXPECT_EQ(kt::ReadFile(log),
              "[File Exception] (exclamation) Could not open the file. -> ok\n"
              "[Kestrel Message] (question) Save the report? -> yes\n");
}

}  // namespace

// The analyser's pure parts: window layout and mode, display texts, the rate rule, % CPU, the
// sums and averages of an interval, and the command line.
#include <gtest/gtest.h>

#include <array>
#include <thread>

#include "counters/loadmeter/analyser.h"
#include "shared/perf_link.h"
#include "tests/counters/loadmeter/fake_counters.h"

namespace {

using std::chrono::milliseconds;
using Fake = kt::FakeCounters;

PerfMonData Strip(int left, int right, int top, std::initializer_list<int> enabled) {
    PerfMonData rec{};
    rec.indices[0] = left;
    rec.indices[1] = right;
    rec.indices[2] = top;
    for (int q : enabled) rec.perfData[q] = 1;
    return rec;
}

#define EXPECT_PLACE(p, title_, slot_, x_, y_, w_) \
    do {                                           \
        EXPECT_EQ((p).title, title_);              \
        EXPECT_EQ((p).slot, slot_);                \
        EXPECT_EQ((p).x, x_);                      \
        EXPECT_EQ((p).y, y_);                      \
        EXPECT_EQ((p).width, w_);                  \
    } while (0)

TEST(Layout, PerProcessorRows) {
    // % CPU alone on four processors: one row of four.
    auto p = LayoutCounterWindows(Strip(0, 800, 100, {kCpu}), 4, 60);
    ASSERT_EQ(p.size(), 4u);
    for (int j = 0; j < 4; ++j) EXPECT_PLACE(p[j], "CPU " + std::to_string(j), j, 200 * j, 100, 200);
    EXPECT_EQ(p[0].height, 60);
    // Eight: six in the first row, two at half the strip each in the second.
    p = LayoutCounterWindows(Strip(10, 610, 0, {kInterrupts}), 8, 50);
    ASSERT_EQ(p.size(), 8u);
    EXPECT_PLACE(p[5], "CPU5 INT/S", 5, 510, 0, 100);
    EXPECT_PLACE(p[6], "CPU6 INT/S", 6, 10, 50, 300);
    EXPECT_PLACE(p[7], "CPU7 INT/S", 7, 310, 50, 300);
}

TEST(Layout, GeneralMode) {
    // One processor, or a quantity that is not per processor: one window per quantity.
    EXPECT_FALSE(PerProcessorMode(Strip(0, 300, 0, {kCpu}).perfData, 1));
    EXPECT_FALSE(PerProcessorMode(Strip(0, 300, 0, {kContextSwitches}).perfData, 4));
    auto p = LayoutCounterWindows(Strip(0, 300, 0, {kCpu}), 1, 50);
    ASSERT_EQ(p.size(), 1u);
    EXPECT_PLACE(p[0], "% CPU", 0, 0, 0, 300);
    // Five quantities: a fifth of the strip each, at their rank; the slot is the quantity.
    p = LayoutCounterWindows(Strip(100, 1100, 20, {kCpu, kContextSwitches, kPageFaults, kPages, kMemory}), 4, 70);
    ASSERT_EQ(p.size(), 5u);
    EXPECT_PLACE(p[0], "% CPU", 0, 100, 20, 200);
    EXPECT_PLACE(p[1], "C.Switches/s", 2, 300, 20, 200);
    EXPECT_PLACE(p[2], "P.Faults/s", 3, 500, 20, 200);
    EXPECT_PLACE(p[3], "Pages/s", 4, 700, 20, 200);
    EXPECT_PLACE(p[4], "Memory", 5, 900, 20, 200);
    EXPECT_EQ(p[4].enabled, 5);
    // No quantity: no window (no division by zero); a backward strip: width 1.
    EXPECT_TRUE(LayoutCounterWindows(Strip(0, 800, 0, {}), 4, 50).empty());
    p = LayoutCounterWindows(Strip(500, 100, 0, {kCpu, kMemory}), 2, 50);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[1].width, 1);
}

// Windows that need more than their share of the strip: as many as fit side by side, the rest in
// rows below, each row shared out among its windows; never narrower than the widest need.
TEST(Layout, WindowsNeedingMoreThanTheirShareGoIntoRows) {
    const struct {
        const char* what;
        PerfMonData strip;
        int n, need;
        std::vector<std::array<int, 3>> xyw;  // x, y and width of each window
    } cases[] = {
        {"six quantities, room for all", Strip(200, 600, 400, {0, 1, 2, 3, 4, 5}), 4, 60,
         {{200, 400, 66}, {266, 400, 66}, {332, 400, 66}, {398, 400, 66}, {464, 400, 66}, {530, 400, 66}}},
        {"six quantities, three a row", Strip(200, 600, 400, {0, 1, 2, 3, 4, 5}), 4, 120,
         {{200, 400, 133}, {333, 400, 133}, {466, 400, 133}, {200, 450, 133}, {333, 450, 133}, {466, 450, 133}}},
        {"five quantities, two a row", Strip(0, 400, 0, {0, 2, 3, 4, 5}), 4, 150,
         {{0, 0, 200}, {200, 0, 200}, {0, 50, 200}, {200, 50, 200}, {0, 100, 400}}},
        {"eight processors, four a row", Strip(0, 400, 0, {kCpu}), 8, 100,
         {{0, 0, 100}, {100, 0, 100}, {200, 0, 100}, {300, 0, 100}, {0, 50, 100}, {100, 50, 100}, {200, 50, 100},
          {300, 50, 100}}},
        {"one window wider than the strip", Strip(0, 100, 0, {kMemory}), 1, 130, {{0, 0, 130}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto p = LayoutCounterWindows(c.strip, c.n, 50, [&](const CounterPlace&) { return c.need; });
        ASSERT_EQ(p.size(), c.xyw.size());
        for (size_t i = 0; i < p.size(); ++i) {
            EXPECT_EQ((std::array<int, 3>{p[i].x, p[i].y, p[i].width}), c.xyw[i]) << i;
            EXPECT_EQ(p[i].height, 50);
        }
    }
}

TEST(Layout, HeightProcessorsAndPeriod) {
    EXPECT_EQ(WindowHeight(24), 50);
    EXPECT_EQ(WindowHeight(25), 60);
    EXPECT_EQ(WindowHeight(28), 60);
    EXPECT_EQ(WindowHeight(29), 70);
    EXPECT_EQ(ClampProcessors(40), 32);
    EXPECT_EQ(ClampProcessors(0), 1);
    EXPECT_EQ(ClampProcessors(-3), 1);
    EXPECT_EQ(ClampProcessors(8), 8);
    EXPECT_EQ(SamplingPeriodMs(0), 10);  // no spinning sampling thread
    EXPECT_EQ(SamplingPeriodMs(-100), 10);
    EXPECT_EQ(SamplingPeriodMs(1200), 1200);
}

TEST(DisplayText, Formats) {
    EXPECT_EQ(FormatCounterText(57.9, true, kCpu, 1, 600), "57%");
    EXPECT_EQ(FormatCounterText(123456.7, true, kInterrupts, 1, 600), "123456");
    // Thousands and millions only with five or more quantities on a strip ending before 800.
    EXPECT_EQ(FormatCounterText(12345.6, false, kContextSwitches, 5, 799), "12.3k");
    EXPECT_EQ(FormatCounterText(2500000.0, false, kMemory, 6, 640), "2.5m");
    EXPECT_EQ(FormatCounterText(12345.6, false, kContextSwitches, 5, 800), "12345");
    EXPECT_EQ(FormatCounterText(12345.6, false, kContextSwitches, 4, 640), "12345");
    EXPECT_EQ(FormatCounterText(10000.0, false, kPages, 6, 640), "10000");
    EXPECT_EQ(FormatCounterText(1000000.0, false, kPages, 6, 640), "1000000");
    EXPECT_EQ(FormatCounterText(6442450944.0, false, kMemory, 2, 640), "6442450944");
}

TEST(DisplayText, Positions) {
    // Half the width less four per character (an odd length counts one less); per processor
    // 2 more to the left; with four or more quantities at 5.
    EXPECT_EQ(CounterTextX(100, 3, true, 1), 40);
    EXPECT_EQ(CounterTextX(100, 4, true, 1), 32);
    EXPECT_EQ(CounterTextX(101, 2, false, 3), 42);
    EXPECT_EQ(CounterTextX(100, 5, false, 2), 34);
    EXPECT_EQ(CounterTextX(100, 5, false, 4), 5);
}

TEST(RateRule, FirstSampleStepBackAndEqualValue) {
    EXPECT_EQ(CounterRate(500, 500, 1000), 0.0);
    EXPECT_EQ(CounterRate(1500, 500, 0), 0.0);
    EXPECT_DOUBLE_EQ(CounterRate(1500, 500, 1000), 1.0);
    RateState s;
    RateSample r = ApplyRateRule(s, 100000, 0, 1000);  // first: 0, not counted
    EXPECT_EQ(r.value, 0.0);
    EXPECT_FALSE(r.counted);
    r = ApplyRateRule(s, 100000 - 65535, 1000, 1000);  // a small step back: dropped
    EXPECT_EQ(r.value, 0.0);
    EXPECT_FALSE(r.counted);
    r = ApplyRateRule(s, 100000 - 65535 + 500, 2000, 1000);  // taken from the dropped sample
    EXPECT_DOUBLE_EQ(r.value, 500.0);
    EXPECT_TRUE(r.counted);
    r = ApplyRateRule(s, 100000 - 65535 + 500, 3000, 1000);  // unchanged: 0, counted
    EXPECT_EQ(r.value, 0.0);
    EXPECT_TRUE(r.counted);
    // ... and the next change is spread over the time since the last change.
    EXPECT_DOUBLE_EQ(ApplyRateRule(s, 100000 - 65535 + 700, 4000, 1000).value, 100.0);
    EXPECT_EQ(ApplyRateRule(s, 100000, 4000, 1000).value, 0.0);  // no time passed
}

TEST(RateRule, Wraps) {
    RateState s{0xFFFFFF00u, 0, false};
    EXPECT_DOUBLE_EQ(ApplyRateRule(s, 0x100u, 1000, 1000).value, 512.0);
    // Back by more than 65536 and about 4.27e9 in a second: no real rate.
    RateState big{0x10000000u, 0, false};
    const RateSample r = ApplyRateRule(big, 0x0F000000u, 1000, 1000);
    EXPECT_EQ(r.value, 0.0);
    EXPECT_TRUE(r.counted);
    RateState fwd{0, 0, false};  // the same size forward is a rate
    EXPECT_DOUBLE_EQ(ApplyRateRule(fwd, 0xF0000000u, 1000, 1000).value, double(0xF0000000u));
}

TEST(CpuPercentTest, ClampsAndWraps) {
    EXPECT_DOUBLE_EQ(CpuPercent(2500, 0, 10000, 0), 75.0);
    EXPECT_DOUBLE_EQ(CpuPercent(20000, 0, 10000, 0), 0.0);
    EXPECT_DOUBLE_EQ(CpuPercent(5, 5, 7, 7), 100.0);
    // The 100 ns sample time crosses 2^32 (every 429 s), and so does the idle time.
    EXPECT_DOUBLE_EQ(CpuPercent(0x00000400u, 0xFFFFFC00u, 0x00000F00u, 0xFFFFFF00u), 50.0);
    EXPECT_DOUBLE_EQ(CpuPercent(0x10u, 0x0u, 0x00000F00u, 0xFFFFFF00u), 100.0 - 100.0 * 16 / 4096);
}

const int32_t kAll[kQuantities] = {1, 1, 1, 1, 1, 1};
const int32_t kCpuOnly[kQuantities] = {1, 0, 0, 0, 0, 0};

TEST(SamplerTest, FirstCountedSampleIsARealDifference) {
    Fake fake;  // its counters have run long before the start
    Sampler s(fake, fake.clock());
    s.Start(4, kAll);
    double v = -1;
    ASSERT_TRUE(s.TakeSample(kCpu, milliseconds(100), &v));
    double mean = 0;
    for (int i = 0; i < 4; ++i) mean += Fake::Load(Fake::CpuOf(i)) / 4;
    EXPECT_NEAR(v, mean, 1e-9);
    EXPECT_EQ(s.count(kCpu), 1);
    for (int q : {kContextSwitches, kPageFaults, kPages}) {
        ASSERT_TRUE(s.TakeSample(q, milliseconds(100), &v));
        EXPECT_DOUBLE_EQ(v, Fake::Rate(q)) << q;
        EXPECT_EQ(s.count(q), 1) << q;
    }
    ASSERT_TRUE(s.TakeSample(kMemory, milliseconds(100), &v));
    EXPECT_EQ(v, double(Fake::kAvailableBytes));
}

TEST(SamplerTest, GeneralModeAverages) {
    Fake fake;
    Sampler s(fake, fake.clock());
    const int32_t flags[kQuantities] = {1, 1, 0, 1, 0, 1};
    s.Start(3, flags);
    double v = 0;
    for (int round = 0; round < 3; ++round) {
        for (int q : {kCpu, kInterrupts, kPageFaults, kMemory}) ASSERT_TRUE(s.TakeSample(q, milliseconds(100), &v));
    }
    PerfMonData rec{};
    std::copy(flags, flags + kQuantities, rec.perfData);
    rec.score[2] = 42.5f;        // disabled: returned as sent
    rec.cpu_scores_1[3] = 7.0f;  // no such processor: untouched
    s.FillReply(rec);
    double meanLoad = 0, meanInt = 0;
    for (int i = 0; i < 3; ++i) {
        const int cpu = Fake::CpuOf(i);
        EXPECT_NEAR(rec.cpu_scores_1[i], Fake::Load(cpu), 1e-3) << i;
        EXPECT_NEAR(rec.cpu_scores_2[i], Fake::Interrupts(cpu), 1e-2) << i;
        meanLoad += Fake::Load(cpu) / 3;
        meanInt += Fake::Interrupts(cpu) / 3;
    }
    EXPECT_NEAR(rec.score[kCpu], meanLoad, 1e-3);
    EXPECT_NEAR(rec.score[kInterrupts], meanInt, 1e-2);
    EXPECT_NEAR(rec.score[kPageFaults], Fake::Rate(kPageFaults), 1e-3);
    EXPECT_FLOAT_EQ(rec.score[kMemory], float(Fake::kAvailableBytes));
    EXPECT_EQ(rec.score[2], 42.5f);
    EXPECT_EQ(rec.cpu_scores_1[3], 7.0f);
    EXPECT_EQ(s.lastAverage(kPageFaults), rec.score[kPageFaults]);
    for (int q : {kCpu, kInterrupts, kPageFaults, kMemory}) EXPECT_EQ(s.count(q) + s.sum(q), 0.0) << q;
}

TEST(SamplerTest, PerProcessorAverageDividesTheSharedCountByTheProcessors) {
    Fake fake;
    Sampler s(fake, fake.clock());
    s.Start(2, kCpuOnly);
    ASSERT_TRUE(s.perProcessor());
    PerfMonData rec{};
    rec.perfData[kCpu] = 1;
    rec.score[kCpu] = rec.cpu_scores_1[0] = 99.0f;
    s.FillReply(rec);  // before any sample: the count counts as 1, averages are 0
    EXPECT_EQ(rec.score[kCpu], 0.0f);
    EXPECT_EQ(rec.cpu_scores_1[0], 0.0f);
    // Processor 0 samples twice, processor 1 once: count 3, each processor's divisor 1.5.
    double v = 0;
    ASSERT_TRUE(s.TakeSample(0, milliseconds(100), &v));
    ASSERT_TRUE(s.TakeSample(0, milliseconds(100), &v));
    ASSERT_TRUE(s.TakeSample(1, milliseconds(100), &v));
    EXPECT_EQ(s.count(kCpu), 3);
    s.FillReply(rec);
    const double l0 = Fake::Load(Fake::CpuOf(0)), l1 = Fake::Load(Fake::CpuOf(1));
    EXPECT_NEAR(rec.cpu_scores_1[0], 2 * l0 / 1.5, 1e-3);
    EXPECT_NEAR(rec.cpu_scores_1[1], l1 / 1.5, 1e-3);
    EXPECT_NEAR(rec.score[kCpu], (2 * l0 + l1) / 3, 1e-3);
    // The processor sums are cleared on their own after each interval.
    ASSERT_TRUE(s.TakeSample(0, milliseconds(100), &v));
    s.ClearProcessorSums();
    s.FillReply(rec);
    EXPECT_EQ(rec.cpu_scores_1[0], 0.0f);
    EXPECT_NEAR(rec.score[kCpu], l0, 1e-3);
}

TEST(SamplerTest, LockNotHadAndLockShared) {
    Fake fake;
    Sampler s(fake, fake.clock());
    s.Start(4, kCpuOnly);
    const int readsBefore = fake.totalReads();
    double v = -5;
    {
        std::unique_lock<std::timed_mutex> held(s.mutex());
        bool taken = true;
        std::thread([&] { taken = s.TakeSample(0, milliseconds(1), &v); }).join();
        EXPECT_FALSE(taken);  // nothing read, nothing added
    }
    EXPECT_EQ(s.count(kCpu), 0);
    EXPECT_EQ(v, -5);
    EXPECT_EQ(fake.totalReads(), readsBefore);
    // Four threads adding to the one count lose nothing.
    std::vector<std::thread> threads;
    for (int k = 0; k < 4; ++k) {
        threads.emplace_back([&s, k] {
            double x = 0;
            for (int i = 0; i < 500; ++i) s.TakeSample(k, milliseconds(8000), &x);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(s.count(kCpu), 2000);
}

TEST(CommandLine, RefusalsAndTheAcceptedLine) {
    const std::string token = kLoadmeterToken;
    auto text = [](const std::vector<std::string>& words) {
        auto box = CheckCommandLine(words);
        return box ? box->caption + "|" + box->text : std::string("accepted");
    };
    const std::string fromKestrel = "Loadmeter Exception|LOADMETER 1.21 can only be run from within Kestrel.";
    const std::string wrongVersion = "Loadmeter Exception|Incorrect version of Loadmeter.";
    EXPECT_EQ(text({}), fromKestrel);
    EXPECT_EQ(text({token, "0"}), fromKestrel);
    EXPECT_EQ(text({token, "x", "(null)"}), fromKestrel);
    EXPECT_EQ(text({token, "0", ""}), fromKestrel);
    EXPECT_EQ(text({token + "0", "0", "(null)"}), wrongVersion);
    EXPECT_EQ(text({token.substr(1), "0", "(null)"}), wrongVersion);
    EXPECT_EQ(text({token, "1", "/tmp/results"}), wrongVersion);  // no results-file exchange
    EXPECT_EQ(text({token, "0", "(null)"}), "accepted");
    EXPECT_EQ(text({token + " 0 (null)"}), "accepted");  // read as one line
    EXPECT_EQ(CheckCommandLine({}).value().icon, kp::Icon::Stop);
}

}  // namespace

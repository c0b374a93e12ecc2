// The memory test: its report run headless at the smallest level, Stop, the size choice, the
// pure pieces (sizes, index patterns, rates, score lines, counter lines) and the analyser
// samples against the stand-in analyser.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <regex>

#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/memory/memory_test.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/ui_thread.h"
#include "tests/support/isolation.h"
#include "tests/support/stand_in_analyser.h"
#include "tests/support/recording_host.h"
#include "tests/support/vector_state.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kStars(85, '*');

// Free memory the test reads: the first value, then the second on every later read.
int64_t g_free[2] = {};
int g_free_reads = 0;
int64_t FakeFree() { return g_free[std::min(g_free_reads++, 1)]; }

// Numbers with a fraction become "#", whole numbers after two blanks "  #"; "faster" and
// "slower" become "F/S" (which of them appears depends on the machine).
std::string Mask(const std::string& line) {
    static const std::regex fraction(R"(\d+\.\d+)");
    static const std::regex whole(R"(  -?\d+)");
    static const std::regex verdict(R"(faster|slower)");
    std::string s = std::regex_replace(line, fraction, "#");
    s = std::regex_replace(s, whole, "  #");
    return std::regex_replace(s, verdict, "F/S");
}

Lines Masked(const Lines& lines) {
    Lines out;
    for (const std::string& l : lines) out.push_back(Mask(l));
    return out;
}

size_t Find(const Lines& lines, const std::string& line, size_t from = 0) {
    auto it = std::find(lines.begin() + long(from), lines.end(), line);
    return it == lines.end() ? std::string::npos : size_t(it - lines.begin());
}

class MemoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        kp::MarkUiThread();
        report = ReportText{};
        results.TotalMemory = 0;
        prefs = Preferences{};
        machine.memory = "32";
        run.testend = 0;
        run.real_num_processors = 1;
        pchk = PerfMonData{};
        Free(int64_t(1) << 30);
        SetFreeMemoryReader(&FakeFree);
    }
    void TearDown() override {
        SetFreeMemoryReader(nullptr);
        run.testend = 0;
    }
    static void Free(int64_t first, int64_t later = -2) {
        g_free[0] = first;
        g_free[1] = later == -2 ? first : later;
        g_free_reads = 0;
    }
    void StopAtPump(int n) {
        host.on_pump = [n](int pump) {
            if (pump == n) run.testend = 1;
        };
    }
    const Lines& lines() const { return report.szGreeting; }

    kt::RecordingHost host;
    kp::BoxRecorder boxes;
};

// The whole report of a short run at level 0 (1 MB), numbers masked.
const Lines kShortRun = {
    "Performing Short Memory Test",
    "",
    "Testing for available Memory ...",
    "Available Memory:  # MB of 32 MB",
    "",
    "************ Executing sequential read/write memory tests ************",
    "",
    "Testing Memory Copy Performance for 8 byte arrays... ",
    "test 1.) Memory Copy Speed for 8 byte arrays:  # MB/s",
    "",
    "Testing Memory Move Performance for 8 byte arrays... ",
    "test 2.) Memory Move Speed for 8 byte arrays:  # MB/s",
    "",
    "Testing Memory Copy Performance for 1 byte arrays... ",
    "test 3.) Memory Copy Speed for 1 byte arrays:  # MB/s",
    "",
    "Testing Memory Move Performance for 1 byte arrays... ",
    "test 4.) Memory Move Speed for 1 byte arrays:  # MB/s",
    "",
    "************ Executing patterned read/write memory tests ************",
    "",
    "Testing Memory Copy Performance for 8 byte arrays... ",
    "test 5.) Memory Copy Speed for 8 byte arrays:  # MB/s",
    "",
    "Testing Memory Move Performance for 8 byte arrays... ",
    "test 6.) Memory Move Speed for 8 byte arrays:  # MB/s",
    "",
    "Testing Memory Copy Performance for 1 byte arrays... ",
    "test 7.) Memory Copy Speed for 1 byte arrays:  # MB/s",
    "",
    "Testing Memory Move Performance for 1 byte arrays... ",
    "test 8.) Memory Move Speed for 1 byte arrays:  # MB/s",
    "",
    kStars,
    "Total Memory Throughput Achieved is:  # MB/s",
    "Total Memory Score:  # Kes MemoryMarks",
    "This Memory subsystem is #% F/S than a Micron P100 PowerStation",
    kStars,
};

// The score printed agrees with the mean printed, and the verdict with the score. The score is
// the unrounded mean over the reference, truncated; the mean is printed rounded to two decimals,
// so the score lies between the truncations of the least and the greatest mean printed so (a
// fixed allowance of 1 fails whenever the rounding carries the printed mean over a whole score).
void ExpectScoreMatchesMean(const Lines& l) {
    double mean = 0;
    ASSERT_EQ(std::sscanf(l.at(l.size() - 4).c_str(), "Total Memory Throughput Achieved is:  %lf", &mean), 1);
    EXPECT_GT(mean, 0.0);
    EXPECT_TRUE(std::isfinite(mean));
    const double half_step = 0.00501;  // half the last printed digit, and a little for binary fractions
    EXPECT_GE(double(results.TotalMemory), std::floor((mean - half_step) / 14.58 * 100.0)) << mean;
    EXPECT_LE(double(results.TotalMemory), std::floor((mean + half_step) / 14.58 * 100.0)) << mean;
    const bool faster = l.at(l.size() - 2).find(" faster ") != std::string::npos;
    EXPECT_EQ(faster, results.TotalMemory >= 100);
}

TEST_F(MemoryTest, ShortRunAtTheSmallestLevelWritesTheEightResultsAndTheScore) {
    EXPECT_EQ(DoMemTest(), 0);
    EXPECT_EQ(Masked(lines()), kShortRun);
    ExpectScoreMatchesMean(lines());
    EXPECT_TRUE(boxes.boxes().empty());

    // Progress: 0 first, then 8 tests of 100 passes in equal steps up to 1.
    ASSERT_EQ(host.progress.size(), 801u);
    EXPECT_EQ(host.progress.front(), 0.0);
    EXPECT_NEAR(host.progress[100], 0.125, 1e-9);
    EXPECT_NEAR(host.progress[450], 0.5625, 1e-9);
    EXPECT_NEAR(host.progress.back(), 1.0, 1e-9);
    EXPECT_TRUE(std::is_sorted(host.progress.begin(), host.progress.end()));
    EXPECT_EQ(host.pumps, 800);
    EXPECT_EQ(host.captions, (Lines{"Testing Memory Throughput with 8 byte arrays",
                                    "Testing Memory Throughput with 1 byte arrays",
                                    "Testing Memory Throughput with 8 byte arrays",
                                    "Testing Memory Throughput with 1 byte arrays", "Test Completed!"}));
    EXPECT_EQ(host.status, (Lines{"Testing Sequential Memory Copy Performance for 8 byte arrays",
                                  "Testing Sequential Memory Move Performance for 8 byte arrays",
                                  "Testing Sequential Memory Copy Performance for 1 byte arrays",
                                  "Testing Sequential Memory Move Performance for 1 byte arrays",
                                  "Testing Patterned Memory Copy Performance for 8 byte arrays",
                                  "Testing Patterned Memory Move Performance for 8 byte arrays",
                                  "Testing Patterned Memory Copy Performance for 1 byte arrays",
                                  "Testing Patterned Memory Move Performance for 1 byte arrays", ""}));
    // No analyser wanted: no pauses.
    EXPECT_TRUE(host.sleeps.empty());
}

// Pages of [data, data + bytes) that were never touched: neither mapped nor swapped out, so the
// first timed access would fault (and a read would see the shared zero page). The page map gives
// present and swapped pages to any process; where it cannot be read, resident pages stand in.
int64_t UntouchedPages(const void* data, int64_t bytes) {
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t first = uintptr_t(data) / page;
    const uintptr_t count = (uintptr_t(data) + uintptr_t(bytes) - 1) / page - first + 1;
    int64_t untouched = 0;
    const int fd = open("/proc/self/pagemap", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        std::vector<uint64_t> entries(count);
        const ssize_t want = ssize_t(count * sizeof(uint64_t));
        const bool read_all = pread(fd, entries.data(), size_t(want), off_t(first * sizeof(uint64_t))) == want;
        close(fd);
        if (read_all) {
            for (uint64_t e : entries) {
                if (((e >> 63) & 1) == 0 && ((e >> 62) & 1) == 0) ++untouched;
            }
            return untouched;
        }
    }
    std::vector<unsigned char> resident(count);
    EXPECT_EQ(mincore(reinterpret_cast<void*>(first * page), count * page, resident.data()), 0);
    for (unsigned char r : resident) {
        if ((r & 1) == 0) ++untouched;
    }
    return untouched;
}

struct FirstPass {
    int test;
    size_t buffers;
    int64_t untouched;
};
std::vector<FirstPass> g_first_passes;

void RecordFirstPass(int test, const std::vector<MemoryBuffer>& held) {
    int64_t untouched = 0;
    for (const MemoryBuffer& b : held) untouched += UntouchedPages(b.data, b.bytes);
    g_first_passes.push_back({test, held.size(), untouched});
}

TEST_F(MemoryTest, EveryBufferIsWrittenBeforeTheFirstTimedPassOfEachTest) {
    // Test 6 reads an 8-byte source and test 8 a 1-byte source that no earlier test writes, and
    // test 8 reads the second index array beyond the part the pattern fills.
    g_first_passes.clear();
    SetFirstPassObserver(&RecordFirstPass);
    const int result = DoMemTest();
    SetFirstPassObserver(nullptr);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(g_first_passes.size(), 8u);
    for (int t = 1; t <= 8; ++t) {
        const FirstPass& f = g_first_passes[size_t(t - 1)];
        EXPECT_EQ(f.test, t);
        EXPECT_EQ(f.buffers, 4u) << "test " << t;  // two index arrays, destination, source
        EXPECT_EQ(f.untouched, 0) << "test " << t;
    }
}

// Whether the upper vector state was in use as each timed pass started; the observer then puts
// it in use again, as the drawing between passes can.
std::vector<bool> g_pass_starts;

void RecordPassStart() {
    g_pass_starts.push_back(kt::UpperVectorStateInUse());
    kt::DirtyUpperVectorState();
}

TEST_F(MemoryTest, EveryTimedPassStartsWithTheUpperVectorStateClean) {
    if (!kt::CanReadVectorState()) GTEST_SKIP() << "the processor cannot tell its vector state";
    for (const int high_precision : {1, 0}) {
        SCOPED_TRACE(high_precision);
        prefs.use_high_precision = high_precision;
        g_pass_starts.clear();
        kt::DirtyUpperVectorState();
        kp::SetVectorStateObserver(&RecordPassStart);
        const int result = DoMemTest();
        kp::SetVectorStateObserver(nullptr);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(g_pass_starts, std::vector<bool>(8 * 100, false));  // eight tests of 100 passes
    }
}

TEST_F(MemoryTest, MillisecondClockRatesStayFiniteWhenPassesTakeNoTime) {
    prefs.use_high_precision = 0;
    EXPECT_EQ(DoMemTest(), 0);
    EXPECT_EQ(Masked(lines()), kShortRun);
    for (const std::string& l : lines()) {
        EXPECT_EQ(l.find("inf"), std::string::npos) << l;
        EXPECT_EQ(l.find("nan"), std::string::npos) << l;
    }
    ExpectScoreMatchesMean(lines());
}

TEST_F(MemoryTest, LongTestRunsTwoHundredPasses) {
    prefs.valuelongtest = 1;
    StopAtPump(1);
    EXPECT_EQ(DoMemTest(), -1);
    EXPECT_EQ(lines().front(), "Performing Long Memory Test");
    ASSERT_EQ(host.progress.size(), 2u);
    EXPECT_NEAR(host.progress[1], 1.0 / 200 / 8, 1e-12);
}

TEST_F(MemoryTest, StopDuringTheFifthTestEndsAfterThePassWithoutTotals) {
    results.TotalMemory = 77;
    StopAtPump(450);
    EXPECT_EQ(DoMemTest(), -1);
    EXPECT_EQ(host.pumps, 450);
    EXPECT_EQ(results.TotalMemory, 77);
    EXPECT_EQ(lines().back(), "Testing Memory Copy Performance for 8 byte arrays... ");
    EXPECT_NE(Find(Masked(lines()), "test 4.) Memory Move Speed for 1 byte arrays:  # MB/s"), std::string::npos);
    EXPECT_EQ(Find(Masked(lines()), "test 5.) Memory Copy Speed for 8 byte arrays:  # MB/s"), std::string::npos);
    EXPECT_EQ(Find(lines(), kStars), std::string::npos);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(MemoryTest, TooLittleFreeMemoryAtLevelZeroSkipsTheTest) {
    Free(kMegabyte * 3 / 2);
    EXPECT_EQ(DoMemTest(), -1);
    EXPECT_EQ(lines(), (Lines{"Performing Short Memory Test", "", "Testing for available Memory ...",
                              "Available Memory:  1.50 MB of 32 MB", "",
                              "Not enough available memory to run the Memory Test.  Skipping"}));
    EXPECT_EQ(results.TotalMemory, 0);
    EXPECT_TRUE(host.progress.empty());
}

TEST_F(MemoryTest, TooLittleFreeMemoryAtAHigherLevelDefaultsToOneMegabyte) {
    prefs.memory_load_value = 6;
    Free(100 * kMegabyte);
    EXPECT_EQ(DoMemTest(), 0);
    Lines expected = kShortRun;
    expected.insert(expected.begin() + 5,
                    "Not enough available memory to run the Memory Test at 64 MB.  Defaulting to 1 MB.");
    EXPECT_EQ(Masked(lines()), expected);
}

TEST_F(MemoryTest, FreeMemoryBelowOneMegabyteIsShownInBytesAndReadAgain) {
    Free(500000, 3 * kMegabyte);
    StopAtPump(1);
    EXPECT_EQ(DoMemTest(), -1);
    EXPECT_EQ(lines().at(3), "Available Memory:  500000 bytes of 32 MB");
    EXPECT_EQ(g_free_reads, 2);
    // The second reading was enough for level 0: the tests began.
    EXPECT_EQ(lines().at(5), "************ Executing sequential read/write memory tests ************");
}

TEST_F(MemoryTest, FreeMemoryAboveFourGigabytesIsShownWhole) {
    Free(int64_t(6) << 30);
    StopAtPump(1);
    DoMemTest();
    EXPECT_EQ(lines().at(3), "Available Memory:  6144.00 MB of 32 MB");
    EXPECT_EQ(g_free_reads, 1);
}

TEST(MemorySizes, LevelAndFreeMemoryChooseTheBuffer) {
    const int64_t MB = kMegabyte;
    EXPECT_EQ(MemoryTestSize(6, 200 * MB), 64 * MB);
    EXPECT_EQ(MemoryTestSize(6, 128 * MB), 64 * MB);
    EXPECT_EQ(MemoryTestSize(6, 128 * MB - 1), MB);
    EXPECT_EQ(MemoryTestSize(6, 100 * MB), MB);
    EXPECT_EQ(MemoryTestSize(0, 2 * MB), MB);
    EXPECT_EQ(MemoryTestSize(0, MB * 3 / 2), 0);
    EXPECT_EQ(MemoryTestSize(0, -1), 0);
    EXPECT_EQ(MemoryTestSize(1, 4 * MB), 2 * MB);
    EXPECT_EQ(MemoryTestSize(3, int64_t(64) << 30), 8 * MB);

    EXPECT_EQ(PatternedSize(64 * MB), 16 * MB);
    EXPECT_EQ(PatternedSize(8 * MB), 2 * MB);
    EXPECT_EQ(PatternedSize(4 * MB), MB);
    EXPECT_EQ(PatternedSize(2 * MB), MB);
    EXPECT_EQ(PatternedSize(MB), MB);
}

TEST(MemoryPatterns, DoublePatternStepsBySixteenAndThirteen) {
    uint32_t i1[10], i2[10];
    BuildDoublePattern(i1, i2, 10);
    EXPECT_EQ(std::vector<uint32_t>(i1, i1 + 10), (std::vector<uint32_t>{0, 6, 2, 8, 4, 0, 6, 2, 8, 4}));
    EXPECT_EQ(std::vector<uint32_t>(i2, i2 + 10), (std::vector<uint32_t>{0, 3, 6, 9, 2, 5, 8, 1, 4, 7}));

    // A 16 MB buffer of doubles: no overflow of 16i, every index inside.
    const int64_t e = 16 * kMegabyte / 8;
    std::vector<uint32_t> a(static_cast<size_t>(e)), b(static_cast<size_t>(e));
    BuildDoublePattern(a.data(), b.data(), e);
    for (int64_t i : {int64_t(1), e / 3, e - 1}) {
        EXPECT_EQ(a[size_t(i)], uint32_t(16 * i % e));
        EXPECT_EQ(b[size_t(i)], uint32_t(13 * i % e));
    }
}

TEST(MemoryPatterns, BytePatternCyclesKThroughThePassCount) {
    std::vector<uint32_t> idx(20, 0xdeadbeef);
    BuildBytePattern(idx.data(), 64, 3);
    // k = 0, 1, 2, 3, 1, 2, 3, ...; index = |4i - 10k| mod 64, for the 16 entries of 64 bytes.
    EXPECT_EQ(std::vector<uint32_t>(idx.begin(), idx.begin() + 16),
              (std::vector<uint32_t>{0, 6, 12, 18, 6, 0, 6, 18, 12, 6, 30, 24, 18, 42, 36, 30}));
    EXPECT_EQ(idx[16], 0xdeadbeefu);

    const int64_t size = 16 * kMegabyte;
    std::vector<uint32_t> big(static_cast<size_t>(size / 4));
    BuildBytePattern(big.data(), size, 200);
    EXPECT_TRUE(std::all_of(big.begin(), big.end(), [&](uint32_t v) { return int64_t(v) < size; }));
    EXPECT_EQ(big[201], uint32_t(4 * 201 - 10 * 1));  // k starts again at 1 after L = 200
}

TEST(MemoryRates, BytesOverMillisecondsInMegabytesPerSecond) {
    // 200 passes of 64 MB are 12.8 GB: far beyond 32 bits.
    EXPECT_DOUBLE_EQ(MemoryRate(200, 64 * kMegabyte, 1000.0, 1e-6), 12800.0);
    EXPECT_DOUBLE_EQ(MemoryRate(1, kMegabyte, 1000.0, 1e-6), 1.0);
    EXPECT_DOUBLE_EQ(MemoryRate(100, 2 * kMegabyte, 250.0, 1.0), 800.0);
    // A total below the clock's resolution counts as the resolution.
    EXPECT_DOUBLE_EQ(MemoryRate(100, kMegabyte, 0.0, 1.0), 100000.0);
    EXPECT_DOUBLE_EQ(MemoryRate(100, kMegabyte, 0.4, 1.0), 100000.0);
    EXPECT_TRUE(std::isfinite(MemoryRate(200, 64 * kMegabyte, 0.0, 1e-6)));
}

class MemoryTotals : public ::testing::Test {
protected:
    void SetUp() override { report = ReportText{}; }
    kt::RecordingHost host;
};

TEST_F(MemoryTotals, TheReferenceMeanScoresOneHundred) {
    ReportMemoryTotals(14.58);
    EXPECT_EQ(report.szGreeting,
              (Lines{kStars, "Total Memory Throughput Achieved is:  14.58 MB/s",
                     "Total Memory Score:  100 Kes MemoryMarks",
                     "This Memory subsystem is 0.0% slower than a Micron P100 PowerStation", kStars}));
    EXPECT_EQ(results.TotalMemory, 100);
}

TEST_F(MemoryTotals, TwiceAndHalfTheReference) {
    ReportMemoryTotals(29.16);
    EXPECT_EQ(results.TotalMemory, 200);
    EXPECT_EQ(report.szGreeting.at(3), "This Memory subsystem is 100.0% faster than a Micron P100 PowerStation");
    report = ReportText{};
    ReportMemoryTotals(7.29);
    EXPECT_EQ(results.TotalMemory, 50);
    EXPECT_EQ(report.szGreeting.at(2), "Total Memory Score:  50 Kes MemoryMarks");
    EXPECT_EQ(report.szGreeting.at(3), "This Memory subsystem is 100.0% slower than a Micron P100 PowerStation");
}

TEST_F(MemoryTotals, ScoresAreTruncatedAndSaturate) {
    ReportMemoryTotals(14.58 * 1.234567);
    EXPECT_EQ(results.TotalMemory, 123);
    ReportMemoryTotals(1e12);
    EXPECT_EQ(results.TotalMemory, INT32_MAX);
    EXPECT_EQ(report.szGreeting.at(7), "Total Memory Score:  2147483647 Kes MemoryMarks");
}

TEST(MemoryCounters, SeveralProcessorsGroupTheirItemsAfterProcessorsSixAndTwelve) {
    PerfMonData rec{};
    for (int j = 0; j < 6; ++j) rec.score[j] = float(j) + 1.75f;
    for (int i = 0; i < 32; ++i) {
        rec.cpu_scores_1[i] = 10.0f + float(i);
        rec.cpu_scores_2[i] = 100.9f + float(i);
    }
    const int32_t all[6] = {1, 1, 1, 1, 1, 1};
    EXPECT_EQ(MemoryCounterLines(rec, all, 12),
              (Lines{"Average CPU Usage:  1.8% per CPU",
                     "CPU 0:  10.0%; CPU 1:  11.0%; CPU 2:  12.0%; CPU 3:  13.0%; CPU 4:  14.0%; "
                     "CPU 5:  15.0%; CPU 6:  16.0%; ",
                     "CPU 7:  17.0%; CPU 8:  18.0%; CPU 9:  19.0%; CPU 10:  20.0%; CPU 11:  21.0%; ",
                     "Average Interrupts/sec.:  2 per CPU",
                     "CPU 0:  100; CPU 1:  101; CPU 2:  102; CPU 3:  103; CPU 4:  104; CPU 5:  105; "
                     "CPU 6:  106; ",
                     "CPU 7:  107; CPU 8:  108; CPU 9:  109; CPU 10:  110; CPU 11:  111; ",
                     "Average Context Switches/sec.:  3", "Average Page Faults/sec.:  4",
                     "Average Pages/sec.:  5", "Average Available Memory:  6"}));
    // 13 processors: the second line of items ends with processor 12.
    const int32_t cpu_only[6] = {1, 0, 0, 0, 0, 0};
    const Lines thirteen = MemoryCounterLines(rec, cpu_only, 13);
    ASSERT_EQ(thirteen.size(), 3u);
    EXPECT_EQ(thirteen[2].substr(0, 6), "CPU 7:");
    EXPECT_EQ(thirteen[2].substr(thirteen[2].size() - 16), "CPU 12:  22.0%; ");
}

TEST(MemoryCounters, OneProcessorAndUnchosenCounters) {
    PerfMonData rec{};
    rec.score[0] = 12.34f;
    rec.score[1] = 250.99f;
    rec.score[5] = 3.0e9f;
    const int32_t some[6] = {1, 1, 0, 0, 0, 1};
    EXPECT_EQ(MemoryCounterLines(rec, some, 1),
              (Lines{"Average CPU Usage:  12.3%", "Average Interrupts/sec.:  250",
                     "Average Available Memory:  3000000000"}));
    const int32_t none[6] = {};
    EXPECT_TRUE(MemoryCounterLines(rec, none, 4).empty());
}

TEST(MemoryCounters, ZeroAveragesCountAsAStalledAnalyserUnlessOnlyPagesAreChosen) {
    PerfMonData rec{};
    const int32_t cpu[6] = {1, 0, 0, 0, 0, 0};
    const int32_t pages[6] = {0, 0, 0, 0, 1, 0};
    const int32_t none[6] = {};
    rec.score[4] = 9.0f;  // the fifth average is not looked at
    EXPECT_TRUE(AnalyserStalled(rec, cpu));
    EXPECT_FALSE(AnalyserStalled(rec, pages));
    EXPECT_FALSE(AnalyserStalled(rec, none));
    rec.score[5] = 1.0f;
    EXPECT_FALSE(AnalyserStalled(rec, cpu));
}

// Samples of the stand-in analyser (every average j + 1, every processor 50 % and 7/s).
class MemoryAnalyser : public MemoryTest {
protected:
    void SetUp() override {
        MemoryTest::SetUp();
        kt::UseStandInAnalyser();
        prefs.show_perf_data = 1;
        prefs.perf_counters[0] = 1;
        prefs.perf_counters[1] = 1;
        prefs.perf_counters[2] = 1;
        StartPerfProcess();
        ASSERT_TRUE(PerfLinkOpen());
    }
    void TearDown() override {
        perflink.end_wait_ms = 100;
        EndPerfProcess();
        MemoryTest::TearDown();
    }
};

TEST_F(MemoryAnalyser, EveryTestIsFollowedByTheCounterLinesOfTwelveProcessors) {
    run.real_num_processors = 12;
    EXPECT_EQ(DoMemTest(), 0);
    const Lines& l = lines();
    const size_t idle = Find(l, "Testing for initial processor loading.  Please wait ...");
    ASSERT_NE(idle, std::string::npos);
    EXPECT_EQ(l.at(idle + 1), "Idle Processor Load:  0.5%");  // 1.0 x 0.5
    EXPECT_EQ(l.at(idle + 2), "");
    EXPECT_EQ(host.sleeps, (std::vector<int>{6000}));

    const Lines counters = {
        "",
        "Average CPU Usage:  1.0% per CPU",
        "CPU 0:  50.0%; CPU 1:  50.0%; CPU 2:  50.0%; CPU 3:  50.0%; CPU 4:  50.0%; CPU 5:  50.0%; CPU 6:  50.0%; ",
        "CPU 7:  50.0%; CPU 8:  50.0%; CPU 9:  50.0%; CPU 10:  50.0%; CPU 11:  50.0%; ",
        "Average Interrupts/sec.:  2 per CPU",
        "CPU 0:  7; CPU 1:  7; CPU 2:  7; CPU 3:  7; CPU 4:  7; CPU 5:  7; CPU 6:  7; ",
        "CPU 7:  7; CPU 8:  7; CPU 9:  7; CPU 10:  7; CPU 11:  7; ",
        "Average Context Switches/sec.:  3",
    };
    const Lines masked = Masked(l);
    int found = 0;
    for (size_t i = 0; i < masked.size(); ++i) {
        if (masked[i].rfind("test ", 0) != 0) continue;
        ++found;
        ASSERT_LE(i + 1 + counters.size(), l.size());
        EXPECT_EQ(Lines(l.begin() + long(i) + 1, l.begin() + long(i + 1 + counters.size())), counters)
            << masked[i];
    }
    EXPECT_EQ(found, 8);
    EXPECT_EQ(std::count(l.begin(), l.end(), "Average CPU Usage:  1.0% per CPU"), 8);
    EXPECT_EQ(Find(l, "Loadmeter throttled!  Restarting ..."), std::string::npos);
    ExpectScoreMatchesMean(l);
    EXPECT_TRUE(boxes.boxes().empty());
}

// An analyser killed after answering test 1: no readings from test 2 on, and one line there
// that says so.
TEST_F(MemoryAnalyser, AnAnalyserKilledAfterTestOneLeavesTheLaterTestsWithoutReadings) {
    perflink.end_wait_ms = 100;
    EndPerfProcess();
    kt::UseStandInAnalyser("die-after-one");
    prefs.perf_counters[0] = 0;  // no idle sample: test 1's reading is the one answer
    StartPerfProcess();
    ASSERT_TRUE(PerfLinkOpen());
    run.real_num_processors = 2;
    EXPECT_EQ(DoMemTest(), 0);
    const Lines& l = lines();
    const std::string lost = "Performance data not measured from this test on: the connection with Loadmeter was broken.";
    EXPECT_EQ(std::count(l.begin(), l.end(), lost), 1);
    const size_t said = Find(l, lost);
    ASSERT_NE(said, std::string::npos);
    ASSERT_GE(said, 2u);
    EXPECT_EQ(l[said - 1], "");
    EXPECT_EQ(Masked(l)[said - 2].rfind("test 2.) ", 0), 0u) << l[said - 2];
    for (size_t i = 0; i < l.size(); ++i) {
        if (l[i].rfind("Average ", 0) == 0) {
            EXPECT_LT(i, said) << l[i];
        }
    }
    EXPECT_EQ(std::count(l.begin(), l.end(), "Average Context Switches/sec.:  3"), 1);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Connection with Loadmeter was broken!");
}

TEST_F(MemoryAnalyser, ARestartThatCannotStartTheAnalyserShowsNoIdleReading) {
    // The analyser ends (every average then reads 0), and none is to be had for the restart.
    perflink.end_wait_ms = 100;
    EndPerfProcess();
    perflink.program_directory = kt::FreshDir("no-analyser");
    run.real_num_processors = 2;
    StopAtPump(1);
    EXPECT_EQ(DoMemTest(), -1);
    const Lines& l = lines();
    const size_t idle = Find(l, "Testing for initial processor loading.  Please wait ...");
    ASSERT_NE(idle, std::string::npos);
    EXPECT_EQ(Lines(l.begin() + long(idle) + 1, l.begin() + long(idle) + 4),
              (Lines{"Loadmeter throttled!  Restarting ...", "", ""}));
    EXPECT_EQ(Find(l, "Idle Processor Load:  0.0%"), std::string::npos);
    EXPECT_TRUE(perflink.given_up);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "No such file or directory (" + perflink.program_directory + "/loadmeter)");
}

TEST_F(MemoryAnalyser, OneProcessorTakesTheLongIdleMeasurement) {
    run.real_num_processors = 1;
    StopAtPump(1);
    EXPECT_EQ(DoMemTest(), -1);
    const Lines& l = lines();
    const size_t idle = Find(l, "Testing for initial processor loading.  Please wait ...");
    ASSERT_NE(idle, std::string::npos);
    EXPECT_EQ(l.at(idle + 1), "Idle Processor Load:  0.2%");  // 1.0 x 0.2
    EXPECT_EQ(host.sleeps, (std::vector<int>{8000, 1000}));
    EXPECT_EQ(Find(l, "Loadmeter throttled!  Restarting ..."), std::string::npos);
}

}  // namespace

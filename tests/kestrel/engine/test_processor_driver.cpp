// The processor test driver: the whole processor part headless with the stand-in drivers (report
// lines against their formats, the result store's row, the scores against the planted rates),
// the score and total lines, counter lines, warnings and load-balance means, and a run with the
// real analyser.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <regex>

#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/processor/processor_driver.h"
#include "kestrel/engine/processor/processor_runner.h"
#include "kestrel/engine/processor/processor_tables.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/processors.h"
#include "platform/ui_thread.h"
#include "tests/kestrel/engine/processor_fakes.h"
#include "tests/support/isolation.h"
#include "tests/support/stand_in_analyser.h"
#include "tests/support/recording_host.h"
#include "tests/support/sampled_analyser.h"

namespace {

using Lines = std::vector<std::string>;
const std::string kStars(66, '*');

// Run patterns, as multiples of a test's rate.
// Low run 0, high run 3, and run 5 lies sqrt 5 out of the other six: kept mean 1.0.
constexpr double kOutlier[8] = {0.9, 1.0, 1.0, 1.1, 1.0, 1.05, 1.0, 1.0};
// Low run 3, high run 1; four at 1.0 and two at 1.1 stay: kept mean 31/30.
constexpr double kTwoOthers[8] = {1.0, 1.2, 1.0, 0.8, 1.1, 1.0, 1.1, 1.0};
// Low and high dropped; three at 1.0 and three at 1.2 stay: mean 1.1, deviation 9.1 %.
constexpr double kSpread[8] = {1.0, 0.5, 1.2, 1.0, 2.0, 1.2, 1.0, 1.2};
// Low and high dropped; three at 1.0 and three at 1.4 stay: mean 1.2, 6.8 % of the mean.
constexpr double kWide[8] = {1.4, 1.0, 0.6, 1.4, 1.0, 1.9, 1.0, 1.4};
constexpr double kEqual[8] = {1, 1, 1, 1, 1, 1, 1, 1};

class ProcessorPart : public ::testing::Test {
protected:
    void SetUp() override {
        kt::ResetForProcessorPart();
        run.testrunning = 1;
        run.numprocessors = 1;
    }
    void TearDown() override { run.testend = 0; }

    // Test fid's driver returns m x pattern x the reference value of the memory level.
    void Plant(int fid, double m, const double (&pattern)[8]) {
        for (int i = 0; i < 8; ++i) {
            kt::fake_drivers.rates[fid][i] = m * pattern[i] * ReferenceRow(prefs.memory_load_value)[fid];
        }
    }
    const Lines& lines() const { return report.szGreeting; }

    kt::RecordingHost host;
    kt::FakeDriverTable drivers;
    kp::BoxRecorder boxes;
};

// The Score figure of a score line.
long ScoreOf(const std::string& line) {
    const size_t at = line.rfind("Score:  ");
    return at == std::string::npos ? -1 : std::strtol(line.c_str() + at + 8, nullptr, 10);
}

TEST_F(ProcessorPart, LongRunWritesEveryLineOfTheNineTestsAndTheTotals) {
    prefs.valuelongtest = 1;
    prefs.memory_load_value = 2;
    Plant(0, 250, kOutlier);
    Plant(1, 300, kTwoOthers);
    Plant(2, 1000, kOutlier);
    Plant(3, 40, kOutlier);
    Plant(4, 60, kTwoOthers);
    Plant(5, 500, kOutlier);
    Plant(6, 2000, kOutlier);
    Plant(7, 80, kWide);
    Plant(8, 120, kSpread);
    run.real_num_processors = 4;
    ASSERT_EQ(DoCPUTest(2, 1), 0);
    EXPECT_EQ(run.numprocessors, 2);

    const Lines golden = {
        "test #.) Millions of Bit Operations per second:  #.##;  Score:  #",
        "test # stats.) standard deviation:  #.##; peak: #; trough:  #",
        "",
        "test #.) Queries per minute:  #.##;  Score:  #",
        "test # stats.) standard deviation:  #.##; peak: #; trough:  #",
        "",
        "test #.) MegaFlops:  #.#;  Score:  #",
        "test # stats.) standard deviation:  #.##; peak: #; trough:  #",
        "",
        "test #.) Integrations per second:  #.##;  Score:  #",
        "test # stats.) standard deviation:  #.##; peak: #; trough:  #",
        "",
        "test #.) Filters per second:  #.##;  Score:  #",
        "test # stats.) standard deviation:  #.##; peak: #; trough:  #",
        "",
        "test #.) Analyzations per minute:  #.##;  Score:  #",
        "test # stats.) standard deviation:  #.##; peak: #; trough:  #",
        "",
        "test #.) Modulations per second:  #.##;  Score:  #",
        "test # stats.) standard deviation:  #.##; peak: #; trough:  #",
        "",
        "test #.) Factorizations per second:  #.##;  Score:  #",
        "test # stats.) standard deviation:  #.##; peak: #; trough:  #",
        "",
        "Test failed to perform accurately.  Value:  #.#% deviation of the mean, is too large",
        "",
        "test #.) Matrix Operations per second:  #.##;  Score:  #",
        "test # stats.) standard deviation:  #.##; peak: #; trough:  #",
        "",
        "Test results are only partially accurate.  Value:  #.#% deviation is larger than expected",
        "",
        kStars,
        "Total Processor Score: # Kes ProcessorMarks  CPUMark:  #  FPUMark:  #",
        "This Processor subsystem is #.#% faster than a Micron P100 PowerStation.",
        kStars,
    };
    EXPECT_EQ(kt::MaskNumbers(lines()), golden);
    ASSERT_EQ(lines().size(), golden.size());

    // Test numbers and scores: the kept runs' mean over the reference value, times 100.
    const long scores[9] = {25000, 31000, 100000, 4000, 6200, 50000, 200000, 9600, 13200};
    const size_t score_at[9] = {0, 3, 6, 9, 12, 15, 18, 21, 26};
    for (int i = 0; i < 9; ++i) {
        const std::string& line = lines()[score_at[i]];
        EXPECT_EQ(line.substr(0, 8), "test " + std::to_string(i + 1) + ".)");
        EXPECT_EQ(ScoreOf(line), scores[i]) << line;
        EXPECT_EQ(lines()[score_at[i] + 1].substr(0, 14), "test " + std::to_string(i + 1) + " stats.)");
    }
    EXPECT_EQ(lines()[0], "test 1.) Millions of Bit Operations per second:  18300.98;  Score:  25000");
    EXPECT_EQ(lines()[6], "test 3.) MegaFlops:  10900.0;  Score:  100000");
    EXPECT_EQ(lines()[1], "test 1 stats.) standard deviation:  0.00; peak: 25000; trough:  25000");
    EXPECT_EQ(lines()[4].substr(0, 43), "test 2 stats.) standard deviation:  1414.21");
    EXPECT_EQ(lines()[24], "Test failed to perform accurately.  Value:  6.8% deviation of the mean, is too large");
    EXPECT_EQ(lines()[29], "Test results are only partially accurate.  Value:  9.1% deviation is larger than expected");

    // Integer ratios 250 + 310 + 500 + 2000 + 96, floating-point 1000 + 40 + 62 + 132;
    // the total (2 x 3156 + 1234) x 100 / 14.
    EXPECT_EQ(lines()[32], "Total Processor Score: 53900 Kes ProcessorMarks  CPUMark:  63120  FPUMark:  30850");
    EXPECT_EQ(lines()[33], "This Processor subsystem is 53800.0% faster than a Micron P100 PowerStation.");
    EXPECT_EQ(results.TotalCPU[1], 53900);
    EXPECT_FLOAT_EQ(intindex, 3156.0f);
    EXPECT_FLOAT_EQ(fpindex, 1234.0f);
    EXPECT_FLOAT_EQ(globalindex, 7546.0f);

    // The row's statistics, in percent of the reference value.
    EXPECT_NEAR(results.std_dev[1][1], 1000.0 * std::sqrt(2.0), 1e-6);
    EXPECT_NEAR(results.percent_deviation[1][1], 1000.0 * std::sqrt(2.0) / 31000.0 * 100.0, 1e-9);
    EXPECT_NEAR(results.percent_deviation_of_mean[1][1], 1000.0 * std::sqrt(2.0) / std::sqrt(6.0) / 310.0, 1e-9);
    EXPECT_NEAR(results.std_dev[1][7], 1600.0, 1e-6);
    EXPECT_NEAR(results.percent_deviation_of_mean[1][7], 1600.0 / std::sqrt(6.0) / 96.0, 1e-9);
    EXPECT_NEAR(results.std_dev[1][8], 1200.0, 1e-6);
    EXPECT_NEAR(results.percent_deviation[1][8], 1200.0 / 132.0, 1e-9);
    for (int i : {0, 2, 3, 5, 6}) {
        EXPECT_NEAR(results.std_dev[1][i], 0.0, 1e-6) << i;
        EXPECT_NEAR(results.second_high_score[1][i], kt::fake_drivers.rates[i][1], 1e-6 * kt::fake_drivers.rates[i][1]);
    }
    EXPECT_EQ(results.second_high_score[1][7], kt::fake_drivers.rates[7][0]);  // 1.4 kept
    EXPECT_EQ(results.second_low_score[1][7], kt::fake_drivers.rates[7][1]);   // 1.0 kept
    EXPECT_EQ(results.second_high_score[1][1], kt::fake_drivers.rates[1][4]);  // 1.1 kept
    // Peak and trough of a stats line: the kept extremes over the reference value, truncated.
    const double B7 = bindex_4meg[7];
    EXPECT_EQ(lines()[22], "test 8 stats.) standard deviation:  1600.00; peak: " +
                               std::to_string(long(kt::fake_drivers.rates[7][0] / B7 * 100.0)) + "; trough:  " +
                               std::to_string(long(kt::fake_drivers.rates[7][1] / B7 * 100.0)));
    // Other rows are left alone.
    EXPECT_EQ(results.TotalCPU[2], 0);
    EXPECT_EQ(results.std_dev[2][1], 0.0);

    // The bottom text: nine lines a test, 23 runs dropped.
    EXPECT_EQ(report.text_cpu_line.size(), 81u);
    int dropped = 0;
    for (const std::string& l : report.text_cpu_line) {
        if (l.size() > 10 && l.compare(l.size() - 10, 10, " (dropped)") == 0) ++dropped;
    }
    EXPECT_EQ(dropped, 15 + 4 + 4);
    EXPECT_EQ(host.captions.front(), "Performing CPU Analysis - 0% finished");
    EXPECT_EQ(host.captions.back(), "Done Testing! - 100% finished");
    EXPECT_FLOAT_EQ(run.globalpercent, 1.0f);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(ProcessorPart, AMachineEqualToTheReferenceScoresOneHundredEverywhere) {
    for (int level : {0, 6}) {
        report = ReportText{};
        prefs.memory_load_value = level;
        for (int fid = 0; fid < 9; ++fid) Plant(fid, 1.0, kEqual);
        ASSERT_EQ(DoCPUTest(1, 1), 0);
        // The short test: the score lines alone, then the totals.
        const Lines golden = {
            "test #.) Millions of Bit Operations per second:  #.##;  Score:  #",
            "test #.) Queries per minute:  #.##;  Score:  #",
            "test #.) MegaFlops:  #.#;  Score:  #",
            "test #.) Integrations per second:  #.##;  Score:  #",
            "test #.) Filters per second:  #.##;  Score:  #",
            "test #.) Analyzations per minute:  #.##;  Score:  #",
            "test #.) Modulations per second:  #.##;  Score:  #",
            "test #.) Factorizations per second:  #.##;  Score:  #",
            "test #.) Matrix Operations per second:  #.##;  Score:  #",
            kStars,
            "Total Processor Score: # Kes ProcessorMarks  CPUMark:  #  FPUMark:  #",
            "This Processor subsystem is #.#% slower than a Micron P100 PowerStation.",
            kStars,
        };
        EXPECT_EQ(kt::MaskNumbers(lines()), golden);
        for (int i = 0; i < 9; ++i) EXPECT_EQ(ScoreOf(lines().at(size_t(i))), 100) << lines().at(size_t(i));
        EXPECT_EQ(lines().at(10), "Total Processor Score: 100 Kes ProcessorMarks  CPUMark:  100  FPUMark:  100");
        EXPECT_EQ(lines().at(11), "This Processor subsystem is 0.0% slower than a Micron P100 PowerStation.");
        EXPECT_EQ(results.TotalCPU[1], 100);
    }
    EXPECT_EQ(lines().at(3), "test 4.) Integrations per second:  0.01;  Score:  100");  // 0.011 at 64 MB
    EXPECT_EQ(lines().at(6), "test 7.) Modulations per second:  2.28;  Score:  100");
    // No statistics in the short test.
    EXPECT_EQ(results.std_dev[1][0], 0.0);
    EXPECT_EQ(report.text_cpu_line.size(), 0u);
}

TEST_F(ProcessorPart, AStopEndsThePartWithoutTotals) {
    run.real_num_processors = 6;
    run.IDM_SCALING_CHECKED = 1;
    for (int fid = 0; fid < 9; ++fid) Plant(fid, 3.0, kEqual);
    results.std_dev[1][5] = 9;   // cleared at the start
    results.TotalCPU[1] = 77;
    kt::fake_drivers.stop_test = 3;
    kt::fake_drivers.stop_run = 0;
    EXPECT_EQ(DoCPUTest(3, 1), -1);
    EXPECT_EQ(lines().size(), 3u);
    EXPECT_EQ(ScoreOf(lines()[2]), 300);
    EXPECT_EQ(results.TotalCPU[1], 0);
    EXPECT_EQ(results.std_dev[1][5], 0.0);
    EXPECT_EQ(run.testrunning, 0);
    EXPECT_EQ(run.numprocessors, 6);  // a scaling run gets all processors back
    EXPECT_EQ(kt::fake_drivers.runs[4], 0);
}

TEST_F(ProcessorPart, AFailedDriverKeepsTheProcessorCountOfAPlainRun) {
    run.real_num_processors = 6;
    kt::fake_drivers.fail_test = 0;
    kt::fake_drivers.fail_run = 0;
    EXPECT_EQ(DoCPUTest(2, 1), -1);
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ(run.numprocessors, 2);
}

TEST_F(ProcessorPart, LoadBalanceIsTheMeanOfTheNineTestsPerProcessor) {
    run.real_num_processors = 3;
    results.temp_os_checked = 1;
    for (int p = 0; p < 4; ++p) {
        for (int i = 0; i < 9; ++i) {
            results.cpu_percentage1[p][i] = float(10 * p + i);
            results.cpu_percentage2[p][i] = float(20 * p + 2 * i);
        }
    }
    results.testing_os = 1;  // the OS pass
    ASSERT_EQ(DoCPUTest(3, 3), 0);
    EXPECT_FLOAT_EQ(results.total_cpu_load_balance1[3][0], 4.0f);
    EXPECT_FLOAT_EQ(results.total_cpu_load_balance1[3][2], 24.0f);
    EXPECT_EQ(results.total_cpu_load_balance1[3][3], 0.0f);  // not a processor of the machine
    EXPECT_EQ(results.total_cpu_load_balance2[3][1], 0.0f);
    results.testing_os = 0;  // the system pass
    ASSERT_EQ(DoCPUTest(3, 3), 0);
    EXPECT_FLOAT_EQ(results.total_cpu_load_balance2[3][1], 28.0f);
    results.temp_os_checked = 0;
    results.total_cpu_load_balance2[3][1] = 0;
    ASSERT_EQ(DoCPUTest(3, 3), 0);
    EXPECT_EQ(results.total_cpu_load_balance2[3][1], 0.0f);
}

class Totals : public ProcessorPart {};

TEST_F(Totals, FasterAndSlowerThanTheReference) {
    intindex = 5.0f;
    fpindex = 4.0f;
    ReportProcessorTotals(2, 150.0);
    EXPECT_EQ(lines(), (Lines{kStars, "Total Processor Score: 150 Kes ProcessorMarks  CPUMark:  100  FPUMark:  100",
                              "This Processor subsystem is 50.0% faster than a Micron P100 PowerStation.", kStars}));
    EXPECT_EQ(results.TotalCPU[2], 150);
    report = ReportText{};
    ReportProcessorTotals(2, 50.0);
    EXPECT_EQ(lines().at(2), "This Processor subsystem is 100.0% slower than a Micron P100 PowerStation.");
    EXPECT_EQ(results.TotalCPU[2], 50);
}

TEST_F(Totals, TotalsRoundHalfUpAndSaturate) {
    intindex = 4.98f;  // x 20 = 99.6
    fpindex = 3.97f;   // x 25 = 99.25
    ReportProcessorTotals(1, 99.5);
    EXPECT_EQ(results.TotalCPU[1], 100);
    EXPECT_EQ(lines().at(1), "Total Processor Score: 100 Kes ProcessorMarks  CPUMark:  100  FPUMark:  99");
    ReportProcessorTotals(1, 99.49);
    EXPECT_EQ(results.TotalCPU[1], 99);
    intindex = 1e30f;
    ReportProcessorTotals(1, 1e15);
    EXPECT_EQ(results.TotalCPU[1], INT32_MAX);
    EXPECT_EQ(lines().at(9), "Total Processor Score: 2147483647 Kes ProcessorMarks  CPUMark:  2147483647  FPUMark:  99");
}

TEST_F(Totals, ATotalOfZeroIsAHundredPercentSlowerNotInfinitelySo) {
    intindex = 0;
    fpindex = 0;
    ReportProcessorTotals(1, 0.0);
    EXPECT_EQ(lines().at(1), "Total Processor Score: 0 Kes ProcessorMarks  CPUMark:  0  FPUMark:  0");
    EXPECT_EQ(lines().at(2), "This Processor subsystem is 100.0% slower than a Micron P100 PowerStation.");
}

class ScoreLines : public ProcessorPart {};

TEST_F(ScoreLines, SmallMeansOfTheThreeSlowTestsGetThreeDecimals) {
    const int three[3] = {3, 4, 7};
    const char* names[3] = {"Integrations per second", "Filters per second", "Factorizations per second"};
    for (int k = 0; k < 3; ++k) {
        const int i = three[k];
        report = ReportText{};
        DoStringInput(i, 1, 0.011, 0.005f / 0.011f, 0.005f);
        DoStringInput(i, 1, 0.011, 0.01f / 0.011f, 0.01f);  // just below 0.01 as a float
        DoStringInput(i, 1, 0.011, 0.02f / 0.011f, 0.02f);
        const std::string head = "test " + std::to_string(i + 1) + ".) " + names[k] + ":  ";
        EXPECT_EQ(lines(), (Lines{head + "0.005;  Score:  45", head + "0.010;  Score:  90", head + "0.02;  Score:  181"}));
    }
    report = ReportText{};
    DoStringInput(1, 1, 1916.33, 0.0f, 0.005f);
    DoStringInput(8, 1, 218.67, 0.0f, 0.005f);
    EXPECT_EQ(lines(), (Lines{"test 2.) Queries per minute:  0.00;  Score:  0",
                              "test 9.) Matrix Operations per second:  0.00;  Score:  0"}));
}

TEST_F(ScoreLines, TodaysRatiosDoNotOverflowTheScore) {
    DoStringInput(6, 1, 1.15214, 1.0e5f, 115214.0f);
    EXPECT_EQ(lines().at(0), "test 7.) Modulations per second:  11521400.00;  Score:  10000000");
    DoStringInput(0, 1, 72413932.0, 1.0e15f, 7.0e22f);
    EXPECT_EQ(ScoreOf(lines().at(1)), long(double(1.0e15f * 100.0f)));
    DoStringInput(0, 1, 72413932.0, 1.0e38f, 3.0e38f);
    EXPECT_EQ(ScoreOf(lines().at(2)), LONG_MAX);
}

TEST_F(ScoreLines, AccuracyWarningsInTheLongTestOnly) {
    prefs.valuelongtest = 1;
    results.percent_deviation_of_mean[1][5] = 5.0;  // exactly 5: not "failed"
    results.percent_deviation[1][5] = 6.5;
    DoStringInput(5, 1, 555.61, 1.0f, 555.61f);
    EXPECT_EQ(kt::MaskNumbers(lines()),
              (Lines{"test #.) Analyzations per minute:  #.##;  Score:  #",
                     "test # stats.) standard deviation:  #.##; peak: #; trough:  #", "",
                     "Test results are only partially accurate.  Value:  #.#% deviation is larger than expected", ""}));
    EXPECT_EQ(lines().at(3), "Test results are only partially accurate.  Value:  6.5% deviation is larger than expected");
    report = ReportText{};
    results.percent_deviation[1][5] = 6.0;  // exactly 6: no warning
    DoStringInput(5, 1, 555.61, 1.0f, 555.61f);
    EXPECT_EQ(lines().size(), 3u);
    report = ReportText{};
    results.percent_deviation_of_mean[1][5] = 5.04;
    DoStringInput(5, 1, 555.61, 1.0f, 555.61f);
    EXPECT_EQ(lines().at(3), "Test failed to perform accurately.  Value:  5.0% deviation of the mean, is too large");
    EXPECT_EQ(lines().size(), 5u);
    // The short test writes neither statistics nor warnings, and no empty line.
    report = ReportText{};
    prefs.valuelongtest = 0;
    DoStringInput(5, 1, 555.61, 1.0f, 555.61f);
    EXPECT_EQ(lines().size(), 1u);
}

TEST(ProcessorCounters, InterruptLinesEndAfterProcessorsSixTwelveAndSoOn) {
    PerfMonData rec{};
    for (int p = 0; p < 32; ++p) {
        rec.cpu_scores_1[p] = 50.25f + float(p);
        rec.cpu_scores_2[p] = 100.9f + float(p);
    }
    rec.score[0] = 12.34f;
    rec.score[1] = 250.99f;
    const int32_t interrupts[6] = {0, 1, 0, 0, 0, 0};
    EXPECT_EQ(ProcessorCounterLines(rec, interrupts, 8),
              (Lines{"Average Interrupts/sec.:  250 per CPU",
                     "CPU 0:  100; CPU 1:  101; CPU 2:  102; CPU 3:  103; CPU 4:  104; CPU 5:  105; CPU 6:  106; ",
                     "CPU 7:  107; "}));
    const Lines thirteen = ProcessorCounterLines(rec, interrupts, 13);
    ASSERT_EQ(thirteen.size(), 4u);
    EXPECT_EQ(thirteen[2], "CPU 7:  107; CPU 8:  108; CPU 9:  109; CPU 10:  110; CPU 11:  111; CPU 12:  112; ");
    EXPECT_EQ(thirteen[3], "");  // the last processor closed a line
    EXPECT_EQ(ProcessorCounterLines(rec, interrupts, 32).size(), 1u + 6u);
    EXPECT_EQ(ProcessorCounterLines(rec, interrupts, 1), Lines{"Average Interrupts/sec.:  250"});
}

TEST(ProcessorCounters, TheLoadOfEveryProcessorStandsOnOneLine) {
    PerfMonData rec{};
    for (int p = 0; p < 32; ++p) rec.cpu_scores_1[p] = 99.96f;
    rec.score[0] = 12.34f;
    const int32_t cpu[6] = {1, 0, 0, 0, 0, 0};
    const Lines many = ProcessorCounterLines(rec, cpu, 32);
    ASSERT_EQ(many.size(), 2u);
    EXPECT_EQ(many[0], "Average CPU Usage:  12.3% per CPU");
    EXPECT_GT(many[1].size(), 350u);  // longer than a line buffer of old
    EXPECT_EQ(many[1].substr(0, 30), "CPU 0:  100.0%; CPU 1:  100.0%");
    EXPECT_EQ(many[1].substr(many[1].size() - 17), "CPU 31:  100.0%; ");
    EXPECT_EQ(ProcessorCounterLines(rec, cpu, 1), Lines{"Average CPU Usage:  12.3%"});
}

TEST(ProcessorCounters, TheOtherAveragesAreWholeNumbers) {
    PerfMonData rec{};
    for (int j = 0; j < 6; ++j) rec.score[j] = float(j) + 0.75f;
    rec.score[5] = 6.0e9f;
    const int32_t rest[6] = {0, 0, 1, 1, 1, 1};
    EXPECT_EQ(ProcessorCounterLines(rec, rest, 4),
              (Lines{"Average Context Switches/sec.:  2", "Average Page Faults/sec.:  3", "Average Pages/sec.:  4",
                     "Average Available Memory:  6000000000"}));
}

// The processor part with counter data against the stand-in analyser (every average j + 1,
// every processor 50 % and 7 interrupts a second).
class ProcessorPartWithCounters : public ProcessorPart {
protected:
    void SetUp() override {
        ProcessorPart::SetUp();
        kt::UseStandInAnalyser();
        prefs.show_perf_data = 1;
        prefs.niceness = 1;
    }
    void TearDown() override {
        perflink.end_wait_ms = 100;
        EndPerfProcess();
        ProcessorPart::TearDown();
    }
};

TEST_F(ProcessorPartWithCounters, EveryTestShowsTheIdleLoadAndItsCounterLines) {
    run.real_num_processors = 8;
    prefs.perf_counters[0] = 1;
    prefs.perf_counters[1] = 1;
    prefs.perf_counters[3] = 1;
    results.temp_os_checked = 1;
    for (int fid = 0; fid < 9; ++fid) Plant(fid, 2.0, kEqual);
    RefillPerfSettings(host.MainWindow());
    StartPerfProcess();
    ASSERT_TRUE(PerfLinkOpen());
    ASSERT_EQ(DoCPUTest(8, 8), 0);

    const Lines per_test = {
        "Testing for initial processor loading.  Please wait ...",
        "Idle Processor Load:  0.5%",
        "",
        "<score line>",
        "Average CPU Usage:  1.0% per CPU",
        "CPU 0:  50.0%; CPU 1:  50.0%; CPU 2:  50.0%; CPU 3:  50.0%; CPU 4:  50.0%; CPU 5:  50.0%; CPU 6:  50.0%; "
        "CPU 7:  50.0%; ",
        "Average Interrupts/sec.:  2 per CPU",
        "CPU 0:  7; CPU 1:  7; CPU 2:  7; CPU 3:  7; CPU 4:  7; CPU 5:  7; CPU 6:  7; ",
        "CPU 7:  7; ",
        "Average Page Faults/sec.:  4",
        "",
    };
    ASSERT_EQ(lines().size(), 9 * per_test.size() + 4);
    for (int i = 0; i < 9; ++i) {
        Lines got(lines().begin() + long(i * per_test.size()), lines().begin() + long((i + 1) * per_test.size()));
        EXPECT_EQ(ScoreOf(got[3]), 200) << got[3];
        EXPECT_EQ(got[3].substr(0, 8), "test " + std::to_string(i + 1) + ".)");
        got[3] = "<score line>";
        EXPECT_EQ(got, per_test) << "test " << i + 1;
    }
    EXPECT_EQ(lines()[9 * per_test.size() + 1],
              "Total Processor Score: 200 Kes ProcessorMarks  CPUMark:  200  FPUMark:  200");
    // The system pass keeps each processor's load and interrupts per test, and their means.
    EXPECT_FLOAT_EQ(results.cpu_percentage2[7][8], 50.0f);
    EXPECT_FLOAT_EQ(results.cpu_interrupts2[7][8], 7.0f);
    EXPECT_FLOAT_EQ(results.total_cpu_load_balance2[8][7], 50.0f);
    EXPECT_EQ(results.cpu_percentage1[0][0], 0.0f);
    EXPECT_EQ(results.cpu_percentage2[8][0], 0.0f);
    EXPECT_EQ(pchk.countertime, 1200);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(ProcessorPartWithCounters, AnAnalyserReadingZerosAfterATestIsRestarted) {
    // No analyser is running: the averages read as zeros, the analyser counts as stalled.
    run.real_num_processors = 2;
    prefs.perf_counters[2] = 1;
    host.main_window = {10, 20, 400, 300};
    DoStringInput(2, 1, 10900.0, 1.0f, 10900.0f);
    EXPECT_EQ(lines(), (Lines{"test 3.) MegaFlops:  10.9;  Score:  100", "Average Context Switches/sec.:  0",
                              "Loadmeter throttled!  Restarting ...", ""}));
    EXPECT_TRUE(PerfLinkOpen());
    EXPECT_EQ(pchk.countertime, 1200);
    EXPECT_EQ(pchk.indices[0], 110);
    EXPECT_EQ(pchk.indices[1], 310);
    EXPECT_EQ(pchk.indices[2], 20 + 150 + 70);
    EXPECT_EQ(pchk.perfData[2], 1);
    EXPECT_EQ(pchk.perfData[0], 0);
    // Only the fifth counter chosen: zeros are no stall.
    report = ReportText{};
    DoDiskEndCheck();
    pchk = PerfMonData{};
    prefs.perf_counters[2] = 0;
    prefs.perf_counters[4] = 1;
    DoStringInput(2, 1, 10900.0, 1.0f, 10900.0f);
    EXPECT_EQ(lines(), (Lines{"test 3.) MegaFlops:  10.9;  Score:  100", "Average Pages/sec.:  0", ""}));
    EXPECT_FALSE(PerfLinkOpen());
}

// An analyser that stalls twice, or whose link breaks after it answered test 1 (killed), leaves
// the rest of the run without readings; the one restart line, or the one line of the broken
// link where test 2's readings would be, says so.
TEST_F(ProcessorPartWithCounters, AnAnalyserGivenUpLeavesTheRestOfTheRunWithoutCounterLines) {
    const std::string restart = "Loadmeter throttled!  Restarting ...";
    const std::string lost = "Performance data not measured from this test on: the connection with Loadmeter was broken.";
    const struct {
        const char* mode;
        int idle_counter;          // the processor-load counter chosen (an idle sample before each test)
        const std::string* said;   // the one line
        size_t readings;           // lines of readings before it
    } cases[] = {
        {"stall", 1, &restart, 0},
        {"die-after-one", 0, &lost, 1},
    };
    run.real_num_processors = 2;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        kt::UseStandInAnalyser(c.mode, std::string(c.mode) == "stall" ? kt::kStallWatchMs : kt::kAnswerWatchMs);
        report = ReportText{};
        boxes.Clear();
        prefs.perf_counters[0] = c.idle_counter;
        prefs.perf_counters[2] = 1;
        for (int fid = 0; fid < 9; ++fid) Plant(fid, 2.0, kEqual);
        StartPerfProcess();
        ASSERT_TRUE(PerfLinkOpen());
        ASSERT_EQ(DoCPUTest(2, 1), 0);
        EXPECT_TRUE(perflink.given_up);
        const Lines& l = report.szGreeting;
        EXPECT_EQ(std::count(l.begin(), l.end(), *c.said), 1);
        const auto said = std::find(l.begin(), l.end(), *c.said);
        ASSERT_NE(said, l.end());
        // Readings only before the line; nothing after it reads an analyser that is not there.
        size_t readings = 0;
        for (auto it = l.begin(); it != l.end(); ++it) {
            const bool reading = it->rfind("Average ", 0) == 0 || it->find("Idle Processor Load") != std::string::npos;
            if (reading) {
                EXPECT_LT(it, said) << *it;
            }
            readings += reading ? 1 : 0;
        }
        EXPECT_EQ(readings, c.readings);
        if (c.said == &lost) {
            EXPECT_EQ((said - 1)->rfind("test 2.) ", 0), 0u) << *(said - 1);
            ASSERT_EQ(boxes.boxes().size(), 1u);
            EXPECT_EQ(boxes.boxes()[0].text, "Connection with Loadmeter was broken!");
        }
        perflink.end_wait_ms = 100;
        EndPerfProcess();
    }
}

// The empty lines that go with counter data follow the preference alone, whether the analyser
// answers, was given up before the test or is given up during the test's own exchange; a
// given-up analyser only leaves out the counter lines.
TEST_F(ProcessorPartWithCounters, EmptyLinesFollowTheCounterDataPreferenceWhateverBecameOfTheAnalyser) {
    enum class Analyser { Answers, GivenUpBefore, GivenUpDuringTheExchange, NotWanted };
    const std::string score = "test 3.) MegaFlops:  10.9;  Score:  100";
    const std::string stats = "test 3 stats.) standard deviation:  0.00; peak: 0; trough:  0";
    const std::string counter = "Average Context Switches/sec.:  3";
    const std::string restart = "Loadmeter throttled!  Restarting ...";
    const struct {
        Analyser analyser;
        bool long_test;
        Lines expected;
    } cases[] = {
        {Analyser::Answers, true, {score, stats, counter, ""}},
        {Analyser::Answers, false, {score, counter, ""}},
        {Analyser::GivenUpBefore, true, {score, stats, ""}},
        {Analyser::GivenUpBefore, false, {score, ""}},
        {Analyser::GivenUpDuringTheExchange, true, {restart, score, stats, ""}},
        {Analyser::GivenUpDuringTheExchange, false, {restart, score, ""}},
        {Analyser::NotWanted, true, {score, stats, ""}},
        {Analyser::NotWanted, false, {score}},
    };
    run.real_num_processors = 2;
    prefs.perf_counters[2] = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "analyser " << int(c.analyser) << (c.long_test ? ", long" : ", short"));
        if (c.analyser == Analyser::GivenUpDuringTheExchange) {
            kt::UseStandInAnalyser("stall", kt::kStallWatchMs);
        } else {
            kt::UseStandInAnalyser("answer");
        }
        prefs.valuelongtest = c.long_test ? 1 : 0;
        prefs.show_perf_data = c.analyser == Analyser::NotWanted ? 0 : 1;
        if (c.analyser == Analyser::Answers || c.analyser == Analyser::GivenUpDuringTheExchange) {
            StartPerfProcess();
            ASSERT_TRUE(PerfLinkOpen());
        }
        perflink.given_up = c.analyser == Analyser::GivenUpBefore;
        report = ReportText{};
        DoStringInput(2, 1, 10900.0, 1.0f, 10900.0f);
        EXPECT_EQ(lines(), c.expected);
        EXPECT_EQ(perflink.given_up, c.analyser == Analyser::GivenUpBefore ||
                                         c.analyser == Analyser::GivenUpDuringTheExchange);
        perflink.end_wait_ms = 100;
        EndPerfProcess();
    }
    EXPECT_TRUE(boxes.boxes().empty());
}

// A host whose pauses last until the real analyser has sampled the free memory, so every interval
// has a sample however slowly the analyser is given the processor.
class PausingHost : public kt::RecordingHost {
public:
    explicit PausingHost(const kt::SampledAnalyser& analyser) : analyser_(analyser) {}
    void Sleep(int ms) override {
        RecordingHost::Sleep(ms);
        const long mark = analyser_.Mark();
        if (PerfLinkOpen()) {
            EXPECT_TRUE(analyser_.Sampled(mark, "Available Bytes"));
        }
    }

private:
    const kt::SampledAnalyser& analyser_;
};

TEST(ProcessorPartWithTheRealAnalyser, CounterLinesCarryValuesInRange) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);  // the analyser shows no window here
    kp::MarkUiThread();
    const kt::SampledAnalyser analyser(LOADMETER_PATH, SAMPLE_TALLY_KESCHK);
    PausingHost host(analyser);
    kt::FakeDriverTable drivers;
    kp::BoxRecorder boxes;
    report = ReportText{};
    results = ResultStore{};
    prefs = Preferences{};
    pchk = PerfMonData{};
    run.testend = 0;
    perflink.given_up = false;
    perflink.program_directory = analyser.directory();
    perflink.watch_ms = 5000;
    const int processors = std::min(2, kp::GetNumProcessors());
    run.real_num_processors = processors;
    prefs.show_perf_data = 1;
    prefs.niceness = 2;
    for (int k : {0, 1, 2, 5}) prefs.perf_counters[k] = 1;
    kt::fake_drivers.busy_ms = 150;
    for (int fid = 0; fid < 9; ++fid) {
        for (int i = 0; i < 8; ++i) kt::fake_drivers.rates[fid][i] = 2.0 * bindex_1meg[fid];
    }
    RefillPerfSettings(host.MainWindow());
    StartPerfProcess();
    ASSERT_TRUE(PerfLinkOpen()) << (boxes.boxes().empty() ? "" : boxes.boxes()[0].text);
    ASSERT_EQ(DoCPUTest(processors, 1), 0);
    perflink.end_wait_ms = 10000;
    DoDiskEndCheck();

    const Lines& l = report.szGreeting;
    const std::regex usage(processors > 1 ? R"(Average CPU Usage:  (\d+\.\d)% per CPU)" : R"(Average CPU Usage:  (\d+\.\d)%)");
    const std::regex per_cpu(R"(CPU (\d+):  (\d+\.\d)%; )");
    const std::regex whole(R"((Average [A-Za-z/ .]+:)  (\d+)( per CPU)?)");
    int tests = 0;
    for (size_t i = 0; i < l.size(); ++i) {
        if (l[i].rfind("test ", 0) != 0) continue;
        ++tests;
        EXPECT_EQ(ScoreOf(l[i]), 200);
        std::smatch m;
        size_t at = i + 1;
        ASSERT_TRUE(std::regex_match(l.at(at), m, usage)) << l.at(at);
        EXPECT_LE(std::stod(m[1]), 100.0);
        if (processors > 1) {
            ++at;
            int seen = 0;
            for (std::sregex_iterator it(l.at(at).begin(), l.at(at).end(), per_cpu), end; it != end; ++it, ++seen) {
                EXPECT_EQ(std::stoi((*it)[1]), seen);
                EXPECT_LE(std::stod((*it)[2]), 100.0);
            }
            EXPECT_EQ(seen, processors) << l.at(at);
        }
        ++at;
        ASSERT_TRUE(std::regex_match(l.at(at), m, whole)) << l.at(at);
        EXPECT_EQ(m[1], "Average Interrupts/sec.:");
        if (processors > 1) {
            ++at;
            EXPECT_EQ(l.at(at).substr(0, 6), "CPU 0:");
        }
        ASSERT_TRUE(std::regex_match(l.at(++at), m, whole)) << l.at(at);
        EXPECT_EQ(m[1], "Average Context Switches/sec.:");
        ASSERT_TRUE(std::regex_match(l.at(++at), m, whole)) << l.at(at);
        EXPECT_EQ(m[1], "Average Available Memory:");
        EXPECT_GT(std::stoll(m[2]), 0);  // the machine has free memory
        EXPECT_EQ(l.at(++at), "");
    }
    EXPECT_EQ(tests, 9);
    EXPECT_EQ(l.at(l.size() - 3), "Total Processor Score: 200 Kes ProcessorMarks  CPUMark:  200  FPUMark:  200");
    EXPECT_TRUE(boxes.boxes().empty());
}

}  // namespace

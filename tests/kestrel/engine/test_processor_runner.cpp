// The processor test runner: the statistics of the long test on fixed samples, the table of
// uncertainties, the status texts, bottom-text lines and progress titles of one test, stops and
// failures, and the idle-load sample against the stand-in analyser.
#include <gtest/gtest.h>

#include <cmath>

#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/processor/processor_runner.h"
#include "kestrel/engine/processor/processor_tables.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/ui_thread.h"
#include "tests/kestrel/engine/processor_fakes.h"
#include "tests/support/isolation.h"
#include "tests/support/stand_in_analyser.h"
#include "tests/support/recording_host.h"

namespace {

using Lines = std::vector<std::string>;

TEST(UncertaintyTable, NormalDistributionPercentagesToTwoDecimals) {
    EXPECT_FLOAT_EQ(table_of_uncertainties[0][0], 0.0f);
    EXPECT_FLOAT_EQ(table_of_uncertainties[0][1], 0.80f);
    EXPECT_FLOAT_EQ(table_of_uncertainties[6][5], 48.43f);
    EXPECT_FLOAT_EQ(table_of_uncertainties[10][0], 68.27f);
    EXPECT_FLOAT_EQ(table_of_uncertainties[19][6], 95.00f);
    EXPECT_FLOAT_EQ(table_of_uncertainties[22][3], 97.43f);  // where sqrt 5 falls
    EXPECT_FLOAT_EQ(table_of_uncertainties[14][1], 84.15f);  // where sqrt 2 falls
    EXPECT_FLOAT_EQ(table_of_uncertainties[35][9], 99.97f);
    // Rising with t: each entry at least the one before it.
    const float* flat = &table_of_uncertainties[0][0];
    for (int k = 1; k < 360; ++k) EXPECT_GE(flat[k], flat[k - 1]) << k;
}

// calc_benchmark on fixed samples, in test 4 (reference 62.0 at memory level 0) unless said.
class Statistics : public ::testing::Test {
protected:
    static constexpr int kRow = 3;
    static constexpr int kTest = 3;
    static constexpr double B = 62.0;

    void SetUp() override {
        report = ReportText{};
        results = ResultStore{};
        prefs = Preferences{};
        // The nine bottom-text lines of one long test: the first shows no score yet, the next
        // eight the scores of runs 0 to 7.
        for (int i = 0; i < 9; ++i) output_bottomtext_buffer("line " + std::to_string(i));
    }
    // Runs the statistics on scores given as multiples of the reference value.
    double Run(std::initializer_list<double> multiples, int test = kTest) {
        double s[8] = {};
        int i = 0;
        for (double m : multiples) s[i++] = m * ReferenceRow(prefs.memory_load_value)[test];
        double mean = -1;
        calc_benchmark(s, test, &mean, kRow);
        return mean;
    }
    // Which runs' lines were marked, by run number.
    std::vector<int> Dropped() const {
        std::vector<int> runs;
        for (int i = 0; i < 8; ++i) {
            const std::string& line = report.text_cpu_line[size_t(i + 1)];
            if (line == "line " + std::to_string(i + 1) + " (dropped)") {
                runs.push_back(i);
            } else {
                EXPECT_EQ(line, "line " + std::to_string(i + 1));
            }
        }
        EXPECT_EQ(report.text_cpu_line[0], "line 0");
        return runs;
    }
    double StdDev() const { return results.std_dev[kRow][kTest]; }
    double Deviation() const { return results.percent_deviation[kRow][kTest]; }
    double DeviationOfMean() const { return results.percent_deviation_of_mean[kRow][kTest]; }

    kt::RecordingHost host;
};

TEST_F(Statistics, EightEqualRunsRejectOnlyRunZero) {
    EXPECT_DOUBLE_EQ(Run({1.5, 1.5, 1.5, 1.5, 1.5, 1.5, 1.5, 1.5}), 1.5 * B);
    EXPECT_EQ(Dropped(), std::vector<int>{0});
    EXPECT_EQ(StdDev(), 0.0);
    EXPECT_EQ(Deviation(), 0.0);
    EXPECT_EQ(DeviationOfMean(), 0.0);
    EXPECT_DOUBLE_EQ(results.second_high_score[kRow][kTest], 1.5 * B);
    EXPECT_DOUBLE_EQ(results.second_low_score[kRow][kTest], 1.5 * B);
}

TEST_F(Statistics, TheOddOneOfSixLiesSqrtFiveOutAndIsRejected) {
    // Low run 0, high run 3; of the other six, run 5 differs.
    const double mean = Run({0.9, 1.0, 1.0, 1.1, 1.0, 1.05, 1.0, 1.0});
    EXPECT_EQ(Dropped(), (std::vector<int>{0, 3, 5}));
    EXPECT_NEAR(mean, B, 1e-12);
    EXPECT_NEAR(StdDev(), 0.0, 1e-9);
    EXPECT_DOUBLE_EQ(results.second_high_score[kRow][kTest], B);
    EXPECT_DOUBLE_EQ(results.second_low_score[kRow][kTest], B);
}

TEST_F(Statistics, TwoEqualOthersLieSqrtTwoOutAndStay) {
    // Low run 3, high run 1; four runs at 1.0 and two at 1.1 stay.
    const double mean = Run({1.0, 1.2, 1.0, 0.8, 1.1, 1.0, 1.1, 1.0});
    EXPECT_EQ(Dropped(), (std::vector<int>{1, 3}));
    EXPECT_NEAR(mean, 6.2 / 6.0 * B, 1e-12);
    // Population deviation of {100 x4, 110 x2} percent: sqrt(200 / 9).
    EXPECT_NEAR(StdDev(), std::sqrt(200.0 / 9.0), 1e-9);
    EXPECT_NEAR(Deviation(), std::sqrt(200.0 / 9.0) / (620.0 / 6.0) * 100.0, 1e-9);
    EXPECT_NEAR(DeviationOfMean(), std::sqrt(200.0 / 9.0) / std::sqrt(6.0) / (620.0 / 6.0) * 100.0, 1e-9);
    EXPECT_NEAR(results.second_high_score[kRow][kTest], 1.1 * B, 1e-12);
    EXPECT_NEAR(results.second_low_score[kRow][kTest], 1.0 * B, 1e-12);
}

TEST_F(Statistics, SixEqualMiddleRunsHaveNoSpreadAndAllStay) {
    const double mean = Run({1.0, 1.0, 1.0, 0.5, 1.0, 1.0, 1.0, 2.0});
    EXPECT_EQ(Dropped(), (std::vector<int>{3, 7}));
    EXPECT_DOUBLE_EQ(mean, B);
    EXPECT_EQ(StdDev(), 0.0);
    EXPECT_EQ(Deviation(), 0.0);
    EXPECT_EQ(DeviationOfMean(), 0.0);
}

TEST_F(Statistics, ZeroScoresLeaveTheRelativeDeviationsAtZero) {
    EXPECT_EQ(Run({0, 0, 0, 0, 0, 0, 0, 0}), 0.0);
    EXPECT_EQ(StdDev(), 0.0);
    EXPECT_EQ(Deviation(), 0.0);
    EXPECT_EQ(DeviationOfMean(), 0.0);
    // Zeros beside a few runs: the mean is not zero, every figure stays finite.
    Run({0, 0, 0, 0, 0, 0, 1.0, 3.0});
    EXPECT_TRUE(std::isfinite(Deviation()));
    EXPECT_TRUE(std::isfinite(DeviationOfMean()));
}

TEST_F(Statistics, DeviationsArePercentOfTheReferenceOfTheMemoryLevel) {
    // The same rates at level 3 (reference 1.04) and at an impossible level 9 (taken as 6,
    // reference 0.011).
    const double s[8] = {1.04, 1.248, 1.04, 0.832, 1.144, 1.04, 1.144, 1.04};
    double mean = 0;
    prefs.memory_load_value = 3;
    calc_benchmark(s, kTest, &mean, kRow);
    EXPECT_NEAR(StdDev(), std::sqrt(200.0 / 9.0), 1e-9);
    prefs.memory_load_value = 9;
    calc_benchmark(s, kTest, &mean, kRow);
    EXPECT_NEAR(StdDev(), std::sqrt(200.0 / 9.0) * 1.04 / 0.011, 1e-6);
    EXPECT_NEAR(Deviation(), std::sqrt(200.0 / 9.0) / (620.0 / 6.0) * 100.0, 1e-9);  // relative: unchanged
}

TEST(ShortTestMean, IsTheSingleRun) {
    const double s[1] = {123.25};
    double mean = 0;
    calc_confidence(s, &mean);
    EXPECT_EQ(mean, 123.25);
}

// One test through bench_with_confidence with the stand-in drivers.
class Runner : public ::testing::Test {
protected:
    void SetUp() override { kt::ResetForProcessorPart(); }
    void TearDown() override { run.testend = 0; }
    void Rates(int fid, std::initializer_list<double> multiples) {
        int i = 0;
        for (double m : multiples) kt::fake_drivers.rates[fid][i++] = m * bindex_1meg[fid];
    }
    int Bench(int fid, double* mean, int row = 1) { return bench_with_confidence(fid, mean, row, float(fid + 1) / 9.0f); }

    kt::RecordingHost host;
    kt::FakeDriverTable drivers;
};

TEST_F(Runner, ShortTestRunsOnceWithoutBottomTextAndRoundsTheTitleDown) {
    kt::fake_drivers.rates[4][0] = 31.5;
    double mean = 0;
    ASSERT_EQ(Bench(4, &mean), 0);
    EXPECT_EQ(mean, 31.5);
    EXPECT_EQ(kt::fake_drivers.runs[4], 1);
    EXPECT_EQ(host.status, (Lines{"Test 5; Test iteration #1 of 1. ", ""}));
    EXPECT_TRUE(report.text_cpu_line.empty());
    EXPECT_TRUE(report.szGreeting.empty());
    // 5/9 shows 55 in the short test, with the next test's name.
    EXPECT_EQ(host.captions, Lines{"Performing Data Analysis - 55% finished"});
    EXPECT_EQ(host.sleeps, std::vector<int>{800});
    EXPECT_FLOAT_EQ(run.globalpercent, 5.0f / 9.0f);
    // No statistics in the short test.
    EXPECT_EQ(results.std_dev[1][4], 0.0);
    EXPECT_EQ(results.second_high_score[1][4], 0.0);
}

TEST_F(Runner, LongTestShowsEachRunAndMarksTheDroppedOnes) {
    prefs.valuelongtest = 1;
    run.globalpercent = 4.0f / 9.0f;
    Rates(4, {0.9, 1.0, 1.0, 1.1, 1.0, 1.05, 1.0, 1.0});
    double mean = 0;
    ASSERT_EQ(Bench(4, &mean), 0);
    EXPECT_EQ(kt::fake_drivers.runs[4], 8);
    EXPECT_NEAR(mean, 25.51, 1e-9);
    // Each line shows the score of the run before it; the closing line the last run's.
    EXPECT_EQ(report.text_cpu_line,
              (Lines{"Test 5; Test iteration #1 of 8. ",
                     "Test 5; Test iteration #2 of 8. Iteration 1 score:  23.0 Filters/sec (dropped)",
                     "Test 5; Test iteration #3 of 8. Iteration 2 score:  25.5 Filters/sec",
                     "Test 5; Test iteration #4 of 8. Iteration 3 score:  25.5 Filters/sec",
                     "Test 5; Test iteration #5 of 8. Iteration 4 score:  28.1 Filters/sec (dropped)",
                     "Test 5; Test iteration #6 of 8. Iteration 5 score:  25.5 Filters/sec",
                     "Test 5; Test iteration #7 of 8. Iteration 6 score:  26.8 Filters/sec (dropped)",
                     "Test 5; Test iteration #8 of 8. Iteration 7 score:  25.5 Filters/sec",
                     "Test 5 done.  Iteration 8 score:  25.5 Filters/sec"}));
    EXPECT_EQ(report.num_text_lines, 9);
    EXPECT_EQ(report.temp_text_lines, 9);
    Lines status(report.text_cpu_line.begin(), report.text_cpu_line.begin() + 8);
    for (int i : {1, 4, 6}) status[size_t(i)].resize(status[size_t(i)].size() - 10);  // shown before the marks
    status.push_back("Test 5 done.  Iteration 8 score:  25.5 Filters/sec");
    status.push_back("");
    EXPECT_EQ(host.status, status);
    // The title moves by 1.375 % per run, rounded half up, and names the next test at the end:
    // 5/9 shows 56 in the long test.
    EXPECT_EQ(host.captions,
              (Lines{"Performing Advanced Filter - 46% finished", "Performing Advanced Filter - 47% finished",
                     "Performing Advanced Filter - 49% finished", "Performing Advanced Filter - 50% finished",
                     "Performing Advanced Filter - 51% finished", "Performing Advanced Filter - 53% finished",
                     "Performing Advanced Filter - 54% finished", "Performing Advanced Filter - 55% finished",
                     "Performing Data Analysis - 56% finished"}));
    EXPECT_EQ(host.sleeps, (std::vector<int>{1000, 800}));
    EXPECT_FLOAT_EQ(run.globalpercent, 5.0f / 9.0f);
    EXPECT_EQ(host.progress.size(), 9u);
    EXPECT_NEAR(results.second_high_score[1][4], 25.51, 1e-9);
}

TEST_F(Runner, UnitsScalesAndThePerMinuteTests) {
    prefs.valuelongtest = 1;
    const std::pair<int, std::string> expected[] = {
        {0, "Test 1 done.  Iteration 8 score:  72.4 MBitOperations/sec"},
        {1, "Test 2 done.  Iteration 8 score:  1916.3 Queries/minute"},
        {2, "Test 3 done.  Iteration 8 score:  10.9 MFlop/sec"},
        {3, "Test 4 done.  Iteration 8 score:  62.0 Integrations/sec"},
        {5, "Test 6 done.  Iteration 8 score:  555.6 Analyzations/minute"},
        {6, "Test 7 done.  Iteration 8 score:  115.2 Modulations/sec"},
        {7, "Test 8 done.  Iteration 8 score:  234.2 Factorizations/sec"},
        {8, "Test 9 done.  Iteration 8 score:  218.7 MatrixOps/sec"},
    };
    for (const auto& [fid, line] : expected) {
        Rates(fid, {1, 1, 1, 1, 1, 1, 1, 1});
        double mean = 0;
        ASSERT_EQ(Bench(fid, &mean), 0);
        EXPECT_EQ(report.text_cpu_line.back(), line);
    }
    const std::string minute = report.text_cpu_line[9 + 1];
    EXPECT_EQ(minute, "Test 2; Test iteration #2 of 8. Iteration 1 score:  1916.3 Queries/minute (dropped)");
}

TEST_F(Runner, UniprocessorAndScalingRunsNameTheirProcessors) {
    prefs.valuelongtest = 1;
    Rates(7, {1, 1, 1, 1, 1, 1, 1, 1});
    double mean = 0;
    results.uniprocemulation = 1;
    ASSERT_EQ(Bench(7, &mean, 3), 0);
    EXPECT_EQ(report.text_cpu_line[2], "Test 8; CPU 2 - Test iteration #3 of 8. Iteration 2 score:  234.2 Factorizations/sec");
    EXPECT_EQ(report.text_cpu_line[8], "CPU 2 - Test 8 done.  Iteration 8 score:  234.2 Factorizations/sec");
    results.uniprocemulation = 0;
    run.IDM_SCALING_CHECKED = 1;
    ClearBottomText();
    ASSERT_EQ(Bench(7, &mean, 4), 0);
    EXPECT_EQ(report.text_cpu_line[0], "Test 8; CPU 0 through 3 - Test iteration #1 of 8. ");
    EXPECT_EQ(report.text_cpu_line[8], "CPU 0 through 3 - Test 8 done.  Iteration 8 score:  234.2 Factorizations/sec");
    // The statistics went into the rows asked for.
    EXPECT_NEAR(results.second_low_score[3][7], 234.242, 1e-9);
    EXPECT_NEAR(results.second_low_score[4][7], 234.242, 1e-9);
}

TEST_F(Runner, TheFirstTestStartsTheTitleAtZeroAndTheLastEndsWithDoneTesting) {
    double mean = 0;
    ASSERT_EQ(Bench(0, &mean), 0);
    EXPECT_EQ(host.captions, (Lines{"Performing CPU Analysis - 0% finished", "Performing Advanced Query - 11% finished"}));
    host.captions.clear();
    ASSERT_EQ(Bench(8, &mean), 0);
    EXPECT_EQ(host.captions, Lines{"Done Testing! - 100% finished"});
    prefs.valuelongtest = 1;
    host.captions.clear();
    ASSERT_EQ(Bench(8, &mean), 0);
    EXPECT_EQ(host.captions.back(), "Done Testing! - 100% finished");
}

TEST_F(Runner, AFailedRunEndsTheTestAtOnce) {
    prefs.valuelongtest = 1;
    Rates(2, {1, 1, 1, 1, 1, 1, 1, 1});
    kt::fake_drivers.fail_test = 2;
    kt::fake_drivers.fail_run = 3;
    double mean = -7;
    EXPECT_EQ(Bench(2, &mean), -1);
    EXPECT_EQ(kt::fake_drivers.runs[2], 4);
    EXPECT_EQ(report.text_cpu_line.size(), 4u);  // no closing line
    EXPECT_TRUE(host.sleeps.empty());
    EXPECT_EQ(mean, -7);
    EXPECT_EQ(results.second_high_score[1][2], 0.0);
    EXPECT_EQ(host.captions.size(), 4u);  // no final title
}

TEST_F(Runner, StopAfterARunEndsTheTestAtOnce) {
    kt::fake_drivers.stop_test = 6;
    kt::fake_drivers.stop_run = 0;
    double mean = 0;
    EXPECT_EQ(Bench(6, &mean), -1);
    EXPECT_EQ(kt::fake_drivers.runs[6], 1);
    EXPECT_TRUE(host.captions.empty());
    EXPECT_EQ(host.status.size(), 1u);  // the pane is not cleared either
}

TEST_F(Runner, AMissingDriverCountsAsAFailedRun) {
    funcpointer[5] = nullptr;
    double mean = 0;
    EXPECT_EQ(Bench(5, &mean), -1);
}

TEST_F(Runner, NoIdleSampleUnlessCounterDataAndTheLoadCounterAreWanted) {
    kp::BoxRecorder boxes;
    double mean = 0;
    prefs.perf_counters[0] = 1;
    ASSERT_EQ(Bench(1, &mean), 0);  // counters chosen, counter data not wanted
    prefs.perf_counters[0] = 0;
    prefs.perf_counters[1] = 1;
    prefs.show_perf_data = 1;
    ASSERT_EQ(Bench(1, &mean), 0);  // counter data wanted, load counter not chosen
    EXPECT_TRUE(report.szGreeting.empty());
    EXPECT_EQ(host.sleeps, (std::vector<int>{800, 800}));
    EXPECT_TRUE(boxes.boxes().empty());
}

// The idle-load sample against the stand-in analyser (every average j + 1).
class IdleSample : public Runner {
protected:
    void SetUp() override {
        Runner::SetUp();
        kt::UseStandInAnalyser("answer");
        prefs.show_perf_data = 1;
        prefs.perf_counters[0] = 1;
        prefs.niceness = 2;
        host.main_window = {200, 50, 800, 600};
    }
    void TearDown() override {
        perflink.end_wait_ms = 100;
        EndPerfProcess();
        Runner::TearDown();
    }
    kp::BoxRecorder boxes;
};

TEST_F(IdleSample, SeveralProcessorsShowHalfTheFirstAverage) {
    run.real_num_processors = 4;
    StartPerfProcess();
    double mean = 0;
    ASSERT_EQ(Bench(0, &mean), 0);
    EXPECT_EQ(report.szGreeting, (Lines{"Testing for initial processor loading.  Please wait ...",
                                        "Idle Processor Load:  0.5%", ""}));
    EXPECT_EQ(host.sleeps, (std::vector<int>{8000, 800}));
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(IdleSample, OneProcessorShowsAFifthOfTheFirstAverage) {
    StartPerfProcess();
    double mean = 0;
    ASSERT_EQ(Bench(0, &mean), 0);
    EXPECT_EQ(report.szGreeting, (Lines{"Testing for initial processor loading.  Please wait ...",
                                        "Idle Processor Load:  0.2%", ""}));
    EXPECT_EQ(host.sleeps, (std::vector<int>{6000, 800}));
}

TEST_F(IdleSample, AnAnalyserThatAnswersZerosIsRestartedAndItsReadingShownUnscaled) {
    // No analyser running: every average reads 0.
    run.real_num_processors = 2;
    double mean = 0;
    ASSERT_EQ(Bench(0, &mean), 0);
    EXPECT_EQ(report.szGreeting,
              (Lines{"Testing for initial processor loading.  Please wait ...", "Loadmeter throttled!  Restarting ...",
                     "Idle Processor Load:  1.0%", ""}));
    EXPECT_EQ(host.sleeps, (std::vector<int>{8000, 2000, 800}));
    EXPECT_TRUE(PerfLinkOpen());
    // The new analyser got the settings.
    EXPECT_EQ(pchk.countertime, 800);
    EXPECT_EQ(pchk.indices[0], 400);
    EXPECT_EQ(pchk.indices[1], 800);
    EXPECT_EQ(pchk.indices[2], 50 + 300 + 70);
}

TEST_F(IdleSample, ARestartThatCannotStartTheAnalyserShowsNoReading) {
    // No analyser running (every average reads 0), and none to be had for the restart.
    run.real_num_processors = 2;
    perflink.program_directory = kt::FreshDir("no-analyser");
    double mean = 0;
    ASSERT_EQ(Bench(0, &mean), 0);
    EXPECT_EQ(report.szGreeting, (Lines{"Testing for initial processor loading.  Please wait ...",
                                        "Loadmeter throttled!  Restarting ...", ""}));
    EXPECT_TRUE(perflink.given_up);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "No such file or directory (" + perflink.program_directory + "/loadmeter)");
    EXPECT_EQ(kt::fake_drivers.runs[0], 1);  // the test still ran
}

TEST_F(IdleSample, AStallWhileClosingTheIntervalRestartsAndShowsTheNewReadingAtOnce) {
    setenv("FAKE_LOADMETER_MODE", "stall-once", 1);
    perflink.watch_ms = kt::kStallWatchMs;
    // The pause after the restart: the new stand-in answers.
    host.on_sleep = [](int ms) {
        if (ms == 2000) perflink.watch_ms = kt::kAnswerWatchMs;
    };
    StartPerfProcess();
    double mean = 0;
    ASSERT_EQ(Bench(0, &mean), 0);
    EXPECT_EQ(report.szGreeting,
              (Lines{"Testing for initial processor loading.  Please wait ...", "Loadmeter throttled!  Restarting ...",
                     "Idle Processor Load:  1.0%", ""}));
    EXPECT_EQ(host.sleeps, (std::vector<int>{6000, 2000, 800}));
    EXPECT_EQ(pchk.countertime, 800);
    EXPECT_TRUE(PerfLinkOpen());
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(IdleSample, AnAnalyserThatNeverAnswersIsGivenUpWithoutHanging) {
    setenv("FAKE_LOADMETER_MODE", "stall", 1);
    perflink.watch_ms = kt::kStallWatchMs;
    run.real_num_processors = 2;
    StartPerfProcess();
    const auto start = std::chrono::steady_clock::now();
    double mean = 0;
    ASSERT_EQ(Bench(0, &mean), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_TRUE(perflink.given_up);
    // One restart line, and no reading of an analyser that was given up.
    EXPECT_EQ(std::count(report.szGreeting.begin(), report.szGreeting.end(),
                         "Loadmeter throttled!  Restarting ..."), 1);
    for (const std::string& line : report.szGreeting) EXPECT_EQ(line.find("Idle Processor Load"), std::string::npos);
    EXPECT_EQ(kt::fake_drivers.runs[0], 1);  // the test still ran
}

}  // namespace

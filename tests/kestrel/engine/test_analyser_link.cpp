// The analyser link against a stand-in analyser that answers, stalls, ends at once or breaks.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <filesystem>

#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/run_state.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "shared/perf_link.h"
#include "tests/support/isolation.h"
#include "tests/support/stand_in_analyser.h"
#include "tests/support/recording_host.h"
#include "tests/support/sampled_analyser.h"

namespace {

using Lines = std::vector<std::string>;
const char* kThrottled = "Loadmeter throttled!  Restarting ...";

class AnalyserLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        kp::MarkUiThread();
        report = ReportText{};
        pchk = PerfMonData{};
        kt::UseStandInAnalyser("answer");
        run.real_num_processors = 3;
        args_ = kt::TempDir() + "/args.txt";
    }
    void TearDown() override {
        perflink.end_wait_ms = 100;
        EndPerfProcess();
    }

    void Mode(const char* mode) { setenv("FAKE_LOADMETER_MODE", mode, 1); }
    int Throttled() const { return int(std::count(report.szGreeting.begin(), report.szGreeting.end(), kThrottled)); }

    kt::RecordingHost host;
    kp::BoxRecorder boxes;
    std::string args_;
};

TEST_F(AnalyserLinkTest, StartPassesTokenFlagAndNoFileAndClearsTheScores) {
    Mode("answer");
    for (float& s : pchk.score) s = 9.0f;
    pchk.end = 1;
    StartPerfProcess();
    ASSERT_TRUE(PerfLinkOpen());
    EXPECT_EQ(kt::ReadFile(args_), std::string(kLoadmeterToken) + "\n0\n(null)\n");
    for (float s : pchk.score) EXPECT_EQ(s, 0.0f);
    EXPECT_EQ(pchk.end, 0);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(AnalyserLinkTest, EveryIntervalIsAnsweredWithTheAverages) {
    Mode("answer");
    StartPerfProcess();
    pchk.perfData[2] = 1;
    pchk.countertime = 1200;
    for (int round = 0; round < 2; ++round) {
        pchk.score[0] = 0;
        ASSERT_TRUE(PerfExchange(nullptr));
        EXPECT_EQ(pchk.score[0], 1.0f);
        EXPECT_EQ(pchk.score[5], 6.0f);
        EXPECT_EQ(pchk.cpu_scores_1[2], 50.0f);
        // The request fields come back as the analyser holds them.
        EXPECT_EQ(pchk.numprocessors, 3);
        EXPECT_EQ(pchk.countertime, 1200);
        EXPECT_EQ(pchk.perfData[2], 1);
    }
    EXPECT_EQ(Throttled(), 0);
}

TEST_F(AnalyserLinkTest, StallRestartsTheAnalyserOnce) {
    Mode("stall-once");
    perflink.watch_ms = kt::kStallWatchMs;
    StartPerfProcess();
    int refills = 0;
    ASSERT_TRUE(PerfExchange([&] {
        ++refills;
        pchk.countertime = 800;
        perflink.watch_ms = kt::kAnswerWatchMs;  // the new one answers
    }));
    EXPECT_EQ(Throttled(), 1);
    EXPECT_EQ(refills, 1);
    EXPECT_EQ(host.sleeps, std::vector<int>{2000});
    EXPECT_EQ(pchk.score[0], 1.0f);  // the new analyser answered
    EXPECT_EQ(pchk.countertime, 800);
    EXPECT_TRUE(PerfLinkOpen());
    EXPECT_TRUE(PerfExchange(nullptr));  // and goes on answering
    EXPECT_EQ(Throttled(), 1);
}

TEST_F(AnalyserLinkTest, StallDuringTheRestartGivesTheAnalyserUpForTheRun) {
    Mode("stall");
    perflink.watch_ms = kt::kStallWatchMs;
    StartPerfProcess();
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(PerfExchange(nullptr));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));  // no hang
    EXPECT_EQ(Throttled(), 1);
    EXPECT_FALSE(PerfLinkOpen());
    EXPECT_TRUE(perflink.given_up);
    for (float s : pchk.score) EXPECT_EQ(s, 0.0f);
    // Later samples of the run: nothing started, nothing said.
    StartPerfProcess();
    EXPECT_FALSE(PerfLinkOpen());
    EXPECT_EQ(DoPerfWrite(), 0);
    EXPECT_EQ(DoPerfRead(), 1);
    EXPECT_FALSE(PerfExchange(nullptr));
    EXPECT_EQ(Throttled(), 1);
    EXPECT_TRUE(boxes.boxes().empty());
    AllowPerfRestarts();
    Mode("answer");
    StartPerfProcess();
    EXPECT_TRUE(PerfLinkOpen());
}

// A start that fails shows one box with the system's reason and the program it tried to start,
// and gives the analyser up for the run: later starts (the restarts of the tests) start nothing
// and say nothing.
TEST_F(AnalyserLinkTest, AStartThatFailsGivesTheAnalyserUpAfterOneBoxWithItsReason) {
    const std::string stand_in = perflink.program_directory;
    const std::string not_executable = kt::FreshDir("not-executable");
    chmod(kt::WriteFile(not_executable + "/loadmeter", "#!/bin/sh\nexit 0\n").c_str(), 0644);
    const struct {
        const char* what;
        std::string directory;
        std::string reason;
    } cases[] = {
        {"missing", kt::FreshDir("empty"), "No such file or directory"},
        {"not executable", not_executable, "Permission denied"},
        {"ends at once", stand_in, "Connection refused"},
    };
    Mode("exit");
    perflink.connect_ms = 60000;  // an analyser that ends is not waited for
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        boxes.Clear();
        AllowPerfRestarts();
        std::remove(args_.c_str());
        perflink.program_directory = c.directory;
        const auto start = std::chrono::steady_clock::now();
        StartPerfProcess();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        EXPECT_FALSE(PerfLinkOpen());
        EXPECT_TRUE(perflink.given_up);
        EXPECT_FALSE(perflink.lost);  // nothing was measured that could pass for a reading
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, c.reason + " (" + c.directory + "/loadmeter)");  // the program named
        EXPECT_EQ(boxes.boxes()[0].caption, "Operation Failed");
        EXPECT_EQ(boxes.boxes()[0].icon, kp::Icon::Exclamation);
        EXPECT_EQ(access(kp::SocketPath(kPerfSocketName).c_str(), F_OK), -1);  // socket removed

        // The analyser at hand now would answer: it is not started again in this run.
        perflink.program_directory = stand_in;
        Mode("answer");
        std::remove(args_.c_str());
        StartPerfProcess();
        EXPECT_FALSE(PerfExchange(nullptr));
        EXPECT_FALSE(PerfLinkOpen());
        EXPECT_EQ(access(args_.c_str(), F_OK), -1);
        EXPECT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(Throttled(), 0);
        Mode("exit");
    }
    // The next run may start it.
    AllowPerfRestarts();
    Mode("answer");
    StartPerfProcess();
    EXPECT_TRUE(PerfLinkOpen());
}

TEST_F(AnalyserLinkTest, BrokenConnectionIsReportedOnceAndClosesTheLink) {
    Mode("close-mid");
    StartPerfProcess();
    ASSERT_EQ(DoPerfWrite(), 1);
    EXPECT_EQ(DoPerfRead(), 1);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Connection with Loadmeter was broken!");
    EXPECT_EQ(boxes.boxes()[0].caption, "Broken Pipe Exception");
    EXPECT_EQ(boxes.boxes()[0].icon, kp::Icon::Stop);
    EXPECT_FALSE(PerfLinkOpen());
    EXPECT_FALSE(perflink.hProcessPerf.has_value());
    EXPECT_TRUE(perflink.lost);  // given up for the run: what pchk holds was not read now
    EXPECT_TRUE(perflink.given_up);
    EXPECT_EQ(DoPerfWrite(), 0);
    EXPECT_EQ(DoPerfRead(), 1);
    DoDiskEndCheck();
    EXPECT_EQ(boxes.boxes().size(), 1u);

    // The stop of an analyser that already ended reads nothing: it loses nothing either, so a
    // restart after it may still start one.
    AllowPerfRestarts();
    Mode("die-after-one");
    StartPerfProcess();
    ASSERT_TRUE(PerfExchange(nullptr));
    ASSERT_TRUE(perflink.hProcessPerf->WaitFor(5000));
    DoDiskEndCheck();
    EXPECT_FALSE(perflink.lost);
    EXPECT_FALSE(perflink.given_up);
}

TEST_F(AnalyserLinkTest, StopWaitsForTheAnalyserAndEndsOneThatIgnoresIt) {
    Mode("answer");
    StartPerfProcess();
    ASSERT_TRUE(PerfLinkOpen());
    pid_t pid = perflink.hProcessPerf->pid();
    EXPECT_EQ(DoDiskEndCheck(), 0);
    EXPECT_EQ(pchk.end, 1);
    EXPECT_EQ(pchk.perfData[0], 1);
    EXPECT_FALSE(PerfLinkOpen());
    EXPECT_NE(kill(pid, 0), 0);  // ended and reaped

    Mode("ignore-end");
    perflink.end_wait_ms = 200;
    StartPerfProcess();
    ASSERT_TRUE(PerfLinkOpen());
    pid = perflink.hProcessPerf->pid();
    auto start = std::chrono::steady_clock::now();
    DoDiskEndCheck();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_NE(kill(pid, 0), 0);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(AnalyserLinkTest, CounterReaderWithoutTheLibrary) {
    perflink.program_directory = kt::FreshDir("nolib");
    int selector = 3;
    EXPECT_EQ(getperfdata(&selector), -1);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text,
              "Library file kestest.dll failed to load (if condition persists, reinstall the file).");
    EXPECT_EQ(boxes.boxes()[0].caption, "Library Exception");
}

TEST_F(AnalyserLinkTest, CounterReaderWithALibraryLackingTheEntryPoints) {
    std::string dir = kt::FreshDir("badlib");
    std::filesystem::copy_file(kp::ProgramDirectory() + "/libforward_lib.so", dir + "/libkestest.so");
    perflink.program_directory = dir;
    int selector = 0;
    EXPECT_EQ(getperfdata(&selector), -1);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Library functions failed to load at Perf_id");
}

TEST_F(AnalyserLinkTest, TheRealAnalyserAnswersIntervalsAndEndsOnStop) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);  // the analyser shows no window here
    const kt::SampledAnalyser sampled(LOADMETER_PATH, SAMPLE_TALLY_KESCHK);
    perflink.program_directory = sampled.directory();
    perflink.watch_ms = 5000;
    run.real_num_processors = 2;
    pchk.countertime = 50;
    pchk.show_graphs = 0;
    pchk.perfData[0] = 1;  // % CPU
    pchk.perfData[2] = 1;  // context switches
    StartPerfProcess();
    ASSERT_TRUE(PerfLinkOpen());
    for (int interval = 0; interval < 2; ++interval) {
        // The interval has a sample in which the machine switched contexts.
        ASSERT_TRUE(sampled.Sampled(sampled.Mark(), "Context Switches/sec", true));
        ASSERT_TRUE(PerfExchange(nullptr));
        for (int p = 0; p < 2; ++p) {
            EXPECT_GE(pchk.cpu_scores_1[p], 0.0f);
            EXPECT_LE(pchk.cpu_scores_1[p], 100.0f);
        }
        EXPECT_GE(pchk.score[0], 0.0f);
        EXPECT_LE(pchk.score[0], 100.0f);
        EXPECT_GT(pchk.score[2], 0.0f);  // the machine switches contexts all the time
    }
    EXPECT_EQ(Throttled(), 0);
    kp::ChildProcess* analyser = &*perflink.hProcessPerf;
    pid_t pid = analyser->pid();
    perflink.end_wait_ms = 10000;
    auto start = std::chrono::steady_clock::now();
    DoDiskEndCheck();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(9));  // it ended by itself
    EXPECT_NE(kill(pid, 0), 0);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(AnalyserLinkTest, CounterReaderReadsWideValuesThroughTheLibrary) {
    perflink.program_directory = COUNTER_LIBRARY_DIR;
    std::string proc = kt::FreshDir("proc");
    kt::WriteFile(proc + "/meminfo",
                  "MemTotal:       25000000 kB\nMemFree:         1000000 kB\n"
                  "MemAvailable:    6000000 kB\nBuffers:          100000 kB\n"
                  "Cached:          2000000 kB\nShmem:            50000 kB\nSReclaimable:     30000 kB\n");
    setenv("KESTREL_PROC_ROOT", proc.c_str(), 1);
    int selector = 3;
    EXPECT_EQ(getperfdata(&selector), int64_t(6000000) * 1024);  // above 4 GiB, whole
    selector = 1;
    EXPECT_EQ(getperfdata(&selector), int64_t(2100000 - 50000) * 1024);
    selector = 5;
    EXPECT_EQ(getperfdata(&selector), 0);
    selector = -1;
    EXPECT_EQ(getperfdata(&selector), 0);
    unsetenv("KESTREL_PROC_ROOT");
    EXPECT_TRUE(boxes.boxes().empty());
}

}  // namespace

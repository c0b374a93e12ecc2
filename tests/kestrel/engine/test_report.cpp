// The report lines, the bottom-text buffer and loading a benchmark file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "kestrel/engine/run/commands.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "platform/msgbox.h"
#include "platform/ui_thread.h"
#include "platform/registry.h"
#include "tests/support/isolation.h"
#include "tests/support/recording_host.h"

namespace {

using Lines = std::vector<std::string>;

struct Captured {
    std::string text;
    static Captured* current;
};
Captured* Captured::current = nullptr;
void CaptureReader(std::string* text) { Captured::current->text = *text; }

class ReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        kp::MarkUiThread();
        report = ReportText{};
        run.testrunning = 0;
        Captured::current = &captured;
        SetReportReader(&CaptureReader);
    }
    void TearDown() override {
        SetReportReader(nullptr);
        CloseReportFile();
    }
    kt::RecordingHost host;
    kp::BoxRecorder boxes;
    Captured captured;
};

TEST_F(ReportTest, AppendingKeepsOrderCountAndRepaints) {
    passtring("one");
    output_string("two");
    EXPECT_EQ(report.szGreeting, (Lines{"one", "two"}));
    EXPECT_EQ(report.num, 2);
    EXPECT_EQ(host.appended, 2);
    EXPECT_EQ(host.appended_while_running, 0);
    run.testrunning = 1;
    passtring("three");
    run.testrunning = 0;
    EXPECT_EQ(host.appended_while_running, 1);
}

TEST_F(ReportTest, ClearingResetsCountHeaderAndPosition) {
    passtring("a");
    passtring("b");
    report.headernum = 5;
    report.y = 300;
    ClearReportLines();
    EXPECT_TRUE(report.szGreeting.empty());
    EXPECT_EQ(report.num, 0);
    EXPECT_EQ(report.headernum, 0);
    EXPECT_EQ(report.y, 0);
    EXPECT_EQ(host.cleared, 1);
}

TEST_F(ReportTest, BottomTextGrowsInPlace) {
    output_bottomtext_buffer("Iteration 1");
    output_bottomtext_buffer("Iteration 2");
    strcat_bottomtext_buffer(": 12.5", 1);
    strcat_bottomtext_buffer("ignored", 2);
    strcat_bottomtext_buffer("ignored", -1);
    EXPECT_EQ(report.text_cpu_line, (Lines{"Iteration 1", "Iteration 2: 12.5"}));
    EXPECT_EQ(report.num_text_lines, 2);
    EXPECT_EQ(host.appended, 0);  // the bottom text repaints nothing
    ClearBottomText();
    EXPECT_EQ(report.num_text_lines, 0);
    EXPECT_TRUE(report.text_cpu_line.empty());
}

TEST_F(ReportTest, LinesFromWorkersAreQueuedInOrder) {
    passtring("before");
    std::thread t([] {
        for (int i = 0; i < 50; ++i) passtring("worker " + std::to_string(i));
    });
    t.join();
    EXPECT_EQ(report.num, 1);  // nothing touched from the worker
    kp::RunDeferredUiActions();
    ASSERT_EQ(report.num, 51);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(report.szGreeting[size_t(i + 1)], "worker " + std::to_string(i));
}

TEST_F(ReportTest, OpenLineFileLoadsLinesAndHandsTheWholeTextToTheReader) {
    const std::string text = "Kestrel version 1.21\r\nScore: 5\r\n\r\nno line feed";
    report.FileName = kt::WriteFile(kt::TempDir() + "/run.bmf", text);
    passtring("old line");
    report.isnew = 1;
    ASSERT_EQ(OpenLineFile(), 0);
    EXPECT_EQ(report.szGreeting, (Lines{"Kestrel version 1.21", "Score: 5", "", "no line feed"}));
    EXPECT_EQ(report.num, 4);
    EXPECT_EQ(report.isnew, 0);
    EXPECT_EQ(report.headernum, 0);
    EXPECT_EQ(captured.text, text);
    EXPECT_EQ(report.CurrentFile, report.FileName);
    EXPECT_EQ(host.title, report.FileName);
    ASSERT_GE(report.theFile, 0);
    EXPECT_EQ(fcntl(report.theFile, F_GETFL) & O_ACCMODE, O_RDONLY);  // shown, never written
    EXPECT_FALSE(host.commands.at(CMD_SAVE));
    EXPECT_TRUE(host.commands.at(CMD_SAVE_AS));
    EXPECT_TRUE(host.commands.at(CMD_PRINT));
    EXPECT_TRUE(host.commands.at(CMD_MAIL));
    EXPECT_TRUE(host.commands.at(CMD_CLOSE));
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(ReportTest, OpenLineFileOfAnEmptyFile) {
    report.FileName = kt::WriteFile(kt::TempDir() + "/empty.bmf", "");
    captured.text = "untouched";
    ASSERT_EQ(OpenLineFile(), 0);
    EXPECT_EQ(report.num, 0);
    EXPECT_EQ(captured.text, "");
}

TEST_F(ReportTest, OpenLineFileOfAMissingFileKeepsThePreviousLines) {
    passtring("kept");
    report.FileName = kt::TempDir() + "/does-not-exist.bmf";
    EXPECT_EQ(OpenLineFile(), 1);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Could not open the file.");
    EXPECT_EQ(boxes.boxes()[0].caption, "File Exception");
    EXPECT_EQ(boxes.boxes()[0].icon, kp::Icon::Exclamation);
    EXPECT_EQ(report.szGreeting, Lines{"kept"});
    EXPECT_EQ(report.CurrentFile, "Kestrel - System Level Benchmark");
}

TEST_F(ReportTest, OpenLineFileRefusesADirectory) {
    report.FileName = kt::FreshDir("adir");
    EXPECT_EQ(OpenLineFile(), 1);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Could not open the file.");
}

TEST_F(ReportTest, OpenLineFileShowsAReadOnlyFileAndOpensForReadingOnly) {
    report.FileName = kt::WriteFile(kt::TempDir() + "/ro.bmf", "Memory Score: 3\n");
    chmod(report.FileName.c_str(), 0444);
    EXPECT_EQ(OpenLineFile(), 0);
    EXPECT_EQ(report.szGreeting, Lines{"Memory Score: 3"});
    ASSERT_GE(report.theFile, 0);
    EXPECT_EQ(fcntl(report.theFile, F_GETFL) & O_ACCMODE, O_RDONLY);
}

TEST_F(ReportTest, OpenLineFileReloadsThePreferencesAndTakesTheirMemoryLevel) {
    prefs.memory_load_value = 4;
    results.last_memory_load_value = 0;
    report.FileName = kt::WriteFile(kt::TempDir() + "/lvl.bmf", "x\n");
    // Nothing stored: the level the program has.
    ASSERT_EQ(OpenLineFile(), 0);
    EXPECT_EQ(results.last_memory_load_value, 4);
    // Stored: the stored one.
    auto key = kp::reg::Key::Create(kp::reg::Root::CurrentUser, kMainKey);
    ASSERT_TRUE(key.has_value());
    ASSERT_TRUE(key->SetDword("Memory Load", 6));
    ASSERT_EQ(OpenLineFile(), 0);
    EXPECT_EQ(prefs.memory_load_value, 6);
    EXPECT_EQ(results.last_memory_load_value, 6);
    prefs = Preferences{};
}

}  // namespace

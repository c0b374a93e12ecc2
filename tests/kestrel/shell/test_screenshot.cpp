// The main window on a real X display (run under xvfb-run): short runs, then pictures of the
// window in build/screenshots (kestrel-main.png, kestrel-user-run.png) for a person to look at.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/report/benchmark_reader.h"
#include "kestrel/engine/run/commands.h"
#include "kestrel/engine/disk/disk_drives.h"
#include "kestrel/engine/disk/disk_io.h"
#include "kestrel/engine/disk/disk_test.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/engine/processor/funcpointer.h"
#include "kestrel/engine/processor/workers.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/video_test.h"
#include "kestrel/shell/graph_windows.h"
#include "kestrel/shell/main_window.h"
#include "kestrel/shell/panes.h"
#include "platform/msgbox.h"
#include "shared/ui/scroller.h"
#include "tests/kestrel/shell/shell_test_support.h"
#include "tests/support/qt_test_main.h"

namespace {

// Runs of every part cut short, with the counter library beside the program.
void UseShortRunsBesideTheProgram() {
    InstallBenchmarkReader();
    perflink.program_directory = KESTREL_BIN_DIR;
    measuring_times.driver_seconds = 0.01;
    measuring_times.flops_scale = 0.001;
    disk_run_lengths.short_run = 2;
}

TEST(Screenshot, MainWindowAfterAShortRun) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs an X display (xvfb-run -a)";
    InstallBenchmarkReader();
    perflink.program_directory = KESTREL_BIN_DIR;  // the counter library beside the program
    MainWindow w;
    w.Init("");
    ASSERT_TRUE(kt::Until([&] { return w.StartupDone(); }));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.Action(CMD_MEMORY_TEST)->trigger();
    w.Action(CMD_NEW_TEST)->trigger();
    ASSERT_EQ(run.testrunning, 0);
    ASSERT_EQ(run.test_interrupted, 0);  // the memory test ran to its score
    // The end of the run opens the totals graph over the window: the picture is of the window,
    // as the screen shows it once it shows what the window draws.
    if (prefs.graphvalue == 1 || prefs.graphvalue == 2) {
        ASSERT_TRUE(kt::Until([] { return TotalsGraphWindow() != nullptr; }));
    }
    CloseGraphWindows();
    const QImage shot = kt::ShownPicture(&w);
    EXPECT_EQ(shot.convertToFormat(QImage::Format_RGB32), w.grab().toImage().convertToFormat(QImage::Format_RGB32))
        << "the screen never showed what the window draws";
    ASSERT_TRUE(QDir().mkpath(QStringLiteral(SCREENSHOT_DIR)));
    ASSERT_TRUE(shot.save(QStringLiteral(SCREENSHOT_DIR "/kestrel-main.png")));

    EXPECT_EQ(shot.size(), w.size() * w.devicePixelRatio());
    QSet<QRgb> colours;
    for (int y = 0; y < shot.height(); y += 3) {
        for (int x = 0; x < shot.width(); x += 3) colours.insert(shot.pixel(x, y));
    }
    EXPECT_GT(colours.size(), 8);

    // The run's last line with text is in view, and inked in the picture.
    int last = report.num - 1;
    while (last > report.headernum && report.szGreeting[size_t(last)].find_first_not_of(' ') == std::string::npos) --last;
    ASSERT_GT(last, report.headernum);
    ReportPane* pane = w.Report();
    const int top = pane->LineTop(last);
    ASSERT_GE(top, 0);
    ASSERT_LE(top + pane->nYChar, pane->viewport()->height());
    const QPoint at = pane->viewport()->mapTo(&w, QPoint(0, top)) * w.devicePixelRatio();
    const QRgb base = pane->palette().base().color().rgb();
    int inked = 0;
    for (int y = at.y(); y < at.y() + pane->nYChar; ++y) {
        for (int x = at.x(); x < at.x() + pane->viewport()->width(); ++x) inked += shot.pixel(x, y) != base ? 1 : 0;
    }
    EXPECT_GT(inked, 10) << "line " << last << ": " << report.szGreeting[size_t(last)];
}

// An ordinary user's first run with the default settings: processor (short), memory and disk
// on the drive that holds the home directory, whose mount point this user may not write. Run as
// root, the injected writability check stands for the ordinary user: only the user's own folders.
TEST(Screenshot, AnOrdinaryUsersRunWithTheDefaultSettings) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs an X display (xvfb-run -a)";
    const std::string home = std::getenv("HOME");
    const char* tmp = std::getenv("TMPDIR");
    const std::string temp = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    if (geteuid() == 0) {
        SetWritableCheck([home, temp](const std::string& dir) { return dir.rfind(home, 0) == 0 || dir.rfind(temp, 0) == 0; });
    }
    UseShortRunsBesideTheProgram();
    kp::BoxRecorder boxes;

    MainWindow w;
    w.Init("");
    ASSERT_TRUE(kt::Until([&] { return w.StartupDone(); }));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    // The drive that holds the home directory, alone.
    const MountTable table = ReadMountTable();
    int home_drive = -1;
    for (int k = 0; k < globaldrives && home_drive < 0; ++k) {
        if (OnDriveFileSystem(table, home, drivemenu.globaldrivechar[k])) home_drive = k;
    }
    if (home_drive < 0) GTEST_SKIP() << "the home directory " << home << " is on no drive of the disk test (a RAM file system?)";
    for (int k = 0; k < globaldrives; ++k) {
        if ((drivemenu.DRIVECHOSEN[k] != 0) != (k == home_drive)) w.Action(CMD_FIRST_DRIVE + k)->trigger();
    }
    for (int command : {CMD_CPU_TEST, CMD_MEMORY_TEST, CMD_DISK_TEST}) w.Action(command)->trigger();
    ASSERT_EQ(run.TestValue, 10u);  // processor, memory and disk

    w.Action(CMD_NEW_TEST)->trigger();
    ASSERT_EQ(run.testrunning, 0);
    EXPECT_EQ(run.test_interrupted, 0);
    EXPECT_EQ(w.Report()->Caption(), QStringLiteral("Your Scores!"));
    const auto& lines = report.szGreeting;
    const auto has = [&](const std::string& start) {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
    };
    EXPECT_TRUE(has("Total Processor Score: "));
    EXPECT_TRUE(has("Total Memory Score:  "));
    EXPECT_TRUE(has("Total Disk Score:  "));
    EXPECT_FALSE(has("Test Aborted!"));
    for (const auto& box : boxes.boxes()) ADD_FAILURE() << box.caption << ": " << box.text;
    kt::Settle(300);

    const QImage shot = w.screen()->grabWindow(w.winId()).toImage();
    ASSERT_TRUE(QDir().mkpath(QStringLiteral(SCREENSHOT_DIR)));
    ASSERT_TRUE(shot.save(QStringLiteral(SCREENSHOT_DIR "/kestrel-user-run.png")));
    SetWritableCheck(nullptr);
}

// A run of all four parts with the video test program beside the main program: the video part
// runs `lumen` in its 800 x 600 window, and the saved report reads back with every total.
TEST(Screenshot, AllFourPartsWithTheVideoTestSavedAndReadBack) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs an X display (xvfb-run -a)";
    UseShortRunsBesideTheProgram();
    videolink.program_directory = KESTREL_BIN_DIR;  // lumen beside the program
    kp::BoxRecorder boxes;

    MainWindow w;
    w.Init("");
    ASSERT_TRUE(kt::Until([&] { return w.StartupDone(); }));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    // The drive of the temporary folder alone.
    const char* tmp = std::getenv("TMPDIR");
    const std::string temp = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    const MountTable table = ReadMountTable();
    int drive = -1;
    for (int k = 0; k < globaldrives && drive < 0; ++k) {
        if (OnDriveFileSystem(table, temp, drivemenu.globaldrivechar[k])) drive = k;
    }
    if (drive < 0) GTEST_SKIP() << "the temporary folder is on no drive of the disk test";
    for (int k = 0; k < globaldrives; ++k) {
        if ((drivemenu.DRIVECHOSEN[k] != 0) != (k == drive)) w.Action(CMD_FIRST_DRIVE + k)->trigger();
    }
    if (geteuid() == 0) SetWritableCheck([temp](const std::string& dir) { return dir.rfind(temp, 0) == 0; });
    prefs.laptop_settings_on = 1;
    w.Action(CMD_ALL_TESTS)->trigger();
    ASSERT_EQ(run.TestValue, 0u);

    w.Action(CMD_NEW_TEST)->trigger();
    ASSERT_EQ(run.testrunning, 0);
    EXPECT_EQ(run.test_interrupted, 0);
    for (const auto& box : boxes.boxes()) ADD_FAILURE() << box.caption << ": " << box.text;
    const auto& lines = report.szGreeting;
    const auto has = [&](const std::string& start) {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
    };
    EXPECT_TRUE(has("Total Processor Score: "));
    EXPECT_TRUE(has("Total Memory Score:  "));
    EXPECT_TRUE(has("Total Disk Score:  "));
    EXPECT_TRUE(has("Video Test Resolution:  800x600"));
    EXPECT_TRUE(has("test 8.) Fractal Draw Test:  "));
    EXPECT_TRUE(has("Total Video Score:  "));
    EXPECT_FALSE(has("Test aborted"));
    const int32_t video = results.TotalVideo;
    const int32_t memory = results.TotalMemory;
    EXPECT_GT(video, 0);

    // Saved as the program saves it (CR LF lines), and read back into an empty store.
    std::string file;
    for (const std::string& l : lines) file += l + "\r\n";
    SetDefaults();
    ASSERT_EQ(results.TotalVideo, 0);
    DoDataSearch(file.data(), file.size());
    EXPECT_EQ(results.TotalVideo, video);
    EXPECT_EQ(results.TotalMemory, memory);
    SetWritableCheck(nullptr);
}

// A scaling run's progress window during its second pass, taken from inside the pass's third
// test: the bar starts again (the first two tests' share filled), and its picture goes to
// build/screenshots/scaling-progress.png.
DriverFn g_first_test = nullptr;
DriverFn g_third_test = nullptr;
int g_passes = 0;
QImage g_second_pass;
QRect g_second_pass_client;  // the bar's client area in the picture
double g_second_pass_fraction = 0.0;
MainWindow* g_window = nullptr;

int FirstTestCountingPasses() {
    ++g_passes;
    return g_first_test();
}

int ThirdTestTakingThePicture() {
    if (g_passes == 2 && g_second_pass.isNull() && g_window->Progress() != nullptr) {
        Scroller* bar = g_window->Progress();
        g_second_pass_fraction = bar->percent();
        g_second_pass = kt::ShownPicture(bar);
        g_second_pass_client = bar->ClientRect();
    }
    return g_third_test();
}

TEST(Screenshot, ScalingRunProgressWindowOnItsSecondPass) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs an X display (xvfb-run -a)";
    UseShortRunsBesideTheProgram();
    kp::BoxRecorder boxes;
    MainWindow w;
    g_window = &w;
    w.Init("");
    ASSERT_TRUE(kt::Until([&] { return w.StartupDone(); }));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    if (run.real_num_processors < 2) GTEST_SKIP() << "a scaling run needs two processors";
    w.Action(CMD_CPU_TEST)->trigger();
    ASSERT_EQ(run.TestValue, 1u);
    prefs.stepwise_scaling = 0;  // two passes: one processor, then all
    w.Command(CMD_SCALING);
    ASSERT_EQ(run.IDM_SCALING_CHECKED, 1);
    g_first_test = funcpointer[0];
    g_third_test = funcpointer[2];
    funcpointer[0] = &FirstTestCountingPasses;
    funcpointer[2] = &ThirdTestTakingThePicture;
    w.Action(CMD_NEW_TEST)->trigger();
    funcpointer[0] = g_first_test;
    funcpointer[2] = g_third_test;
    ASSERT_EQ(run.test_interrupted, 0);
    EXPECT_EQ(g_passes, 2);
    for (const auto& box : boxes.boxes()) ADD_FAILURE() << box.caption << ": " << box.text;
    ASSERT_FALSE(g_second_pass.isNull());
    ASSERT_TRUE(QDir().mkpath(QStringLiteral(SCREENSHOT_DIR)));
    ASSERT_TRUE(g_second_pass.save(QStringLiteral(SCREENSHOT_DIR "/scaling-progress.png")));
    // Two of the nine tests done: the bar's right part is still empty (white).
    EXPECT_NEAR(g_second_pass_fraction, 2.0 / 9.0, 1e-6);
    const QRect bar =
        ScrollerLayout(QRect(QPoint(0, 0), g_second_pass_client.size()), 0.0).bar.translated(g_second_pass_client.topLeft());
    EXPECT_EQ(g_second_pass.pixel(bar.left() + bar.width() * 9 / 10, bar.center().y()), qRgb(255, 255, 255));
}

}  // namespace

int main(int argc, char** argv) {
    // Without a display the test is skipped rather than the program refused.
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return kt::RunQtTests(argc, argv);
}

// The main window on a real X display (run under xvfb-run): a short run, then a picture of the
// window in build/screenshots/kestrel-main.png for a person to look at as well.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <cstdlib>

#include "kestrel/engine/analyser_link.h"
#include "kestrel/engine/benchmark_reader.h"
#include "kestrel/engine/commands.h"
#include "kestrel/engine/report.h"
#include "kestrel/engine/run_state.h"
#include "kestrel/shell/main_window.h"
#include "kestrel/shell/panes.h"
#include "tests/kestrel/shell/shell_test_support.h"
#include "tests/support/qt_test_main.h"

namespace {

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
    kt::Settle(300);

    const QImage shot = w.screen()->grabWindow(w.winId()).toImage();
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

}  // namespace

int main(int argc, char** argv) {
    // Without a display the test is skipped rather than the program refused.
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return kt::RunQtTests(argc, argv);
}

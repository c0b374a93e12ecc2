// The windows with a caption only, on a real X display with a window manager (run under xvfb-run;
// the manager is started here): the analyser's counter windows and the progress window. The
// manager draws no frame around them, so they show no close, minimise or maximise box, and a
// picture of them goes to build/screenshots/counter-windows.png for a person to look at.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QStyle>
#include <QTest>
#include <cstdlib>

#include "counters/loadmeter/counter_window.h"
#include "platform/ui_thread.h"
#include "shared/ui/scroller.h"
#include "tests/support/qt_test_main.h"
#include "tests/support/window_manager.h"

namespace {

void Settle(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// The six quantities on the strip of an 800-pixel main window at (100, 100), the values as
// wide as a window keeps room for; below them the interrupts of eight processors, and below
// those a progress window in the middle of a test. A close request leaves each one shown.
TEST(CaptionWindowsOnScreen, CounterAndProgressWindowsNoFrameNoCloseButtonCaptionsAndValuesWhole) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs an X display (xvfb-run -a)";
    if (kt::WindowManager().empty()) GTEST_SKIP() << "no window manager (scripts/deps installs openbox)";
    std::optional<kp::ChildProcess> wm = kt::StartWindowManager();
    ASSERT_TRUE(wm.has_value()) << "no window manager took a window";

    const int h = WindowHeight(qApp->style()->pixelMetric(QStyle::PM_TitleBarButtonSize));
    PerfMonData all{};
    all.indices[0] = 100 + 800 / 4;
    all.indices[1] = all.indices[0] + 800 / 2;
    all.indices[2] = 100 + 300 + 70;
    std::fill(std::begin(all.perfData), std::end(all.perfData), 1);
    PerfMonData interrupts = all;
    std::fill(std::begin(interrupts.perfData), std::end(interrupts.perfData), 0);
    interrupts.perfData[kInterrupts] = 1;
    interrupts.indices[2] = all.indices[2] + 3 * h;

    QtAnalyserHost host;
    std::vector<CounterPlace> places;
    for (const auto& [record, n] : {std::pair{all, 4}, std::pair{interrupts, 8}}) {
        const auto laid = LayoutCounterWindows(record, n, h, [&](const CounterPlace& p) { return host.CounterWindowWidth(p); });
        places.insert(places.end(), laid.begin(), laid.end());
    }
    ASSERT_TRUE(host.CreateCounterWindows(places));
    QRect shown;
    for (size_t i = 0; i < places.size(); ++i) {
        host.ShowCounterText(int(i), WidestCounterTexts(places[i]).back());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(host.windows()[i]));
    }
    for (const CounterWindow* w : host.windows()) shown |= w->geometry();
    // Placed as the main program places it: its client area a quarter in, half as wide.
    Scroller progress(QStringLiteral("Memory Test - 40% finished"), false);
    progress.setGeometry(progress.WindowRectFor(QRect(100 + 800 / 4, shown.bottom() + 40, 800 / 2, 70)));
    progress.show();
    progress.SetPercent(0.4);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&progress));
    Settle(500);
    for (size_t i = 0; i < places.size(); ++i) {
        CounterWindow* w = host.windows()[i];
        SCOPED_TRACE(w->windowTitle().toStdString());
        EXPECT_GE(w->width(), CounterWindow::MinimumWidth(places[i]));
        for (size_t j = 0; j < i; ++j) EXPECT_FALSE(w->geometry().intersects(host.windows()[j]->geometry())) << j;
    }
    std::vector<QWidget*> windows(host.windows().begin(), host.windows().end());
    windows.push_back(&progress);
    for (QWidget* w : windows) {
        SCOPED_TRACE(w->windowTitle().toStdString());
        EXPECT_EQ(w->frameGeometry(), w->geometry());  // no frame, so no close, minimise or maximise box
        EXPECT_GE(w->width(), CaptionWindow::CaptionWidth(w->windowTitle()));
        EXPECT_FALSE(w->close());
        EXPECT_TRUE(w->isVisible());
    }
    shown |= progress.geometry();
    const QRect area = shown.adjusted(-20, -20, 20, 20);
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
    ASSERT_TRUE(QDir().mkpath(QStringLiteral(SCREENSHOT_DIR)));
    ASSERT_TRUE(shot.save(QStringLiteral(SCREENSHOT_DIR "/counter-windows.png")));
    host.DestroyCounterWindows();
}

}  // namespace

int main(int argc, char** argv) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') setenv("QT_QPA_PLATFORM", "offscreen", 1);
    kp::MarkUiThread();
    return kt::RunQtTests(argc, argv);
}

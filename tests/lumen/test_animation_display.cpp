// The animation and window invocation tests on a real X display (run under xvfb-run): a picture
// of the main window with the test's windows in it, kept in build/screenshots for a person to
// look at. The animation's is taken when its timed run is over; the window invocation's when all
// 100 windows exist (they live only inside its timed body).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QWidget>

#include "lumen/lumen_state.h"
#include "lumen/video_tests.h"
#include "lumen/windows.h"
#include "tests/support/qt_test_main.h"

namespace lumen {
namespace {

void RunAndTakeAPicture(const char* test, const char* file) {
    QImage shot;
    QSize window_size;
    VideoTestSettings s;
    s.processors = 2;
    s.before = [] { ASSERT_TRUE(QTest::qWaitForWindowExposed(hwndParent->widget())); };
    s.at_end = [&] {
        QWidget* w = hwndParent->widget();
        QCoreApplication::processEvents();
        QTest::qWait(100);
        shot = w->screen()->grabWindow(w->winId()).toImage();
        window_size = w->size() * w->devicePixelRatio();
    };
    const VideoTestOutcome out = RunVideoTestForTest(test, s);
    ASSERT_TRUE(out.finished_in_time);
    EXPECT_GT(out.ms, 0.0);
    ASSERT_FALSE(shot.isNull());
    ASSERT_TRUE(QDir().mkpath(QStringLiteral(SCREENSHOT_DIR)));
    ASSERT_TRUE(shot.save(QStringLiteral(SCREENSHOT_DIR "/") + QLatin1String(file)));
    EXPECT_EQ(shot.size(), window_size);
    EXPECT_EQ(window_size, QSize(crectlaptop.Width(), crectlaptop.Height()));
    QSet<QRgb> colours;
    for (int y = 0; y < shot.height(); y += 3) {
        for (int x = 0; x < shot.width(); x += 3) colours.insert(shot.pixel(x, y));
    }
    EXPECT_GE(colours.size(), 3) << file;
}

TEST(AnimationDisplay, AnimationPicture) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs an X display (xvfb-run -a)";
    RunAndTakeAPicture("AnimationDraw", "lumen-animation.png");
}

TEST(AnimationDisplay, WindowInvocationPicture) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs an X display (xvfb-run -a)";
    RunAndTakeAPicture("WindowDraw", "lumen-window-invocation.png");
}

}  // namespace
}  // namespace lumen

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }

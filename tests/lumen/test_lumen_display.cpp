// The figure drawing and line/arc tests on a real X display (run under xvfb-run): a picture of
// the window each test drew, taken when its timed runs are over, kept in build/screenshots for a
// person to look at.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

#include "lumen/lumen_state.h"
#include "lumen/video_tests.h"
#include "lumen/windows.h"
#include "shared/gdi/present.h"
#include "tests/support/qt_test_main.h"
#include "tests/support/shown_picture.h"

namespace lumen {
namespace {

// Calls `painted` after each paint event of a widget.
class PaintWatcher : public QObject {
public:
    PaintWatcher(QWidget* w, std::function<void()> painted) : painted_(std::move(painted)) {
        w->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) painted_();
        return false;
    }

private:
    std::function<void()> painted_;
};

// Takes a picture each time the test's timed runs end (a test of two halves gives two), saved as
// `file` ("name.png"), or name-1.png, name-2.png ... for several.
void RunAndTakeAPicture(const char* test, const char* file, int pictures = 1, int min_colours = 9) {
    std::vector<QImage> shots;
    QSize window_size;
    VideoTestSettings s;
    s.processors = 2;
    s.before = [] { ASSERT_TRUE(QTest::qWaitForWindowExposed(hwndParent->widget())); };
    s.at_end = [&] {
        QWidget* w = hwndParent->widget();
        shots.push_back(kt::ShownPicture(w));
        window_size = w->size() * w->devicePixelRatio();
    };
    const VideoTestOutcome out = RunVideoTestForTest(test, s);
    ASSERT_TRUE(out.finished_in_time);
    EXPECT_GT(out.ms, 0.0);
    ASSERT_EQ(int(shots.size()), pictures);
    ASSERT_TRUE(QDir().mkpath(QStringLiteral(SCREENSHOT_DIR)));
    for (size_t i = 0; i < shots.size(); ++i) {
        const QImage& shot = shots[i];
        ASSERT_FALSE(shot.isNull());
        QString name = QLatin1String(file);
        if (pictures > 1) name.replace(QStringLiteral(".png"), QStringLiteral("-%1.png").arg(i + 1));
        ASSERT_TRUE(shot.save(QStringLiteral(SCREENSHOT_DIR "/") + name));
        EXPECT_EQ(shot.size(), window_size);
        EXPECT_EQ(window_size, QSize(crectlaptop.Width(), crectlaptop.Height()));
        QSet<QRgb> colours;
        for (int y = 0; y < shot.height(); y += 3) {
            for (int x = 0; x < shot.width(); x += 3) colours.insert(shot.pixel(x, y));
        }
        EXPECT_GE(colours.size(), min_colours) << name.toStdString();
    }
}

TEST(LumenDisplay, FigureDrawingPicture) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs an X display (xvfb-run -a)";
    RunAndTakeAPicture("FigureDraw", "lumen-figure-drawing.png");
}

TEST(LumenDisplay, LineArcDrawingPicture) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs an X display (xvfb-run -a)";
    RunAndTakeAPicture("LineArcDraw", "lumen-line-arc-drawing.png");
}

TEST(LumenDisplay, FontScrollingPicture) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs an X display (xvfb-run -a)";
    RunAndTakeAPicture("FontScrollDraw", "lumen-font-scrolling.png");
}

// The bitmap test erases the main window after each picture, so its pictures are taken while it
// runs: after every showing of the main window's picture, the one with the most colours is kept.
TEST(LumenDisplay, BitmapPicture) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs an X display (xvfb-run -a)";
    QImage best;
    int best_colours = 0;
    QSize window_size;
    std::unique_ptr<QObject> filter;
    VideoTestSettings s;
    auto colours_of = [](const QImage& shot) {
        QSet<QRgb> colours;
        for (int y = 0; y < shot.height(); y += 3) {
            for (int x = 0; x < shot.width(); x += 3) colours.insert(shot.pixel(x, y));
        }
        return int(colours.size());
    };
    auto take = [&] {
        QWidget* w = hwndParent->widget();
        const QImage shot = w->screen()->grabWindow(w->winId()).toImage();
        window_size = w->size() * w->devicePixelRatio();
        const int n = colours_of(shot);
        if (n > best_colours) {
            best_colours = n;
            best = shot;
        }
    };
    s.before = [&] {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(hwndParent->widget()));
        auto* surface_widget = hwndParent->widget()->findChild<gdi::SurfaceWidget*>();
        ASSERT_NE(surface_widget, nullptr);
        // Each painting of the picture is followed by a grab, before the test's next call.
        filter.reset(new PaintWatcher(surface_widget, [&] { QTimer::singleShot(0, take); }));
    };
    s.at_end = [&] { filter.reset(); };
    const VideoTestOutcome out = RunVideoTestForTest("BMPDraw", s);
    ASSERT_TRUE(out.finished_in_time);
    EXPECT_GT(out.ms, 0.0);
    ASSERT_FALSE(best.isNull());
    ASSERT_TRUE(QDir().mkpath(QStringLiteral(SCREENSHOT_DIR)));
    ASSERT_TRUE(best.save(QStringLiteral(SCREENSHOT_DIR "/lumen-bmp-drawing.png")));
    EXPECT_EQ(best.size(), window_size);
    EXPECT_EQ(window_size, QSize(crectlaptop.Width(), crectlaptop.Height()));
    EXPECT_GT(best_colours, 8);
}

// The animation windows hold few colours: four backgrounds, black and the class colour.
TEST(LumenDisplay, AnimationPicture) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs an X display (xvfb-run -a)";
    RunAndTakeAPicture("AnimationDraw", "lumen-animation.png", 1, 3);
}

TEST(LumenDisplay, WindowInvocationPicture) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs an X display (xvfb-run -a)";
    RunAndTakeAPicture("WindowDraw", "lumen-window-invocation.png", 1, 3);
}

// The Mandelbrot views, then the line art.
TEST(LumenDisplay, FractalPictures) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs an X display (xvfb-run -a)";
    RunAndTakeAPicture("FractalTestDraw", "lumen-fractal.png", 2);
}

TEST(LumenDisplay, SpecialEffectsPicture) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs an X display (xvfb-run -a)";
    RunAndTakeAPicture("DoSpecEffect", "lumen-special-effects.png");
}

}  // namespace
}  // namespace lumen

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }

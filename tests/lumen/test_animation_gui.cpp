// The animation and window invocation tests run headless: what they draw, what they create and
// destroy, and how they end when threads cannot be made.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QImage>
#include <QPointer>
#include <QTest>
#include <QWidget>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "lumen/animation.h"
#include "lumen/figure_tests.h"
#include "lumen/lumen_state.h"
#include "lumen/video_tests.h"
#include "lumen/window_invocation.h"
#include "lumen/windows.h"
#include "shared/gdi/present.h"
#include "shared/gdi/surface.h"
#include "tests/support/qt_test_main.h"

namespace {

using namespace lumen;

constexpr QRgb kBlack = 0xFF000000u;

// White of the scratch picture takes the window's background colour and black the text colour
// (black): the figures' insides show the background colour, or black where the right figure's
// fill colour is dark. An odd square leaves its last row and column black.
TEST(AnimationFigure, WhiteTakesTheWindowColourAndBlackTheTextColour) {
    struct Row {
        int w;
        int clientWidth;
        QRgb rightCentre;  // the right figure's fill colour, as black or white becomes
    };
    const Row rows[] = {{0, 200, qRgb(255, 0, 0)}, {1, 200, kBlack}, {2, 202, qRgb(255, 255, 255)}, {3, 202, kBlack}};
    for (const Row& row : rows) {
        SCOPED_TRACE("window " + std::to_string(row.w));
        const QRgb bk = BackgroundOfWindow(row.w);
        gdi::Surface surface(QSize(row.clientWidth, 150), kAnimateClassBackground);
        RotatePoints1(1, row.w);
        RotatePoints2(0, row.w);
        QImage scratch;
        DrawFigure2(surface, row.w, bk, scratch);
        DrawFigure3(surface, row.w, bk, scratch);
        QImage shown;
        ASSERT_TRUE(surface.TakeChanges(shown, true).has_value());
        const int S = row.clientWidth / 2;
        const int r = S / 2;
        int black = 0;
        for (int y = 0; y < S; ++y)
            for (int x = 0; x < 2 * S; ++x) {
                const QRgb c = shown.pixel(x, y) | 0xFF000000u;
                ASSERT_TRUE(c == bk || c == kBlack) << x << "," << y;
                black += c == kBlack;
            }
        EXPECT_GT(black, 0);
        for (int half = 0; half < 2; ++half) {
            const int x0 = half * S;
            EXPECT_EQ(shown.pixel(x0 + 1, 1) | 0xFF000000u, bk);  // outside the circle
            EXPECT_EQ(shown.pixel(x0 + r, r) | 0xFF000000u, half == 0 ? bk : row.rightCentre);
            // Only 2r x 2r is whitened.
            EXPECT_EQ(shown.pixel(x0 + S - 1, 1) | 0xFF000000u, S == 2 * r ? bk : kBlack);
        }
        // Below the squares the window keeps its class background.
        EXPECT_EQ(shown.pixel(row.clientWidth / 2, 149) | 0xFF000000u, kAnimateClassBackground);
    }
}

// The figures start from rest (the motion otherwise carries over within the process).
void StartFiguresFromRest() {
    for (int w = 0; w < kAnimateWindows; ++w) {
        Animation().left[size_t(w)] = FigureMotion{};
        Animation().right[size_t(w)] = FigureMotion{};
    }
}

std::vector<gdi::ChildFrame*> FramesInMainWindow() {
    std::vector<gdi::ChildFrame*> frames;
    for (QObject* o : hwndParent->widget()->children())
        if (auto* f = qobject_cast<gdi::ChildFrame*>(o)) frames.push_back(f);
    return frames;
}

int ThreadsOfThisProcess() {
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// The speed of each window's figures after a number of frames: up from 10 by 1 to 80, then down
// by 0.25 x (w + 1) to 2 and up again.
constexpr float kSpeedAfter100[kAnimateWindows] = {72.5f, 65.0f, 57.5f, 50.0f};
constexpr float kSpeedAfter300[kAnimateWindows] = {22.5f, 39.0f, 63.5f, 6.0f};

struct AnimateWindowSeen {
    QString title;
    QRect geometry;
    QRgb corner;  // what is on screen at the left figure's corner
};

// Headless, in laptop mode, without repeat: four windows 2 x 2 with their titles, each thread's
// 100 frames drawn (its figure's speed tells how many frames it turned) and on screen when the
// time is read, and no window left afterwards.
TEST(AnimationTest, RunsItsEightThreadsOfHundredFrames) {
    StartFiguresFromRest();
    std::vector<AnimateWindowSeen> seen;
    VideoTestSettings s;
    s.processors = 2;
    s.at_end = [&] {
        for (gdi::ChildFrame* f : FramesInMainWindow())
            seen.push_back({f->windowTitle(), f->geometry(), f->client()->Shown().pixel(1, 1) | 0xFF000000u});
    };
    const VideoTestOutcome out = RunVideoTestForTest("AnimationDraw", s);
    ASSERT_TRUE(out.finished_in_time);
    EXPECT_GT(out.ms, 0.0);
    EXPECT_EQ(out.record.elapsed2, out.ms);
    for (int w = 0; w < kAnimateWindows; ++w) {
        EXPECT_EQ(Animation().left[size_t(w)].speed, kSpeedAfter100[w]) << w;
        EXPECT_EQ(Animation().right[size_t(w)].speed, kSpeedAfter100[w]) << w;
    }
    // A = 400, B = 300: (0, 0, 398, 298), (398, 0, 398, 298), (398, 298, 398, 300), (0, 298, 398, 300).
    const AnimateWindowSeen expected[kAnimateWindows] = {
        {"Rotate right, left", {0, 0, 398, 298}, qRgb(255, 0, 0)},
        {"Rotate right", {398, 0, 398, 298}, qRgb(0, 255, 0)},
        {"Rotate left", {398, 298, 398, 300}, qRgb(255, 255, 255)},
        {"Rotate left, right", {0, 298, 398, 300}, qRgb(255, 255, 0)},
    };
    ASSERT_EQ(seen.size(), 4u);
    for (int w = 0; w < kAnimateWindows; ++w) {
        EXPECT_EQ(seen[size_t(w)].title, expected[w].title);
        EXPECT_EQ(seen[size_t(w)].geometry, expected[w].geometry) << w;
        EXPECT_EQ(seen[size_t(w)].corner, expected[w].corner) << w;
    }
    EXPECT_TRUE(FramesInMainWindow().empty());
}

// With the repeat flag the three runs continue the motion: 300 frames per figure.
TEST(AnimationTest, RepeatedRunsContinueTheMotion) {
    StartFiguresFromRest();
    VideoTestSettings s;
    s.repeat = 1;
    s.processors = 3;
    const VideoTestOutcome out = RunVideoTestForTest("AnimationDraw", s);
    ASSERT_TRUE(out.finished_in_time);
    EXPECT_GT(out.ms, 0.0);
    for (int w = 0; w < kAnimateWindows; ++w) {
        EXPECT_EQ(Animation().left[size_t(w)].speed, kSpeedAfter300[w]) << w;
        EXPECT_EQ(Animation().right[size_t(w)].speed, kSpeedAfter300[w]) << w;
    }
}

// A thread that cannot be made fails the test; the threads made before it end without drawing
// and are joined, and the windows are removed. (A first, whole run starts whatever threads the
// program keeps, so the count compares like with like.)
TEST(AnimationTest, AThreadThatCannotBeMadeEndsTheTestAndJoinsTheOthers) {
    VideoTestSettings s;
    s.processors = 2;
    s.deadline_ms = 20000;
    ASSERT_GT(RunVideoTestForTest("AnimationDraw", s).ms, 0.0);
    std::vector<float> speeds;
    for (int w = 0; w < kAnimateWindows; ++w) {
        speeds.push_back(Animation().left[size_t(w)].speed);
        speeds.push_back(Animation().right[size_t(w)].speed);
    }
    int threads_before = 0;
    s.before = [&] { threads_before = ThreadsOfThisProcess(); };
    FailAnimationThreadCreationAt(5);
    const VideoTestOutcome out = RunVideoTestForTest("AnimationDraw", s);
    FailAnimationThreadCreationAt(-1);
    EXPECT_TRUE(out.finished_in_time);
    EXPECT_LT(out.ms, 0.0);
    EXPECT_EQ(ThreadsOfThisProcess(), threads_before);
    for (int w = 0; w < kAnimateWindows; ++w) {
        EXPECT_EQ(Animation().left[size_t(w)].speed, speeds[size_t(2 * w)]) << w;
        EXPECT_EQ(Animation().right[size_t(w)].speed, speeds[size_t(2 * w + 1)]) << w;
    }
    EXPECT_TRUE(FramesInMainWindow().empty());
}

// Figure-test windows that remain are destroyed before the animation windows are made, and their
// handles cleared.
TEST(AnimationTest, FigureWindowsThatRemainAreDestroyed) {
    QPointer<QWidget> left_over;
    VideoTestSettings s;
    s.before = [&] {
        hwndChild[1] = CreateWindowOf(WindowClass::KestrelChild, "left over", Rect{0, 0, 100, 100}, hwndParent);
        hwndChild[1]->Show();
        left_over = hwndChild[1]->widget();
    };
    const VideoTestOutcome out = RunVideoTestForTest("AnimationDraw", s);
    ASSERT_TRUE(out.finished_in_time);
    EXPECT_GT(out.ms, 0.0);
    EXPECT_TRUE(left_over.isNull());
    for (Window* child : hwndChild) EXPECT_EQ(child, nullptr);
}

// Watches the main window's captioned children: the first showing of each (title, place) and how
// often each was painted.
class ChildWatch : public QObject {
public:
    struct Seen {
        QString title;
        QRect geometry;
        int paints = 0;
    };
    std::vector<QObject*> order;
    std::map<QObject*, Seen> seen;
    int paints = 0;  // of any of them, shown or not

    bool eventFilter(QObject* o, QEvent* e) override {
        auto* f = qobject_cast<gdi::ChildFrame*>(o);
        if (f == nullptr || f->parent() != hwndParent->widget()) return false;
        if (e->type() == QEvent::Paint) ++paints;
        if (e->type() == QEvent::Show && seen.find(o) == seen.end()) {
            order.push_back(o);
            seen[o] = {f->windowTitle(), f->geometry(), 0};
        } else if (e->type() == QEvent::Paint && seen.find(o) != seen.end()) {
            ++seen[o].paints;
        }
        return false;
    }
};

// Headless, in laptop mode (client 800 x 600), without repeat: 100 windows "Window #1" ..
// "Window #100", 300 wide and 400 high, walking 26 across and 15 down; every one is painted
// while the timed body runs (no event loop turns then, so the updates painted them); none is left.
TEST(WindowInvocationTest, CreatesShowsUpdatesAndDestroysHundredWindows) {
    ChildWatch watch;
    VideoTestSettings s;
    QSize client;
    s.before = [&] {
        // Nothing is painted into a window that is not on screen yet.
        ASSERT_TRUE(QTest::qWaitForWindowExposed(hwndParent->widget()));
        qApp->installEventFilter(&watch);
        client = hwndParent->ClientSize();
    };
    const VideoTestOutcome out = RunVideoTestForTest("WindowDraw", s);
    qApp->removeEventFilter(&watch);
    ASSERT_TRUE(out.finished_in_time);
    EXPECT_GT(out.ms, 0.0);
    EXPECT_EQ(out.record.elapsed7, out.ms);
    ASSERT_EQ(client, QSize(800, 600));
    ASSERT_EQ(watch.order.size(), size_t(kInvokedWindows));
    for (int i = 0; i < kInvokedWindows; ++i) {
        const ChildWatch::Seen& w = watch.seen[watch.order[size_t(i)]];
        EXPECT_EQ(w.title, QStringLiteral("Window #%1").arg(i + 1));
        EXPECT_EQ(w.geometry.size(), QSize(300, 400)) << i;
        EXPECT_GE(w.paints, 1) << i;
    }
    EXPECT_EQ(watch.seen[watch.order[0]].geometry.topLeft(), QPoint(26, 15));
    EXPECT_EQ(watch.seen[watch.order[1]].geometry.topLeft(), QPoint(52, 30));
    EXPECT_EQ(watch.seen[watch.order[15]].geometry.topLeft(), QPoint(15, 15));  // started again at (15, 0)
    EXPECT_TRUE(FramesInMainWindow().empty());
}

// A window destroyed by someone else while the test runs is skipped from then on: it is neither
// shown, updated nor destroyed again.
TEST(WindowInvocationTest, AWindowDestroyedMeanwhileIsSkipped) {
    VideoTestSettings s;
    int frames_when_all_exist = 0;
    s.at_end = [&] {
        std::vector<gdi::ChildFrame*> frames = FramesInMainWindow();
        frames_when_all_exist = int(frames.size());
        for (gdi::ChildFrame* f : frames)
            if (f->windowTitle() == QStringLiteral("Window #50")) delete f;
    };
    const VideoTestOutcome out = RunVideoTestForTest("WindowDraw", s);
    ASSERT_TRUE(out.finished_in_time);
    EXPECT_GT(out.ms, 0.0);
    EXPECT_EQ(frames_when_all_exist, kInvokedWindows);
    EXPECT_TRUE(FramesInMainWindow().empty());
}

// The main window hidden, and shown again: until the window system has put it on the screen
// (its expose is still waiting, as under a loaded machine at a fresh start), nothing painted
// into it is painted at all. The test is called straight on this thread, so nothing but the
// test itself lets that event through. Hidden, no window can be painted: the run fails; shown,
// but not yet on the screen, the run waits for it and every one of the 100 windows is painted.
TEST(WindowInvocationTest, RunsOnlyWhenItsWindowsCanBePainted) {
    // The program's state as a test run leaves it (the main window made, laptop size, one run).
    VideoTestSettings s;
    s.before = [] { ASSERT_TRUE(QTest::qWaitForWindowExposed(hwndParent->widget())); };
    ASSERT_GT(RunVideoTestForTest("WindowDraw", s).ms, 0.0);
    QWidget* top = hwndParent->widget();
    top->hide();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !top->testAttribute(Qt::WA_Mapped); }));

    ChildWatch hidden;
    qApp->installEventFilter(&hidden);
    EXPECT_LT(WindowDraw(), 0.0);
    qApp->removeEventFilter(&hidden);
    EXPECT_EQ(hidden.paints, 0);
    EXPECT_TRUE(FramesInMainWindow().empty());

    top->show();
    ASSERT_FALSE(top->testAttribute(Qt::WA_Mapped));
    ChildWatch shown;
    qApp->installEventFilter(&shown);
    EXPECT_GT(WindowDraw(), 0.0);
    qApp->removeEventFilter(&shown);
    ASSERT_EQ(shown.order.size(), size_t(kInvokedWindows));
    for (const auto& [o, seen] : shown.seen) EXPECT_GE(seen.paints, 1) << seen.title.toStdString();
    EXPECT_TRUE(FramesInMainWindow().empty());
}

}  // namespace

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }

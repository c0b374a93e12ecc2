// The counter windows and the program's host, driven from another thread as the run drives them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QImage>

#include <chrono>
#include <thread>

#include "counters/loadmeter/counter_window.h"
#include "platform/msgbox.h"
#include "tests/support/qt_test_main.h"

namespace {

// Runs work on another thread while this (the user-interface) thread keeps handling events.
template <typename F>
void FromWorker(F work) {
    bool done = false;
    std::thread worker([&] {
        work();
        QMetaObject::invokeMethod(qApp, [&done] { done = true; }, Qt::QueuedConnection);
    });
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done && std::chrono::steady_clock::now() < limit) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    QCoreApplication::processEvents();
}

CounterPlace Place(const std::string& title, int x, int y) {
    CounterPlace p;
    p.title = title;
    p.x = x;
    p.y = y;
    p.width = 160;
    p.height = 60;
    p.enabled = 2;
    return p;
}

TEST(CounterWindowTest, TopMostWithoutCloseButtonAndDoesNotClose) {
    CounterWindow w(Place("% CPU", 30, 40));
    EXPECT_EQ(w.windowTitle(), "% CPU");
    EXPECT_TRUE(w.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(w.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(w.pos(), QPoint(30, 40));
    EXPECT_EQ(w.width(), 160);
    w.show();
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
}

TEST(CounterWindowTest, DrawsItsTextOnWhiteFromTheTextPosition) {
    CounterWindow w(Place("Memory", 0, 0));
    w.show();
    w.SetText("12345");
    const QImage img = w.grab().toImage();
    const int x0 = CounterTextX(w.width(), 5, false, 2);
    bool dark = false;
    bool darkBefore = false;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const bool d = qGray(img.pixel(x, y)) < 128;
            dark = dark || d;
            darkBefore = darkBefore || (d && x < x0);
        }
    }
    EXPECT_EQ(img.pixel(img.width() - 1, img.height() - 1), qRgb(255, 255, 255));
    EXPECT_TRUE(dark);
    EXPECT_FALSE(darkBefore);
}

TEST(QtHostTest, WindowsTextsAndBoxesFromTheRunsThreads) {
    kp::BoxRecorder recorder;
    QtAnalyserHost host;
    FromWorker([&] {
        EXPECT_TRUE(host.CreateCounterWindows({Place("% CPU", 0, 10), Place("Memory", 160, 10)}));
    });
    ASSERT_EQ(host.windows().size(), 2u);
    EXPECT_EQ(host.windows()[1]->windowTitle(), "Memory");
    EXPECT_EQ(host.windows()[1]->pos(), QPoint(160, 10));
    EXPECT_TRUE(host.windows()[0]->isVisible());

    FromWorker([&] {
        host.ShowCounterText(1, "6442450944");
        host.ShowCounterText(7, "nowhere");  // no such window: dropped
    });
    EXPECT_EQ(host.windows()[1]->text(), "6442450944");
    EXPECT_EQ(host.windows()[0]->text(), "");

    kp::BoxRequest box;
    box.text = "Broken pipe";
    box.caption = "Operation Failed";
    FromWorker([&] { host.Box(box); });
    ASSERT_EQ(recorder.boxes().size(), 1u);
    EXPECT_EQ(recorder.boxes()[0].caption, "Operation Failed");

    FromWorker([&] { host.DestroyCounterWindows(); });
    EXPECT_TRUE(host.windows().empty());
}

}  // namespace

int main(int argc, char** argv) {
    kp::MarkUiThread();
    return kt::RunQtTests(argc, argv);
}

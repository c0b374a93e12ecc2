// The counter windows and the program's host, driven from another thread as the run drives them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QImage>
#include <QPainter>

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

TEST(CounterWindowTest, TopMostWithoutFrameOrCloseButtonAndDoesNotClose) {
    CounterWindow w(Place("% CPU", 30, 40));
    EXPECT_EQ(w.windowTitle(), "% CPU");
    EXPECT_TRUE(w.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);  // the window manager draws nothing
    EXPECT_FALSE(w.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(w.geometry(), QRect(30, 40, 160, 60));  // the place, caption included
    w.show();
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
}

// The columns of a band of the picture that differ from its background: their span, or 0.
int InkWidth(const QImage& img, const QRect& band, QRgb background) {
    int first = -1, last = -1;
    for (int x = band.left(); x <= band.right(); ++x) {
        for (int y = band.top(); y <= band.bottom(); ++y) {
            if (img.pixel(x, y) == background) continue;
            if (first < 0) first = x;
            last = x;
            break;
        }
    }
    return first < 0 ? 0 : last - first + 1;
}

// The span of a text drawn with nothing in its way.
int FreeInkWidth(const QString& text, const QFont& font) {
    QImage img(2000, 100, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(10, 60, text);
    p.end();
    return InkWidth(img, img.rect(), qRgb(255, 255, 255));
}

// Laid out on the strip of an 800-pixel main window, every counter window shows its caption and
// its widest values whole, with the window's frame line clear of them.
TEST(CounterWindowTest, EachWindowShowsItsCaptionAndItsValuesWhole) {
    PerfMonData all{};
    all.indices[0] = 200;
    all.indices[1] = 600;
    all.indices[2] = 400;
    std::fill(std::begin(all.perfData), std::end(all.perfData), 1);
    PerfMonData cpu = all, interrupts = all;
    std::fill(std::begin(cpu.perfData), std::end(cpu.perfData), 0);
    std::fill(std::begin(interrupts.perfData), std::end(interrupts.perfData), 0);
    cpu.perfData[kCpu] = 1;
    interrupts.perfData[kInterrupts] = 1;
    std::vector<CounterPlace> places = LayoutCounterWindows(all, 4, 50, &CounterWindow::MinimumWidth);
    for (const PerfMonData& one : {cpu, interrupts}) {
        const auto per = LayoutCounterWindows(one, 12, 50, &CounterWindow::MinimumWidth);
        places.insert(places.end(), per.begin(), per.end());
    }
    for (const CounterPlace& place : places) {
        SCOPED_TRACE(place.title);
        CounterWindow w(place);
        w.show();
        QFont bold = w.font();
        bold.setBold(true);
        const int caption = w.CaptionHeight();
        const QImage shot = w.grab().toImage();
        const QRect title_band(2, 1, w.width() - 4, caption - 1);
        EXPECT_EQ(InkWidth(shot, title_band, shot.pixel(1, 1)), FreeInkWidth(w.windowTitle(), bold));
        for (const std::string& text : WidestCounterTexts(place)) {
            SCOPED_TRACE(text);
            w.SetText(QString::fromStdString(text));
            const QImage img = w.grab().toImage();
            const QRect value_band(2, caption, w.width() - 4, w.height() - caption - 1);
            EXPECT_EQ(InkWidth(img, value_band, qRgb(255, 255, 255)), FreeInkWidth(w.text(), w.font()));
        }
    }
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

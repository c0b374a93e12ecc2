// The window invocation test's rate beside plain Qt widgets: windows per second of the test's
// timed body (100 captioned windows created, shown and updated with every older one, and
// destroyed) and of 100 plain QWidgets at the same places created, shown, painted once and
// destroyed, in the same run, over several rounds; a second plain row runs the test's own
// sequence of show/update pairs on plain QWidgets, round by round beside the test. A last row
// makes and destroys the test's windows alone (no showing), to tell what the windows themselves
// cost.
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <clocale>
#include <cstdio>
#include <vector>

#include "bench/spread.h"
#include "lumen/lumen_state.h"
#include "lumen/window_invocation.h"
#include "lumen/windows.h"

namespace {

constexpr int kRounds = 9;

// Plain widget i at the test's next place.
QWidget* NewPlainWidget(QWidget* parent, int i, int W, int H, lumen::ChildPlacement& at) {
    auto* w = new QWidget(parent);
    w->setAutoFillBackground(true);
    w->setWindowTitle(lumen::TitleOfInvokedWindow(i));
    w->setGeometry(lumen::NextChildPlacement(at, i, W, H));
    return w;
}

double PlainWidgets(QWidget* parent, int W, int H, lumen::ChildPlacement& at) {
    QElapsedTimer clock;
    clock.start();
    std::vector<QWidget*> widgets;
    widgets.reserve(lumen::kInvokedWindows);
    for (int i = 0; i < lumen::kInvokedWindows; ++i) {
        QWidget* w = NewPlainWidget(parent, i, W, H, at);
        w->show();
        widgets.push_back(w);
    }
    for (QWidget* w : widgets) QCoreApplication::sendPostedEvents(w, QEvent::UpdateLater);
    QCoreApplication::sendPostedEvents(parent->window(), QEvent::UpdateRequest);
    for (auto it = widgets.rbegin(); it != widgets.rend(); ++it) delete *it;
    QCoreApplication::sendPostedEvents(parent->window(), QEvent::UpdateRequest);
    return double(clock.nsecsElapsed()) / 1e6;
}

// The test's sequence on plain QWidgets at the same places: each new widget shown and updated
// with every older one, newest first (the update paints what waits to be painted: the widget's
// own pending update, then its window's), then all once more, and destroyed newest first with
// the older ones shown and updated before each destruction.
void ShowAndUpdatePlain(QWidget* w) {
    w->show();
    QCoreApplication::sendPostedEvents(w, QEvent::UpdateLater);
    QCoreApplication::sendPostedEvents(w->window(), QEvent::UpdateRequest);
}

double PlainSameWork(QWidget* parent, int W, int H, lumen::ChildPlacement& at) {
    QElapsedTimer clock;
    clock.start();
    std::vector<QWidget*> widgets;
    widgets.reserve(lumen::kInvokedWindows);
    for (int i = 0; i < lumen::kInvokedWindows; ++i) {
        widgets.push_back(NewPlainWidget(parent, i, W, H, at));
        for (int j = i; j >= 0; --j) ShowAndUpdatePlain(widgets[size_t(j)]);
    }
    for (int j = lumen::kInvokedWindows - 1; j >= 0; --j) ShowAndUpdatePlain(widgets[size_t(j)]);
    for (int i = lumen::kInvokedWindows - 1; i >= 0; --i) {
        for (int j = i; j >= 0; --j) ShowAndUpdatePlain(widgets[size_t(j)]);
        delete widgets[size_t(i)];
    }
    return double(clock.nsecsElapsed()) / 1e6;
}

double MakeAndDestroy(lumen::Window* parent, int W, int H, lumen::ChildPlacement& at) {
    QElapsedTimer clock;
    clock.start();
    std::vector<lumen::Window*> windows;
    windows.reserve(lumen::kInvokedWindows);
    for (int i = 0; i < lumen::kInvokedWindows; ++i) {
        const QRect p = lumen::NextChildPlacement(at, i, W, H);
        const lumen::Rect outer{p.left(), p.top(), p.left() + p.width(), p.top() + p.height()};
        windows.push_back(lumen::CreateWindowOf(lumen::WindowClass::KestrelChild,
                                                lumen::TitleOfInvokedWindow(i).toStdString(), outer, parent, true));
    }
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) lumen::DestroyWindow(*it);
    return double(clock.nsecsElapsed()) / 1e6;
}

double Rate(double ms) { return ms > 0 ? lumen::kInvokedWindows / (ms / 1000.0) : 0.0; }

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    setlocale(LC_NUMERIC, "C");
    lumen::use_high_precision = 1;
    std::printf("Window invocation: windows per second of the test's body (100 captioned windows, 10100 "
                "show/update pairs) beside 100 plain QWidgets with the same pairs, 100 plain QWidgets created, "
                "shown, painted once and destroyed, and the test's windows made and destroyed unshown; %d rounds, platform %s\n",
                kRounds, qPrintable(QGuiApplication::platformName()));
    lumen::laptop_mode_on = 0;
    lumen::ApplyLaptopMode();
    lumen::Window* main_window = lumen::CreateMainWindow();
    QCoreApplication::processEvents();
    const QSize client = main_window->ClientSize();

    std::vector<double> test, same, plain, made;
    lumen::ChildPlacement at_test, at_same, at_plain, at_made;
    for (int r = 0; r < kRounds; ++r) {
        test.push_back(Rate(lumen::WindowInvocationBody(main_window, client.width(), client.height(), at_test)));
        QCoreApplication::processEvents();
        same.push_back(Rate(PlainSameWork(main_window->widget(), client.width(), client.height(), at_same)));
        QCoreApplication::processEvents();
        std::printf("round %d: test %6.0f windows/s   plain QWidget, same show/update pairs %6.0f   test / plain %.2f\n",
                    r, test.back(), same.back(), test.back() / same.back());
        plain.push_back(Rate(PlainWidgets(main_window->widget(), client.width(), client.height(), at_plain)));
        QCoreApplication::processEvents();
        made.push_back(Rate(MakeAndDestroy(main_window, client.width(), client.height(), at_made)));
        QCoreApplication::processEvents();
    }
    const Spread t = Of(test), q = Of(same), p = Of(plain), m = Of(made);
    std::printf("%-28s %10s %10s %10s\n", "windows per second", "min", "median", "max");
    std::printf("%-28s %10.0f %10.0f %10.0f\n", "window invocation body", t.min, t.median, t.max);
    std::printf("%-28s %10.0f %10.0f %10.0f\n", "plain QWidget, same pairs", q.min, q.median, q.max);
    std::printf("%-28s %10.0f %10.0f %10.0f\n", "plain QWidget", p.min, p.median, p.max);
    std::printf("%-28s %10.0f %10.0f %10.0f\n", "test's windows, unshown", m.min, m.median, m.max);
    std::printf("test / plain with the same pairs (medians): %.2f\n", t.median / q.median);
    return 0;
}

// The window invocation test.
#include "lumen/window_invocation.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>
#include <array>

#include "lumen/lumen_state.h"
#include "lumen/timing.h"
#include "lumen/windows.h"
#include "shared/gdi/present.h"

namespace lumen {

namespace {

// Showing a window that is shown already changes nothing; a window that was never made, or
// whose widget is gone, is skipped.
void ShowWindow(Window* window) {
    if (window == nullptr) return;
    if (QWidget* w = window->widget()) w->show();
}

// Paints what waits to be painted, now, and nothing when nothing waits: the window's own pending
// update, then the pending painting of its top-level window.
void UpdateWindow(Window* window) {
    if (window == nullptr) return;
    QWidget* w = window->widget();
    if (w == nullptr) return;
    QCoreApplication::sendPostedEvents(w, QEvent::UpdateLater);
    QCoreApplication::sendPostedEvents(w->window(), QEvent::UpdateRequest);
}

void ShowAndUpdate(Window* window) {
    ShowWindow(window);
    UpdateWindow(window);
}

}  // namespace

double WindowInvocationBody(Window* parent, int W, int H, ChildPlacement& at, bool picture) {
    std::array<Window*, kInvokedWindows> windows{};
    // Updates paint nothing until the window system has put the main window on the screen: a
    // run started before that would time 5050 updates that found nothing to paint.
    WaitUntilOnScreen(parent, kOnScreenLimitMs);
    int unpainted = 0;
    Stopwatch watch;
    if (!watch.Start()) return -1.0;
    for (int i = 0; i < kInvokedWindows; ++i) {
        const QRect place = NextChildPlacement(at, i, W, H);
        windows[size_t(i)] = CreateWindowOf(
            WindowClass::KestrelChild, TitleOfInvokedWindow(i).toStdString(),
            Rect{place.left(), place.top(), place.left() + place.width(), place.top() + place.height()}, parent,
            /*overlapped=*/true);
        for (int j = i; j >= 0; --j) ShowAndUpdate(windows[size_t(j)]);
    }
    // The windows live only inside the timed body: a test's picture is taken while all exist.
    if (picture && test_end_hook) test_end_hook();
    for (int j = kInvokedWindows - 1; j >= 0; --j) ShowAndUpdate(windows[size_t(j)]);
    for (int i = kInvokedWindows - 1; i >= 0; --i) {
        for (int j = i; j >= 0; --j) ShowAndUpdate(windows[size_t(j)]);
        if (windows[size_t(i)] != nullptr && windows[size_t(i)]->Paints() == 0) ++unpainted;
        DestroyWindow(windows[size_t(i)]);
    }
    const double ms = watch.Stop();
    // A window made and shown that was never painted: the run did not do its work.
    return unpainted > 0 ? -1.0 : ms;
}

double WindowDraw() {
    const QSize client = hwndParent->ClientSize();
    ChildPlacement at;
    bool first = true;
    const TimedRuns result = RunTimed(count, [&](int) {
        double ms = -1.0;
        gdi::RunOnGuiThread(
            [&] { ms = WindowInvocationBody(hwndParent, client.width(), client.height(), at, first); });
        first = false;
        hwndParent->InvalidateAndUpdate();
        return ms;
    });
    return result.ms;
}

}  // namespace lumen

// The window invocation test.
#include "lumen/window_invocation.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <array>
#include <memory>

#include "lumen/timing.h"
#include "shared/gdi/present.h"

namespace lumen {

namespace {

std::function<void(QWidget*)> g_between_phases;

using Handles = std::array<QPointer<gdi::ChildFrame>, kInvokedWindows>;

// Showing a window that is shown already changes nothing; a window never made (or destroyed
// meanwhile) is skipped.
void ShowWindow(QWidget* w) {
    if (w != nullptr) w->show();
}

// Paints what is waiting to be painted now, and nothing when nothing is: the window's own
// pending update, then the pending painting of its top-level window.
void UpdateWindow(QWidget* w) {
    if (w == nullptr) return;
    QCoreApplication::sendPostedEvents(w, QEvent::UpdateLater);
    QCoreApplication::sendPostedEvents(w->window(), QEvent::UpdateRequest);
}

void ShowAndUpdate(QWidget* w) {
    ShowWindow(w);
    UpdateWindow(w);
}

}  // namespace

double WindowInvocationBody(QWidget* parent, int W, int H, ChildPlacement& at) {
    Handles windows;
    Stopwatch clock;
    if (!clock.Start()) return -1.0;
    for (int i = 0; i < kInvokedWindows; ++i) {
        const QRect place = NextChildPlacement(at, i, W, H);
        auto* frame = new gdi::ChildFrame(std::make_shared<gdi::Surface>(QSize(), kChildBackground), parent,
                                          /*caption_buttons=*/true);
        frame->setWindowTitle(TitleOfInvokedWindow(i));
        frame->MoveWindow(place);
        frame->show();
        windows[size_t(i)] = frame;
        for (int j = i; j >= 0; --j) ShowAndUpdate(windows[size_t(j)]);
    }
    if (g_between_phases) g_between_phases(parent);
    for (int j = kInvokedWindows - 1; j >= 0; --j) ShowAndUpdate(windows[size_t(j)]);
    for (int i = kInvokedWindows - 1; i >= 0; --i) {
        for (int j = i; j >= 0; --j) ShowAndUpdate(windows[size_t(j)]);
        delete windows[size_t(i)].data();
    }
    return clock.Stop();
}

void SetWindowInvocationHook(std::function<void(QWidget*)> hook) { g_between_phases = std::move(hook); }

}  // namespace lumen

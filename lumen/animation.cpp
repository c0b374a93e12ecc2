// The animation test's driver: four "Animate" windows, eight pinned drawing threads.
#include <array>
#include <atomic>

#include "lumen/animation.h"
#include "lumen/figure_tests.h"
#include "lumen/frame.h"
#include "lumen/lumen_state.h"
#include "lumen/timing.h"
#include "lumen/windows.h"
#include "platform/workers.h"
#include "shared/gdi/present.h"
#include "shared/gdi/surface.h"

namespace lumen {

namespace {

constexpr int kLowestPriority = -2;

std::atomic<int> g_fail_creation_at{-1};

// Thread n: 100 frames of its figure in its half of its window. A window that could not be made
// gets nothing drawn; its figure still turns.
void DoRun2(int n, gdi::Surface* surface) {
    Animation().PointCount.store(kPointCount, std::memory_order_relaxed);
    const AnimateThreadRole role = RoleOfThread(n);
    const int direction = role.turn == Turn::Right ? 1 : 0;
    const QRgb bk = BackgroundOfWindow(role.window);
    QImage scratch;
    for (int frame = 0; frame < kAnimateFrames; ++frame) {
        if (role.rightFigure) {
            RotatePoints2(direction, role.window);
            if (surface != nullptr) DrawFigure3(*surface, role.window, bk, scratch);
        } else {
            RotatePoints1(direction, role.window);
            if (surface != nullptr) DrawFigure2(*surface, role.window, bk, scratch);
        }
    }
}

// The window's own painting: the class background with both figures of window 0, in the
// background colour its context holds. Only called while no drawing thread runs.
void PaintAnimateWindow(Window* window, QRgb bk) {
    if (window == nullptr) return;
    QImage scratch;
    window->surface().Erase();
    DrawFigure2(window->surface(), 0, bk, scratch);
    DrawFigure3(window->surface(), 0, bk, scratch);
    window->Update();
}

// One timed run: the threads are made parked, bound in turn to processors from p on (p carries
// over to the next run), started together and awaited; the time includes showing what they drew.
double AnimationRun(const std::array<Window*, kAnimateWindows>& windows, int& p) {
    kp::WorkerTeam team(kAnimateThreads);
    for (int n = 0; n < kAnimateThreads; ++n) {
        Window* window = windows[size_t(RoleOfThread(n).window)];
        gdi::Surface* surface = window != nullptr ? &window->surface() : nullptr;
        const bool fail = g_fail_creation_at.load() == n;
        if (fail || !team.Create(n, [n, surface] { DoRun2(n, surface); }, kLowestPriority)) {
            team.Cancel();  // the threads made so far end without drawing, and are joined
            return -1.0;
        }
        SetThreadToProcessor(team.worker(n), p);
        p = NextProcessor(p);
    }
    Stopwatch watch;
    if (!watch.Start()) {
        team.Cancel();
        return -1.0;
    }
    team.ReleaseAll();
    team.Join();
    gdi::PresentAll();
    return watch.Stop();
}

}  // namespace

void FailAnimationThreadCreationAt(int n) { g_fail_creation_at.store(n); }

double AnimationDraw() {
    // Figure-test windows that remain (a destroyed one's handle is already cleared).
    for (Window*& child : hwndChild) DestroyWindow(child);
    hwndParent->Move(Rect{0, 0, crect.right, crect.bottom});

    const int A = crect.right / 2;
    const int B = crect.bottom / 2;
    const Rect place[kAnimateWindows] = {{0, 0, A - 2, B - 2},
                                         {A - 2, 0, 2 * (A - 2), B - 2},
                                         {A - 2, B - 2, 2 * (A - 2), 2 * B - 2},
                                         {0, B - 2, A - 2, 2 * B - 2}};
    std::array<Window*, kAnimateWindows> windows{};
    for (int w = 0; w < kAnimateWindows; ++w) {
        windows[size_t(w)] = CreateWindowOf(WindowClass::Animate, "", place[w], hwndParent);
        if (windows[size_t(w)] == nullptr) continue;
        windows[size_t(w)]->Show();
        windows[size_t(w)]->SetTitle(TitleOfAnimateWindow(w));
        // Its first painting, with a fresh context's white background.
        PaintAnimateWindow(windows[size_t(w)], gdi::RGB(255, 255, 255));
    }

    int p = 1;
    const TimedRuns result = RunTimed(count, [&](int) {
        const double ms = AnimationRun(windows, p);
        if (count != 0 && ms >= 0.0) {
            for (int w = 0; w < kAnimateWindows; ++w) PaintAnimateWindow(windows[size_t(w)], BackgroundOfWindow(w));
        }
        return ms;
    });

    AtTestEnd();
    for (Window*& window : windows) DestroyWindow(window);
    hwndParent->InvalidateAndUpdate();
    return result.ms;
}

}  // namespace lumen

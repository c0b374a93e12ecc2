// The window invocation test: 100 captioned "KESTRELCHILD" windows are created, shown, updated
// and destroyed inside the main window, on the user-interface thread.
#pragma once

#include <QRect>
#include <QString>

namespace lumen {

inline constexpr int kInvokedWindows = 100;

// Where the next window goes. The position walks down and to the right (W / 30 across, H / 40
// down) and starts again at (i, 0) when half the client size no longer fits; the window itself
// is h2 wide and w2 high (the fit tests use w2 across and h2 down). The position carries over
// from one window to the next and from one run to the next.
struct ChildPlacement {
    int x = 0;
    int y = 0;
};
QRect NextChildPlacement(ChildPlacement& at, int i, int W, int H);

// The title of window i (0-based): "Window #1" .. "Window #100".
QString TitleOfInvokedWindow(int i);

class Window;

// The timed body, on the user-interface thread: 100 "KESTRELCHILD" windows with caption buttons
// are created inside `parent` (whose client is W x H) from placement `at` on, each followed by
// showing and updating it and every older one, newest first; then all are shown and updated once
// more, and destroyed newest first, the older ones shown and updated before each destruction.
// `picture`: the test-end hook runs when all 100 exist. Before the clock starts it waits (at most
// kOnScreenLimitMs) until the main window is on the screen. Milliseconds, or -1.0 when the clock
// failed or a window that was made was never painted (the main window hidden, or not on the
// screen in time).
inline constexpr int kOnScreenLimitMs = 10000;
double WindowInvocationBody(Window* parent, int W, int H, ChildPlacement& at, bool picture = false);

// The window invocation test: elapsed milliseconds, or a time <= 0 when it failed (a run that
// did not paint its windows included).
double WindowDraw();

}  // namespace lumen

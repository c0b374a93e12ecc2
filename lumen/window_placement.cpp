// Placement and titles of the window invocation test's windows.
#include "lumen/window_invocation.h"

namespace lumen {

QRect NextChildPlacement(ChildPlacement& at, int i, int W, int H) {
    const int w2 = W / 2;
    const int h2 = H / 2;
    at.x += W / 30;
    if (at.x + w2 >= W) {
        at.x = i;
        at.y = 0;
    }
    at.y += H / 40;
    if (at.y + h2 >= H) {
        at.x = i;
        at.y = 0;
    }
    return {at.x, at.y, h2, w2};
}

QString TitleOfInvokedWindow(int i) {
    return QStringLiteral("Window #%1").arg(i + 1);
}

}  // namespace lumen

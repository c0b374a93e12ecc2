#include "shared/ui/screen_place.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <QWindow>

#include <algorithm>

QRect KeptInside(const QRect& geometry, const QMargins& frame, const QRect& available) {
    const QRect room = available.marginsRemoved(frame);
    QRect kept(geometry.topLeft(), geometry.size().boundedTo(room.size().expandedTo(QSize(1, 1))));
    // Right and bottom first, so that the left and top edges win where nothing would fit.
    if (kept.right() > room.right()) kept.moveRight(room.right());
    if (kept.bottom() > room.bottom()) kept.moveBottom(room.bottom());
    if (kept.left() < room.left()) kept.moveLeft(room.left());
    if (kept.top() < room.top()) kept.moveTop(room.top());
    return kept;
}

QRect AvailableArea(const QRect& near) {
    const QScreen* screen = QGuiApplication::screenAt(near.center());
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : near;
}

QMargins ExpectedFrame(const QWidget* window) {
    const QWindow* handle = window->windowHandle();
    if (handle != nullptr && handle->isVisible() && !handle->frameMargins().isNull()) return handle->frameMargins();
    if ((window->windowFlags() & Qt::FramelessWindowHint) || window->windowType() == Qt::SplashScreen) return {};
    const int title = window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);
    constexpr int kBorder = 4;
    return QMargins(kBorder, title, kBorder, kBorder);
}

void PlaceOnScreen(QWidget* window, const QRect& geometry) {
    window->setGeometry(KeptInside(geometry, ExpectedFrame(window), AvailableArea(geometry)));
}

void PlaceFrameOnScreen(QWidget* window, QPoint frame_at, QSize size) {
    const QMargins frame = ExpectedFrame(window);
    const QPoint offset(frame.left(), frame.top());
    const QRect wanted(frame_at + offset, size);
    const QRect kept = KeptInside(wanted, frame, AvailableArea(wanted));
    window->resize(kept.size());
    window->move(kept.topLeft() - offset);
}

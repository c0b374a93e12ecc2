// Where the suite puts its top-level windows: always inside the available area of a screen (the
// screen less the desktop's panels), frame included.
#pragma once

#include <QMargins>
#include <QRect>

class QWidget;

// The client rectangle `geometry` moved, and shrunk where it does not fit, so that with its frame
// margins it lies inside `available`. A rectangle that fits is kept as it is.
QRect KeptInside(const QRect& geometry, const QMargins& frame, const QRect& available);

// The available area of the screen under the centre of `near` (global coordinates), else of the
// primary screen.
QRect AvailableArea(const QRect& near);

// The frame a top-level window has: the one the window manager drew, or before the window is
// shown the style's title bar and a border (none for a window without a frame).
QMargins ExpectedFrame(const QWidget* window);

// Gives a top-level window the client rectangle `geometry`, kept inside the available area of
// its screen with its expected frame.
void PlaceOnScreen(QWidget* window, const QRect& geometry);
// The same for a window whose frame is to stand at `frame_at` (as QWidget::move places it).
void PlaceFrameOnScreen(QWidget* window, QPoint frame_at, QSize size);

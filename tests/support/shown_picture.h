// Pictures of windows as the X screen shows them, for the display tests.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QScreen>
#include <QWidget>

namespace kt {

// The window's picture as the screen shows it, taken once the screen shows what the widget now
// draws (its own rendering): the window manager and the X server have caught up with the last
// painting however loaded the machine. The bound only keeps a fault from hanging the test.
inline QImage ShownPicture(QWidget* w) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        const QImage shown = w->screen()->grabWindow(w->winId()).toImage();
        const QImage own = w->grab().toImage();
        if (shown.convertToFormat(QImage::Format_RGB32) == own.convertToFormat(QImage::Format_RGB32) ||
            clock.elapsed() > 60000) {
            return shown;
        }
    }
}

}  // namespace kt

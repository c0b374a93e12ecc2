// The window manager of the display tests (openbox, installed by scripts/deps), started on the
// test's display: a test sees windows framed and stacked as a user's desktop does; and the close
// its close button sends.
#pragma once

#include <unistd.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QtTest/qtestspontaneevent.h>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>

#include "platform/process.h"

namespace kt {

// The window manager found on PATH, or empty.
inline std::string WindowManager() {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = dir + "/openbox";
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

// Starts the window manager and returns once it frames a window (within 10 s); nothing when
// there is none or it framed nothing. A manager already running keeps the display; the one
// started here then ends at once.
inline std::optional<kp::ChildProcess> StartWindowManager() {
    const std::string manager = WindowManager();
    if (manager.empty()) return std::nullopt;
    std::optional<kp::ChildProcess> wm = kp::ChildProcess::Spawn(manager, {manager, "--sm-disable"});
    if (!wm) return std::nullopt;
    QWidget probe;
    probe.resize(100, 50);
    probe.show();
    QElapsedTimer clock;
    clock.start();
    while (probe.windowHandle()->frameMargins().isNull()) {
        if (clock.elapsed() > 10000) return std::nullopt;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return wm;
}

// Closes a shown window as the window manager's close button (or Alt+F4) does: the close comes
// from outside the program. True when the window took it.
inline bool CloseFromWindowManager(QWidget* window) {
    QCloseEvent event;
    QSpontaneKeyEvent::setSpontaneous(&event);
    QCoreApplication::instance()->notify(window->windowHandle(), &event);
    return event.isAccepted();
}

}  // namespace kt

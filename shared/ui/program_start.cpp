#include "shared/ui/program_start.h"

#include <dlfcn.h>

#include <QCoreApplication>
#include <QEvent>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

bool Set(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0';
}

// Whether an X connection to $DISPLAY can be made, tried the way the application object will
// try it: through libxcb, loaded here only for the try (so that the programs need not link it).
// True when the library is missing: the application object then says what is wrong.
bool XDisplayOpens() {
    if (!Set("DISPLAY")) return false;
    void* xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (xcb == nullptr) return true;
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    const auto connect = reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect"));
    const auto has_error = reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect"));
    bool opens = true;
    if (connect != nullptr && has_error != nullptr && disconnect != nullptr) {
        void* connection = connect(nullptr, nullptr);
        opens = connection != nullptr && has_error(connection) == 0;
        // An error connection is freed the same way.
        if (connection != nullptr) disconnect(connection);
    }
    dlclose(xcb);
    return opens;
}

class QuitWatch : public QObject {
public:
    QuitWatch(QObject* context, std::function<bool()> end) : QObject(context), end_(std::move(end)) {
        QCoreApplication::instance()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Quit && watched == QCoreApplication::instance()) return end_();
        return false;
    }

private:
    std::function<bool()> end_;
};

}  // namespace

void ChooseX11WhenDisplayed() {
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && *display != '\0' && std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
}

void RequireDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0') {
        // Another platform asked for (offscreen, wayland, ...) says for itself what it lacks.
        if (std::strncmp(platform, "xcb", 3) != 0) return;
    } else if (Set("WAYLAND_DISPLAY")) {
        // The application object may choose the Wayland display.
        return;
    }
    if (XDisplayOpens()) return;
    std::fprintf(stderr, "%s: cannot open the display (DISPLAY is not set or not reachable)\n",
                 program_invocation_short_name);
    std::fflush(stderr);
    // Threads may run already (the thread spawner): nothing is torn down.
    std::_Exit(1);
}

void WhenAskedToQuit(QObject* context, std::function<bool()> end) { new QuitWatch(context, std::move(end)); }

#include "shared/ui/program_start.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QLibraryInfo>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform/local_socket.h"

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

// Whether a platform plugin for Wayland is among the application object's platforms: in Qt's own
// plugin folder or in one named by QT_PLUGIN_PATH.
bool QtHasWayland() {
    std::string folders = QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString();
    if (const char* more = std::getenv("QT_PLUGIN_PATH")) folders = std::string(more) + ":" + folders;
    size_t start = 0;
    while (start <= folders.size()) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const std::string folder = folders.substr(start, end - start) + "/platforms";
        start = end + 1;
        DIR* dir = opendir(folder.c_str());
        if (dir == nullptr) continue;
        bool found = false;
        while (const dirent* entry = readdir(dir)) {
            if (std::strncmp(entry->d_name, "libqwayland", 11) == 0) found = true;
        }
        closedir(dir);
        if (found) return true;
    }
    return false;
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

bool WaylandDisplayAnswers(int wait_ms) {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (name == nullptr || *name == '\0') return false;
    std::string path = name;
    if (path[0] != '/') {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (runtime == nullptr || *runtime == '\0') return false;
        path = std::string(runtime) + "/" + path;
    }
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    // The display's first request (object 1) asks for a call-back (new object 2); a Wayland
    // server answers with the call-back's "done" event (object 2, event 0, 12 bytes).
    const uint32_t sync[3] = {1, 12u << 16 | 0u, 2};
    uint32_t done[2] = {0, 0};
    const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                    send(fd, sync, sizeof sync, MSG_NOSIGNAL) == ssize_t(sizeof sync) &&
                    kp::ReadExact(fd, done, sizeof done, wait_ms) == kp::IoResult::Ok;
    close(fd);
    return ok && done[0] == 2 && done[1] == (12u << 16 | 0u);
}

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
    } else if (Set("WAYLAND_DISPLAY") && QtHasWayland() && WaylandDisplayAnswers()) {
        // No X display was named: the Wayland display is taken.
        setenv("QT_QPA_PLATFORM", "wayland", 1);
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

#include "platform/end_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace kp {

namespace {

int g_pipe[2] = {-1, -1};

void OnEndSignal(int) {
    const int saved = errno;
    const char c = 1;
    // A full pipe already holds a request: the byte is not needed.
    (void)!write(g_pipe[1], &c, 1);
    errno = saved;
}

}  // namespace

int CatchEndSignals(std::initializer_list<int> which) {
    static std::once_flag made;
    std::call_once(made, [] {
        if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) g_pipe[0] = g_pipe[1] = -1;
    });
    if (g_pipe[0] < 0) return -1;
    struct sigaction sa {};
    sa.sa_handler = OnEndSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : which) {
        // A signal ignored when the program was started (nohup, a daemon's start) stays ignored.
        struct sigaction before {};
        if (sigaction(s, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        sigaction(s, &sa, nullptr);
    }
    return g_pipe[0];
}

bool TakeEndSignals() {
    if (g_pipe[0] < 0) return false;
    bool any = false;
    char buf[64];
    for (;;) {
        const ssize_t n = read(g_pipe[0], buf, sizeof buf);
        if (n > 0) {
            any = true;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return any;
    }
}

}  // namespace kp

#include "platform/local_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace kp {
namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until the deadline (-1: no deadline).
int Remaining(Clock::time_point deadline, bool limited) {
    if (!limited) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

// Waits until fd is ready for events; Ok, TimedOut or Error.
IoResult WaitFor(int fd, short events, Clock::time_point deadline, bool limited) {
    for (;;) {
        pollfd p{fd, events, 0};
        int r = poll(&p, 1, Remaining(deadline, limited));
        if (r > 0) return IoResult::Ok;
        if (r == 0) return IoResult::TimedOut;
        if (errno != EINTR) return IoResult::Error;
    }
}

bool FillAddress(const std::string& path, sockaddr_un* addr) {
    std::memset(addr, 0, sizeof *addr);
    if (path.empty()) return false;
    addr->sun_family = AF_UNIX;
    if (path.size() >= sizeof addr->sun_path) return false;
    std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

std::string SocketDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string dir = runtime != nullptr && *runtime != '\0'
                          ? std::string(runtime) + "/kestrel"
                          : "/tmp/kestrel-" + std::to_string(getuid());
    mkdir(dir.c_str(), 0700);
    // Only a real folder of our own is used: anything else (another user's folder, a link) would
    // let someone else see or take the suite's sockets.
    struct stat st{};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() ||
        (st.st_mode & 077) != 0) {
        return std::string();
    }
    return dir;
}

std::string SocketPath(const std::string& name) {
    std::string dir = SocketDirectory();
    return dir.empty() ? std::string() : dir + "/" + name;
}

IoResult WriteAll(int fd, const void* data, size_t size, int timeout_ms) {
    const bool limited = timeout_ms >= 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limited ? timeout_ms : 0);
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        IoResult w = WaitFor(fd, POLLOUT, deadline, limited);
        if (w != IoResult::Ok) return w;
        ssize_t n = send(fd, p + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        } else if (n < 0 && (errno == EPIPE || errno == ECONNRESET)) {
            return IoResult::Closed;
        } else {
            return IoResult::Error;
        }
    }
    return IoResult::Ok;
}

IoResult ReadExact(int fd, void* data, size_t size, int timeout_ms) {
    const bool limited = timeout_ms >= 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limited ? timeout_ms : 0);
    char* p = static_cast<char*>(data);
    size_t done = 0;
    while (done < size) {
        IoResult w = WaitFor(fd, POLLIN, deadline, limited);
        if (w != IoResult::Ok) return w;
        ssize_t n = recv(fd, p + done, size - done, MSG_DONTWAIT);
        if (n > 0) {
            done += size_t(n);
        } else if (n == 0) {
            return IoResult::Closed;
        } else if (errno == EAGAIN || errno == EINTR) {
            continue;
        } else if (errno == ECONNRESET || errno == EPIPE) {
            return IoResult::Closed;
        } else {
            return IoResult::Error;
        }
    }
    return IoResult::Ok;
}

std::optional<LocalServer> LocalServer::Listen(const std::string& name) {
    std::string path = SocketPath(name);
    sockaddr_un addr;
    if (!FillAddress(path, &addr)) return std::nullopt;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0) {
        close(fd);
        return std::nullopt;
    }
    return LocalServer(fd, path);
}

LocalServer::LocalServer(LocalServer&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
    other.fd_ = -1;
    other.path_.clear();
}

LocalServer& LocalServer::operator=(LocalServer&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
        other.path_.clear();
    }
    return *this;
}

LocalServer::~LocalServer() { Close(); }

void LocalServer::Close() {
    if (fd_ >= 0) {
        close(fd_);
        unlink(path_.c_str());
    }
    fd_ = -1;
}

int LocalServer::Accept(int timeout_ms, const std::function<bool()>& give_up, int poll_ms) {
    const bool limited = timeout_ms >= 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limited ? timeout_ms : 0);
    for (;;) {
        int wait = Remaining(deadline, limited);
        if (give_up && (wait < 0 || wait > poll_ms)) wait = poll_ms;
        pollfd p{fd_, POLLIN, 0};
        int r = poll(&p, 1, wait);
        if (r > 0) {
            int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0) return c;
            if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) return -1;
        } else if (r < 0 && errno != EINTR) {
            return -1;
        }
        if (give_up && give_up()) return -1;
        if (limited && Remaining(deadline, true) == 0) return -1;
    }
}

int ConnectLocal(const std::string& name) {
    sockaddr_un addr;
    if (!FillAddress(SocketPath(name), &addr)) return -ENAMETOOLONG;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -errno;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        int e = errno;
        close(fd);
        return -e;
    }
    return fd;
}

}  // namespace kp

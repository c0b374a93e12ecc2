// Local stream sockets: the Linux form of the suite's named pipes. A server listens on a name
// in a private per-user folder; a client connects to the same name. Records are written and read
// whole, each with a deadline; a peer that goes away is reported as Closed, never as a signal.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace kp {

// $XDG_RUNTIME_DIR/kestrel, else /tmp/kestrel-<uid>; created with mode 0700 when missing.
std::string SocketDirectory();
// The path of a named socket in that folder.
std::string SocketPath(const std::string& name);

enum class IoResult { Ok, TimedOut, Closed, Error };

// Writes all bytes (no SIGPIPE). timeout_ms < 0 waits without limit.
IoResult WriteAll(int fd, const void* data, size_t size, int timeout_ms);
// Reads exactly size bytes; an end of file before that is Closed. timeout_ms < 0: no limit.
IoResult ReadExact(int fd, void* data, size_t size, int timeout_ms);

// A listening socket; the socket file is removed when the server is destroyed.
class LocalServer {
public:
    // Listens on the name (a stale socket file of that name is replaced). Nothing on failure.
    static std::optional<LocalServer> Listen(const std::string& name);
    LocalServer(LocalServer&& other) noexcept;
    LocalServer& operator=(LocalServer&& other) noexcept;
    ~LocalServer();

    // Waits for one client. Checks give_up (when given) every poll_ms and stops waiting when it
    // says so; timeout_ms < 0 waits without limit. The connected descriptor, or -1.
    int Accept(int timeout_ms, const std::function<bool()>& give_up = {}, int poll_ms = 50);
    const std::string& path() const { return path_; }
    // The listening descriptor, for an event loop that watches it.
    int fd() const { return fd_; }

private:
    LocalServer(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    void Close();
    int fd_ = -1;
    std::string path_;
};

// Connects to a named socket; the descriptor, or -errno (-ENOENT or -ECONNREFUSED when nobody
// listens).
int ConnectLocal(const std::string& name);

}  // namespace kp

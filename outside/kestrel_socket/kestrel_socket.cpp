// libkestrel.so: connections are small numbers (1, 2, ...) naming a socket with a read buffer
// and a send queue. Connect and every read wait a bounded time (KESTREL_TEST_SOCKET_WAIT_MS cuts
// both for tests); sends never raise SIGPIPE.
#include "outside/kestrel_socket/kestrel_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/testswitch.h"

namespace {

constexpr int kConnectWaitMs = 30000;
constexpr int kReadWaitMs = 60000;
constexpr int kNameLookupWaitMs = 2000;

int WaitMs(int normal) {
    const int test = kp::TestSocketWaitMs();
    return test > 0 ? test : normal;
}

struct Connection {
    int fd = -1;
    std::string in;   // received, not yet taken
    size_t taken = 0;
    std::string out;  // queued for sending
};

std::mutex table_mutex;
std::map<int, std::shared_ptr<Connection>> table;
int next_handle = 1;

std::shared_ptr<Connection> Find(int handle) {
    std::lock_guard lock(table_mutex);
    auto it = table.find(handle);
    return it == table.end() ? nullptr : it->second;
}

// Waits for the socket to become ready for events; false on time-out or a poll failure.
bool WaitFor(int fd, short events, int ms) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = poll(&p, 1, ms);
        if (r < 0 && errno == EINTR) continue;
        return r > 0;
    }
}

// Connects one address without blocking longer than the connect wait.
int ConnectOne(const addrinfo* a) {
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) return -1;
    if (connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
        if (errno != EINPROGRESS || !WaitFor(fd, POLLOUT, WaitMs(kConnectWaitMs))) {
            close(fd);
            return -1;
        }
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
            close(fd);
            return -1;
        }
    }
    return fd;
}

int SendAll(int fd, const char* bytes, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = send(fd, bytes + done, length - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFor(fd, POLLOUT, WaitMs(kReadWaitMs))) return KES_ERR_TIMEOUT;
            continue;
        }
        if (n < 0) return (errno == EPIPE || errno == ECONNRESET) ? KES_ERR_CLOSED : KES_ERR_IO;
        done += size_t(n);
    }
    return 0;
}

// The host's full name from the resolver, waited for a bounded time (a host without a working
// name service can take long to answer); the plain name when none comes in time.
std::string CanonicalName(const std::string& name) {
    struct Lookup {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        std::string result;
    };
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, name] {
        addrinfo hints{};
        hints.ai_flags = AI_CANONNAME;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* res = nullptr;
        std::string found;
        if (getaddrinfo(name.c_str(), nullptr, &hints, &res) == 0) {
            if (res != nullptr && res->ai_canonname != nullptr) found = res->ai_canonname;
            freeaddrinfo(res);
        }
        std::lock_guard lock(lookup->m);
        lookup->result = found;
        lookup->done = true;
        lookup->cv.notify_all();
    }).detach();
    std::unique_lock lock(lookup->m);
    lookup->cv.wait_for(lock, std::chrono::milliseconds(std::min(kNameLookupWaitMs, WaitMs(kNameLookupWaitMs))),
                        [&] { return lookup->done; });
    return lookup->done && !lookup->result.empty() ? lookup->result : name;
}

void CopyText(char* to, size_t size, const std::string& text) {
    if (size == 0) return;
    const size_t n = std::min(size - 1, text.size());
    std::memcpy(to, text.data(), n);
    to[n] = '\0';
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int kestrel_connect(const char* host, const char* service, int* connection) {
    if (host == nullptr || service == nullptr || connection == nullptr) return KES_ERR_ARGUMENT;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    const int r = getaddrinfo(host, service, &hints, &res);
    if (r == EAI_SERVICE) return KES_ERR_NO_SERVICE;
    if (r != 0) return KES_ERR_HOST;
    int fd = -1;
    for (const addrinfo* a = res; a != nullptr && fd < 0; a = a->ai_next) fd = ConnectOne(a);
    freeaddrinfo(res);
    if (fd < 0) return KES_ERR_CONNECT;
    auto c = std::make_shared<Connection>();
    c->fd = fd;
    std::lock_guard lock(table_mutex);
    *connection = next_handle++;
    table[*connection] = c;
    return 0;
}

// The library keeps no window: any window is accepted.
__attribute__((visibility("default"))) int GetMajorWindow(void*) { return 0; }

__attribute__((visibility("default"))) int kestrel_getchar(int connection, int, char* byte) {
    auto c = Find(connection);
    if (!c || byte == nullptr) return KES_ERR_HANDLE;
    if (c->taken == c->in.size()) {
        c->in.clear();
        c->taken = 0;
        char buf[4096];
        for (;;) {
            if (!WaitFor(c->fd, POLLIN, WaitMs(kReadWaitMs))) return KES_ERR_TIMEOUT;
            const ssize_t n = recv(c->fd, buf, sizeof buf, 0);
            if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
            if (n == 0) return KES_ERR_CLOSED;
            if (n < 0) return errno == ECONNRESET ? KES_ERR_CLOSED : KES_ERR_IO;
            c->in.assign(buf, size_t(n));
            break;
        }
    }
    *byte = c->in[c->taken++];
    return 0;
}

__attribute__((visibility("default"))) int kestrel_put_data(int connection, const char* bytes, int length) {
    auto c = Find(connection);
    if (!c) return KES_ERR_HANDLE;
    if (bytes == nullptr || length < 0) return KES_ERR_ARGUMENT;
    return SendAll(c->fd, bytes, size_t(length));
}

__attribute__((visibility("default"))) int kestrel_close(int connection) {
    std::shared_ptr<Connection> c;
    {
        std::lock_guard lock(table_mutex);
        auto it = table.find(connection);
        if (it == table.end()) return KES_ERR_HANDLE;
        c = it->second;
        table.erase(it);
    }
    return close(c->fd) == 0 ? 0 : KES_ERR_IO;
}

__attribute__((visibility("default"))) int kestrel_gethostname(char* name, int name_size, char (*addresses)[KES_NAME_SIZE],
                                                               char* real_name, int list_size, int* count) {
    if (name == nullptr || name_size <= 0 || real_name == nullptr || count == nullptr || list_size < 0 ||
        (list_size > 0 && addresses == nullptr))
        return KES_ERR_ARGUMENT;
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) return KES_ERR_IO;
    CopyText(name, size_t(name_size), host);
    CopyText(real_name, KES_NAME_SIZE, CanonicalName(host));
    *count = 0;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return 0;
    for (ifaddrs* i = list; i != nullptr && *count < list_size; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || (i->ifa_flags & IFF_UP) == 0) continue;
        char text[INET6_ADDRSTRLEN] = {};
        const int family = i->ifa_addr->sa_family;
        const void* where = nullptr;
        if (family == AF_INET) where = &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr;
        else if (family == AF_INET6) where = &reinterpret_cast<sockaddr_in6*>(i->ifa_addr)->sin6_addr;
        if (where == nullptr || inet_ntop(family, where, text, sizeof text) == nullptr) continue;
        CopyText(addresses[*count], KES_NAME_SIZE, text);
        ++*count;
    }
    freeifaddrs(list);
    return 0;
}

__attribute__((visibility("default"))) int kestrel_put_data_buffered(int connection, const char* bytes, int length) {
    auto c = Find(connection);
    if (!c) return KES_ERR_HANDLE;
    if (bytes == nullptr || length < 0) return KES_ERR_ARGUMENT;
    c->out.append(bytes, size_t(length));
    // A long queue goes out at once, so that memory stays small for long messages.
    if (c->out.size() >= 65536) {
        const int r = SendAll(c->fd, c->out.data(), c->out.size());
        c->out.clear();
        return r;
    }
    return 0;
}

__attribute__((visibility("default"))) int kestrel_put_data_flush(int connection) {
    auto c = Find(connection);
    if (!c) return KES_ERR_HANDLE;
    const int r = SendAll(c->fd, c->out.data(), c->out.size());
    c->out.clear();
    return r;
}

}  // extern "C"

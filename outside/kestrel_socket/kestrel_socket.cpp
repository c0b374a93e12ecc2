// libkestrel.so: connections are small numbers (1, 2, ...) naming a socket with a read buffer
// and a send queue. The name lookup, connect and every read wait a bounded time
// (KESTREL_TEST_SOCKET_WAIT_MS cuts them for tests); sends never raise SIGPIPE. Every wait goes in
// short slices, between which the caller's wait hook (when one is set) is asked whether to go on.
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

#include <algorithm>
#include <atomic>
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

// The caller's wait hook: called between the slices of every wait; non-zero ends the wait.
std::atomic<int (*)(void*)> wait_hook{nullptr};
std::atomic<void*> wait_hook_arg{nullptr};
constexpr int kSliceMs = 100;

// Waits up to ms for `ready`, which waits at most the slice it is given: 0 when it came,
// KES_ERR_TIMEOUT when the time ran out, KES_ERR_CANCELLED when the hook ended the wait.
template <typename Ready>
int WaitSliced(int ms, Ready ready) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (ready(int(std::clamp<long long>(left, 0, kSliceMs)))) return 0;
        if (auto hook = wait_hook.load(); hook != nullptr && hook(wait_hook_arg.load()) != 0) return KES_ERR_CANCELLED;
        if (left <= 0) return KES_ERR_TIMEOUT;
    }
}

// Waits for the socket to become ready for events (a poll failure counts as the time running out).
int WaitFor(int fd, short events, int ms) {
    bool failed = false;
    const int r = WaitSliced(ms, [&](int slice) {
        pollfd p{fd, events, 0};
        int n = 0;
        while ((n = poll(&p, 1, slice)) < 0 && errno == EINTR) {
        }
        failed = n < 0;
        return n != 0;
    });
    return r == 0 && failed ? KES_ERR_TIMEOUT : r;
}

// A name lookup on a thread of its own, waited for a bounded time: a resolver that does not answer
// cannot hold the caller. The thread frees its result when the caller has stopped waiting.
struct Lookup {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    int code = EAI_AGAIN;
    addrinfo* res = nullptr;
    ~Lookup() {
        if (res != nullptr) freeaddrinfo(res);
    }
};

std::shared_ptr<Lookup> StartLookup(const std::string& host, const std::string& service, const addrinfo& hints) {
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host, service, hints] {
        // Tests: a resolver that never answers.
        if (kp::TestNameLookupStalls())
            for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
        addrinfo* res = nullptr;
        const int code = getaddrinfo(host.c_str(), service.empty() ? nullptr : service.c_str(), &hints, &res);
        std::lock_guard lock(lookup->m);
        lookup->code = code;
        lookup->res = code == 0 ? res : nullptr;
        lookup->done = true;
        lookup->cv.notify_all();
    }).detach();
    return lookup;
}

// 0 when the lookup ended (its code in lookup->code), else the wait's error.
int WaitLookup(Lookup& lookup, int ms) {
    return WaitSliced(ms, [&](int slice) {
        std::unique_lock lock(lookup.m);
        return lookup.cv.wait_for(lock, std::chrono::milliseconds(slice), [&] { return lookup.done; });
    });
}

// Connects one address without blocking longer than the connect wait: the socket, or -1 with
// *error set.
int ConnectOne(const addrinfo* a, int* error) {
    *error = KES_ERR_CONNECT;
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) return -1;
    if (connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            close(fd);
            return -1;
        }
        if (const int w = WaitFor(fd, POLLOUT, WaitMs(kConnectWaitMs)); w != 0) {
            if (w == KES_ERR_CANCELLED) *error = w;
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
            if (const int w = WaitFor(fd, POLLOUT, WaitMs(kReadWaitMs)); w != 0) return w;
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
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    hints.ai_socktype = SOCK_STREAM;
    auto lookup = StartLookup(name, "", hints);
    if (WaitLookup(*lookup, std::min(kNameLookupWaitMs, WaitMs(kNameLookupWaitMs))) != 0) return name;
    std::lock_guard lock(lookup->m);
    if (lookup->res == nullptr || lookup->res->ai_canonname == nullptr || lookup->res->ai_canonname[0] == '\0')
        return name;
    return lookup->res->ai_canonname;
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
    // The lookup ends within the connect wait: a resolver that does not answer is a host not found.
    auto lookup = StartLookup(host, service, hints);
    const int waited = WaitLookup(*lookup, WaitMs(kConnectWaitMs));
    if (waited == KES_ERR_CANCELLED) return waited;
    if (waited != 0) return KES_ERR_HOST;
    std::lock_guard lookup_lock(lookup->m);
    if (lookup->code == EAI_SERVICE) return KES_ERR_NO_SERVICE;
    if (lookup->code != 0) return KES_ERR_HOST;
    int fd = -1;
    int error = KES_ERR_CONNECT;
    for (const addrinfo* a = lookup->res; a != nullptr && fd < 0 && error != KES_ERR_CANCELLED; a = a->ai_next)
        fd = ConnectOne(a, &error);
    if (fd < 0) return error;
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
            if (const int w = WaitFor(c->fd, POLLIN, WaitMs(kReadWaitMs)); w != 0) return w;
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

// Not one of the eight entries a client needs: a client that sets it is asked, between the slices
// of every wait, whether to go on (non-zero ends the wait with KES_ERR_CANCELLED); nullptr removes it.
__attribute__((visibility("default"))) void kestrel_set_wait_hook(int (*hook)(void*), void* arg) {
    wait_hook_arg.store(arg);
    wait_hook.store(hook);
}

}  // extern "C"

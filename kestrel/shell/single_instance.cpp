#include "kestrel/shell/single_instance.h"

#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

// A request is one of two six-byte words; "open:\n" is followed by the path's length in eight
// hexadecimal digits and the path itself.
constexpr char kRaise[] = "raise\n";
constexpr char kOpen[] = "open:\n";
constexpr size_t kWordSize = sizeof kRaise - 1;
static_assert(sizeof kOpen - 1 == kWordSize);
constexpr size_t kLengthDigits = 8;
constexpr size_t kLongestPath = 1 << 16;
constexpr int kRequestMs = 1000;

std::string AbsolutePath(const std::string& name) {
    if (name.empty() || name.front() == '/') return name;
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(name, error);
    return error ? name : absolute.string();
}

}  // namespace

bool HandToRunningCopy(const std::string& file_name) {
    const int fd = kp::ConnectLocal(kInstanceSocketName);
    if (fd < 0) return false;  // nobody listens: this is the first copy
    std::string request;
    const std::string path = AbsolutePath(file_name);
    if (path.empty() || path.size() > kLongestPath) {
        request = kRaise;
    } else {
        char length[kLengthDigits + 1];
        std::snprintf(length, sizeof length, "%08zx", path.size());
        request = kOpen + std::string(length) + path;
    }
    if (kp::WriteAll(fd, request.data(), request.size(), 2000) == kp::IoResult::Ok) {
        // The answer comes once the window is in front; a copy busy with a test may be late.
        char answer = 0;
        (void)kp::ReadExact(fd, &answer, 1, 5000);
    }
    close(fd);
    return true;
}

InstanceServer::InstanceServer(std::function<void()> on_raise, std::function<void(const std::string&)> on_open)
    : on_raise_(std::move(on_raise)), on_open_(std::move(on_open)) {}

bool InstanceServer::Listen() {
    server_ = kp::LocalServer::Listen(kInstanceSocketName);
    if (!server_) return false;
    notifier_ = new QSocketNotifier(server_->fd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { Serve(); });
    return true;
}

void InstanceServer::Serve() {
    const int fd = server_->Accept(0);
    if (fd < 0) return;
    // The window waits for the whole request at most one second, however its parts come.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestMs);
    const auto read = [fd, deadline](void* data, size_t size) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        return kp::ReadExact(fd, data, size, int(std::max<long long>(0, left.count()))) == kp::IoResult::Ok;
    };
    char word[kWordSize] = {};
    bool understood = false;
    std::string path;
    if (read(word, kWordSize)) {
        if (std::memcmp(word, kRaise, kWordSize) == 0) {
            understood = true;
        } else if (std::memcmp(word, kOpen, kWordSize) == 0) {
            char digits[kLengthDigits + 1] = {};
            char* end = nullptr;
            if (read(digits, kLengthDigits)) {
                const unsigned long length = std::strtoul(digits, &end, 16);
                if (end == digits + kLengthDigits && length > 0 && length <= kLongestPath) {
                    path.resize(length);
                    understood = read(path.data(), length);
                }
            }
        }
    }
    if (understood) {
        if (on_raise_) on_raise_();
        if (!path.empty() && on_open_) on_open_(path);
        (void)kp::WriteAll(fd, "1", 1, 1000);
    }
    close(fd);
}

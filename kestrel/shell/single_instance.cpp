#include "kestrel/shell/single_instance.h"

#include <unistd.h>

#include <QSocketNotifier>
#include <cstring>

namespace {
constexpr char kRequest[] = "raise\n";
constexpr size_t kRequestSize = sizeof kRequest - 1;
}  // namespace

bool AskRunningCopyToRaise() {
    const int fd = kp::ConnectLocal(kInstanceSocketName);
    if (fd < 0) return false;  // nobody listens: this is the first copy
    if (kp::WriteAll(fd, kRequest, kRequestSize, 2000) == kp::IoResult::Ok) {
        // The answer comes once the window is in front; a copy busy with a test may be late.
        char answer = 0;
        (void)kp::ReadExact(fd, &answer, 1, 5000);
    }
    close(fd);
    return true;
}

InstanceServer::InstanceServer(std::function<void()> on_raise) : on_raise_(std::move(on_raise)) {}

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
    char request[kRequestSize] = {};
    if (kp::ReadExact(fd, request, kRequestSize, 1000) == kp::IoResult::Ok &&
        std::memcmp(request, kRequest, kRequestSize) == 0) {
        if (on_raise_) on_raise_();
        (void)kp::WriteAll(fd, "1", 1, 1000);
    }
    close(fd);
}

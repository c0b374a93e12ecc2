// One copy of the program per user: the first copy listens on a per-user socket name; a later
// start asks it to come to the front and ends.
#pragma once

#include <QObject>
#include <functional>
#include <optional>

#include "platform/local_socket.h"

class QSocketNotifier;

inline constexpr const char* kInstanceSocketName = "kestrel-window";

// Asks a running copy to come to the front. True when a copy is running (the caller then ends).
bool AskRunningCopyToRaise();

// The first copy's side: calls on_raise for every request of a later start.
class InstanceServer : public QObject {
public:
    explicit InstanceServer(std::function<void()> on_raise);
    // Listens (a socket left by a copy that ended is replaced). False when it cannot.
    bool Listen();

private:
    void Serve();
    std::function<void()> on_raise_;
    std::optional<kp::LocalServer> server_;
    QSocketNotifier* notifier_ = nullptr;
};

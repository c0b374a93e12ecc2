// One copy of the program per user: the first copy listens on a per-user socket name; a later
// start asks it to come to the front, hands it the benchmark file named on its command line (if
// any), and ends.
#pragma once

#include <QObject>
#include <functional>
#include <optional>
#include <string>

#include "platform/local_socket.h"

class QSocketNotifier;

inline constexpr const char* kInstanceSocketName = "kestrel-window";

// Asks a running copy to come to the front and, when file_name is not empty, to open that file
// (a relative name is taken from this process's current folder). True when a copy is running
// (the caller then ends).
bool HandToRunningCopy(const std::string& file_name);

// The first copy's side: calls on_raise for every request of a later start, then on_open with
// the absolute path of the file that start was given, if any.
class InstanceServer : public QObject {
public:
    explicit InstanceServer(std::function<void()> on_raise,
                            std::function<void(const std::string&)> on_open = nullptr);
    // Listens (a socket left by a copy that ended is replaced). False when it cannot.
    bool Listen();

private:
    void Serve();
    std::function<void()> on_raise_;
    std::function<void(const std::string&)> on_open_;
    std::optional<kp::LocalServer> server_;
    QSocketNotifier* notifier_ = nullptr;
};

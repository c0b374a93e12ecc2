// A mail server for tests on 127.0.0.1 at a free port: it records every byte it receives and
// answers from a script. One connection; every wait is bounded, so it always ends by itself.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace kt {

struct SinkScript {
    std::string banner = "220 sink ready\r\n";
    std::string helo = "250 hello\r\n";
    std::string mail = "250 sender ok\r\n";
    std::vector<std::string> rcpt;  // one reply per RCPT in order; "250 ok" past the end
    std::string data = "354 go ahead\r\n";
    std::string end_of_data = "250 queued\r\n";
    bool silent = false;              // accepts and never answers, not even the banner
    bool stall_after_banner = false;  // answers nothing after the banner
    bool reset_after_354 = false;     // aborts the connection right after the DATA reply
    bool hold_end_of_data = false;    // answers the message's end only after Release()
};

class SmtpSink {
public:
    explicit SmtpSink(SinkScript script) : script_(std::move(script)) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        listen(listener_, 4);
        thread_ = std::thread([this] { Serve(); });
    }
    ~SmtpSink() {
        Finish();
        close(listener_);
    }
    int port() const { return port_; }
    std::string server() const { return "127.0.0.1:" + std::to_string(port_); }
    // Waits for the session to end, then gives what the client sent.
    std::string Received() {
        Finish();
        return received_;
    }
    // Waits for the session to end, like Received(): not for use while the client is still
    // talking to the sink (connected() asks without waiting).
    bool accepted() {
        Finish();
        return accepted_;
    }
    // True once the client's connection is accepted; asks without waiting.
    bool connected() const { return accepted_; }
    // True once a read on the accepted connection returned the client's close.
    bool saw_client_close() const { return client_closed_; }
    // With hold_end_of_data: true once the whole message is in and its reply is held.
    bool holding() const { return holding_; }
    void Release() { released_ = true; }
    // The client closed the connection before the sink's own time limit ended it.
    bool client_closed_first() {
        Finish();
        return client_closed_;
    }

private:
    static constexpr int kLimitMs = 60000;

    // Called once the client is done: a sink that was never reached stops waiting.
    void Finish() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    int Remaining() const {
        return int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now())
                       .count());
    }
    void Send(int fd, const std::string& s) { (void)send(fd, s.data(), s.size(), MSG_NOSIGNAL); }
    // Reads more bytes; false at the end of the connection or the time limit.
    bool More(int fd) {
        for (;;) {
            if (stop_ && !accepted_) return false;
            const int left = Remaining();
            if (left <= 0) return false;
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, std::min(left, 200)) <= 0) continue;
            char buf[65536];
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) {
                client_closed_ = true;
                return false;
            }
            received_.append(buf, size_t(n));
            return true;
        }
    }
    // Waits for the next command line; false when none comes.
    bool Line(int fd, std::string* line) {
        for (;;) {
            const size_t lf = received_.find('\n', taken_);
            if (lf != std::string::npos) {
                *line = received_.substr(taken_, lf + 1 - taken_);
                taken_ = lf + 1;
                return true;
            }
            if (!More(fd)) return false;
        }
    }
    void Serve() {
        deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLimitMs);
        int fd = -1;
        while (fd < 0 && Remaining() > 0 && !stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (poll(&p, 1, 100) > 0) fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        }
        if (fd < 0) return;
        accepted_ = true;
        if (!script_.silent) Send(fd, script_.banner);
        std::string line;
        size_t rcpt = 0;
        while (Line(fd, &line)) {
            if (script_.stall_after_banner || script_.silent) continue;
            const std::string verb = line.substr(0, 4);
            if (verb == "HELO") Send(fd, script_.helo);
            else if (verb == "MAIL") Send(fd, script_.mail);
            else if (verb == "RCPT") Send(fd, rcpt < script_.rcpt.size() ? script_.rcpt[rcpt++] : "250 ok\r\n");
            else if (verb == "QUIT") Send(fd, "221 bye\r\n");
            else if (verb == "DATA") {
                Send(fd, script_.data);
                if (script_.reset_after_354) {
                    linger l{1, 0};
                    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
                    break;
                }
                // The text up to the line holding a lone full stop.
                while (received_.find("\r\n.\r\n", taken_ - 2) == std::string::npos)
                    if (!More(fd)) break;
                const size_t end = received_.find("\r\n.\r\n", taken_ - 2);
                if (end == std::string::npos) break;
                taken_ = end + 5;
                if (script_.hold_end_of_data) {
                    holding_ = true;
                    while (!released_ && Remaining() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                Send(fd, script_.end_of_data);
            }
        }
        close(fd);
    }

    SinkScript script_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::chrono::steady_clock::time_point deadline_;
    std::string received_;
    size_t taken_ = 0;
    std::atomic<bool> accepted_{false};
    std::atomic<bool> client_closed_{false};
    std::atomic<bool> holding_{false};
    std::atomic<bool> released_{false};
};

}  // namespace kt

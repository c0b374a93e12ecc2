// Every program with windows started where no display can be opened: one line that says so and
// exit code 1, never Qt's abort. A Wayland display is taken only where it answers as one.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/local_socket.h"
#include "platform/process.h"
#include "shared/ui/program_start.h"
#include "tests/support/isolation.h"

namespace {

// A listening socket at a path that answers each connection in its way until it is destroyed:
// as a Wayland server answers the display's first request, with bytes of another kind, or by
// closing it at once. Not listening at all, a connection is refused.
class StandInDisplay {
public:
    enum class Answer { Wayland, Other, Closes, NotListening };
    StandInDisplay(const std::string& path, Answer answer) : fd_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        unlink(path.c_str());
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        if (answer == Answer::NotListening) return;
        EXPECT_EQ(listen(fd_, 8), 0);
        thread_ = std::thread([this, answer] {
            for (int c; (c = accept(fd_, nullptr, nullptr)) >= 0; close(c)) {
                uint32_t request[3] = {};
                if (answer == Answer::Closes || recv(c, request, sizeof request, MSG_WAITALL) != sizeof request) continue;
                const uint32_t done[3] = {request[2], 12u << 16, 1};
                const char other[] = "SSH-2.0-not-a-display\r\n";
                if (answer == Answer::Wayland) (void)!send(c, done, sizeof done, MSG_NOSIGNAL);
                else (void)!send(c, other, sizeof other - 1, MSG_NOSIGNAL);
            }
        });
    }
    ~StandInDisplay() {
        shutdown(fd_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        close(fd_);
    }

private:
    int fd_;
    std::thread thread_;
};

using Answer = StandInDisplay::Answer;

TEST(ProgramStart, WithoutADisplayEachProgramSaysSoInOneLineAndEndsWithCode1) {
    // No platform asked for (ctest asks for offscreen).
    unsetenv("QT_QPA_PLATFORM");
    const std::string dir = kt::FreshDir("no-display");
    const std::string log = dir + "/boxes.log";
    setenv("KESTREL_TEST_MSGBOX_LOG", log.c_str(), 1);  // a box shown by mistake never waits
    const std::string socket = dir + "/wayland-0";
    const struct {
        const char* display;  // not set: nullptr
        const char* wayland;  // the Wayland display: not set, a name in the runtime folder, a path
        Answer answer;        // of the socket at the path
    } rows[] = {
        {nullptr, nullptr, Answer::NotListening},
        {":987", nullptr, Answer::NotListening},  // set to one that is not there
        {nullptr, "kestrel-no-such-display", Answer::NotListening},
        {nullptr, socket.c_str(), Answer::NotListening},
        {nullptr, socket.c_str(), Answer::Closes},
        {nullptr, socket.c_str(), Answer::Other},
    };
    for (const auto& row : rows) {
        if (row.display == nullptr) unsetenv("DISPLAY");
        else setenv("DISPLAY", row.display, 1);
        if (row.wayland == nullptr) unsetenv("WAYLAND_DISPLAY");
        else setenv("WAYLAND_DISPLAY", row.wayland, 1);
        StandInDisplay stand_in(socket, row.answer);
        for (const char* program : {"kestrel", "glance", "lumen", "loadmeter", "setup", "setupkes", "unkes"}) {
            SCOPED_TRACE(std::string(program) + " with DISPLAY " + (row.display != nullptr ? row.display : "not set") +
                         ", WAYLAND_DISPLAY " + (row.wayland != nullptr ? row.wayland : "not set") + ", answer " +
                         std::to_string(int(row.answer)));
            const std::string out = dir + "/out.txt";
            const std::string err = dir + "/err.txt";
            const std::string command = std::string(PROGRAM_DIR) + "/" + program + " </dev/null >" + out + " 2>" + err;
            const int status = std::system(command.c_str());
            ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
            EXPECT_EQ(WEXITSTATUS(status), 1);
            EXPECT_EQ(kt::ReadFile(out), "");
            EXPECT_EQ(kt::ReadFile(err),
                      std::string(program) + ": cannot open the display (DISPLAY is not set or not reachable)\n");
        }
    }
    EXPECT_EQ(kt::ReadFile(log), "");
}

// The Wayland display counts only when it answers as a Wayland server, named in the runtime
// folder or by its path.
TEST(ProgramStart, AWaylandDisplayCountsOnlyWhenItAnswersAsOne) {
    const std::string runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string socket = runtime + "/wayland-answers";
    const struct {
        const char* wayland;
        Answer answer;
        bool counts;
    } rows[] = {
        {"wayland-answers", Answer::Wayland, true},     {socket.c_str(), Answer::Wayland, true},
        {"wayland-answers", Answer::Other, false},      {"wayland-answers", Answer::Closes, false},
        {"wayland-answers", Answer::NotListening, false}, {"no-such-display", Answer::Wayland, false},
        {"", Answer::Wayland, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.wayland) + " answer " + std::to_string(int(row.answer)));
        StandInDisplay stand_in(socket, row.answer);
        setenv("WAYLAND_DISPLAY", row.wayland, 1);
        EXPECT_EQ(WaylandDisplayAnswers(), row.counts);
    }
}

// Started under nohup (HUP ignored), the main program leaves HUP ignored once its handlers are
// in place: the HUP of a closed terminal changes nothing (it goes on answering), and TERM still
// ends it in order.
TEST(ProgramStart, AHangUpIgnoredAtTheStartStaysIgnored) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("KESTREL_TEST_MSGBOX_LOG", (kt::FreshDir("boxes") + "/boxes.log").c_str(), 1);
    const std::string program = std::string(PROGRAM_DIR) + "/kestrel";
    const sighandler_t hup = signal(SIGHUP, SIG_IGN);
    auto child = kp::ChildProcess::Spawn(program, {program});
    signal(SIGHUP, hup);
    ASSERT_TRUE(child.has_value());
    const std::string status_file = "/proc/" + std::to_string(child->pid()) + "/status";
    const auto mask = [&status_file](const std::string& field, int signal) {
        const std::string status = kt::ReadFile(status_file);
        const size_t at = status.find(field + ":\t");
        const unsigned long long bits =
            at == std::string::npos ? 0 : std::stoull(status.substr(at + field.size() + 2), nullptr, 16);
        return (bits >> (signal - 1)) & 1;
    };
    // Ready: its TERM handler is in place.
    for (int i = 0; i < 2000 && child->Alive() && mask("SigCgt", SIGTERM) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(mask("SigCgt", SIGTERM), 1u) << "the program did not come up";
    EXPECT_EQ(mask("SigIgn", SIGHUP), 1u);
    EXPECT_EQ(mask("SigCgt", SIGHUP), 0u);
    ASSERT_EQ(kill(child->pid(), SIGHUP), 0);
    // Taken (no longer waiting to be), were it caught.
    for (int i = 0; i < 2000 && mask("ShdPnd", SIGHUP) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(mask("ShdPnd", SIGHUP), 0u);
    // Requests to come to the front, as a later start makes them, are answered after it: a HUP
    // taken as the end would have stopped the answers.
    for (int round = 1; round <= 2; ++round) {
        const int fd = kp::ConnectLocal("kestrel-window");
        ASSERT_GE(fd, 0) << "round " << round;
        char answer = 0;
        const bool answered = kp::WriteAll(fd, "raise\n", 6, 20000) == kp::IoResult::Ok &&
                              kp::ReadExact(fd, &answer, 1, 20000) == kp::IoResult::Ok;
        close(fd);
        ASSERT_TRUE(answered) << "round " << round;
        EXPECT_EQ(answer, '1');
    }
    EXPECT_TRUE(child->Alive());
    ASSERT_EQ(kill(child->pid(), SIGTERM), 0);
    ASSERT_TRUE(child->WaitFor(20000));
    EXPECT_EQ(child->exit_code(), 0);  // its own end, not the signal's
}

}  // namespace

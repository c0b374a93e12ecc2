// One copy per user: the program started twice as child processes; the second start asks the
// first to come to the front and ends with exit code 0, leaving the first running.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "kestrel/shell/single_instance.h"
#include "platform/local_socket.h"
#include "platform/process.h"
#include "tests/support/isolation.h"

namespace {

bool SocketListens() {
    struct stat st{};
    return stat(kp::SocketPath(kInstanceSocketName).c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// Asks the running copy to come to the front, as a second start does: true once it answered (it
// listens and its event loop runs).
bool RunningCopyAnswers() {
    const int fd = kp::ConnectLocal(kInstanceSocketName);
    if (fd < 0) return false;
    char answer = 0;
    const bool answered = kp::WriteAll(fd, "raise\n", 6, 60000) == kp::IoResult::Ok &&
                          kp::ReadExact(fd, &answer, 1, 60000) == kp::IoResult::Ok && answer == '1';
    close(fd);
    return answered;
}

TEST(SecondInstance, RaisesTheFirstAndEnds) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("KESTREL_TEST_MSGBOX_LOG", (kt::TempDir() + "/boxes.log").c_str(), 1);
    auto first = kp::ChildProcess::Spawn(KESTREL_PATH, {"kestrel"});
    ASSERT_TRUE(first.has_value());
    // The bound only keeps a fault from hanging the test.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!RunningCopyAnswers() && first->Alive() && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_TRUE(SocketListens());

    const auto start = std::chrono::steady_clock::now();
    auto second = kp::ChildProcess::Spawn(KESTREL_PATH, {"kestrel", "some", "file.bmf"});
    ASSERT_TRUE(second.has_value());
    ASSERT_TRUE(second->WaitFor(20000));
    EXPECT_EQ(second->exit_code(), 0);
    // It was answered, not left to its time-out.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    // The first copy runs on and still owns the name.
    EXPECT_TRUE(first->Alive());
    const int fd = kp::ConnectLocal(kInstanceSocketName);
    EXPECT_GE(fd, 0);
    if (fd >= 0) close(fd);
    first->Kill();
}

}  // namespace

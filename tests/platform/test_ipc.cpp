// Local sockets and child processes.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <thread>

#include "platform/local_socket.h"
#include "platform/process.h"
#include "tests/support/isolation.h"

namespace {

TEST(LocalSocket, FolderIsPrivate) {
    std::string dir = kp::SocketDirectory();
    EXPECT_EQ(dir, std::string(std::getenv("XDG_RUNTIME_DIR")) + "/kestrel");
    struct stat st{};
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(LocalSocket, FolderOpenToOthersIsRefused) {
    std::string runtime = kt::FreshDir("runtime");
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    mkdir((runtime + "/kestrel").c_str(), 0777);
    chmod((runtime + "/kestrel").c_str(), 0777);
    EXPECT_EQ(kp::SocketDirectory(), "");
    EXPECT_FALSE(kp::LocalServer::Listen("kespipe").has_value());
    EXPECT_LT(kp::ConnectLocal("kespipe"), 0);
}

TEST(LocalSocket, RecordsTravelWholeBothWays) {
    auto server = kp::LocalServer::Listen("kesPerfPipe");
    ASSERT_TRUE(server.has_value());
    std::thread client([] {
        int fd = kp::ConnectLocal("kesPerfPipe");
        ASSERT_GE(fd, 0);
        std::array<char, 336> rec{};
        ASSERT_EQ(kp::ReadExact(fd, rec.data(), rec.size(), 5000), kp::IoResult::Ok);
        rec[335] = char(rec[0] + 1);
        // Sent in two pieces: the reader still gets one whole record.
        ASSERT_EQ(kp::WriteAll(fd, rec.data(), 100, 5000), kp::IoResult::Ok);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_EQ(kp::WriteAll(fd, rec.data() + 100, 236, 5000), kp::IoResult::Ok);
        close(fd);
    });
    int fd = server->Accept(5000);
    ASSERT_GE(fd, 0);
    std::array<char, 336> rec{};
    rec[0] = 41;
    ASSERT_EQ(kp::WriteAll(fd, rec.data(), rec.size(), 5000), kp::IoResult::Ok);
    std::array<char, 336> back{};
    EXPECT_EQ(kp::ReadExact(fd, back.data(), back.size(), 5000), kp::IoResult::Ok);
    EXPECT_EQ(back[0], 41);
    EXPECT_EQ(back[335], 42);
    client.join();
    // The client has gone: reads see the end, writes do not raise SIGPIPE.
    EXPECT_EQ(kp::ReadExact(fd, back.data(), back.size(), 5000), kp::IoResult::Closed);
    EXPECT_EQ(kp::WriteAll(fd, rec.data(), rec.size(), 5000), kp::IoResult::Closed);
    close(fd);
}

TEST(LocalSocket, PartialRecordThenCloseIsClosedNotARecord) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    char part[10] = {};
    ASSERT_EQ(kp::WriteAll(sv[0], part, sizeof part, 1000), kp::IoResult::Ok);
    close(sv[0]);
    char rec[336];
    EXPECT_EQ(kp::ReadExact(sv[1], rec, sizeof rec, 1000), kp::IoResult::Closed);
    close(sv[1]);
}

TEST(LocalSocket, ReadAndAcceptKeepTheirDeadlines) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    char rec[336];
    EXPECT_EQ(kp::ReadExact(sv[1], rec, sizeof rec, 30), kp::IoResult::TimedOut);
    close(sv[0]);
    close(sv[1]);
    auto server = kp::LocalServer::Listen("lonely");
    ASSERT_TRUE(server.has_value());
    EXPECT_EQ(server->Accept(30), -1);
    int asked = 0;
    EXPECT_EQ(server->Accept(-1, [&] { return ++asked == 3; }, 5), -1);
    EXPECT_EQ(asked, 3);
}

TEST(LocalSocket, ServerRemovesItsSocketFile) {
    std::string path;
    {
        auto server = kp::LocalServer::Listen("gone");
        ASSERT_TRUE(server.has_value());
        path = server->path();
        EXPECT_EQ(access(path.c_str(), F_OK), 0);
    }
    EXPECT_NE(access(path.c_str(), F_OK), 0);
    EXPECT_EQ(kp::ConnectLocal("gone"), -ENOENT);
}

TEST(ChildProcess, ExitCodesAndWaits) {
    auto ok = kp::ChildProcess::Spawn("/bin/sh", {"sh", "-c", "exit 3"});
    ASSERT_TRUE(ok.has_value());
    EXPECT_TRUE(ok->WaitFor(5000));
    EXPECT_EQ(ok->exit_code(), 3);
    EXPECT_FALSE(ok->Alive());

    auto sleeper = kp::ChildProcess::Spawn("/bin/sleep", {"sleep", "30"});
    ASSERT_TRUE(sleeper.has_value());
    pid_t pid = sleeper->pid();
    EXPECT_TRUE(sleeper->Alive());
    EXPECT_FALSE(sleeper->WaitFor(20));
    sleeper->Kill();
    EXPECT_FALSE(sleeper->Alive());
    EXPECT_EQ(sleeper->exit_code(), 128 + 9);
    EXPECT_NE(kill(pid, 0), 0);  // reaped: no zombie left under that number
}

TEST(ChildProcess, AStartThatFailsGivesItsOwnErrorNumber) {
    const std::string dir = kt::FreshDir("programs");
    const std::string plain = kt::WriteFile(dir + "/plain", "#!/bin/sh\nexit 0\n");  // no execute bit
    chmod(plain.c_str(), 0644);
    const std::string foreign = kt::WriteFile(dir + "/foreign", "neither a program nor a script\n");
    chmod(foreign.c_str(), 0755);
    const struct {
        std::string path;
        int error;
    } cases[] = {
        {dir + "/missing", ENOENT},
        {plain, EACCES},  // also for root: a file without any execute bit is not run
        {dir, EACCES},
        {foreign, ENOEXEC},
    };
    for (const auto& c : cases) {
        int error = -1;
        EXPECT_FALSE(kp::ChildProcess::Spawn(c.path, {"x"}, &error).has_value()) << c.path;
        EXPECT_EQ(error, c.error) << c.path;
    }
    int error = -1;
    auto ok = kp::ChildProcess::Spawn("/bin/sh", {"sh", "-c", "exit 0"}, &error);
    ASSERT_TRUE(ok.has_value());
    EXPECT_EQ(error, 0);
    EXPECT_TRUE(ok->WaitFor(5000));
}

TEST(ChildProcess, DestroyingAHandleEndsTheChild) {
    pid_t pid;
    {
        auto sleeper = kp::ChildProcess::Spawn("/bin/sleep", {"sleep", "30"});
        ASSERT_TRUE(sleeper.has_value());
        pid = sleeper->pid();
    }
    EXPECT_NE(kill(pid, 0), 0);
}

TEST(ChildProcess, ArgumentsTravelWholeWithBlanks) {
    std::string out = kt::TempDir() + "/args.txt";
    auto p = kp::ChildProcess::Spawn("/bin/sh", {"sh", "-c", "printf '%s|' \"$@\" > \"$0\"", out,
                                                 "0x71804c55d90e4417hq30562", "0", "a dir/with blanks"});
    ASSERT_TRUE(p.has_value());
    ASSERT_TRUE(p->WaitFor(5000));
    EXPECT_EQ(kt::ReadFile(out), "0x71804c55d90e4417hq30562|0|a dir/with blanks|");
}

TEST(ChildProcess, ProgramDirectoryIsWhereTheTestProgramLives) {
    std::string dir = kp::ProgramDirectory();
    EXPECT_EQ(access((dir + "/test_ipc").c_str(), X_OK), 0) << dir;
}

// The launcher's start of the companion: a working directory of its own, a line on a pipe that
// is its standard input, a session of its own, and a child that outlives its handle.
TEST(ChildProcess, WorkingDirectoryInputPipeAndDetachedStart) {
    const std::string dir = kt::FreshDir("child dir");
    const std::string out = kt::TempDir() + "/child.txt";
    kp::SpawnOptions options;
    options.workingDirectory = dir;
    options.inputPipe = true;
    options.detached = true;
    pid_t pid = -1;
    {
        auto p = kp::ChildProcess::Spawn(
            "/bin/sh", {"sh", "-c", "{ pwd; cat; echo; cut -d' ' -f6 /proc/$$/stat; } > \"$0.part\"; mv \"$0.part\" \"$0\"", out},
            options);
        ASSERT_TRUE(p.has_value());
        pid = p->pid();
        int error = -1;
        EXPECT_TRUE(p->WriteInput("-d token /a dir", &error));
        EXPECT_EQ(error, 0);
        p->CloseInput();
    }  // the handle goes; the child goes on
    for (int i = 0; i < 6000 && access(out.c_str(), F_OK) != 0; ++i) usleep(10000);
    std::string text = kt::ReadFile(out);
    const size_t sid = text.rfind('\n', text.size() - 2);
    ASSERT_NE(sid, std::string::npos) << text;
    EXPECT_EQ(text.substr(0, sid + 1), dir + "\n-d token /a dir\n");
    EXPECT_EQ(std::atoi(text.c_str() + sid + 1), pid);  // it leads a session of its own

    // A child that has closed its input: the write fails with EPIPE (no signal ends the caller);
    // a start into a folder that is not there fails with its error number.
    kp::SpawnOptions piped;
    piped.inputPipe = true;
    auto gone = kp::ChildProcess::Spawn("/bin/sh", {"sh", "-c", "exec 0<&-; exit 0"}, piped);
    ASSERT_TRUE(gone.has_value());
    ASSERT_TRUE(gone->WaitFor(-1));
    int error = 0;
    EXPECT_FALSE(gone->WriteInput("line", &error));
    EXPECT_EQ(error, EPIPE);
    kp::SpawnOptions nowhere;
    nowhere.workingDirectory = dir + "/missing";
    EXPECT_FALSE(kp::ChildProcess::Spawn("/bin/true", {"true"}, nowhere, &error).has_value());
    EXPECT_EQ(error, ENOENT);
}

}  // namespace

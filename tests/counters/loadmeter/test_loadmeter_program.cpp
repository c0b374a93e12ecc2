// The analyser program itself, run as a child: its refusals, its counter library, and a whole
// exchange with a caller played by the test.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/local_socket.h"
#include "platform/process.h"
#include "platform/processors.h"
#include "shared/perf_link.h"
#include "shared/records.h"
#include "tests/support/isolation.h"

namespace fs = std::filesystem;

namespace {

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        log_ = kt::FreshDir("boxes") + "/boxes.log";
        setenv("KESTREL_TEST_MSGBOX_LOG", log_.c_str(), 1);
    }
    // A folder of its own holding a copy of the program and, when given, a library copied in as
    // the analyser's counter library. The program's path.
    static std::string Install(const std::string& library) {
        const std::string dir = kt::FreshDir("install");
        fs::copy_file(LOADMETER_PATH, dir + "/loadmeter");
        if (!library.empty()) fs::copy_file(library, dir + "/" + kAnalyserCounterLibrary);
        return dir + "/loadmeter";
    }
    static std::vector<std::string> Line(const std::string& flag = "0") {
        return {"loadmeter", kLoadmeterToken, flag, kNoResultsFile};
    }
    // Runs the program to its end (at most 10 s); its exit code, or -1.
    static int RunToEnd(const std::string& program, const std::vector<std::string>& argv) {
        auto child = kp::ChildProcess::Spawn(program, argv);
        if (!child) return -1;
        return child->WaitFor(10000) ? child->exit_code() : -1;
    }
    std::string Boxes() const { return kt::ReadFile(log_); }

    // Plays the caller: settings, two intervals, the stop. The program must be started
    // after the socket listens.
    void Exchange(const std::string& program) {
        auto server = kp::LocalServer::Listen(kPerfSocketName);
        ASSERT_TRUE(server.has_value());
        auto child = kp::ChildProcess::Spawn(program, Line());
        ASSERT_TRUE(child.has_value());
        const int fd = server->Accept(10000, [&] { return !child->Alive(); });
        ASSERT_GE(fd, 0) << Boxes();
        const int n = kp::GetNumProcessors();
        PerfMonData rec{};
        rec.indices[1] = 800;
        rec.numprocessors = n;
        rec.countertime = 10;
        for (int32_t& f : rec.perfData) f = 1;
        rec.show_graphs = 1;
        ASSERT_EQ(kp::WriteAll(fd, &rec, sizeof rec, 10000), kp::IoResult::Ok);
        rec.numprocessors = 40;
        for (float& s : rec.cpu_scores_1) s = -1.0f;
        for (int interval = 0; interval < 2; ++interval) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            ASSERT_EQ(kp::WriteAll(fd, &rec, sizeof rec, 10000), kp::IoResult::Ok);
            PerfMonData reply{};
            ASSERT_EQ(kp::ReadExact(fd, &reply, sizeof reply, 10000), kp::IoResult::Ok) << Boxes();
            EXPECT_EQ(reply.numprocessors, 32);
            for (int i = 0; i < 32; ++i) {
                if (i < n) {
                    EXPECT_GE(reply.cpu_scores_1[i], 0.0f) << i;
                    EXPECT_LE(reply.cpu_scores_1[i], 100.0f) << i;
                } else {
                    EXPECT_EQ(reply.cpu_scores_1[i], -1.0f) << i;  // no such processor: as sent
                }
            }
            EXPECT_GE(reply.score[0], 0.0f);
            EXPECT_LE(reply.score[0], 100.0f);
        }
        rec.end = 1;
        ASSERT_EQ(kp::WriteAll(fd, &rec, sizeof rec, 10000), kp::IoResult::Ok);
        PerfMonData none{};
        EXPECT_EQ(kp::ReadExact(fd, &none, sizeof none, 10000), kp::IoResult::Closed);
        ASSERT_TRUE(child->WaitFor(10000));
        EXPECT_EQ(child->exit_code(), 0);
        EXPECT_EQ(Boxes(), "");
        close(fd);
    }

    std::string log_;
};

TEST_F(ProgramTest, ShortLineIsRefused) {
    EXPECT_EQ(RunToEnd(LOADMETER_PATH, {"loadmeter", kLoadmeterToken, "0"}), 1);
    EXPECT_EQ(Boxes(), "[Loadmeter Exception] (stop) LOADMETER 1.21 can only be run from within Kestrel. -> ok\n");
}

TEST_F(ProgramTest, WrongTokenIsRefused) {
    EXPECT_EQ(RunToEnd(LOADMETER_PATH, {"loadmeter", "0x71804c55d90e4417hq30563", "0", "(null)"}), 1);
    EXPECT_EQ(Boxes(), "[Loadmeter Exception] (stop) Incorrect version of Loadmeter. -> ok\n");
}

TEST_F(ProgramTest, ResultsFileExchangeIsRefused) {
    EXPECT_EQ(RunToEnd(LOADMETER_PATH, Line("1")), 1);
    EXPECT_EQ(Boxes(), "[Loadmeter Exception] (stop) Incorrect version of Loadmeter. -> ok\n");
}

TEST_F(ProgramTest, MissingCounterLibrary) {
    EXPECT_EQ(RunToEnd(Install(""), Line()), 0);
    EXPECT_EQ(Boxes(), "[Library Exception] (exclamation) Library file keschk.dll failed to load (if condition "
                       "persists, reinstall the file) -> ok\n");
}

TEST_F(ProgramTest, MissingEntryPointEndsTheProgram) {
    EXPECT_EQ(RunToEnd(Install(FAKE_KESCHK_PARTIAL), Line()), 1);
    EXPECT_EQ(Boxes(), "[Library Exception] (exclamation) Library functions failed to load at perf_id -> ok\n");
}

TEST_F(ProgramTest, ExchangeWithTheFakeCounterLibrary) { Exchange(Install(FAKE_KESCHK)); }

TEST_F(ProgramTest, ExchangeWithTheSuitesCounterLibrary) {
    const std::string library = std::string(BIN_DIR) + "/" + kAnalyserCounterLibrary;
    if (!fs::exists(library)) GTEST_SKIP() << library << " is not built in this tree";
    Exchange(Install(library));
}

// TERM or HUP ends the program; a HUP ignored when it was started (nohup) stays ignored: the
// program goes on answering, and TERM still ends it.
TEST_F(ProgramTest, EndOfSessionEndsTheProgram) {
    const struct {
        bool hup_ignored;
        std::vector<int> signals;
    } rows[] = {{false, {SIGTERM}}, {false, {SIGHUP}}, {true, {SIGHUP, SIGTERM}}};
    for (const auto& row : rows) {
        SCOPED_TRACE("HUP ignored " + std::to_string(row.hup_ignored) + ", signals " + std::to_string(row.signals.size()));
        auto server = kp::LocalServer::Listen(kPerfSocketName);
        ASSERT_TRUE(server.has_value());
        const sighandler_t hup = signal(SIGHUP, row.hup_ignored ? SIG_IGN : SIG_DFL);
        auto child = kp::ChildProcess::Spawn(Install(FAKE_KESCHK), Line());
        signal(SIGHUP, hup);
        ASSERT_TRUE(child.has_value());
        const int fd = server->Accept(10000, [&] { return !child->Alive(); });
        ASSERT_GE(fd, 0) << Boxes();
        PerfMonData rec{};
        rec.indices[1] = 400;
        rec.numprocessors = 1;
        rec.countertime = 10;
        rec.perfData[0] = 1;
        rec.show_graphs = 1;
        ASSERT_EQ(kp::WriteAll(fd, &rec, sizeof rec, 10000), kp::IoResult::Ok);
        for (int s : row.signals) {
            if (s == SIGTERM && row.signals.size() > 1) {
                // The HUP before changed nothing: an interval is still answered.
                ASSERT_EQ(kp::WriteAll(fd, &rec, sizeof rec, 10000), kp::IoResult::Ok);
                PerfMonData reply{};
                EXPECT_EQ(kp::ReadExact(fd, &reply, sizeof reply, 10000), kp::IoResult::Ok);
            }
            // Its handlers are in place once it has connected; an ignored HUP is not among them.
            const std::string status = kt::ReadFile("/proc/" + std::to_string(child->pid()) + "/status");
            const auto mask = [&status](const std::string& field) {
                const size_t at = status.find(field + ":\t");
                return at == std::string::npos ? 0 : std::stoull(status.substr(at + field.size() + 2), nullptr, 16);
            };
            EXPECT_EQ((mask("SigIgn") >> (SIGHUP - 1)) & 1, row.hup_ignored ? 1u : 0u);
            EXPECT_EQ((mask("SigCgt") >> (SIGTERM - 1)) & 1, 1u);
            // Waiting for the next record, it ends at once and answers nothing.
            ASSERT_EQ(kill(child->pid(), s), 0);
        }
        ASSERT_TRUE(child->WaitFor(10000));
        EXPECT_EQ(child->exit_code(), 1);
        EXPECT_EQ(Boxes(), "");
        close(fd);
    }
}

}  // namespace

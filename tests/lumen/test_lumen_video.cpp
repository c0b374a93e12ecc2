// The figure drawing and line/arc tests run headless (offscreen) as the sequencer runs them, and
// the ways they fail: a window that cannot be drawn into, threads that cannot be made.
#include <gtest/gtest.h>

#include <QSize>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <QWidget>
#include <vector>

#include "lumen/figure_tests.h"
#include "lumen/frame.h"
#include "lumen/score_table.h"
#include "lumen/lumen_state.h"
#include "lumen/video_tests.h"
#include "lumen/windows.h"
#include "platform/error_text.h"
#include "platform/local_socket.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/workers.h"
#include "shared/gdi/present.h"
#include "shared/perf_link.h"
#include "shared/helpers.h"
#include "tests/support/isolation.h"
#include "tests/support/qt_test_main.h"

namespace lumen {
namespace {

TEST(LumenVideo, FigureDrawingRunsItsTwoPhases) {
    VideoTestSettings s;
    s.processors = 2;
    const VideoTestOutcome out = RunVideoTestForTest("FigureDraw", s);
    ASSERT_TRUE(out.finished_in_time);
    EXPECT_GT(out.ms, 0.0);
    // Every window reached 1200 figures; the stored count is the four windows' total as the last
    // threads saw it.
    EXPECT_GE(out.record.rectcount1, 4 * kSecondPhaseFigures);
    for (int i = 0; i < 4; ++i) {
        EXPECT_GE(iRectCount[i].load(), kSecondPhaseFigures);
        EXPECT_EQ(iRectCount[i].load() % kFiguresPerGroup, 0);
        EXPECT_EQ(hwndChild[i], nullptr);  // the windows are gone
        EXPECT_EQ(terminate[i].load(), 0);
    }
    EXPECT_LE(out.record.rectcount1, iRectCount[0] + iRectCount[1] + iRectCount[2] + iRectCount[3]);
}

TEST(LumenVideo, LineArcDrawingRunsToItsLimit) {
    VideoTestSettings s;
    s.processors = 4;
    const VideoTestOutcome out = RunVideoTestForTest("LineArcDraw", s);
    ASSERT_TRUE(out.finished_in_time);
    EXPECT_GT(out.ms, 0.0);
    EXPECT_GE(out.record.rectcount2, kCurveLimit);
    EXPECT_EQ(out.record.numpoints, NumPointsOf(iNumPoints.load()));
    EXPECT_GT(out.record.numpoints, 0);
    // The threads drew until the four counters together reached the limit.
    const int sum = iCurveCount[0] + iCurveCount[1] + iCurveCount[2] + iCurveCount[3];
    EXPECT_GE(sum, kCurveLimit);
    // The main window was drawn into.
    EXPECT_FALSE(hwndParent->ClientSize().isEmpty());
}

// Whether every page of the memory is in the process's resident set (written at least once).
bool AllResident(const gdi::PictureMemory& m) {
    if (m.bits == nullptr || m.bytes <= 0) return false;
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t from = uintptr_t(m.bits) & ~(page - 1);
    const uintptr_t to = (uintptr_t(m.bits) + uintptr_t(m.bytes) + page - 1) & ~(page - 1);
    std::vector<unsigned char> in((to - from) / page);
    if (mincore(reinterpret_cast<void*>(from), to - from, in.data()) != 0) return false;
    for (unsigned char c : in)
        if ((c & 1) == 0) return false;
    return true;
}

// At every clock start, each window of the test (the main window and the windows in it) has its
// picture and its shown copy made at its client size, every page of them written: the timed work
// neither allocates them nor takes their first page faults. The figure test's windows, moved to
// other tiles inside the time, have theirs for the new size made ahead as well, and take them.
TEST(LumenVideo, WindowPicturesAreMadeAndWrittenBeforeTheClockStarts) {
    struct Row {
        const char* test;
        int windows;   // at least this many windows with a client area at the clock's start
        int reserved;  // of them, with pictures made for the size they take inside the time
    };
    for (const Row& row : {Row{"FigureDraw", 5, 4}, Row{"BMPDraw", 1, 0}}) {
        SCOPED_TRACE(row.test);
        int starts = 0;
        int fewest = 1 << 30;
        int reserved = 0;
        std::vector<const uchar*> made_ahead;
        std::vector<std::string> faults;
        auto check = [&](const gdi::PictureMemory& m, QSize size, const char* what) {
            if (m.size != size || !AllResident(m)) faults.push_back(what);
        };
        VideoTestSettings s;
        s.at_clock_start = [&] {
            gdi::RunOnGuiThread([&] {
                ++starts;
                int windows = 0;
                for (gdi::SurfaceWidget* w : hwndParent->widget()->findChildren<gdi::SurfaceWidget*>()) {
                    const QSize client = w->surface()->Size();
                    if (client.isEmpty()) continue;
                    ++windows;
                    check(w->surface()->Picture(), client, "picture");
                    check(w->Front(), client, "shown copy");
                    const gdi::PictureMemory ahead = w->surface()->Reserved();
                    if (ahead.size.isEmpty()) continue;
                    ++reserved;
                    check(w->Spare(), ahead.size, "shown copy made ahead");
                    check(ahead, ahead.size, "picture made ahead");
                    made_ahead.insert(made_ahead.end(), {ahead.bits, w->Spare().bits});
                }
                fewest = std::min(fewest, windows);
            });
        };
        // After the runs the moved windows draw and show in the memory made ahead.
        int moved = 0;
        s.at_end = [&] {
            if (row.reserved == 0) return;
            for (Window* child : hwndChild) {
                ++moved;
                const auto* frame = qobject_cast<gdi::ChildFrame*>(child->widget());
                ASSERT_NE(frame, nullptr);
                for (const uchar* bits : {child->surface().Picture().bits, frame->client()->Front().bits})
                    if (std::find(made_ahead.begin(), made_ahead.end(), bits) == made_ahead.end())
                        faults.push_back("moved window's memory not the one made ahead");
            }
        };
        const VideoTestOutcome out = RunVideoTestForTest(row.test, s);
        EXPECT_GT(out.ms, 0.0);
        EXPECT_GE(starts, 1);
        EXPECT_GE(fewest, row.windows);
        EXPECT_GE(reserved, row.reserved);
        EXPECT_EQ(moved, row.reserved);
        EXPECT_TRUE(faults.empty()) << faults.size() << " not ready, the first: " << faults.front();
    }
}

TEST(LumenVideo, RepeatedFigureRunsStoreTheChosenRunsCount) {
    VideoTestSettings s;
    s.repeat = 1;
    s.processors = 2;
    const VideoTestOutcome out = RunVideoTestForTest("FigureDraw", s);
    ASSERT_TRUE(out.finished_in_time);
    EXPECT_GT(out.ms, 0.0);
    EXPECT_GE(out.record.rectcount1, 4 * kSecondPhaseFigures);
}

// A child window too narrow for a client area: the figure threads cannot draw, so their counters
// would never reach the stop rule; the test ends with the failure value instead.
TEST(LumenVideo, AFigureWindowWithoutClientAreaFailsTheTest) {
    VideoTestSettings s;
    s.rect = Rect{0, 0, 8, 300};  // tiles of 2 pixels: no client width inside the border
    s.deadline_ms = 20000;
    const VideoTestOutcome out = RunVideoTestForTest("FigureDraw", s);
    EXPECT_TRUE(out.finished_in_time);
    EXPECT_EQ(out.ms, -1.0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(hwndChild[i], nullptr);
}

TEST(LumenVideo, AMainWindowWithoutClientAreaFailsTheLineArcTest) {
    VideoTestSettings s;
    s.before = [] { hwndParent->surface().Resize(QSize()); };
    s.deadline_ms = 20000;
    const VideoTestOutcome out = RunVideoTestForTest("LineArcDraw", s);
    EXPECT_TRUE(out.finished_in_time);
    EXPECT_EQ(out.ms, -1.0);
    // The next test has its main window back.
    const VideoTestOutcome again = RunVideoTestForTest("LineArcDraw", VideoTestSettings{});
    EXPECT_GT(again.ms, 0.0);
}

// Binds as usual; the first binding of a test arms a failure of the next thread creation, so
// that a test has made some threads (parked) when the next one cannot be made.
int g_bindings = 0;
bool BindAndArmAFailure(kp::Worker* worker, int n) {
    if (g_bindings++ == 0) kp::FailNextThreadCreations(1);
    return kp::BindWorker(worker, n);
}

// A thread that cannot be made: the threads made so far are let go unrun and joined (released,
// they would draw for ever: no stop rule can hold with one window drawn), and the test answers
// the failure value; the next test runs as usual.
TEST(LumenVideo, AThreadThatCannotBeMadeFailsTheTestAndLeavesNoThread) {
    for (const char* name : {"FigureDraw", "LineArcDraw"}) {
        g_bindings = 0;
        SetAffinitySetter(&BindAndArmAFailure);
        VideoTestSettings s;
        s.deadline_ms = 20000;
        const VideoTestOutcome out = RunVideoTestForTest(name, s);
        SetAffinitySetter(nullptr);
        EXPECT_EQ(out.ms, -1.0) << name;
        EXPECT_TRUE(out.finished_in_time) << name;
        const bool figures = std::string(name) == "FigureDraw";
        EXPECT_EQ(figures ? iRectCount[0].load() : iCurveCount[0].load(), 0) << name << ": a made thread ran";
        const VideoTestOutcome again = RunVideoTestForTest(name, VideoTestSettings{});
        EXPECT_GT(again.ms, 0.0) << name;
    }
}

// The main window's services: its metrics taken at creation, the text list, and resize.
TEST(LumenVideo, MainWindowServices) {
    laptop_mode_on = 1;
    ApplyLaptopMode();
    Window* main = CreateMainWindow();
    ASSERT_EQ(main, hwndParent);
    EXPECT_EQ(main->ClientSize(), QSize(800, 600));
    EXPECT_GE(bits_per_pixel, 8);
    EXPECT_GT(nXChar, 0);
    EXPECT_GT(nYChar, 0);
    EXPECT_EQ(nMaxWidth, 40 * nXChar + 18 * nCaps);

    const int before = text_list.num;
    output_string(main, "first line");
    output_string(main, "second line");
    EXPECT_EQ(text_list.num, before + 2);
    EXPECT_EQ(text_list.szGreeting.back(), "second line");

    oldrect = Rect{};
    resize(main);
    EXPECT_EQ(oldrect, (Rect{0, 0, 800, 600}));
}

// The program's top-level windows carry its icon; the 3-D test's window ("GL2") refuses a close
// the user asks for while the test renders into it (only the test destroys it).
TEST(LumenVideo, TopLevelWindowsCarryTheIconAndTheThreeDWindowStaysOpen) {
    Window* main = CreateMainWindow();
    Window* gl2 = CreateWindowOf(WindowClass::Gl2, "3-D Animation", crect, nullptr, false);
    ASSERT_NE(gl2, nullptr);
    gl2->Show();
    for (Window* w : {main, gl2}) EXPECT_FALSE(w->widget()->windowIcon().isNull()) << ClassInfo(w->Class()).name;
    EXPECT_FALSE(gl2->widget()->close());
    EXPECT_TRUE(gl2->widget()->isVisible());
    DestroyWindow(gl2);
}

// Started by hand without the command line the main program gives it, or in the file exchange
// mode (not built): the refusal box, exit code 1.
TEST(LumenProgram, RefusesAStartWithoutItsCommandLine) {
    const std::string log = kt::TempDir() + "/boxes.log";
    for (const char* args : {"", "0 1", "0 0 0x3D7E19C4a90458", "1 1 0x3D7E19C4a90457"}) {
        std::remove(log.c_str());
        const std::string command = "KESTREL_TEST_MSGBOX_LOG=" + log + " QT_QPA_PLATFORM=offscreen " LUMEN_PATH " " +
                                    std::string(args);
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << args;
        EXPECT_EQ(WEXITSTATUS(status), 1) << args;
        const std::string boxes = kt::ReadFile(log);
        EXPECT_NE(boxes.find("Incorrect version of VideoKestrel.  Use version 1.21 with Kestrel 1.21."), std::string::npos)
            << args << ": " << boxes;
        EXPECT_NE(boxes.find("VideoKestrel Exception"), std::string::npos) << boxes;
    }
}

// The video test program and the analyser, each with the socket it connects to once started.
struct ProgramWithParent {
    const char* socket;
    std::vector<std::string> argv;
};
std::vector<ProgramWithParent> ProgramsThatEndWithTheirParent() {
    return {{"kespipe", {LUMEN_PATH, "0", "0", test_key}},
            {kPerfSocketName, {LOADMETER_PATH, kLoadmeterToken, "0", kNoResultsFile}}};
}

// `fd` is the connection of a program started under `parent`: the program ends (its connection
// closes) once the parent is killed; one that stays is killed here.
void ExpectEndsWithItsParent(int fd, kp::ChildProcess& parent) {
    ucred peer{};
    socklen_t size = sizeof peer;
    ASSERT_EQ(getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size), 0);
    parent.Kill();
    pollfd ended{fd, POLLIN, 0};
    const bool closed = poll(&ended, 1, 20000) == 1;
    EXPECT_TRUE(closed) << "still running after its parent ended";
    if (!closed) kill(peer.pid, SIGKILL);
    close(fd);
}

// The video test program and the analyser do not outlive the program that started them: started
// by a parent that then ends abruptly (SIGKILL: no chance to end its children), each ends at once,
// seen from its connection, which it was holding open while it waited for its first record. A
// parent that ended before the program got as far as asking to end with it (the parent it names
// is no longer its parent) ends it at once too: it never connects.
TEST(LumenProgram, TheVideoProgramAndTheAnalyserEndWhenTheirParentEnds) {
    const std::vector<ProgramWithParent> programs = ProgramsThatEndWithTheirParent();
    setenv("KESTREL_TEST_MSGBOX_LOG", (kt::TempDir() + "/boxes.log").c_str(), 1);
    for (const auto& p : programs) {
        for (const bool ended_before : {false, true}) {
            SCOPED_TRACE(p.argv[0] + (ended_before ? " after its parent ended" : ""));
            auto server = kp::LocalServer::Listen(p.socket);
            ASSERT_TRUE(server.has_value());
            // The parent: a shell that starts the program and waits for it; or one started in the
            // place of a parent that named itself and has ended.
            std::string named;
            if (ended_before) {
                auto ended = kp::ChildProcess::Spawn("/bin/true", {"true"});
                ASSERT_TRUE(ended.has_value());
                named = "KESTREL_PARENT=" + std::to_string(ended->pid()) + " ";
                ASSERT_TRUE(ended->WaitFor(20000));
            }
            std::vector<std::string> argv = {"sh", "-c", named + "\"$0\" \"$@\" & wait $!"};
            argv.insert(argv.end(), p.argv.begin(), p.argv.end());
            auto parent = kp::ChildProcess::Spawn("/bin/sh", argv);
            ASSERT_TRUE(parent.has_value());
            const int fd = server->Accept(20000, [&] { return !parent->Alive(); });
            if (ended_before) {
                EXPECT_LT(fd, 0) << "connected after its parent had ended";
                ASSERT_TRUE(parent->WaitFor(20000));
                EXPECT_EQ(parent->exit_code(), 128 + SIGTERM);
                if (fd < 0) continue;
            }
            ASSERT_GE(fd, 0) << "the program did not connect";
            ExpectEndsWithItsParent(fd, *parent);
        }
    }
}

// Started by process 1, as by a program that is a container's entry point (here a shell that is
// process 1 of a process namespace of its own and names itself): the video test program and the
// analyser stay and connect, and end when that process ends.
TEST(LumenProgram, TheVideoProgramAndTheAnalyserStayWithAParentThatIsProcessOne) {
    // Without the rights to make a user namespace an ordinary account cannot make a process one.
    std::vector<std::string> unshare = {"unshare", "--pid", "--fork", "--kill-child"};
    if (geteuid() != 0) {
        unshare.push_back("--user");
        unshare.push_back("--map-root-user");
    }
    {
        std::vector<std::string> probe = unshare;
        probe.insert(probe.end(), {"sh", "-c", "test $$ = 1"});
        auto made = kp::ChildProcess::Spawn("/usr/bin/unshare", probe);
        ASSERT_TRUE(made.has_value());
        ASSERT_TRUE(made->WaitFor(20000));
        if (made->exit_code() != 0) GTEST_SKIP() << "no process namespace can be made here";
    }
    const std::vector<ProgramWithParent> programs = ProgramsThatEndWithTheirParent();
    setenv("KESTREL_TEST_MSGBOX_LOG", (kt::TempDir() + "/boxes.log").c_str(), 1);
    for (const auto& p : programs) {
        SCOPED_TRACE(p.argv[0]);
        auto server = kp::LocalServer::Listen(p.socket);
        ASSERT_TRUE(server.has_value());
        std::vector<std::string> argv = unshare;
        argv.insert(argv.end(), {"sh", "-c", "KESTREL_PARENT=$$ \"$0\" \"$@\" & wait $!"});
        argv.insert(argv.end(), p.argv.begin(), p.argv.end());
        auto parent = kp::ChildProcess::Spawn("/usr/bin/unshare", argv);
        ASSERT_TRUE(parent.has_value());
        const int fd = server->Accept(20000, [&] { return !parent->Alive(); });
        ASSERT_GE(fd, 0) << "the program did not connect (exit code " << parent->exit_code() << ")";
        // Process 1 ends, and with it every process of its namespace.
        ExpectEndsWithItsParent(fd, *parent);
    }
}

// The sequencer's thread cannot be made: the system's text of the error with "Operation
// Failed", and no run (the program ends).
TEST(LumenProgram, ASequencerThatCannotBeMadeShowsTheErrorAndEnds) {
    kp::BoxRecorder boxes;
    FailNextSequencerStart();
    EXPECT_FALSE(StartSequencer());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, kp::ErrorText(EAGAIN));
    EXPECT_EQ(boxes.boxes()[0].caption, "Operation Failed");
    EXPECT_EQ(boxes.boxes()[0].icon, kp::Icon::Exclamation);
}

}  // namespace
}  // namespace lumen

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }

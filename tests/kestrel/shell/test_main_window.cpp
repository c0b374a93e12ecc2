// The main window offscreen: start-up, the menus and their greying, runs from the menu with Stop
// and refused buttons, saving and opening, dropped files, the two ways out, the panes and help.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sched.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QClipboard>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFontDatabase>
#include <QFontDialog>
#include <QListWidget>
#include <QStyle>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QSessionManager>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>
#include <QThreadPool>
#include <QToolButton>
#include <QUrl>
#include <QWindow>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <thread>

#include "kestrel/engine/report/benchmark_reader.h"
#include "kestrel/engine/run/commands.h"
#include "kestrel/engine/disk/disk_drives.h"
#include "kestrel/engine/disk/disk_io.h"
#include "kestrel/engine/disk/disk_test.h"
#include "kestrel/engine/memory/memory_test.h"
#include "kestrel/engine/run/host.h"
#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/engine/processor/workers.h"
#include "kestrel/graphs/graph_common.h"
#include "kestrel/shell/comparison.h"
#include "kestrel/shell/graph_windows.h"
#include "kestrel/shell/main_window.h"
#include "kestrel/shell/panes.h"
#include "kestrel/shell/qt_host.h"
#include "shared/gdi/font.h"
#include "shared/reference_data.h"
#include "shared/report_lines.h"
#include "shared/ui/help.h"
#include "shared/ui/print_job.h"
#include "shared/ui/screen_place.h"
#include "shared/ui/scroller.h"
#include "kestrel/shell/settings_windows.h"
#include "kestrel/shell/shell_rules.h"
#include "kestrel/shell/single_instance.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/whole_file.h"
#include "tests/kestrel/shell/shell_test_support.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/font_dialog.h"
#include "tests/support/isolation.h"
#include "tests/support/qt_test_main.h"
#include "tests/support/window_manager.h"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

// Qt's pooled threads (its raster engine's helpers among them): id -> context switches so far.
std::map<int, long> PooledThreads() {
    std::map<int, long> pooled;
    std::error_code ignored;
    for (const auto& task : fs::directory_iterator("/proc/self/task", ignored)) {
        std::ifstream in(task.path() / "status");
        bool is_pooled = false;
        long switches = 0;
        for (std::string line; std::getline(in, line);) {
            if (line == "Name:\tThread (pooled)") is_pooled = true;
            if (line.find("ctxt_switches:") != std::string::npos) switches += std::atol(line.c_str() + line.find(':') + 1);
        }
        if (is_pooled) pooled[std::atoi(task.path().filename().c_str())] = switches;
    }
    return pooled;
}

// The pooled threads at the first timed pass of memory tests 1 and 8.
std::map<int, long> g_pooled_at_first_pass[2];
int g_first_passes_seen = 0;
void NotePooledThreads(int test, const std::vector<MemoryBuffer>&) {
    if (test != 1 && test != 8) return;
    g_pooled_at_first_pass[test == 8 ? 1 : 0] = PooledThreads();
    ++g_first_passes_seen;
}

// Paint events per widget.
struct PaintCount : QObject {
    std::map<const QObject*, int> paints;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints[watched];
        return false;
    }
    int Within(const QWidget* window) const {
        int n = 0;
        for (const auto& [o, count] : paints) {
            if (o->isWidgetType() && static_cast<const QWidget*>(o)->window() == window) n += count;
        }
        return n;
    }
};

// Another program's read lease on a file, as a file server holds one: a child process opens the
// file for reading and takes the lease; asked to give it up (the system's break signal), it does.
// At the end it tells whether it still held the lease and whether it was asked. One that `keeps`
// it does not give it up when asked (the system takes it back only after its break time).
class ReadLease {
public:
    explicit ReadLease(const std::string& path, bool keeps = false) {
        int ctl[2], answer[2];
        if (pipe2(ctl, O_CLOEXEC) != 0 || pipe2(answer, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ctl[1]);
            close(answer[0]);
            sigset_t io;
            sigemptyset(&io);
            sigaddset(&io, SIGIO);
            sigprocmask(SIG_BLOCK, &io, nullptr);
            const int io_signals = signalfd(-1, &io, SFD_CLOEXEC);
            const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            int state[2] = {0, 0};  // the taking's error, then whether the lease was asked back
            if (io_signals < 0 || fd < 0 || fcntl(fd, F_SETLEASE, F_RDLCK) != 0) state[0] = errno ? errno : EINVAL;
            (void)!write(answer[1], state, sizeof state[0]);
            for (;;) {
                pollfd waits[2] = {{ctl[0], POLLIN, 0}, {io_signals, POLLIN, 0}};
                if (poll(waits, 2, -1) < 0) continue;
                if (waits[1].revents & POLLIN) {
                    signalfd_siginfo info;
                    (void)!read(io_signals, &info, sizeof info);
                    state[1] = 1;
                    if (!keeps) fcntl(fd, F_SETLEASE, F_UNLCK);
                }
                if (waits[0].revents) break;
            }
            const int held = fd >= 0 ? fcntl(fd, F_GETLEASE) : -1;
            const int report[2] = {held, state[1]};
            (void)!write(answer[1], report, sizeof report);
            _exit(0);
        }
        close(ctl[0]);
        close(answer[1]);
        ctl_ = ctl[1];
        answer_ = answer[0];
        if (pid_ < 0 || read(answer_, &error_, sizeof error_) != ssize_t(sizeof error_)) error_ = ECHILD;
    }
    ~ReadLease() { End(); }
    // 0 when the lease was taken, else the reason it was not.
    int Error() const { return error_; }
    // Ends the holder: whether it still held the lease, and whether it was asked to give it up.
    std::pair<bool, bool> End() {
        if (pid_ <= 0) return {false, false};
        close(ctl_);
        int report[2] = {-1, 0};
        if (read(answer_, report, sizeof report) != ssize_t(sizeof report)) report[0] = -1;
        close(answer_);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
        return {report[0] == F_RDLCK, report[1] != 0};
    }

private:
    pid_t pid_ = -1;
    int ctl_ = -1, answer_ = -1;
    int error_ = 0;
};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallBenchmarkReader();
        // The suite's libraries and programs beside the program under test.
        perflink.program_directory = KESTREL_BIN_DIR;
        // Short measuring times, should a run measure the processors.
        measuring_times.driver_seconds = 0.01;
        measuring_times.flops_scale = 0.001;
        run.ending = 0;
    }
    void TearDown() override {
        if (HelpWindow* help = HelpWindow::Current()) delete help;
    }
    // Builds the main window and runs its start-up.
    void Start(const std::string& file_name = "") {
        w = std::make_unique<MainWindow>();
        spy = std::make_unique<QSignalSpy>(w.get(), &MainWindow::commandRan);
        w->Init(file_name);
        ASSERT_TRUE(kt::Until([&] { return w->StartupDone(); }));
        Activate();
    }
    // Makes the main window the active one (its accelerators work only then).
    void Activate() {
        QApplication::setActiveWindow(w.get());
        ASSERT_TRUE(kt::Until([&] { return w->isActiveWindow(); }));
    }
    // The pointer moves over a widget at a point.
    static void MoveOver(QWidget* widget, QPoint at) {
        QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &move);
    }
    int Ran(int id) const {
        int n = 0;
        for (const QList<QVariant>& call : *spy) n += call.at(0).toInt() == id ? 1 : 0;
        return n;
    }
    // The menu item with the given text in the menu bar's menus.
    QAction* Item(const QString& text) const {
        for (QMenu* menu : w->menuBar()->findChildren<QMenu*>()) {
            for (QAction* a : menu->actions()) {
                if (a->text() == text) return a;
            }
        }
        return nullptr;
    }
    bool Enabled(int id) const { return w->Action(id)->isEnabled(); }
    // A short run from the File menu with the test chosen in the Options menu.
    void RunFromTheMenu(const char* test_item = "Run &Memory Test") {
        QAction* test = Item(QString::fromLatin1(test_item));
        ASSERT_NE(test, nullptr);
        test->trigger();
        QAction* start = Item(QStringLiteral("&New Test\tCtrl+N"));
        ASSERT_NE(start, nullptr);
        start->trigger();
    }
    bool HasBox(const std::string& text, const std::string& caption) const {
        for (const kp::BoxRequest& b : boxes.boxes()) {
            if (b.text == text && b.caption == caption) return true;
        }
        return false;
    }
    static bool HasLine(const std::string& line) {
        return std::find(report.szGreeting.begin(), report.szGreeting.end(), line) != report.szGreeting.end();
    }

    kp::BoxRecorder boxes;
    std::unique_ptr<MainWindow> w;
    std::unique_ptr<QSignalSpy> spy;
};

TEST_F(MainWindowTest, StartsWithItsPanesMenusAndProcessors) {
    Start();
    EXPECT_EQ(w->windowTitle(), "KESTREL version 1.21");
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->geometry(), QRect(100, 100, 800, 600));
    EXPECT_EQ(w->Report()->Caption(), "Kestrel - System Level Benchmark");
    // The panes: the bar on top, the report below it, the status line at the bottom.
    const int H = w->Client()->height(), W = w->Client()->width();
    const int text_height = w->Status()->lHeight();
    EXPECT_EQ(w->Bar()->geometry(), QRect(0, 0, W, 40));
    EXPECT_EQ(w->Report()->geometry(), QRect(0, 40, W, H - text_height - 40));
    EXPECT_EQ(w->Status()->geometry(), QRect(0, H - text_height - 1, W, text_height));
    // Bitmap buttons by default: ten, the tenth starting the viewer.
    EXPECT_EQ(w->Bar()->ButtonCount(), 10);
    EXPECT_EQ(w->Bar()->Button(8)->objectName(), "4809");
    // Nothing to save, close or copy; all tests chosen.
    for (int id : {CMD_SAVE, CMD_SAVE_AS, CMD_PRINT, CMD_MAIL, CMD_CLOSE, CMD_COPY_ALL, CMD_FONT}) {
        EXPECT_FALSE(Enabled(id)) << id;
    }
    EXPECT_TRUE(Enabled(CMD_NEW_TEST));
    EXPECT_TRUE(w->Action(CMD_ALL_TESTS)->isChecked());
    EXPECT_EQ(run.TestValue, 0u);
    // The drive list filled the Test Drives menu; the first drive is ticked.
    QAction* drive = w->Action(CMD_FIRST_DRIVE);
    ASSERT_NE(drive, nullptr);
    EXPECT_TRUE(drive->text().startsWith("Test ")) << drive->text().toStdString();
    EXPECT_TRUE(drive->isChecked());
    // The processors and their name.
    const int n = std::min(AllowedProcessorCount(), 32);
    EXPECT_EQ(run.real_num_processors, n);
    EXPECT_EQ(run.processor, ProcessorText(n, ModelName(kt::ReadFile("/proc/cpuinfo"))));
    EXPECT_EQ(Enabled(CMD_SCALING), n > 1);
    // No machine description stored: the Configuration pages were asked for.
    EXPECT_EQ(Ran(CMD_CONFIGURATION), 1);
    EXPECT_TRUE(boxes.boxes().empty() || n == 32);
}

// Out of memory during start-up: the box of the failed heap and exit code 1, not an abort.
TEST_F(MainWindowTest, OutOfMemoryAtStartUpEndsWithTheHeapBoxAndCodeOne) {
    const std::string log = kt::TempDir() + "/boxes.log";
    setenv("KESTREL_TEST_MSGBOX_LOG", log.c_str(), 1);
    setenv("KESTREL_TEST_STARTUP_OUT_OF_MEMORY", "1", 1);
    auto program = kp::ChildProcess::Spawn(KESTREL_PATH, {"kestrel"});
    unsetenv("KESTREL_TEST_STARTUP_OUT_OF_MEMORY");
    unsetenv("KESTREL_TEST_MSGBOX_LOG");
    ASSERT_TRUE(program.has_value());
    ASSERT_TRUE(program->WaitFor(20000)) << "the program did not end";
    EXPECT_EQ(program->exit_code(), 1);
    EXPECT_EQ(kt::ReadFile(log), "[Fatal Memory Exception] (exclamation) Heap Allocation Error! -> ok\n");
}

TEST_F(MainWindowTest, StartUpTakesTheStoredPlacementAndDescription) {
    prefs.main_window_rect = WindowRect{30, 500, 40, 300};
    ASSERT_EQ(CreateRegEntry(), 0);
    machine.manufacturer = "Acme";
    ASSERT_EQ(CreateRegEntry2(), 0);
    prefs = Preferences{};
    Start();
    EXPECT_EQ(w->geometry(), QRect(30, 40, 500, 300));
    EXPECT_FALSE(w->isMaximized());
    EXPECT_EQ(Ran(CMD_CONFIGURATION), 0);
    w.reset();

    prefs.main_window_rect = WindowRect{0, 100000, 0, 100000};
    ASSERT_EQ(CreateRegEntry(), 0);
    Start();
    EXPECT_TRUE(w->isMaximized());
}

TEST_F(MainWindowTest, StartsWithAFileNamedOnTheCommandLine) {
    // A name longer than 512 characters, with blanks, as the words of the command line.
    std::string dir = kt::FreshDir("cmdline");
    while (dir.size() < 600) dir += "/a folder with a long name";
    fs::create_directories(dir);
    const std::string path = dir + "/my run.bmf";
    fs::copy_file(KESTREL_CORPUS_DIR "/plain.bmf", path);
    chmod(path.c_str(), 0444);
    Start(CommandLineFileName({dir + "/my", "run.bmf"}));

    const std::string text = kt::ReadFile(path);
    EXPECT_EQ(report.szGreeting, SplitReportLines(text.data(), text.size()));
    EXPECT_EQ(w->Report()->Caption().toStdString(), path);
    EXPECT_EQ(results.data_from_file, 1);
    EXPECT_GT(results.TotalCPU[1], 0);
    ASSERT_GE(report.theFile, 0);
    EXPECT_EQ(fcntl(report.theFile, F_GETFL) & O_ACCMODE, O_RDONLY);
    // Line 0 is hidden, line 1 is at the top.
    EXPECT_EQ(w->Report()->LineTop(0), -1);
    EXPECT_EQ(w->Report()->LineTop(1), 0);
    EXPECT_FALSE(Enabled(CMD_SAVE));
    for (int id : {CMD_SAVE_AS, CMD_PRINT, CMD_MAIL, CMD_CLOSE, CMD_COPY_ALL, CMD_FONT}) EXPECT_TRUE(Enabled(id)) << id;
}

TEST_F(MainWindowTest, AShortRunFromTheMenuFillsTheReport) {
    Start();
    w->resize(500, 260);  // fewer rows than the run has lines
    ASSERT_TRUE(kt::Until([&] { return w->Client()->height() < 260; }));
    bool progress_seen = false, newest_hidden = false;
    auto* watch = new QTimer(w.get());
    watch->setInterval(0);
    QObject::connect(watch, &QTimer::timeout, [&] {
        if (run.testrunning == 0) return;
        progress_seen = progress_seen || w->Progress() != nullptr;
        const int newest = report.num - 1;
        if (newest > report.headernum) {
            const int top = w->Report()->LineTop(newest);
            newest_hidden = newest_hidden || top < 0 || top + w->Report()->nYChar > w->Report()->viewport()->height();
        }
    });
    watch->start();
    // The pool's threads stay for the whole run, so any wake or start of one is work given them.
    QThreadPool::globalInstance()->setExpiryTimeout(-1);
    g_first_passes_seen = 0;
    SetFirstPassObserver(&NotePooledThreads);
    RunFromTheMenu();
    SetFirstPassObserver(nullptr);
    watch->stop();
    // From the first timed pass of the first test to that of the last, with the report pane
    // scrolling at each line, Qt's thread pool was given no work: no pooled thread started or woke.
    EXPECT_EQ(g_first_passes_seen, 2);
    EXPECT_EQ(g_pooled_at_first_pass[1], g_pooled_at_first_pass[0]);

    EXPECT_EQ(run.TestValue, 4u);
    EXPECT_TRUE(w->Action(CMD_MEMORY_TEST)->isChecked());
    EXPECT_FALSE(w->Action(CMD_ALL_TESTS)->isChecked());
    EXPECT_EQ(run.testrunning, 0);
    EXPECT_EQ(run.test_interrupted, 0);
    EXPECT_GT(report.num, report.headernum + 2);
    EXPECT_GT(report.y, 0);  // the pane painted lines below its first row
    EXPECT_EQ(w->Report()->Caption(), "Your Scores!");
    EXPECT_TRUE(progress_seen);
    EXPECT_FALSE(newest_hidden);
    EXPECT_EQ(w->Progress(), nullptr);
    EXPECT_EQ(report.isnew, 1);
    for (int id : {CMD_SAVE, CMD_SAVE_AS, CMD_PRINT, CMD_MAIL, CMD_COPY_ALL, CMD_FONT}) EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_FALSE(Enabled(CMD_CLOSE));
    // The result comparison is asked for once the run has ended.
    EXPECT_TRUE(kt::Until([&] { return Ran(CMD_RESULT_COMPARISONS) == 1; }));
    // The scroll range follows the lines.
    EXPECT_EQ(w->Report()->verticalScrollBar()->maximum(),
              ReportScrollMax(report.num, report.headernum, w->Report()->viewport()->height(), w->Report()->nYChar));
}

// The tests write the report and the status line between tests; what that changes in the main
// window is painted then, and the pump between timed passes has nothing of it to paint.
TEST_F(MainWindowTest, BetweenPassesThePumpPaintsNothingOfTheMainWindow) {
    Start();
    QCoreApplication::processEvents();  // what the start-up left to paint
    PaintCount count;
    qApp->installEventFilter(&count);
    run.testrunning = 1;
    passtring("a line written between tests");
    Host().SetStatusText("Testing Sequential Memory Copy Performance for 8 byte arrays");
    const int status_paints = count.paints[w->Status()];
    count.paints.clear();
    Host().PumpPending();
    const int pumped = count.Within(w.get());
    run.testrunning = 0;
    qApp->removeEventFilter(&count);
    EXPECT_GE(status_paints, 1);
    EXPECT_EQ(pumped, 0);
    // During a run the pane's scroll bars paint in bands, and look as they do at any other time.
    for (QScrollBar* bar : {w->Report()->verticalScrollBar(), w->Report()->horizontalScrollBar()}) {
        const QSignalBlocker quiet(bar);
        bar->setRange(0, 40);
        bar->setValue(25);  // the slider away from both ends
        const QImage outside = bar->grab().toImage();
        run.testrunning = 1;
        const QImage during = bar->grab().toImage();
        run.testrunning = 0;
        EXPECT_GT(std::max(bar->width(), bar->height()), 2 * kPaintBandRows);
        EXPECT_EQ(during, outside);
    }
}

TEST_F(MainWindowTest, StopEndsTheRunBetweenPasses) {
    Start();
    kt::DuringTheRun([&] { QTest::mouseClick(w->Bar()->Button(8), Qt::LeftButton); });
    RunFromTheMenu("Run &CPU Test");
    EXPECT_EQ(run.TestValue, 1u);
    EXPECT_TRUE(HasLine("Test aborted!"));
    EXPECT_EQ(run.testend.load(), 1);
    EXPECT_EQ(run.test_interrupted, 1);
    EXPECT_EQ(run.testrunning, 0);
    EXPECT_EQ(w->Report()->Caption(), "Your Scores!");
    for (kp::Worker* slot : global_current_thread) EXPECT_EQ(slot, nullptr);
    // A stopped run is not compared.
    kt::Settle(200);
    EXPECT_EQ(Ran(CMD_RESULT_COMPARISONS), 0);
    EXPECT_FALSE(HasBox("Press the stop button first.", "Operation Failed"));
}

// A fixed pause of a run keeps the windows alive: Stop pressed during it is taken at once, the
// other buttons are refused as between passes, and the pause keeps its (scaled) length.
TEST_F(MainWindowTest, StopDuringAPauseIsTakenAtOnce) {
    Start();
    setenv("KESTREL_TEST_SLEEP_SCALE", "0.05", 1);  // 2000 ms become 100 ms
    run.testrunning = 1;  // as the engine pauses during a run
    run.testend = 0;
    QTimer::singleShot(0, [&] {
        QTest::mouseClick(w->Bar()->Button(1), Qt::LeftButton);  // Open
        QTest::mouseClick(w->Bar()->Button(8), Qt::LeftButton);  // Stop
    });
    QElapsedTimer clock;
    clock.start();
    Host().Sleep(2000);
    const qint64 waited = clock.elapsed();
    EXPECT_EQ(Ran(CMD_STOP), 1);
    EXPECT_EQ(run.testend.load(), 1);
    EXPECT_EQ(run.test_interrupted, 1);
    EXPECT_EQ(Ran(CMD_OPEN), 0);
    EXPECT_TRUE(HasBox("Press the stop button first.", "Operation Failed"));
    EXPECT_GE(waited, 100);  // not cut short
    run.testrunning = 0;
    setenv("KESTREL_TEST_SLEEP_SCALE", "0", 1);
}

TEST_F(MainWindowTest, DuringARunOtherButtonsMenusAndTheCloseBoxAreRefused) {
    Start();
    bool closed = true;
    kt::DuringTheRun([&] {
        QApplication::setActiveWindow(w.get());
        QTest::mouseClick(w->Bar()->Button(1), Qt::LeftButton);  // Open
        QTest::keyClick(w.get(), Qt::Key_F1);  // the help index
        closed = w->close();
    });
    RunFromTheMenu();
    ASSERT_FALSE(boxes.boxes().empty());
    const auto refusal = std::find_if(boxes.boxes().begin(), boxes.boxes().end(), [](const kp::BoxRequest& b) {
        return b.text == "Press the stop button first.";
    });
    ASSERT_NE(refusal, boxes.boxes().end());
    EXPECT_EQ(refusal->caption, "Operation Failed");
    EXPECT_EQ(refusal->icon, kp::Icon::Stop);
    EXPECT_EQ(Ran(CMD_OPEN), 0);
    EXPECT_EQ(Ran(CMD_HELP_INDEX), 0);
    EXPECT_EQ(HelpWindow::Current(), nullptr);
    EXPECT_FALSE(closed);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->Report()->Caption(), "Your Scores!");
    // After the run the accelerator works again.
    Activate();
    QTest::keyClick(w.get(), Qt::Key_F1);
    EXPECT_EQ(Ran(CMD_HELP_INDEX), 1);
    EXPECT_NE(HelpWindow::Current(), nullptr);
}

// A box raised during a run belongs to the window its owner names; it stays on top like the
// progress window and, for the window manager's stacking, belongs to the progress window, so that
// it never opens under it.
TEST_F(MainWindowTest, BoxesBelongToTheirOwnerAndStandAboveTheProgressWindow) {
    Start();
    InstallMainWindowBoxes([&] { return w.get(); });
    struct Shown {
        QWidget* parent = nullptr;
        QWindow* stacked_with = nullptr;
        bool on_top = false;
        Qt::WindowModality modality = Qt::NonModal;
    };
    // Raises a box of the owner; what the box was, once up.
    auto raise = [](kp::Owner owner) {
        Shown shown;
        QTimer::singleShot(0, [&shown] {
            auto* mb = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (mb == nullptr) return;
            shown.parent = mb->parentWidget();
            shown.stacked_with = mb->windowHandle()->transientParent();
            shown.on_top = mb->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
            shown.modality = mb->windowModality();
            mb->accept();
        });
        kp::MessageBox(owner, "Allocation Error!", "Memory Exception");
        return shown;
    };
    w->host().OpenProgress("Memory Test");
    QWidget* progress = w->Progress();
    ASSERT_NE(progress, nullptr);
    ASSERT_TRUE(progress->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    struct Row {
        kp::Owner owner;
        QWidget* parent;
        QWindow* stacked_with;
    };
    for (const Row& row : {Row{kp::Owner::Progress, progress, progress->windowHandle()},
                           Row{kp::Owner::Main, w.get(), progress->windowHandle()},
                           Row{kp::Owner::Active, progress, progress->windowHandle()},
                           Row{kp::Owner::None, nullptr, nullptr}}) {
        QApplication::setActiveWindow(progress);
        const Shown shown = raise(row.owner);
        EXPECT_EQ(shown.parent, row.parent) << int(row.owner);
        EXPECT_EQ(shown.stacked_with, row.stacked_with) << int(row.owner);
        EXPECT_TRUE(shown.on_top) << int(row.owner);
        EXPECT_EQ(shown.modality, Qt::ApplicationModal) << int(row.owner);
    }
    // Without a progress window its boxes belong to the main window.
    w->host().CloseProgress();
    const Shown shown = raise(kp::Owner::Progress);
    EXPECT_EQ(shown.parent, w.get());
    EXPECT_EQ(shown.stacked_with, w->windowHandle());
    EXPECT_TRUE(shown.on_top);
    kp::SetMessageBoxBackend(nullptr);
}

TEST_F(MainWindowTest, SaveThenOpenGivesTheSameReportAndStore) {
    Start();
    RunFromTheMenu();
    const Lines lines = report.szGreeting;
    const int32_t total_memory = results.TotalMemory;
    const std::string path = kt::TempDir() + "/round.bmf";

    kt::AnswerFileDialog(QString::fromStdString(path));
    w->Action(CMD_SAVE_AS)->trigger();
    EXPECT_EQ(kt::ReadFile(path), kt::Joined(lines, "\r\n"));
    EXPECT_EQ(report.isnew, 0);
    EXPECT_EQ(w->Report()->Caption().toStdString(), path);
    EXPECT_FALSE(Enabled(CMD_SAVE));
    EXPECT_TRUE(Enabled(CMD_CLOSE));

    w->Action(CMD_CLOSE)->trigger();
    EXPECT_EQ(report.num, 0);
    EXPECT_EQ(w->Report()->Caption(), "Kestrel - System Level Benchmark");
    for (int id : {CMD_SAVE, CMD_SAVE_AS, CMD_PRINT, CMD_MAIL, CMD_CLOSE, CMD_COPY_ALL, CMD_FONT}) {
        EXPECT_FALSE(Enabled(id)) << id;
    }

    kt::AnswerFileDialog(QString::fromStdString(path));
    w->Action(CMD_OPEN)->trigger();
    EXPECT_EQ(report.szGreeting, lines);
    EXPECT_EQ(report.isnew, 0);
    EXPECT_EQ(results.TotalMemory, total_memory);
    const ResultStore opened = results;
    // The store that reading the file directly gives.
    const std::string text = kt::ReadFile(path);
    SetDefaults();
    DoDataSearch(text.data(), text.size());
    EXPECT_EQ(opened.TotalMemory, results.TotalMemory);
    EXPECT_EQ(opened.last_memory_load_value, results.last_memory_load_value);
    EXPECT_EQ(opened.data_from_file, results.data_from_file);
    EXPECT_TRUE(std::equal(std::begin(opened.TotalCPU), std::end(opened.TotalCPU), std::begin(results.TotalCPU)));
    EXPECT_TRUE(std::equal(std::begin(opened.TotalDisk), std::end(opened.TotalDisk), std::begin(results.TotalDisk)));
    EXPECT_FALSE(Enabled(CMD_SAVE));
    EXPECT_TRUE(Enabled(CMD_CLOSE));
    EXPECT_TRUE(Enabled(CMD_COPY_ALL));
}

TEST_F(MainWindowTest, SaveWritesEveryLineEvenUnpaintedOnesAndAsksBeforeReplacing) {
    w = std::make_unique<MainWindow>();  // never shown: no line was ever painted
    for (int i = 0; i < 300; ++i) passtring("line " + std::to_string(i));
    report.isnew = 1;
    const std::string path = kt::TempDir() + "/all.bmf";
    kt::AnswerFileDialog(QString::fromStdString(path));
    w->Command(CMD_SAVE);
    EXPECT_EQ(kt::ReadFile(path), kt::Joined(report.szGreeting, "\r\n"));
    EXPECT_EQ(report.isnew, 0);
    // A new file has the permissions of any file made under the umask.
    const mode_t mask = umask(022);
    umask(mask);
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0666 & ~mask));

    // An existing file: No leaves it alone, Yes replaces it and keeps its permissions.
    kt::WriteFile(path, "old");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    boxes.Script({kp::Answer::No});
    kt::AnswerFileDialog(QString::fromStdString(path));
    w->Command(CMD_SAVE_AS);
    EXPECT_TRUE(HasBox("File Already Exists!  Overwrite?", "File Exception"));
    EXPECT_EQ(kt::ReadFile(path), "old");
    boxes.Script({kp::Answer::Yes});
    kt::AnswerFileDialog(QString::fromStdString(path));
    w->Command(CMD_SAVE_AS);
    EXPECT_EQ(kt::ReadFile(path), kt::Joined(report.szGreeting, "\r\n"));
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640));

    ClearReportLines();
    w->Command(CMD_SAVE);
    EXPECT_TRUE(HasBox("No benchmark data.", "File Exception"));
}

// A name typed without an extension is saved with the chosen filter's: ".BMF" under "Benchmark
// Files" (the filter chosen at first), so that Open's filter shows the file; nothing under "ALL
// FILES"; a name with an extension keeps it.
TEST_F(MainWindowTest, SaveGivesANameWithoutExtensionThatOfTheChosenFilter) {
    w = std::make_unique<MainWindow>();
    passtring("a line");
    const QString bmf = QString::fromLatin1(kBenchmarkFilter), all = QString::fromLatin1(kAllFilesFilter);
    const struct {
        const char* typed;
        QStringList filters;  // chosen in turn; none: the one chosen at first
        const char* saved;
    } rows[] = {
        {"run", {}, "run.BMF"},
        {"run1", {bmf}, "run1.BMF"},
        {"run2", {all}, "run2"},
        {"run3", {all, bmf}, "run3.BMF"},
        {"run4.txt", {}, "run4.txt"},
        {"run5.bmf", {}, "run5.bmf"},
        {"my.runs/run6", {}, "my.runs/run6.BMF"},
    };
    const std::string dir = kt::FreshDir("saved");
    fs::create_directory(dir + "/my.runs");
    for (const auto& row : rows) {
        report.isnew = 1;
        kt::AnswerFileDialog(QString::fromStdString(dir + "/" + row.typed), row.filters);
        w->Command(CMD_SAVE_AS);
        EXPECT_EQ(w->Report()->Caption().toStdString(), dir + "/" + row.saved) << row.typed;
        EXPECT_EQ(kt::ReadFile(dir + "/" + row.saved), "a line\r\n") << row.typed;
    }
    // Nothing else was written.
    size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, std::size(rows));
}

// A save whose writes fail part-way (as on a full disk) over an existing report, to a new name and
// at Exit: the box, an existing report kept byte for byte, no new or partial file left beside it,
// and the run still unsaved. A name that is no regular file (a device) is never replaced.
TEST_F(MainWindowTest, AFailedSaveKeepsTheOldReportAndTheRunUnsaved) {
    w = std::make_unique<MainWindow>();
    for (int i = 0; i < 300; ++i) passtring("line " + std::to_string(i));  // about 2.7 KB
    const std::string dir = kt::FreshDir("full");
    std::string old_report;
    for (int i = 0; old_report.size() < 2465; ++i) old_report += "old report line " + std::to_string(i) + "\r\n";
    const Lines write_box = {"Error writing data to the file|File Exception"};
    const struct {
        const char* what;
        const char* name;
        bool exists;
        bool at_exit;
        std::vector<kp::Answer> answers;
        Lines asked;
    } rows[] = {
        {"over an existing report", "run.BMF", true, false, {kp::Answer::Yes},
         {"File Already Exists!  Overwrite?|File Exception", write_box[0]}},
        {"as a new file", "new.BMF", false, false, {}, write_box},
        {"at Exit", "exit.BMF", false, true, {kp::Answer::Yes, kp::Answer::Ok, kp::Answer::No},
         {"Do you want to save this test?|File Exeption", write_box[0], "Exit Kestrel anyway?|Kestrel"}},
        {"onto a device", "/dev/full", true, false, {kp::Answer::Yes},
         {"File Already Exists!  Overwrite?|File Exception", "Error Writing file!|File Exception"}},
    };
    const auto names = [&] {
        std::set<std::string> n;
        for (const auto& e : fs::directory_iterator(dir)) n.insert(e.path().filename().string());
        return n;
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const bool device = row.name[0] == '/';
        if (device && !fs::is_character_file(row.name)) continue;
        const std::string path = device ? row.name : dir + "/" + row.name;
        if (row.exists && !device) kt::WriteFile(path, old_report);
        const std::set<std::string> before = names();
        report.isnew = 1;
        const QString caption = w->Report()->Caption();
        const bool save_enabled = Enabled(CMD_SAVE);
        boxes.Clear();
        boxes.Script(row.answers);
        kt::AnswerFileDialog(QString::fromStdString(path), {QString::fromLatin1(kAllFilesFilter)});
        {
            kt::FileSizeLimit limit(1024);
            w->Command(row.at_exit ? CMD_EXIT : CMD_SAVE_AS);
        }
        Lines asked;
        for (const kp::BoxRequest& b : boxes.boxes()) asked.push_back(b.text + "|" + b.caption);
        EXPECT_EQ(asked, row.asked);
        EXPECT_EQ(names(), before);
        if (device) {
            EXPECT_TRUE(fs::is_character_file(row.name));
        } else if (row.exists) {
            EXPECT_EQ(kt::ReadFile(path), old_report);
        }
        EXPECT_EQ(report.isnew, 1);
        EXPECT_EQ(w->Report()->Caption(), caption);
        EXPECT_EQ(Enabled(CMD_SAVE), save_enabled);
    }
}

// Yes to "Overwrite?" as an ordinary user (nobody when the tests run as root): a report the user
// may not write is refused before anything is written; a writable one is replaced by a new file
// where the folder allows, and otherwise (a folder that takes no new file, another user's file
// in a sticky folder, a mounted file) written where it is, keeping its permissions.
TEST_F(MainWindowTest, OverwritingAReportFollowsTheUsersRightsToItAndItsFolder) {
    w = std::make_unique<MainWindow>();
    for (int i = 0; i < 30; ++i) passtring("line " + std::to_string(i));
    const std::string new_report = kt::Joined(report.szGreeting, "\r\n");
    const bool root = geteuid() == 0;
    const uid_t user = root ? 65534 : geteuid();
    const gid_t group = root ? 65534 : getegid();
    // The user passes through the test's folders (private to the test, and root's when root).
    if (root) {
        for (const std::string& d : {fs::path(kt::TempDir()).parent_path().string(), kt::TempDir()}) {
            ASSERT_EQ(chmod(d.c_str(), 0711), 0);
        }
    }
    const std::string base = kt::FreshDir("rights");
    ASSERT_EQ(chmod(base.c_str(), 0755), 0);
    const struct {
        const char* what;
        mode_t folder, file;
        bool others;  // the folder and the report belong to another user (root)
        bool written, renamed;
        bool leased = false;  // another program holds a read lease on the report (a file server)
        bool kept = false;    // and does not give it up when asked
    } rows[] = {
        {"a writable report in a writable folder", 0755, 0640, false, true, true},
        {"a read-only report in a writable folder", 0755, 0444, false, false, false},
        {"a writable report in a folder that takes no new file", 0555, 0640, false, true, false},
        {"a read-only report in a folder that takes no new file", 0555, 0444, false, false, false},
        {"another user's writable report in a sticky folder", 01777, 0666, true, true, false},
        {"another user's read-only report in a sticky folder", 01777, 0644, true, false, false},
        // The lease stays where the report is replaced; where it is written in place, its holder
        // is asked to give it up first.
        {"a writable report under a read lease in a writable folder", 0755, 0640, false, true, true, true},
        {"a writable report under a read lease in a folder that takes no new file", 0555, 0640, false, true, false, true},
        {"a read-only report under a read lease", 0755, 0444, false, false, false, true},
        // A holder that keeps its lease does not hold the window up until the system takes it back.
        {"a writable report under a kept read lease in a folder that takes no new file", 0555, 0640, false, false, false, true, true},
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.others && !root) {
            std::printf("[ SKIPPED  ] %s: only root can give a file to another user\n", row.what);
            continue;
        }
        const std::string dir = base + "/" + std::to_string(++n);
        fs::create_directory(dir);
        const std::string path = kt::WriteFile(dir + "/run.BMF", "old report\r\n");
        ASSERT_EQ(chmod(path.c_str(), row.file), 0);
        ASSERT_EQ(chmod(dir.c_str(), row.folder), 0);
        if (root && !row.others) {
            ASSERT_EQ(chown(dir.c_str(), user, group), 0);
            ASSERT_EQ(chown(path.c_str(), user, group), 0);
        }
        struct stat before{}, after{};
        ASSERT_EQ(stat(path.c_str(), &before), 0);
        std::optional<ReadLease> lease;
        if (row.leased) {
            lease.emplace(path, row.kept);
            ASSERT_EQ(lease->Error(), 0) << std::strerror(lease->Error());
        }
        report.isnew = 1;
        const QString caption = w->Report()->Caption();
        boxes.Clear();
        boxes.Script({kp::Answer::Yes});
        kt::AnswerFileDialog(QString::fromStdString(path), {QString::fromLatin1(kAllFilesFilter)});
        ASSERT_EQ(seteuid(user), 0);
        w->Command(CMD_SAVE_AS);
        ASSERT_EQ(seteuid(root ? 0 : user), 0);
        Lines asked;
        for (const kp::BoxRequest& b : boxes.boxes()) asked.push_back(b.text + "|" + b.caption);
        Lines expected = {"File Already Exists!  Overwrite?|File Exception"};
        if (!row.written) expected.push_back("Error Writing file!|File Exception");
        EXPECT_EQ(asked, expected);
        EXPECT_EQ(kt::ReadFile(path), row.written ? new_report : "old report\r\n");
        EXPECT_EQ(report.isnew, row.written ? 0 : 1);
        EXPECT_EQ(w->Report()->Caption(), row.written ? QString::fromStdString(path) : caption);
        ASSERT_EQ(stat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_ino != before.st_ino, row.renamed);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);  // nothing beside it
        if (lease) {
            const auto [held, asked] = lease->End();
            // A kept lease is being broken: the system no longer counts it as held.
            EXPECT_EQ(held, !row.kept && (row.renamed || !row.written));
            EXPECT_EQ(asked, row.kept || (row.written && !row.renamed));
        }
        ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    }

    // A mounted report (its name cannot be given to another file), in a mount space of its own.
    if (!root) return;
    const std::string dir = base + "/mounted";
    fs::create_directory(dir);
    const std::string path = kt::WriteFile(dir + "/run.BMF", "old report\r\n");
    const std::string mounted = kt::WriteFile(dir + "/mounted.BMF", "mounted report\r\n");
    ASSERT_EQ(chown(dir.c_str(), user, group), 0);
    ASSERT_EQ(chown(mounted.c_str(), user, group), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(mounted.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            _exit(100);
        }
        if (setresgid(group, group, group) != 0 || setresuid(user, user, user) != 0) _exit(101);
        _exit(int(kp::WriteWholeFile(path, true, "new report\r\n")));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 100) GTEST_SKIP() << "no mount space of its own";
    EXPECT_EQ(WEXITSTATUS(status), int(kp::WholeFile::Written));
    EXPECT_EQ(kt::ReadFile(mounted), "new report\r\n");
    EXPECT_EQ(kt::ReadFile(path), "old report\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

// A signal seen while the first windows are made, before the message loop runs: the program
// ends as soon as the loop runs.
TEST_F(MainWindowTest, AnEndSignalBeforeTheMessageLoopEndsTheProgramOnceItRuns) {
    ::signal(SIGTERM, SIG_DFL);
    Start();
    w->WatchEndRequests();
    raise(SIGTERM);
    ASSERT_TRUE(kt::Until([&] { return !w->isVisible(); }));  // taken, outside the loop
    bool bounded = false;
    QTimer::singleShot(20000, [&bounded] {
        bounded = true;
        QCoreApplication::exit(2);
    });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_FALSE(bounded);
}

TEST_F(MainWindowTest, NewTestKeepsAnUnsavedRunWhenItsSaveIsCancelled) {
    Start();
    RunFromTheMenu();
    ASSERT_TRUE(kt::Until([&] { return Ran(CMD_RESULT_COMPARISONS) == 1; }));
    const Lines lines = report.szGreeting;
    boxes.Clear();
    boxes.Script({kp::Answer::Yes});
    kt::AnswerFileDialog(QString());
    w->Action(CMD_NEW_TEST)->trigger();
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Do you want to save this test?");
    EXPECT_EQ(boxes.boxes()[0].caption, "File Exception");
    EXPECT_EQ(boxes.boxes()[0].icon, kp::Icon::Question);
    EXPECT_EQ(report.szGreeting, lines);
    EXPECT_EQ(report.isnew, 1);
    kt::Settle(100);
    EXPECT_EQ(Ran(CMD_RESULT_COMPARISONS), 1);  // no second run

    // No: the run is given up and a new one made.
    boxes.Script({kp::Answer::No});
    w->Action(CMD_NEW_TEST)->trigger();
    EXPECT_TRUE(kt::Until([&] { return Ran(CMD_RESULT_COMPARISONS) == 2; }));
}

TEST_F(MainWindowTest, DroppedFilesLoadTheFirstUnlessARunIsUnsavedOrGoing) {
    Start();
    const std::string first = kt::WriteFile(kt::TempDir() + "/first.bmf", "head\r\nline one\r\n");
    const std::string second = kt::WriteFile(kt::TempDir() + "/second.bmf", "other\r\n");
    auto drop = [&](const std::vector<std::string>& paths, bool settle = true) {
        auto* data = new QMimeData;
        QList<QUrl> urls;
        for (const std::string& p : paths) urls << QUrl::fromLocalFile(QString::fromStdString(p));
        data->setUrls(urls);
        const QPoint at = w->Report()->geometry().center();
        QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &enter);
        QDropEvent event(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &event);
        if (settle) kt::Settle(50);
        delete data;
    };
    drop({first, second});
    EXPECT_EQ(report.szGreeting, (Lines{"head", "line one"}));
    EXPECT_EQ(w->Report()->Caption().toStdString(), first);

    // A file dropped while another is being read (the windows are painted meanwhile) is not
    // taken: the one being read is shown whole.
    const std::string big = kt::WriteFile(kt::TempDir() + "/big.bmf", "");
    ASSERT_EQ(truncate(big.c_str(), off_t(64) << 20), 0);  // sparse, read in several steps
    drop({big}, false);
    drop({second});
    EXPECT_EQ(w->Report()->Caption().toStdString(), big);
    EXPECT_EQ(report.szGreeting, Lines{""});
    EXPECT_TRUE(HasBox("Database file is corrupt!  Cannot parse data", "File Exception"));
    EXPECT_FALSE(HasLine("other"));

    // During a run the drop is ignored.
    kt::DuringTheRun([&] { drop({second}); });
    RunFromTheMenu();
    EXPECT_EQ(w->Report()->Caption(), "Your Scores!");
    EXPECT_FALSE(HasLine("other"));

    // An unsaved run: Yes goes to Save As (cancelled here) and the file is not loaded.
    boxes.Script({kp::Answer::Yes});
    kt::AnswerFileDialog(QString());
    drop({second});
    EXPECT_TRUE(HasBox("Do you want to save this test?", "File Exception"));
    EXPECT_TRUE(kt::Until([&] { return Ran(CMD_SAVE_AS) == 1; }));
    EXPECT_FALSE(HasLine("other"));
    EXPECT_EQ(report.isnew, 1);
}

// What the user asks for while Open reads a long file (the windows take input meanwhile) comes
// after the load and its box, in order: Exit, the close box, commands queued before or during
// the read, and a double click on the comparison list (its graph shows the loaded file). None
// runs inside the read.
TEST_F(MainWindowTest, CommandsGivenDuringAFileReadComeAfterTheLoad) {
    const std::string big = kt::WriteFile(kt::TempDir() + "/long.bmf", "");
    ASSERT_EQ(truncate(big.c_str(), off_t(64) << 20), 0);  // sparse, read in several steps
    const struct {
        const char* what;
        std::function<void(MainWindow&)> give;
        std::function<bool(MainWindow&)> taken;
        bool preferences_written;
        std::function<void(MainWindow&)> before_the_read = nullptr;
    } rows[] = {
        {"Exit", [](MainWindow& m) { m.Action(CMD_EXIT)->trigger(); }, [](MainWindow& m) { return !m.isVisible(); }, true},
        {"close box", [](MainWindow& m) { EXPECT_FALSE(m.close()); }, [](MainWindow& m) { return !m.isVisible(); }, false},
        {"Close, queued", [](MainWindow& m) { m.PostCommand(CMD_CLOSE); },
         [](MainWindow& m) { return m.Report()->Caption() == "Kestrel - System Level Benchmark"; }, false},
        // The end without questions: the file is read to its end first.
        {"desktop's quit", [](MainWindow& m) {
             m.EndOfSession(false);
             QEvent quit(QEvent::Quit);
             QCoreApplication::sendEvent(qApp, &quit);
         }, [](MainWindow& m) { return !m.isVisible(); }, true},
        {"double click on the comparison list",
         [](MainWindow& m) {
             QListWidget* list = m.ComparisonList();
             ASSERT_NE(list, nullptr);
             const QRect row = list->visualItemRect(list->item(reference::kFirstMachineRow + 3));
             int clicks = 0;
             const QMetaObject::Connection counted =
                 QObject::connect(list, &QListWidget::itemDoubleClicked, [&clicks] { ++clicks; });
             // The first click, then the second one of the double click.
             QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
             QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
             QObject::disconnect(counted);
             EXPECT_EQ(clicks, 1);
             EXPECT_EQ(TotalsGraphWindow(), nullptr) << "the graph opened on the store the read clears";
         },
         [](MainWindow&) { return TotalsGraphWindow() != nullptr && graph_view.results_selection == 3; }, false,
         [](MainWindow& m) {
             prefs.graphvalue = 0;  // the list alone
             m.Command(CMD_RESULT_COMPARISONS);
             ASSERT_NE(m.ComparisonList(), nullptr);
             graph_view.results_selection = 0;
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        for (kp::reg::Root root : {kp::reg::Root::CurrentUser, kp::reg::Root::LocalMachine}) {
            fs::remove(kp::reg::RootFile(root));
        }
        Start();
        w->WatchEndRequests();
        report.isnew = 0;
        if (row.before_the_read) row.before_the_read(*w);
        std::vector<int> ran_while_loading;
        QObject::connect(w.get(), &MainWindow::commandRan, [&](int id) {
            if (LoadingReportFile()) ran_while_loading.push_back(id);
        });
        bool given = false;
        QTimer watch;
        watch.setInterval(0);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!LoadingReportFile()) return;
            watch.stop();
            row.give(*w);
            given = true;
            EXPECT_TRUE(LoadingReportFile());
            EXPECT_TRUE(w->isVisible());
        });
        watch.start();
        boxes.Clear();
        kt::AnswerFileDialog(QString::fromStdString(big));
        w->Command(CMD_OPEN);
        ASSERT_TRUE(given) << "the read ended before anything was given";
        // The load ran to its end and its box was shown.
        EXPECT_EQ(w->Report()->Caption().toStdString(), big);
        EXPECT_TRUE(HasBox("Database file is corrupt!  Cannot parse data", "File Exception"));
        EXPECT_TRUE(kt::Until([&] { return row.taken(*w); }));
        EXPECT_EQ(ran_while_loading, std::vector<int>{});
        EXPECT_EQ(GetRegEntry() == 0, row.preferences_written);
        w.reset();
        run.ending = 0;
    }

    // Two commands held during a run, Open then Close: the second waits for the end of the
    // first one's load, too.
    Start();
    std::vector<int> ran_while_loading;
    QObject::connect(w.get(), &MainWindow::commandRan, [&](int id) {
        if (LoadingReportFile()) ran_while_loading.push_back(id);
    });
    kt::DuringTheRun([&] {
        w->PostCommand(CMD_OPEN);
        w->PostCommand(CMD_CLOSE);
    });
    boxes.Clear();
    boxes.Script({kp::Answer::No});  // the run is not saved
    kt::AnswerFileDialog(QString::fromStdString(big));
    RunFromTheMenu();
    EXPECT_TRUE(kt::Until([&] { return Ran(CMD_CLOSE) == 1; }));
    EXPECT_TRUE(HasBox("Database file is corrupt!  Cannot parse data", "File Exception"));
    EXPECT_EQ(ran_while_loading, std::vector<int>{});
    EXPECT_EQ(w->Report()->Caption(), "Kestrel - System Level Benchmark");
}

// Open of a long file: the progress window of the parse is drawn before the first part of the file
// is read, and paints again (each of its paints here asks for the next) during the read of a
// large file and while the lines of a long text are made.
TEST_F(MainWindowTest, AFileReadShowsItsProgressWindowDrawnFromBeforeTheReadOn) {
    const std::string sparse = kt::WriteFile(kt::TempDir() + "/long.bmf", "");
    ASSERT_EQ(truncate(sparse.c_str(), off_t(64) << 20), 0);  // sparse, read in several steps
    std::string text;
    for (int i = 0; text.size() < (size_t(12) << 20); ++i) text += "Line " + std::to_string(i) + " of a long report\r\n";
    const std::string lines = kt::WriteFile(kt::TempDir() + "/lines.bmf", text);
    struct Paint {
        off_t read;  // how far the read stood
        bool loading;
        int lines;   // the lines made by then
    };
    class Watch : public QObject {
    public:
        std::vector<Paint> paints;
        bool eventFilter(QObject* watched, QEvent* event) override {
            auto* progress = dynamic_cast<Scroller*>(watched);
            if (progress == nullptr || event->type() != QEvent::Paint) return false;
            if (progress->windowTitle() != QStringLiteral("Processing Data ...")) return false;
            const off_t read = report.theFile >= 0 ? lseek(report.theFile, 0, SEEK_CUR) : off_t(-1);
            paints.push_back({read, LoadingReportFile(), report.num});
            QTimer::singleShot(0, progress, [progress] { progress->update(); });
            return false;
        }
    };
    Start();
    for (const std::string& path : {sparse, lines}) {
        SCOPED_TRACE(path);
        const off_t size = off_t(fs::file_size(path));
        report.isnew = 0;
        Watch watch;
        qApp->installEventFilter(&watch);
        boxes.Clear();
        kt::AnswerFileDialog(QString::fromStdString(path));
        w->Command(CMD_OPEN);
        qApp->removeEventFilter(&watch);
        EXPECT_TRUE(HasBox("Database file is corrupt!  Cannot parse data", "File Exception"));
        EXPECT_EQ(w->Progress(), nullptr);
        const std::vector<Paint>& paints = watch.paints;
        ASSERT_FALSE(paints.empty());
        EXPECT_TRUE(paints[0].loading);
        EXPECT_EQ(paints[0].read, 0) << "first drawn only after a part of the file was read";
        if (path == sparse) {
            EXPECT_TRUE(std::any_of(paints.begin(), paints.end(), [size](const Paint& p) {
                return p.loading && p.read > 0 && p.read <= size && p.lines == 0;
            })) << "not painted during the read";
        } else {
            EXPECT_TRUE(std::any_of(paints.begin(), paints.end(), [](const Paint& p) {
                return p.loading && p.lines > 0 && p.lines < report.num;
            })) << "not painted while the lines were made";
        }
    }
}

// The close box and the end of the session ask about an unsaved run as Exit does, with the same
// answers; the close box writes no preference, the end of the session (Exit) writes them. The
// desktop's request to save its state comes also at a mere checkpoint: the program ends only at
// the desktop's quit that follows, without asking again.
TEST_F(MainWindowTest, CloseBoxAndSessionEndAskToSaveAnUnsavedRunAsExitDoes) {
    const Lines save = {"Do you want to save this test?|File Exeption"};
    const Lines save_then_anyway = {"Do you want to save this test?|File Exeption", "Exit Kestrel anyway?|Kestrel"};
    const struct {
        const char* what;
        bool unsaved;
        std::vector<kp::Answer> answers;  // the Save dialog is cancelled after Yes
        Lines asked;
        bool ends;
    } cases[] = {
        {"nothing to save", false, {}, {}, true},
        {"not saved", true, {kp::Answer::No}, save, true},
        {"save cancelled, kept", true, {kp::Answer::Yes, kp::Answer::No}, save_then_anyway, false},
        {"save cancelled, ended anyway", true, {kp::Answer::Yes, kp::Answer::Yes}, save_then_anyway, true},
    };
    const auto asked = [&] {
        Lines out;
        for (const kp::BoxRequest& b : boxes.boxes()) out.push_back(b.text + "|" + b.caption);
        return out;
    };
    // The desktop's requests as it sends them: the request to save (with the session manager's
    // own object) and, when the session really ends, the quit (the desktop does not quit a
    // program that cancelled).
    QSessionManager* manager = qApp->findChild<QSessionManager*>();
    ASSERT_NE(manager, nullptr);
    const auto desktop_quit = [] {
        QEvent quit(QEvent::Quit);
        QCoreApplication::sendEvent(qApp, &quit);
    };
    const char* const ways[] = {"close box", "session end", "session end without asking", "checkpoint"};
    for (const auto& c : cases) {
        for (const std::string way : ways) {
            SCOPED_TRACE(testing::Message() << c.what << ", " << way);
            // Offscreen the session manager lets nobody ask.
            const bool may_ask = way == "checkpoint" ? manager->allowsInteraction() : way != "session end without asking";
            for (kp::reg::Root root : {kp::reg::Root::CurrentUser, kp::reg::Root::LocalMachine}) {
                fs::remove(kp::reg::RootFile(root));  // no preferences stored
            }
            Start();
            w->WatchEndRequests();
            if (c.unsaved) {
                passtring("an unsaved run");
                report.isnew = 1;
            }
            boxes.Clear();
            boxes.Script(c.answers);
            kt::AnswerFileDialog(QString());
            bool ended = false;
            if (way == "close box") {
                ended = w->close();
            } else if (way == "checkpoint") {
                emit qApp->commitDataRequest(*manager);
            } else {
                ended = w->EndOfSession(may_ask);
                if (ended) desktop_quit();
            }
            // The question comes once, at the request to save; a checkpoint ends nothing.
            EXPECT_EQ(asked(), may_ask ? c.asked : Lines{});
            if (way != "checkpoint") {
                EXPECT_EQ(ended, c.ends || !may_ask);
            }
            EXPECT_EQ(w->isVisible(), !ended);
            // Only the end of the session, as Exit, writes the preferences.
            EXPECT_EQ(GetRegEntry() == 0, ended && way != "close box");
            w.reset();
            run.ending = 0;
        }
    }
}

// Every Yes/No question about an unsaved run or a file, shown as the program shows it: Escape and
// the box's close button leave the question standing and the run kept; the program's end (TERM,
// or the desktop's quit at the end of its session) closes it answering No, and the program ends
// without saving.
TEST_F(MainWindowTest, YesNoQuestionsStandUntilAnsweredAndTheEndAnswersNo) {
    const std::string dir = kt::FreshDir("questions");
    const std::string existing = kt::WriteFile(dir + "/old.bmf", "old report\r\n");
    const std::string dropped = kt::WriteFile(dir + "/dropped.bmf", "dropped\r\n");
    const auto drop = [this, &dropped] {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dropped))});
        const QPoint at = w->Report()->geometry().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &enter);
        QDropEvent event(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &event);
    };
    const struct {
        const char* where;
        std::function<void()> ask;
        const char* text;
        const char* caption;
        bool yes_first;  // Yes to the save question first, its Save dialog cancelled
    } rows[] = {
        {"Exit", [this] { w->Command(CMD_EXIT); }, "Do you want to save this test?", "File Exeption", false},
        {"close box", [this] { w->close(); }, "Do you want to save this test?", "File Exeption", false},
        {"New Test", [this] { w->Command(CMD_NEW_TEST); }, "Do you want to save this test?", "File Exception", false},
        {"Open", [this] { w->Command(CMD_OPEN); }, "Do you want to save this test?", "File Exception", false},
        {"drop", drop, "Do you want to save this test?", "File Exception", false},
        {"Exit, save cancelled", [this] { w->Command(CMD_EXIT); }, "Exit Kestrel anyway?", "Kestrel", true},
        {"Save As", [this, &existing] {
             kt::AnswerFileDialog(QString::fromStdString(existing));
             w->Command(CMD_SAVE_AS);
         }, "File Already Exists!  Overwrite?", "File Exception", false},
    };
    // An ignored signal stays ignored: none is, whatever this test was started with.
    for (int s : {SIGTERM, SIGINT, SIGHUP}) ::signal(s, SIG_DFL);
    for (const auto& row : rows) {
        for (const bool escape : {true, false}) {
            SCOPED_TRACE(testing::Message() << row.where << (escape ? ", Escape, TERM" : ", close button, desktop's quit"));
            Start();
            w->WatchEndRequests();
            InstallMainWindowBoxes([this] { return w.get(); });
            passtring("an unsaved run");
            report.isnew = 1;
            if (row.yes_first) kt::AnswerFileDialog(QString());
            bool asked = false, stood = false, kept = false;
            int file_dialogs_after = 0;
            QTimer watch;
            watch.setInterval(0);
            QObject::connect(&watch, &QTimer::timeout, [&] {
                QWidget* top = QApplication::activeModalWidget();
                if (asked) {
                    // After the end: no Save dialog (the question was answered No).
                    if (auto* dialog = qobject_cast<QFileDialog*>(top)) {
                        ++file_dialogs_after;
                        dialog->reject();
                    }
                    return;
                }
                auto* mb = qobject_cast<QMessageBox*>(top);
                if (mb == nullptr || !mb->isVisible()) return;
                if (mb->text() != row.text) {
                    mb->button(QMessageBox::Yes)->click();
                    return;
                }
                asked = true;
                EXPECT_EQ(mb->windowTitle(), row.caption);
                if (escape) QTest::keyClick(mb, Qt::Key_Escape);
                else EXPECT_FALSE(kt::CloseFromWindowManager(mb));
                stood = mb->isVisible();
                kept = w->isVisible() && report.isnew == 1 && HasLine("an unsaved run");
                if (escape) {
                    raise(SIGTERM);
                } else {
                    w->EndOfSession(false);
                    QEvent quit(QEvent::Quit);
                    QCoreApplication::sendEvent(qApp, &quit);
                }
            });
            watch.start();
            row.ask();
            EXPECT_TRUE(kt::Until([&] { return asked && !w->isVisible(); }));
            watch.stop();
            EXPECT_TRUE(stood);
            EXPECT_TRUE(kept);
            EXPECT_EQ(file_dialogs_after, 0);
            EXPECT_EQ(report.isnew, 1);  // not saved
            EXPECT_FALSE(HasLine("dropped"));
            EXPECT_EQ(kt::ReadFile(existing), "old report\r\n");
            kp::SetMessageBoxBackend(nullptr);
            w.reset();
            run.ending = 0;
            ClearReportLines();
        }
    }
}

// TERM, INT or HUP during a disk run with the analyser: Stop, then Exit without its questions.
// The run ends at its next pass boundary with its test file removed, the analyser is ended and
// reaped, the unsaved run is not asked about, the preferences are written and the windows close.
TEST_F(MainWindowTest, EndSignalsDuringARunStopItAndEndWithoutQuestions) {
    const char* tmp = std::getenv("TMPDIR");
    ASSERT_NE(tmp, nullptr);
    const std::string temp = tmp;
    const auto test_files = [&temp] {
        std::vector<std::string> found;
        for (const auto& e : fs::recursive_directory_iterator(temp)) {
            const std::string name = e.path().filename().string();
            if (name.rfind("tkesA", 0) == 0) found.push_back(e.path().string());
        }
        return found;
    };
    // The processes this one started and has not reaped.
    const auto children = [] {
        std::string all;
        for (const auto& task : fs::directory_iterator("/proc/self/task")) {
            all += kt::ReadFile(task.path().string() + "/children");
        }
        return all;
    };
    disk_run_lengths.short_run = 2;
    // An ignored signal stays ignored: none is, whatever this test was started with.
    for (int s : {SIGTERM, SIGINT, SIGHUP}) ::signal(s, SIG_DFL);
    if (geteuid() == 0) SetWritableCheck([temp](const std::string& dir) { return dir.rfind(temp, 0) == 0; });
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        for (kp::reg::Root root : {kp::reg::Root::CurrentUser, kp::reg::Root::LocalMachine}) {
            fs::remove(kp::reg::RootFile(root));
        }
        Start();
        w->WatchEndRequests();
        // The drive of the temporary folder alone, the test file in that folder, the analyser on.
        const MountTable table = ReadMountTable();
        int drive = -1;
        for (int k = 0; k < globaldrives && drive < 0; ++k) {
            if (OnDriveFileSystem(table, temp, drivemenu.globaldrivechar[k])) drive = k;
        }
        if (drive < 0) GTEST_SKIP() << "the temporary folder is on no drive of the disk test";
        for (int k = 0; k < globaldrives; ++k) drivemenu.DRIVECHOSEN[k] = k == drive ? 1 : 0;
        prefs.defdirnumber = 1;
        prefs.filesizenumber = 0;
        prefs.show_perf_data = 1;
        prefs.perf_counters[0] = 1;
        prefs.runglance = 1;  // no viewer is started by a program that ends
        report.isnew = 0;     // the run before is not asked about at New Test
        boxes.Clear();

        // Once the test file is there, the signal.
        std::string file;
        pid_t analyser = -1;
        QTimer watch;
        watch.setInterval(0);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            const std::vector<std::string> files = test_files();
            if (files.empty()) return;
            watch.stop();
            file = files.front();
            if (perflink.hProcessPerf) analyser = perflink.hProcessPerf->pid();
            raise(signal);
        });
        watch.start();
        w->Command(CMD_ALL_TESTS);
        w->Command(CMD_DISK_TEST);
        ASSERT_EQ(run.TestValue, 2u);
        w->Action(CMD_NEW_TEST)->trigger();
        ASSERT_FALSE(file.empty()) << "the run ended before its test file was made";
        EXPECT_GT(analyser, 0);
        EXPECT_EQ(run.testrunning, 0);
        EXPECT_EQ(run.test_interrupted, 1);
        EXPECT_TRUE(HasLine("Test Aborted!"));
        EXPECT_FALSE(fs::exists(file)) << file;
        EXPECT_EQ(test_files(), std::vector<std::string>{});
        EXPECT_FALSE(PerfLinkOpen());
        EXPECT_EQ(children(), "") << "the analyser " << analyser;
        EXPECT_EQ(report.isnew, 1);  // not saved, and not asked about
        for (const kp::BoxRequest& b : boxes.boxes()) ADD_FAILURE() << b.caption << ": " << b.text;
        EXPECT_FALSE(w->isVisible());
        EXPECT_EQ(GetRegEntry(), 0);
        w.reset();
        run.ending = 0;
    }
    SetWritableCheck(nullptr);
}

// However near the screen's edge the main window stands, every window the program places lies
// inside the screen's available area, frame included; a new help window opens in its middle.
TEST_F(MainWindowTest, EveryWindowItPlacesStaysInsideTheScreen) {
    const QRect area = AvailableArea(QRect());
    prefs.main_window_rect = WindowRect{area.right() - 100, 500, area.bottom() - 50, 300};
    ASSERT_EQ(CreateRegEntry(), 0);
    prefs = Preferences{};
    Start();
    w->host().OpenProgress("Memory Test");
    QWidget* settings = OpenVidTestSettings(w.get(), area.bottomRight() - QPoint(20, 20));
    w->Command(CMD_HELP_INDEX);
    ASSERT_NE(HelpWindow::Current(), nullptr);
    EXPECT_EQ(HelpWindow::Current()->geometry().center(), area.center());
    w->DrawListBox();
    for (QWidget* placed : {static_cast<QWidget*>(w.get()), static_cast<QWidget*>(w->Progress()), settings,
                            static_cast<QWidget*>(HelpWindow::Current())}) {
        ASSERT_NE(placed, nullptr);
        SCOPED_TRACE(placed->windowTitle().toStdString());
        const QRect frame = placed->geometry().marginsAdded(ExpectedFrame(placed));
        EXPECT_TRUE(area.contains(frame)) << frame.x() << "," << frame.y() << " " << frame.width() << "x" << frame.height();
    }
    w->host().CloseProgress();
}

TEST_F(MainWindowTest, ExitAsksToSaveAndWritesThePreferences) {
    Start();
    w->setGeometry(120, 130, 640, 480);
    ASSERT_TRUE(kt::Until([&] { return w->geometry() == QRect(120, 130, 640, 480); }));
    passtring("an unsaved run");
    report.isnew = 1;
    // Yes, then the Save dialog cancelled: "Exit Kestrel anyway?" No keeps the program.
    boxes.Script({kp::Answer::Yes, kp::Answer::No});
    kt::AnswerFileDialog(QString());
    w->Action(CMD_EXIT)->trigger();
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0].text, "Do you want to save this test?");
    EXPECT_EQ(boxes.boxes()[0].caption, "File Exeption");
    EXPECT_EQ(boxes.boxes()[1].text, "Exit Kestrel anyway?");
    EXPECT_EQ(boxes.boxes()[1].caption, "Kestrel");
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(GetRegEntry(), 1);

    boxes.Script({kp::Answer::No});
    w->Action(CMD_EXIT)->trigger();
    EXPECT_FALSE(w->isVisible());
    prefs = Preferences{};
    EXPECT_EQ(GetRegEntry(), 0);
    EXPECT_EQ(prefs.main_window_rect.left, 120);
    EXPECT_EQ(prefs.main_window_rect.top, 130);
    EXPECT_EQ(prefs.main_window_rect.right, 640);
    EXPECT_EQ(prefs.main_window_rect.bottom, 480);
}

TEST_F(MainWindowTest, OptionsMenuChoosesTestsDrivesAndScaling) {
    Start();
    auto checks = [&] {
        std::string s;
        for (int id : {CMD_ALL_TESTS, CMD_CPU_TEST, CMD_MEMORY_TEST, CMD_DISK_TEST, CMD_VIDEO_TEST}) {
            s += w->Action(id)->isChecked() ? '1' : '0';
        }
        return s;
    };
    w->Action(CMD_VIDEO_TEST)->trigger();
    EXPECT_EQ(run.TestValue, 3u);
    EXPECT_EQ(checks(), "00001");
    EXPECT_EQ(run.CPU_TEST_CHECKED + run.MEMORY_TEST_CHECKED + run.DISK_TEST_CHECKED, 0);
    w->Action(CMD_CPU_TEST)->trigger();
    EXPECT_EQ(run.TestValue, 6u);
    EXPECT_EQ(checks(), "01001");
    w->Action(CMD_CPU_TEST)->trigger();
    w->Action(CMD_VIDEO_TEST)->trigger();
    EXPECT_EQ(run.TestValue, 0u);
    EXPECT_EQ(checks(), "10000");
    EXPECT_EQ(run.CPU_TEST_CHECKED + run.MEMORY_TEST_CHECKED + run.DISK_TEST_CHECKED + run.VIDEO_TEST_CHECKED, 4);

    // Scaling needs the processor test.
    w->Action(CMD_DISK_TEST)->trigger();
    w->Command(CMD_SCALING);
    EXPECT_TRUE(HasBox("Check menu items: 'Run All Tests', or 'Run CPU Test' before checking this item",
                       "Menu Exception"));
    EXPECT_EQ(run.IDM_SCALING_CHECKED, 0);
    w->Action(CMD_ALL_TESTS)->trigger();
    w->Command(CMD_SCALING);
    EXPECT_EQ(run.IDM_SCALING_CHECKED, 1);
    EXPECT_EQ(results.scaling_efficiency_showing, 1);
    EXPECT_TRUE(w->Action(CMD_SCALING)->isChecked());
    w->Command(CMD_SCALING);
    EXPECT_EQ(run.IDM_SCALING_CHECKED, 0);

    // A drive item toggles its drive.
    QAction* drive = w->Action(CMD_FIRST_DRIVE);
    const std::string root = drivemenu.globaldrivechar[0];
    const bool was = drive->isChecked();
    drive->trigger();
    EXPECT_EQ(drive->isChecked(), !was);
    EXPECT_EQ(drivemenu.DRIVECHOSEN[0], was ? 0 : 1);
    EXPECT_EQ(w->Status()->Text().toStdString(),
              (was ? "Uncheck this item to un-choose drive " : "Check this item  to choose drive ") + root + ".");
}

TEST_F(MainWindowTest, MenuHelpOnTheStatusLine) {
    Start();
    QMenu* file = w->menuBar()->findChildren<QMenu*>().value(0);
    ASSERT_NE(file, nullptr);
    emit file->hovered(w->Action(CMD_SAVE));
    EXPECT_EQ(w->Status()->Text(), "This item is disabled");
    emit file->hovered(w->Action(CMD_NEW_TEST));
    EXPECT_EQ(w->Status()->Text(), "This Item Starts a Kestrel Test.");
    // A disabled item still takes the pointer, so that its help can be shown.
    EXPECT_EQ(file->style()->styleHint(QStyle::SH_Menu_AllowActiveAndDisabled, nullptr, file), 1);
}

TEST_F(MainWindowTest, ButtonBarInBothStyles) {
    Start();
    // Bitmap mode: hovering a button shows its help; the bar's ends clear it.
    QAbstractButton* stop = w->Bar()->Button(8);
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(stop, &enter);
    EXPECT_EQ(w->Status()->Text(), "This Item Will Stop A Kestrel Test");
    MoveOver(w->Bar(), QPoint(20, 20));
    EXPECT_EQ(w->Status()->Text(), "");

    prefs.buttonvalue = 1;
    w->Bar()->Rebuild();
    ASSERT_EQ(w->Bar()->ButtonCount(), 9);
    EXPECT_EQ(w->Bar()->Button(0)->text(), "New Test");
    EXPECT_EQ(w->Bar()->Button(8)->text(), "Stop Test");
    EXPECT_EQ(w->Bar()->Button(3)->geometry(), QRect(85 * 3 + 5, 6, 80, 24));
    MoveOver(w->Bar(), QPoint(86, 3));  // above the first button: slot 0
    EXPECT_EQ(w->Status()->Text(), "This Item Starts a Kestrel Test.");
    MoveOver(w->Bar(), QPoint(790, 3));
    EXPECT_EQ(w->Status()->Text(), "");
    // A text button shows its help and sends its command.
    QTest::mouseClick(w->Bar()->Button(6), Qt::LeftButton);
    EXPECT_EQ(w->Status()->Text(), "Choose This Item for Online Help.");
    EXPECT_EQ(Ran(CMD_HELP_INDEX), 1);
}

TEST_F(MainWindowTest, StatusPaneStepsThroughTheBottomText) {
    Start();
    for (int i = 1; i <= 20; ++i) output_bottomtext_buffer("iteration " + std::to_string(i));
    report.temp_text_lines = 5;
    QTest::mouseClick(w->Status(), Qt::LeftButton);
    EXPECT_EQ(w->Status()->Text(), "iteration 5");
    EXPECT_EQ(report.temp_text_lines, 4);
    QTest::mouseClick(w->Status(), Qt::RightButton, Qt::ShiftModifier);
    EXPECT_EQ(w->Status()->Text(), "iteration 13");
    QTest::mouseClick(w->Status(), Qt::LeftButton, Qt::ControlModifier);  // back 81 from 13: -68 + 20 < 1
    EXPECT_EQ(report.temp_text_lines, 1);
    EXPECT_EQ(w->Status()->Text(), "iteration 1");
    ClearBottomText();
    w->Status()->SetText("kept");
    QTest::mouseClick(w->Status(), Qt::LeftButton);
    EXPECT_EQ(w->Status()->Text(), "kept");  // no lines: nothing
}

TEST_F(MainWindowTest, ReportScrollRangeFollowsTheLineCount) {
    Start();
    ReportPane* pane = w->Report();
    const int rows = pane->viewport()->height() / pane->nYChar;
    for (int i = 0; i < rows * 3; ++i) passtring("line " + std::to_string(i));
    EXPECT_EQ(pane->nVMax, rows * 3 - 1 + 2 - rows);
    EXPECT_EQ(pane->verticalScrollBar()->maximum(), pane->nVMax);
    passtring("one more");
    EXPECT_EQ(pane->nVMax, rows * 3 + 2 - rows);
    // A page down that would pass the end leaves the view where it is.
    pane->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(pane->nVPos, pane->nVMax);
    pane->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(pane->nVPos, pane->nVMax - 1);
    pane->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(pane->nVPos, pane->nVMax - 1);
    EXPECT_EQ(pane->verticalScrollBar()->value(), pane->nVMax - 1);
    EXPECT_EQ(pane->LineTop(pane->nVMax), 0);  // line nVPos + 1 at the top
    // A taller pane holds more rows: the limit shrinks.
    const int before = pane->nVMax;
    w->resize(w->width(), w->height() + 10 * pane->nYChar);
    EXPECT_TRUE(kt::Until([&] { return pane->nVMax < before; }));
    ClearReportLines();
    EXPECT_EQ(pane->nVMax, 0);
    EXPECT_EQ(pane->nVPos, 0);
}

TEST_F(MainWindowTest, CopyAllAndFont) {
    Start();
    for (const char* l : {"first", "", "third"}) passtring(l);
    w->Command(CMD_COPY_ALL);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "first\r\n\r\nthird\r\n");

    QFont chosen = DefaultFixedFont();
    chosen.setPointSize(15);
    QFont selected;
    QTimer::singleShot(50, [chosen, &selected] {
        if (auto* d = qobject_cast<QFontDialog*>(QApplication::activeModalWidget())) {
            d->setCurrentFont(chosen);
            selected = d->currentFont();
            d->accept();
        }
    });
    w->Command(CMD_FONT);
    EXPECT_EQ(prefs.GlobalLogFont, LogFontFromFont(selected));
    EXPECT_LT(prefs.GlobalLogFont.Height, 0);
    EXPECT_EQ(QFontInfo(w->Report()->ReportFont()).pixelSize(), QFontInfo(selected).pixelSize());
    EXPECT_EQ(QFontInfo(w->Report()->ReportFont()).family(), QFontInfo(selected).family());
    const LogFont chosen_record = prefs.GlobalLogFont;
    prefs = Preferences{};
    GetRegEntry();
    EXPECT_EQ(prefs.GlobalLogFont, chosen_record);  // kept for the next start
}

TEST_F(MainWindowTest, FontDialogOpensOnTheReportFontAndOkUnchangedKeepsTheRecord) {
    ASSERT_TRUE(QFontDatabase::families().contains("DejaVu Sans Mono")) << "scripts/deps installs fonts-dejavu-core";
    Start();
    std::vector<LogFont> records = {prefs.GlobalLogFont};  // the first start's
    const auto record = [](int height, int weight, int italic, int pitch, const char* face) {
        LogFont lf;
        lf.Height = height;
        lf.Weight = weight;
        lf.Italic = uint8_t(italic);
        lf.PitchAndFamily = uint8_t(pitch);
        lf.FaceName = face;
        return lf;
    };
    records.push_back(record(-13, 400, 0, 0x31, "DejaVu Sans Mono"));
    records.push_back(record(-17, 700, 1, 0x31, "DejaVu Sans Mono"));
    records.push_back(record(-12, 0, 1, 0x12, "DejaVu Serif"));
    // An old face, with fields the dialog does not show.
    LogFont old = record(-15, 400, 1, 0x22, "Arial");
    old.Width = 7;
    old.Underline = 1;
    old.OutPrecision = 3;
    old.ClipPrecision = 2;
    old.Quality = 1;
    records.push_back(old);
    for (const LogFont& lf : records) {
        SCOPED_TRACE(lf.FaceName + " " + std::to_string(lf.Height) + " " + std::to_string(lf.Weight));
        prefs.GlobalLogFont = lf;
        w->Report()->ApplyFont();
        const QFont shown = w->Report()->ReportFont();
        QFont opening;
        kt::AcceptNextFontDialog(&opening);
        w->Command(CMD_FONT);
        // It opened on the font in use: family, size, weight and slant.
        EXPECT_EQ(QFontInfo(opening).family(), QFontInfo(shown).family());
        EXPECT_EQ(opening.pointSize(), QFontInfo(shown).pointSize());
        EXPECT_EQ(opening.weight(), shown.weight());
        EXPECT_EQ(opening.italic(), lf.Italic != 0);
        // OK with nothing changed: the same record, shown and stored.
        EXPECT_EQ(prefs.GlobalLogFont, lf);
        EXPECT_EQ(w->Report()->ReportFont(), shown);
        prefs.GlobalLogFont = LogFont{};
        GetRegEntry();
        EXPECT_EQ(prefs.GlobalLogFont, lf);
    }
}

// The list and the view are child windows with a sizing frame and minimise and maximise boxes.
TEST_F(MainWindowTest, ComparisonPanesMinimiseMaximiseAndSize) {
    Start();
    prefs.graphvalue = 0;
    w->Command(CMD_RESULT_COMPARISONS);
    ASSERT_NE(w->ComparisonList(), nullptr);
    auto* list = static_cast<CaptionedPane*>(w->ComparisonList()->parentWidget());
    auto* view = static_cast<CaptionedPane*>(w->ComparisonView()->parentWidget());
    QWidget* client = w->Client();
    const auto box = [](CaptionedPane* pane, const char* name) {
        QToolButton* b = pane->findChild<QToolButton*>(name);
        EXPECT_NE(b, nullptr) << name;
        return b;
    };
    const auto rule = [&](CaptionedPane* pane) {
        const int W = client->width(), H = client->height(), bar = global_buttonwindow_height;
        return pane == list ? QRect(W / 2, bar, W / 2, H / 4 - bar)
                            : QRect(W / 2, H / 4, W / 2, 3 * H / 4 - w->Status()->lHeight());
    };
    for (CaptionedPane* pane : {list, view}) {
        SCOPED_TRACE(pane->objectName().toStdString());
        EXPECT_EQ(pane->geometry(), rule(pane));
        // Maximised it fills the main window's client area, also after the main window is resized.
        box(pane, "Maximise")->click();
        EXPECT_EQ(pane->state(), CaptionedPane::State::Maximised);
        EXPECT_EQ(pane->geometry(), client->rect());
        w->resize(w->width() + 40, w->height() + 30);
        ASSERT_TRUE(kt::Until([&] { return pane->geometry() == client->rect(); }));
        box(pane, "Maximise")->click();
        EXPECT_EQ(pane->geometry(), rule(pane));
        // Minimised: the caption alone at the bottom left; restored from there.
        box(pane, "Minimise")->click();
        EXPECT_EQ(pane->state(), CaptionedPane::State::Minimised);
        EXPECT_FALSE(pane->Contents()->isVisible());
        EXPECT_EQ(pane->geometry().bottomLeft(), QPoint(0, client->height() - 1));
        EXPECT_LT(pane->height(), 50);
        box(pane, "Minimise")->click();
        EXPECT_TRUE(pane->Contents()->isVisible());
        EXPECT_EQ(pane->geometry(), rule(pane));
    }
    // Both minimised lie side by side.
    box(list, "Minimise")->click();
    box(view, "Minimise")->click();
    EXPECT_EQ(view->geometry().left(), list->geometry().right() + 1);
    EXPECT_EQ(view->geometry().bottom(), list->geometry().bottom());
    box(list, "Minimise")->click();
    box(view, "Minimise")->click();

    // The sizing frame: the left edge dragged 60 pixels to the left, the bottom edge 25 down.
    const QRect before = view->geometry();
    QTest::mouseMove(view, QPoint(1, view->height() / 2));
    EXPECT_EQ(view->cursor().shape(), Qt::SizeHorCursor);
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(1, view->height() / 2));
    QTest::mouseMove(view, QPoint(-59, view->height() / 2));
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(-59, view->height() / 2));
    EXPECT_EQ(view->geometry(), before.adjusted(-60, 0, 0, 0));
    const QRect wider = view->geometry();
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(view->width() / 2, view->height() - 1));
    QTest::mouseMove(view, QPoint(view->width() / 2, view->height() + 24));
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(view->width() / 2, view->height() + 24));
    EXPECT_EQ(view->geometry(), wider.adjusted(0, 0, 0, 25));
}

TEST(FontDialogStyle, TheFacesStyleOfTheFontsWeightAndSlant) {
    const std::vector<FaceStyle> mono = {{"Oblique", 400, true}, {"Book", 400, false}, {"Bold Oblique", 700, true}, {"Bold", 700, false}};
    const std::vector<FaceStyle> sans = {{"Oblique", 400, true},   {"Condensed Bold Oblique", 700, true},
                                         {"Bold", 700, false},     {"Condensed Bold", 700, false},
                                         {"ExtraLight", 200, false}, {"Condensed", 400, false},
                                         {"Condensed Oblique", 400, true}, {"Bold Oblique", 700, true},
                                         {"Book", 400, false}};
    const std::vector<FaceStyle> upright = {{"Regular", 400, false}, {"Bold", 700, false}};
    const struct {
        int weight;
        bool sloped;
        const std::vector<FaceStyle>* styles;
        const char* in_use;
        const char* style;
    } cases[] = {
        {400, false, &mono, "Book", "Book"},
        {400, false, &mono, "", "Book"},
        {400, true, &mono, "Oblique", "Oblique"},
        {700, true, &mono, "", "Bold Oblique"},
        {600, false, &mono, "", "Bold"},
        {400, true, &mono, "Book", "Oblique"},  // a slanted font drawn from the upright face
        {400, false, &sans, "Book", "Book"},
        {400, true, &sans, "Oblique", "Oblique"},
        {700, false, &sans, "Bold", "Bold"},
        {300, false, &sans, "ExtraLight", "ExtraLight"},
        {400, true, &upright, "Regular", "Regular"},  // no slanted style: the nearest weight
        {700, true, &upright, "", "Bold"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.weight << " " << c.sloped << " " << c.in_use);
        EXPECT_EQ(StyleFor(c.weight, c.sloped, *c.styles, c.in_use).toStdString(), c.style);
    }
    EXPECT_EQ(StyleFor(400, false, {}, "Book"), QString());
}

TEST_F(MainWindowTest, ReportFontRecordsAndFonts) {
    const QString mono = QStringLiteral("DejaVu Sans Mono");
    // The fixed-pitch family: DejaVu Sans Mono where it is installed, else the system's fixed font.
    EXPECT_EQ(DefaultFixedFont({QStringLiteral("DejaVu Sans"), mono}).family(), mono);
    EXPECT_EQ(DefaultFixedFont({QStringLiteral("DejaVu Sans")}), QFontDatabase::systemFont(QFontDatabase::FixedFont));
    ASSERT_TRUE(QFontDatabase::families().contains(mono)) << "scripts/deps installs fonts-dejavu-core";

    // The report pane starts with it, at the height of the window's font.
    Start();
    const QFontInfo shown(w->Report()->ReportFont());
    EXPECT_EQ(shown.family(), mono);
    EXPECT_TRUE(shown.fixedPitch());
    EXPECT_TRUE(prefs.GlobalLogFont.FaceName.empty());
    EXPECT_EQ(prefs.GlobalLogFont.PitchAndFamily, 0x30);

    // A positive height is the whole line: the largest size whose lines fit in it.
    LogFont cell;
    cell.Height = 20;
    cell.PitchAndFamily = 0x30;
    const QFont fitted = FontFromLogFont(cell, QFont());
    EXPECT_EQ(QFontInfo(fitted).family(), mono);
    EXPECT_LE(QFontMetrics(fitted).height(), 20);
    QFont larger = fitted;
    larger.setPixelSize(fitted.pixelSize() + 1);
    EXPECT_GT(QFontMetrics(larger).height(), 20);

    // A font, its record and the font the record names.
    QFont f(mono);
    f.setPixelSize(17);
    f.setBold(true);
    f.setItalic(true);
    const LogFont lf = LogFontFromFont(f);
    EXPECT_EQ(lf.Height, -17);
    EXPECT_EQ(lf.Weight, 700);
    EXPECT_EQ(lf.Italic, 1);
    EXPECT_EQ(lf.FaceName, "DejaVu Sans Mono");
    EXPECT_EQ(lf.PitchAndFamily & 0x01, 0x01);  // fixed pitch
    const QFontInfo back(FontFromLogFont(lf, QFont()));
    EXPECT_EQ(back.family(), mono);
    EXPECT_EQ(back.pixelSize(), 17);
    EXPECT_TRUE(back.bold());
    EXPECT_TRUE(back.italic());
    const QFont fallback(QStringLiteral("Serif"), 9);
    EXPECT_EQ(FontFromLogFont(LogFont{}, fallback), fallback);
}

TEST_F(MainWindowTest, HelpOpensItsPagesAtTheirTopics) {
    Start();
    QTest::keyClick(w.get(), Qt::Key_F1);
    ASSERT_NE(HelpWindow::Current(), nullptr);
    EXPECT_EQ(HelpWindow::Current()->Page(), "index.html");
    EXPECT_TRUE(HelpWindow::Current()->browser()->toPlainText().contains("Kestrel Help"));
    w->Command(CMD_USING_HELP);
    EXPECT_EQ(HelpWindow::Current()->Page(), "using.html");
    ShowHelpContext(1);  // a number that no window passes: the contents
    EXPECT_EQ(HelpWindow::Current()->Page(), "index.html");

    const auto map = ParseHelpContexts("# topics\n262 mail.html#send\n\n 263  book.html \nbad line\n");
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map.at(262), "mail.html#send");
    EXPECT_EQ(map.at(263), "book.html");
}

TEST_F(MainWindowTest, EveryHelpLinkAndTopicLeadsToAPage) {
    QStringList pages = {QString::fromLatin1(kHelpIndexPage), QString::fromLatin1(kHelpOnHelpPage)};
    QFile contexts(QStringLiteral(":/help/contexts.txt"));
    ASSERT_TRUE(contexts.open(QIODevice::ReadOnly));
    for (const auto& [number, page] : ParseHelpContexts(QString::fromUtf8(contexts.readAll()))) pages << page;
    QStringList seen;
    while (!pages.isEmpty()) {
        const QString page = pages.takeFirst().section(QLatin1Char('#'), 0, 0);
        if (seen.contains(page)) continue;
        seen << page;
        QFile file(QStringLiteral(":/help/") + page);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << page.toStdString();
        const QString html = QString::fromUtf8(file.readAll());
        QTextDocument doc;
        doc.setHtml(html);
        EXPECT_FALSE(doc.toPlainText().trimmed().isEmpty()) << page.toStdString();
        static const QRegularExpression href(QStringLiteral("href=\"([^\"]+)\""));
        for (auto it = href.globalMatch(html); it.hasNext();) pages << it.next().captured(1);
    }
    EXPECT_GE(seen.size(), 5);
}

TEST_F(MainWindowTest, AnotherStartBringsThisWindowToTheFront) {
    Start();
    InstanceServer server([&] { w->RaiseFromOtherStart(); });
    ASSERT_TRUE(server.Listen());
    w->showMinimized();
    ASSERT_TRUE(w->isMinimized());
    setenv("KESTREL_TEST_MSGBOX_LOG", (kt::TempDir() + "/boxes.log").c_str(), 1);
    auto second = kp::ChildProcess::Spawn(KESTREL_PATH, {"kestrel"});
    ASSERT_TRUE(second.has_value());
    EXPECT_TRUE(kt::Until([&] { return !second->Alive(); }, 20000));
    EXPECT_EQ(second->exit_code(), 0);
    EXPECT_FALSE(w->isMinimized());
}

// A later start that sends its request in parts keeps the window waiting one second at most in
// all: parts that come later than that, each within a second of the one before, are not taken.
TEST(SecondStart, ARequestIsWaitedForOneSecondInAll) {
    std::vector<std::string> opened;
    int raised = 0;
    InstanceServer server([&] { ++raised; }, [&](const std::string& p) { opened.push_back(p); });
    ASSERT_TRUE(server.Listen());
    const std::string path = "/tmp/x.bmf";
    char length[9];
    std::snprintf(length, sizeof length, "%08zx", path.size());
    std::atomic<bool> answered{false}, finished{false};
    std::thread client([&] {
        const int fd = kp::ConnectLocal(kInstanceSocketName);
        if (fd >= 0) {
            const auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(750)); };
            (void)kp::WriteAll(fd, "open:\n", 6, 1000);
            pause();
            (void)kp::WriteAll(fd, length, 8, 1000);
            pause();
            (void)kp::WriteAll(fd, path.data(), path.size(), 1000);
            char answer = 0;
            answered = kp::ReadExact(fd, &answer, 1, 5000) == kp::IoResult::Ok;
            close(fd);
        }
        finished = true;
    });
    EXPECT_TRUE(kt::Until([&] { return finished.load(); }, 20000));
    client.join();
    EXPECT_FALSE(answered);
    EXPECT_EQ(raised, 0);
    EXPECT_EQ(opened, std::vector<std::string>{});
}

// A later start with a benchmark file on its command line (a name relative to its own folder):
// this window comes to the front and opens the file as Open does, asking first about an unsaved
// run; during a run the file waits for the run's end.
TEST_F(MainWindowTest, AnotherStartHandsItsFileToThisWindow) {
    const std::string dir = kt::FreshDir("handed");
    const std::string path = dir + "/my run.bmf";
    fs::copy_file(KESTREL_CORPUS_DIR "/plain.bmf", path);
    const std::string text = kt::ReadFile(path);
    setenv("KESTREL_TEST_MSGBOX_LOG", (kt::TempDir() + "/boxes.log").c_str(), 1);
    const auto second_start = [&] {
        kp::SpawnOptions options;
        options.workingDirectory = dir;
        auto second = kp::ChildProcess::Spawn(KESTREL_PATH, {"kestrel", "my", "run.bmf"}, options);
        ASSERT_TRUE(second.has_value());
        EXPECT_TRUE(kt::Until([&] { return !second->Alive(); }, 20000));
        EXPECT_EQ(second->exit_code(), 0);
    };
    const Lines save = {"Do you want to save this test?|File Exception"};
    const struct {
        const char* what;
        bool unsaved;
        bool during_run;
        Lines asked;
    } rows[] = {
        {"nothing unsaved", false, false, {}},
        {"an unsaved run", true, false, save},
        {"during a run", false, true, save},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Start();
        InstanceServer server([&] { w->RaiseFromOtherStart(); }, [&](const std::string& p) { w->OpenFromOtherStart(p); });
        ASSERT_TRUE(server.Listen());
        if (row.unsaved) {
            passtring("an unsaved run");
            report.isnew = 1;
        }
        w->showMinimized();
        boxes.Clear();
        boxes.Script({kp::Answer::No});  // the unsaved run is given up
        if (row.during_run) {
            kt::DuringTheRun([&] {
                second_start();
                QCoreApplication::processEvents();  // the posted request: held
                EXPECT_NE(w->Report()->Caption().toStdString(), path);
            });
            RunFromTheMenu();
        } else {
            second_start();
        }
        EXPECT_TRUE(kt::Until([&] { return w->Report()->Caption().toStdString() == path; }));
        EXPECT_FALSE(w->isMinimized());
        EXPECT_EQ(report.szGreeting, SplitReportLines(text.data(), text.size()));
        EXPECT_GT(results.TotalCPU[1], 0);
        EXPECT_EQ(report.isnew, 0);
        Lines asked;
        for (const kp::BoxRequest& b : boxes.boxes()) asked.push_back(b.text + "|" + b.caption);
        EXPECT_EQ(asked, row.asked);
        w.reset();
    }
    unsetenv("KESTREL_TEST_MSGBOX_LOG");
}

// A file handed over while a question or a print is under way waits for it to end: no question comes inside another, and the report does not change under the box or the
// print. Then it opens as Open does.
TEST_F(MainWindowTest, AHandedFileWaitsForOpenQuestionsAndPrints) {
    const std::string dir = kt::FreshDir("handed-later");
    const std::string path = dir + "/later.bmf";
    fs::copy_file(KESTREL_CORPUS_DIR "/plain.bmf", path);
    const std::string pdf = dir + "/report.pdf";
    SetPrinterChooser([&](QPrinter& printer, PrinterDialog, QWidget*) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdf));
        return true;
    });
    const struct {
        const char* what;
        int command;  // 0: a question of another window
        Lines asked;  // the questions in the order they came
    } rows[] = {
        {"another window's question", 0,
         {"Send it?|Mail", "Do you want to save this test?|File Exception"}},
        {"Exit's question", CMD_EXIT,
         {"Do you want to save this test?|File Exeption", "Exit Kestrel anyway?|Kestrel",
          "Do you want to save this test?|File Exception"}},
        {"a print", CMD_PRINT, {"Do you want to save this test?|File Exception"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Start();
        InstallMainWindowBoxes([this] { return w.get(); });
        for (int i = 0; i < 200; ++i) passtring("an unsaved run, line " + std::to_string(i));
        report.isnew = 1;
        bool handed = false, returned = false, changed_inside = false;
        int ticks = 0;
        Lines asked;
        QTimer watch;
        watch.setInterval(0);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            const bool under_way = QApplication::activeModalWidget() != nullptr || PrintJobRunning();
            if (!returned && under_way && !handed) {
                w->OpenFromOtherStart(path);
                handed = true;
                return;
            }
            if (!returned && w->Report()->Caption().toStdString() == path) changed_inside = true;
            if (handed && !returned && ++ticks < 20) return;  // the handed file has had its chance
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) dialog->reject();
            auto* mb = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (mb == nullptr || !mb->isVisible()) return;
            const std::string seen = mb->text().toStdString() + "|" + mb->windowTitle().toStdString();
            asked.push_back(seen);
            const bool yes = seen == "Do you want to save this test?|File Exeption";
            mb->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
        });
        watch.start();
        if (row.command != 0) w->Command(row.command);
        else kp::MessageBox(kp::Owner::Active, "Send it?", "Mail", kp::Icon::Question, kp::Buttons::YesNo);
        returned = true;
        EXPECT_TRUE(handed);
        EXPECT_FALSE(changed_inside);
        EXPECT_TRUE(kt::Until([&] { return w->Report()->Caption().toStdString() == path; }));
        EXPECT_EQ(asked, row.asked);
        EXPECT_EQ(report.isnew, 0);
        watch.stop();
        kp::SetMessageBoxBackend(nullptr);
        w.reset();
        run.ending = 0;
        ClearReportLines();
    }
    SetPrinterChooser(nullptr);
}

TEST_F(MainWindowTest, LaunchGlanceStartsTheViewerBesideTheProgramOrSaysWhyNot) {
    Start();
    // A stand-in viewer that records its start and its arguments.
    const std::string dir = kt::FreshDir("programs");
    const std::string record = dir + "/started";
    kt::WriteFile(dir + "/glance", "#!/bin/sh\necho \"$#\" > '" + record + ".part' && mv '" + record + ".part' '" +
                                       record + "'\n");
    fs::permissions(dir + "/glance", fs::perms::owner_all);
    perflink.program_directory = dir;
    w->Command(CMD_LAUNCH_GLANCE);
    ASSERT_TRUE(kt::Until([&] { return fs::exists(record); }));
    EXPECT_EQ(kt::ReadFile(record), "0\n");  // no file argument
    EXPECT_TRUE(boxes.boxes().empty());

    // Without a viewer beside the program the system's reason is shown.
    fs::remove(dir + "/glance");
    w->Command(CMD_LAUNCH_GLANCE);
    EXPECT_TRUE(HasBox("No such file or directory", "Operation Failed"));
    EXPECT_EQ(boxes.boxes().size(), 1u);
}

// A viewer that ends is reaped while the program runs on (no zombie until the program's end),
// and only the viewer: a child of the program's own still gets its own end and code.
TEST_F(MainWindowTest, AViewerThatEndsIsReapedAtOnce) {
    Start();
    const std::string dir = kt::FreshDir("programs");
    const std::string record = dir + "/pid";
    const std::string go = dir + "/go";
    // The stand-in viewer names itself, then ends once the test lets it.
    kt::WriteFile(dir + "/glance", "#!/bin/sh\necho $$ > '" + record + ".part' && mv '" + record + ".part' '" + record +
                                       "'\nwhile [ ! -e '" + go + "' ]; do sleep 0.05; done\nexit 0\n");
    fs::permissions(dir + "/glance", fs::perms::owner_all);
    perflink.program_directory = dir;
    // A child of the program's own (as the analyser and the video program are), ended meanwhile.
    auto own = kp::ChildProcess::Spawn("/bin/sh",
                                       {"sh", "-c", "while [ ! -e '" + go + "' ]; do sleep 0.05; done; exit 7"});
    ASSERT_TRUE(own);
    const pid_t ownPid = own->pid();
    w->Command(CMD_LAUNCH_GLANCE);
    ASSERT_TRUE(kt::Until([&] { return fs::exists(record); }));
    const std::string viewer = "/proc/" + std::to_string(std::stoi(kt::ReadFile(record)));
    EXPECT_TRUE(fs::exists(viewer));
    kt::WriteFile(go, "");
    // The viewer's entry goes: it ended and was reaped, not left a zombie.
    EXPECT_TRUE(kt::Until([&] { return !fs::exists(viewer); }));
    // The other child ended too, and nobody took its end away.
    const std::string ownStat = "/proc/" + std::to_string(ownPid) + "/stat";
    EXPECT_TRUE(kt::Until([&] { return kt::ReadFile(ownStat).find(") Z ") != std::string::npos; }));
    EXPECT_TRUE(own->WaitFor(-1));
    EXPECT_EQ(own->exit_code(), 7);
    EXPECT_TRUE(boxes.boxes().empty());
}

}  // namespace

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }

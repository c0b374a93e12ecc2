// The memory test inside the program's window against the same test headless, in one process,
// side by side in each round:
//   - window: a memory-only New Tests run of the main window on the display (progress window,
//     status line, report pane and the events between passes, as the program has them);
//   - headless: DoMemTest with the host that does nothing, on the same thread at the same
//     priority (no window work between passes);
//   - headless2: the same again, against the first: the machine's own spread.
// The sides run in an order that rotates from round to round, so load falls alike on all.
// Sides for finding what makes a difference, each named in the fourth argument:
//   - settled: the window run with one X round trip after each pump, so the X server has done
//     what was drawn between passes before the next pass starts;
//   - stirred: headless, each pump writing 1 MB of other memory (the caches a pass starts with
//     are not the ones the pass before left);
//   - napping: headless, each pump sleeping 100 us (the thread leaves the processor between
//     passes, as the window run's thread does while it waits for the X server).
// Set up as the program is: the thread spawner, the user-interface thread below normal
// priority, the benchmark reader and the counter library beside the program; the settings are
// the defaults, in private folders of their own.
//
//   bench_memory_window [rounds [level [xserver-pid [settled,stirred,napping]]]]
//       (an xserver-pid of 0 finds the display's server itself)
//       (default 16 rounds at level 0; needs an X display)
//
// Each round prints the load average and the eight rates of every side; at the end, per side and
// test, the median rate, min/median/max of the ratio side / headless of the same round, and per
// round the user-interface thread's involuntary and voluntary switches and migrations and the X
// server's processor time, from each test's first timed pass to the next test's; then every
// thread of the process by name with its voluntary switches (its wakes) per test and round, and
// the paints each window received per round.
//
//   bench_memory_window --fresh [rounds [level [sides]]]
//       each round starts three fresh processes of this benchmark in turn (the order rotating
//       from round to round): one whose first New Tests run in the window is the memory part,
//       and two that run DoMemTest once with no window at all; prints min/median/max of each /
//       the first headless (the second headless gives the machine's own spread). `sides` is a
//       comma-separated list of more headless sides, each sleeping 100 us after each pass:
//       napping (no more), napwarmN (then a spin of N us on the monotonic clock before the next
//       pass), naptouch (then a read of every cache line of the test's buffers), napreplay (then
//       the test's own loop once more, untimed, over its buffers); warmN is the
//       spin alone, with no sleep; pin and nappingpin are headless and napping bound to the
//       processor the thread starts on; nowindow leaves the window side out (no display needed).
//       Prints the test thread's switches and migrations per headless side too.
//
//   bench_memory_window --user [rounds [level]]
//       the same pairing with the real program as a user has it: each round starts the program
//       `kestrel` (the binary beside this benchmark, in a fresh process, with stored settings of
//       its own: a machine description, the memory level), chooses Options > Run Memory Test and
//       File > New Test by the keyboard as a user would (xdotool; a window manager must run on
//       the display), waits until the progress window has closed, copies the report with Edit >
//       Copy All and ends the program; beside it two fresh headless processes as above. Prints
//       min/median/max of the program's rates and of each / the first headless per test, and per
//       round the program's user-interface thread's switches and migrations and the X server's time
//       from New Test to the results window.
//
//   bench_memory_window --disk [rounds]
//       disk-only New Tests in the window: every thread's wakes over the part, per result line.
//
//   bench_memory_window --processor [rounds [level]]
//       two processor tests' iterations (Filters, Modulations) repeated by the processor part's
//       driver loop for its time at one worker and at one per processor, with the window up,
//       the progress window open and the window's pump between iterations, then the same with
//       the quiet host; prints the rates and the scaling efficiency rate(n) / (n x rate(1)),
//       window against headless, min/median/max over the rounds, and the other threads' wakes.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sched.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// Before Qt's headers, whose keywords would take a name of the kernels' own.
#include "kestrel/engine/processor/kernels_integer.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTest>
#include <algorithm>
#include <array>
#include <memory>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench/spread.h"
#include "bench/thread_wakes.h"
#include "kestrel/engine/memory/memory_loops.h"
#include "kestrel/engine/memory/memory_test.h"
#include "kestrel/engine/processor/kernels_fourier.h"
#include "kestrel/engine/processor/workers.h"
#include "kestrel/engine/report/benchmark_reader.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/commands.h"
#include "kestrel/engine/run/host.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/shell/graph_windows.h"
#include "kestrel/shell/main_window.h"
#include "kestrel/shell/qt_host.h"
#include "platform/processors.h"
#include "platform/ui_thread.h"
#include "platform/workers.h"
#include "shared/analyser_client.h"
#include "shared/ui/program_start.h"
#include "shared/ui/scroller.h"

namespace {

// Private folders for the settings, the sockets and the temporary files, removed at the end.
struct PrivateFolders {
    std::string root;
    PrivateFolders();
    ~PrivateFolders() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
};

PrivateFolders::PrivateFolders() {
    char dir[] = "/tmp/bench_memory_window.XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "TMPDIR"}) {
        const std::string path = std::string(dir) + "/" + name;
        if (mkdir(path.c_str(), 0700) != 0) {
            std::perror("mkdir");
            std::exit(1);
        }
        setenv(name, path.c_str(), 1);
    }
    root = dir;
}

void HandleEvents(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// The eight "test N.) ... MB/s" rates of the report's lines from `first` on; false unless all
// eight are there.
bool Rates(int first, double rates[8]) {
    int found = 0;
    for (size_t i = size_t(std::max(first, 0)); i < report.szGreeting.size(); ++i) {
        const std::string& line = report.szGreeting[i];
        int test = 0;
        if (std::sscanf(line.c_str(), "test %d.) ", &test) != 1 || test < 1 || test > 8) continue;
        const size_t colon = line.rfind(":  ");
        if (colon == std::string::npos) continue;
        rates[test - 1] = std::atof(line.c_str() + colon + 3);
        ++found;
    }
    return found == 8;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

// Per test, what happened from its first timed pass to the next test's: the user-interface
// thread's context switches and migrations, the X server's processor time (the server of the
// display found by its command line, or the process id given).
struct Snapshot {
    long involuntary = 0;
    long voluntary = 0;
    long migrations = 0;
    long long xserver_ns = 0;
};
int g_xserver_pid = 0;
Snapshot g_marks[9];

Snapshot Take() {
    Snapshot s;
    rusage use{};
    getrusage(RUSAGE_THREAD, &use);
    s.involuntary = use.ru_nivcsw;
    s.voluntary = use.ru_nvcsw;
    std::ifstream sched("/proc/thread-self/sched");
    for (std::string line; std::getline(sched, line);) {
        if (line.rfind("se.nr_migrations", 0) == 0) s.migrations = std::atol(line.c_str() + line.find(':') + 1);
    }
    if (g_xserver_pid > 0) {
        // Nanoseconds on a processor, summed over the server's threads (its clock ticks, 10 ms
        // each, would round a test's share to nothing).
        std::error_code ignored;
        for (const auto& task : std::filesystem::directory_iterator(
                 "/proc/" + std::to_string(g_xserver_pid) + "/task", ignored)) {
            std::ifstream in(task.path() / "schedstat");
            long long ns = 0;
            if (in >> ns) s.xserver_ns += ns;
        }
    }
    return s;
}

// The X server of this display: the process whose command line is an X server's with the
// display's name as an argument; 0 when none is found.
int FindXServer() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr) return 0;
    std::string name = display;
    name = name.substr(0, name.find('.'));
    if (name.empty() || name[0] != ':') return 0;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(entry.path() / "cmdline");
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<std::string> args;
        for (size_t from = 0; from < all.size();) {
            const size_t end = all.find('\0', from);
            args.push_back(all.substr(from, end - from));
            if (end == std::string::npos) break;
            from = end + 1;
        }
        if (args.empty()) continue;
        const std::string program = std::filesystem::path(args[0]).filename().string();
        if (program != "Xvfb" && program != "Xorg" && program != "X" && program != "Xwayland") continue;
        if (std::find(args.begin() + 1, args.end(), name) != args.end()) return std::atoi(pid.c_str());
    }
    return 0;
}

// The program's host, with the X server's work for what was drawn between passes finished
// before the next pass (one round trip after the pump).
class SettledHost : public QtHost {
public:
    using QtHost::QtHost;
    void PumpPending() override {
        QtHost::PumpPending();
        QGuiApplication::sync();
    }
};

// The quiet host, but each pump writes 1 MB of memory of its own (stirred) or sleeps 100 us
// (napping); a napping host may then warm the processor up again before the next pass: a spin
// of warm_us on the monotonic clock (warm), or a read of every cache line of the test's buffers
// (touch).
std::vector<MemoryBuffer> g_held;  // the test's buffers, for touch and replay
int g_held_test = 0;
void NoteHeld(int test, const std::vector<MemoryBuffer>& held) {
    g_held = held;
    g_held_test = test;
}

// One untimed run of the test's own loop over its buffers (index arrays, then the destination
// and the source of the element size).
void ReplayPass() {
    if (g_held.size() != 4) return;
    const auto i1 = static_cast<const uint32_t*>(g_held[0].data);
    const auto i2 = static_cast<const uint32_t*>(g_held[1].data);
    const auto dd = static_cast<double*>(const_cast<void*>(g_held[2].data));
    const auto ds = static_cast<const double*>(g_held[3].data);
    const auto cd = static_cast<char*>(const_cast<void*>(g_held[2].data));
    const auto cs = static_cast<const char*>(g_held[3].data);
    const long n8 = long(g_held[2].bytes / 8), n1 = long(g_held[2].bytes);
    switch (g_held_test) {
        case 1: MemCopy8(dd, n8); break;
        case 2: MemMove8(dd, ds, n8); break;
        case 3: MemCopy1(cd, n1); break;
        case 4: MemMove1(cd, cs, n1); break;
        case 5: MemCopy8Patterned(dd, i1, n8); break;
        case 6: MemMove8Patterned(dd, ds, i1, i2, n8); break;
        case 7: MemCopy1Patterned(cd, i1, n1); break;
        case 8: MemMove1Patterned(cd, cs, i1, i2, n1); break;
        default: break;
    }
}

class StirringHost : public EngineHost {
public:
    explicit StirringHost(bool nap, int warm_us = 0, bool touch = false, bool sleep = true, bool replay = false)
        : nap_(nap), sleep_(sleep), warm_ns_(int64_t(warm_us) * 1000), touch_(touch), replay_(replay),
          other_(1 << 20, 1) {}
    void PumpPending() override {
        if (nap_) {
            if (sleep_) usleep(100);
            if (warm_ns_ > 0) {
                const int64_t until = NowNs() + warm_ns_;
                while (NowNs() < until) {
                }
            }
            if (touch_) {
                unsigned char sum = 0;
                for (const MemoryBuffer& b : g_held) {
                    const volatile unsigned char* p = static_cast<const unsigned char*>(b.data);
                    for (int64_t i = 0; i < b.bytes; i += 64) sum = static_cast<unsigned char>(sum + p[i]);
                }
                asm volatile("" : : "r"(sum));
            }
            if (replay_) ReplayPass();
            return;
        }
        for (size_t i = 0; i < other_.size(); i += 64) other_[i] = char(other_[i] + 1);
        asm volatile("" : : "r"(other_.data()) : "memory");
    }

private:
    static int64_t NowNs() {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
    }
    bool nap_;
    bool sleep_;
    int64_t warm_ns_;
    bool touch_;
    bool replay_;
    std::vector<char> other_;
};

// Every thread's wakes so far; the user-interface thread, which runs the memory test, and the
// spawner with its workers are named so.
using Threads = ThreadWakes;
Threads TakeThreads() {
    Threads all = TakeThreadWakes();
    for (auto& [tid, thread] : all) {
        std::string& name = thread.first;
        if (tid == int(getpid())) name = "user-interface thread (the test's)";
        else if (name == program_invocation_short_name || std::string(program_invocation_short_name).rfind(name, 0) == 0)
            name = "thread spawner and workers";
    }
    return all;
}
Threads g_threads[9];

// Wakes per thread name and test, summed over rounds, and how many threads carried the name.
struct Wakes {
    std::map<std::string, std::array<long, 8>> per_test;
    std::map<std::string, std::vector<int>> ids;
    void Add(const Threads (&marks)[9]) {
        for (int t = 0; t < 8; ++t) {
            for (const auto& [tid, thread] : marks[t + 1]) {
                const auto before = marks[t].find(tid);
                const long from = before != marks[t].end() ? before->second.second : 0;  // born meanwhile
                per_test[thread.first][size_t(t)] += thread.second - from;
                std::vector<int>& known = ids[thread.first];
                if (std::find(known.begin(), known.end(), tid) == known.end()) known.push_back(tid);
            }
        }
    }
    void Print(const char* side, int rounds, int tests) const {
        std::printf("%s: voluntary switches (wakes) per test and round, by thread name (threads of that name)\n", side);
        for (const auto& [name, counts] : per_test) {
            std::printf("  %-36s %3zu ", name.c_str(), ids.at(name).size());
            long sum = 0;
            for (int t = 0; t < tests; ++t) {
                std::printf(" %7.1f", double(counts[size_t(t)]) / rounds);
                sum += counts[size_t(t)];
            }
            std::printf("   all %8.1f\n", double(sum) / rounds);
        }
    }
};

// Paint events per window (the main window and what lies in it, the progress window, others).
struct PaintCounter : QObject {
    std::map<std::string, long> paints;
    QWidget* main = nullptr;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && watched->isWidgetType()) {
            const QWidget* top = static_cast<QWidget*>(watched)->window();
            if (top == main) {
                paints[std::string("main window: ") + watched->metaObject()->className()]++;
            } else {
                paints[dynamic_cast<const Scroller*>(top) != nullptr ? "progress window"
                       : !top->isVisible() ? "hidden (the report pane's scroll bars drawn in bands)"
                                           : top->metaObject()->className()]++;
            }
        }
        return false;
    }
};

void MarkFirstPass(int test, const std::vector<MemoryBuffer>&) {
    g_marks[test - 1] = Take();
    g_threads[test - 1] = TakeThreads();
}


// The program's set-up around its main window: the thread spawner, the application on X, the
// benchmark reader, the user-interface thread below normal priority, the counter library beside
// the program, and the memory part alone chosen.
struct WindowProgram {
    int qt_argc = 1;
    QApplication app;
    std::unique_ptr<MainWindow> w;
    PaintCounter paints;
    explicit WindowProgram(char** argv) : app((ChooseX11WhenDisplayed(), qt_argc), argv) {}
    bool Start(int level) {
        setlocale(LC_NUMERIC, "C");
        if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
            std::fprintf(stderr, "bench_memory_window needs an X display (platform %s)\n",
                         qPrintable(QGuiApplication::platformName()));
            return false;
        }
        kp::MarkUiThread();
        app.setQuitOnLastWindowClosed(false);
        InstallBenchmarkReader();
        kp::SetCurrentThreadPriority(-1);  // as the program's user-interface thread
        perflink.program_directory = KESTREL_BIN_DIR;  // the counter library beside the program
        w = std::make_unique<MainWindow>();
        w->Init("");
        while (!w->StartupDone()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (!QTest::qWaitForWindowExposed(w.get())) {
            std::fprintf(stderr, "the main window was never shown\n");
            return false;
        }
        paints.main = w.get();
        app.installEventFilter(&paints);
        prefs.memory_load_value = level;
        w->Action(CMD_MEMORY_TEST)->trigger();  // the memory part alone
        return true;
    }
    // One memory-only New Tests run: its eight rates, false when it gave none.
    bool NewTest(double rates[8]) {
        report.isnew = 0;  // the last run counts as saved: no question before the next
        w->Action(CMD_NEW_TEST)->trigger();  // the whole run happens inside
        const bool ok = run.test_interrupted == 0 && Rates(0, rates);
        g_marks[8] = Take();  // the end of the memory part, near enough
        g_threads[8] = TakeThreads();
        return ok;
    }
};

// DoMemTest with the quiet host: its eight rates, false when it gave none.
bool HeadlessMemTest(double rates[8], EngineHost* host) {
    const int first = report.num;
    EngineHost* const before = &Host();
    SetEngineHost(host);
    run.testend = 0;
    const bool ok = DoMemTest() == 0 && Rates(first, rates);
    g_marks[8] = Take();
    g_threads[8] = TakeThreads();
    SetEngineHost(before);
    return ok;
}

void ReadSched(pid_t pid, pid_t tid, long* involuntary, long* voluntary, long* migrations);

// A child of --fresh: one run, its eight rates on one line, then the test thread's involuntary
// and voluntary switches and migrations over the run.
int OneRun(char** argv, const std::string& side, int level) {
    const PrivateFolders folders;
    kp::StartThreadSpawner();
    double rates[8] = {};
    bool ok = false;
    if (side == "window") {
        WindowProgram program(argv);
        if (!program.Start(level)) return 2;
        ok = program.NewTest(rates);
    } else {
        kp::MarkUiThread();
        kp::SetCurrentThreadPriority(-1);
        SetDefaults();
        perflink.program_directory = KESTREL_BIN_DIR;
        prefs.memory_load_value = level;
        // napping, napwarmN (napping, then N us of spin), naptouch (napping, then the buffers
        // read), warmN (the spin alone, no sleep)
        const bool nap = side.rfind("nap", 0) == 0;
        const bool spin_only = side.rfind("warm", 0) == 0;
        int warm_us = 0;
        if (side.rfind("napwarm", 0) == 0) warm_us = std::max(1, std::atoi(side.c_str() + 7));
        if (spin_only) warm_us = std::max(1, std::atoi(side.c_str() + 4));
        const bool touch = side == "naptouch";
        const bool replay = side == "napreplay";  // napping, then the pass's loop once untimed
        if (touch || replay) SetFirstPassObserver(&NoteHeld);
        // pin, nappingpin: bound to the processor the thread is on for the whole run
        if (side == "pin" || side == "nappingpin") {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(sched_getcpu(), &one);
            sched_setaffinity(0, sizeof one, &one);
        }
        StirringHost napping(true, warm_us, touch, !spin_only, replay);
        long inv0 = 0, vol0 = 0, mig0 = 0, inv1 = 0, vol1 = 0, mig1 = 0;
        ReadSched(getpid(), getpid(), &inv0, &vol0, &mig0);
        ok = HeadlessMemTest(rates, nap || spin_only ? &napping : nullptr);
        ReadSched(getpid(), getpid(), &inv1, &vol1, &mig1);
        if (ok) {
            std::printf("rates");
            for (double r : rates) std::printf(" %.3f", r);
            std::printf("\nsched %ld %ld %ld\n", inv1 - inv0, vol1 - vol0, mig1 - mig0);
            return 0;
        }
    }
    if (!ok) return 1;
    std::printf("rates");
    for (double r : rates) std::printf(" %.3f", r);
    std::printf("\n");
    return 0;
}

// The real program, started as a user starts it, for one memory-only run.
struct UserRun {
    double rates[8] = {};
    // Its user-interface thread from New Test to the results window, and the X server's time.
    long involuntary = 0, voluntary = 0, migrations = 0;
    double xserver_ms = 0;
};

// A thread's switches and migrations so far.
void ReadSched(pid_t pid, pid_t tid, long* involuntary, long* voluntary, long* migrations) {
    std::ifstream sched("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/sched");
    for (std::string line; std::getline(sched, line);) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const long v = std::atol(line.c_str() + colon + 1);
        if (line.rfind("se.nr_migrations", 0) == 0) *migrations = v;
        if (line.rfind("nr_voluntary_switches", 0) == 0) *voluntary = v;
        if (line.rfind("nr_involuntary_switches", 0) == 0) *involuntary = v;
    }
}

std::string Output(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[512];
        while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
        pclose(p);
    }
    return out;
}

// The program's visible windows whose title matches `name` (xdotool's pattern), or "". With
// `wait_s`, one xdotool process looks again every half second until one is there, at most that
// long.
std::string WindowsOf(pid_t pid, const std::string& name, int wait_s = 0) {
    const std::string wait = wait_s > 0 ? "timeout " + std::to_string(wait_s) + " xdotool search --sync" : "xdotool search";
    return Output(wait + " --all --onlyvisible --pid " + std::to_string(pid) + " --name '" + name + "' 2>/dev/null");
}

bool WaitFor(const std::function<bool()>& ready, int limit_ms) {
    QElapsedTimer clock;
    clock.start();
    while (!ready()) {
        if (clock.elapsed() > limit_ms) return false;
        usleep(100 * 1000);
    }
    return true;
}

bool RunUser(const std::string& program, QClipboard* clipboard, UserRun* out) {
    pid_t pid = 0;
    const char* args[] = {program.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, const_cast<char**>(args), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return false;
    bool ok = false;
    std::string main;
    // The report of this run, not the one the clipboard held before.
    const std::string before = clipboard->text().toStdString();
    // The main window, the splash gone.
    if (!WaitFor([&] {
            main = WindowsOf(pid, "^KESTREL version");
            return !main.empty() && WindowsOf(pid, ".").find('\n') == main.size() - 1;
        }, 60000)) {
        std::fprintf(stderr, "the main window did not come alone\n");
    } else {
        main = main.substr(0, main.find('\n'));
        const std::string keys = "xdotool windowactivate --sync " + main + " ";
        // Options > Run Memory Test, then File > New Test, as a user types them.
        std::system((keys + "key --delay 100 alt+o m").c_str());
        usleep(300 * 1000);
        long inv0 = 0, vol0 = 0, mig0 = 0;
        ReadSched(pid, pid, &inv0, &vol0, &mig0);
        const long long x0 = Take().xserver_ns;
        std::system((keys + "key ctrl+n").c_str());
        // The run ends with the progress window closed and the results window open. One waiting
        // process: a fresh xdotool every 100 ms would put its start and its connection's setup
        // (about 2 ms of the X server's time each) into the run, on the program's side only.
        // xdotool gives up with nothing when a window it is reading (the progress window) goes
        // away under it; it is then started again, so a fresh process comes only after such an end.
        QElapsedTimer waited;
        waited.start();
        bool ended = false;
        while (!ended && waited.elapsed() < 600000) ended = !WindowsOf(pid, "^Results$", 600).empty();
        if (!ended) std::fprintf(stderr, "the run did not end\n");
        if (ended) {
            out->xserver_ms = double(Take().xserver_ns - x0) / 1e6;
            ReadSched(pid, pid, &out->involuntary, &out->voluntary, &out->migrations);
            out->involuntary -= inv0;
            out->voluntary -= vol0;
            out->migrations -= mig0;
            // Edit > Copy All in the main window; the report's lines come back through the
            // clipboard.
            ok = WaitFor([&] {
                std::system((keys + "key --delay 150 alt+e c").c_str());
                // The clipboard's change of owner reaches this process as an event.
                QElapsedTimer settle;
                settle.start();
                while (settle.elapsed() < 500) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
                const std::string text = clipboard->text().toStdString();
                if (text == before || text.find("Total Memory Score") == std::string::npos) return false;
                report.szGreeting.clear();
                size_t from = 0;
                for (size_t at; (at = text.find('\n', from)) != std::string::npos; from = at + 1) {
                    std::string line = text.substr(from, at - from);
                    if (!line.empty() && line.back() == '\r') line.pop_back();
                    report.szGreeting.push_back(line);
                }
                return Rates(0, out->rates);
            }, 30000);
            if (!ok) std::fprintf(stderr, "no report through the clipboard\n");
        }
    }
    // TERM ends the program without questions.
    kill(pid, SIGTERM);
    int status = 0;
    if (!WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 10000)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    return ok;
}

// The settings a user of the program has after the first start: a machine description (so the
// Configuration pages do not open) and the preferences, with the memory level chosen.
bool StoreUserSettings(int level) {
    SetDefaults();
    prefs.memory_load_value = level;
    return CreateRegEntry() == 0 && CreateRegEntry2() == 0;
}

int User(char** argv, int rounds, int level) {
    const PrivateFolders folders;
    if (!StoreUserSettings(level)) {
        std::fprintf(stderr, "the program's settings could not be stored\n");
        return 2;
    }
    int qt_argc = 1;
    QApplication app((ChooseX11WhenDisplayed(), qt_argc), argv);
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
        std::fprintf(stderr, "bench_memory_window --user needs an X display with a window manager\n");
        return 2;
    }
    const std::string program = std::string(KESTREL_BIN_DIR) + "/kestrel";
    const char* names[3] = {"kestrel", "headless", "headless2"};
    std::array<std::vector<double>, 8> rates[3], ratio[3];  // ratio: side / headless
    std::printf("bench_memory_window --user: %d rounds at level %d; each round the program %s started fresh, "
                "Options > Run Memory Test and File > New Test typed, and two fresh headless processes "
                "(DoMemTest at the same nice value), the order rotating; %ld processors\n",
                rounds, level, program.c_str(), sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("%-5s %-16s %-9s %s\n", "round", "loadavg", "side", "tests 1..8 MB/s");
    long involuntary = 0, voluntary = 0, migrations = 0;
    double xserver_ms = 0;
    g_xserver_pid = FindXServer();
    for (int r = 0; r < rounds; ++r) {
        const std::string load = LoadAverage();
        double got[3][8] = {};
        for (int k = 0; k < 3; ++k) {
            const int side = (k + r) % 3;
            bool ok = false;
            if (side == 0) {
                UserRun run_of_user;
                ok = RunUser(program, QGuiApplication::clipboard(), &run_of_user);
                std::copy(run_of_user.rates, run_of_user.rates + 8, got[0]);
                involuntary += run_of_user.involuntary;
                voluntary += run_of_user.voluntary;
                migrations += run_of_user.migrations;
                xserver_ms += run_of_user.xserver_ms;
            } else {
                const std::string command = std::string(argv[0]) + " --one headless " + std::to_string(level);
                FILE* child = popen(command.c_str(), "r");
                if (child != nullptr) {
                    char line[1024];
                    while (std::fgets(line, sizeof line, child) != nullptr) {
                        double* v = got[side];
                        if (std::sscanf(line, "rates %lf %lf %lf %lf %lf %lf %lf %lf", v, v + 1, v + 2, v + 3, v + 4,
                                        v + 5, v + 6, v + 7) == 8) ok = true;
                    }
                    ok = pclose(child) == 0 && ok;
                }
            }
            if (!ok) {
                std::fprintf(stderr, "round %d: the %s run gave no eight rates\n", r + 1, names[side]);
                return 1;
            }
        }
        for (int side = 0; side < 3; ++side) {
            std::printf("%-5d %-16s %-9s", r + 1, load.c_str(), names[side]);
            for (int t = 0; t < 8; ++t) {
                std::printf(" %9.0f", got[side][t]);
                rates[side][size_t(t)].push_back(got[side][t]);
                ratio[side][size_t(t)].push_back(got[side][t] / got[1][t]);
            }
            std::printf("\n");
        }
        std::fflush(stdout);
    }
    std::printf("after: loadavg %s\n", LoadAverage().c_str());
    for (int side : {0, 2}) {
        std::printf("%s: test, MB/s min med max of %s, median of headless, %s / headless min med max\n", names[side],
                    names[side], names[side]);
        for (int t = 0; t < 8; ++t) {
            const Spread a = Of(ratio[side][size_t(t)]);
            const Spread m = Of(rates[side][size_t(t)]);
            std::printf("  %d %9.0f %9.0f %9.0f %9.0f   %5.3f %5.3f %5.3f\n", t + 1, m.min, m.median, m.max,
                        Of(rates[1][size_t(t)]).median, a.min, a.median, a.max);
        }
    }
    std::printf("kestrel, from New Test to the results window, per round: its user-interface thread %.1f "
                "involuntary and %.1f voluntary switches, %.1f migrations; the X server (pid %d) %.1f ms\n",
                double(involuntary) / rounds, double(voluntary) / rounds, double(migrations) / rounds, g_xserver_pid,
                xserver_ms / rounds);
    return 0;
}

int Fresh(const char* self, int rounds, int level, const std::string& extra) {
    // Shown name, and what the child runs. The window side is left out with "nowindow".
    std::vector<std::pair<std::string, std::string>> sides;
    if (extra.find("nowindow") == std::string::npos) sides.push_back({"window", "window"});
    sides.push_back({"headless", "headless"});
    sides.push_back({"headless2", "headless"});
    const size_t base = sides.size() - 2;  // the first headless
    for (size_t from = 0; from < extra.size();) {
        size_t to = extra.find(',', from);
        if (to == std::string::npos) to = extra.size();
        const std::string word = extra.substr(from, to - from);
        if (word.rfind("nap", 0) == 0 || word.rfind("warm", 0) == 0 || word == "pin") sides.push_back({word, word});
        from = to + 1;
    }
    const bool with_napping = sides.size() > base + 2;
    const size_t n = sides.size();
    std::vector<std::array<std::vector<double>, 8>> rates(n), ratio(n);  // ratio: side / headless
    std::vector<std::array<std::vector<double>, 3>> sched(n);  // headless sides: involuntary, voluntary, migrations
    std::printf("bench_memory_window --fresh: %d rounds at level %d; each round a fresh process's first "
                "memory-only New Tests in the window and two fresh headless processes (DoMemTest)%s, the "
                "order rotating\n", rounds, level,
                with_napping ? ", and headless sleeping 100 us after each pass (napping; napwarmN: then N us of spin on "
                               "the clock; naptouch: then every cache line of the test's buffers read)" : "");
    std::printf("%-5s %-16s %-9s %s\n", "round", "loadavg", "side", "tests 1..8 MB/s");
    for (int r = 0; r < rounds; ++r) {
        const std::string load = LoadAverage();
        std::vector<std::array<double, 8>> got(n);
        for (size_t k = 0; k < n; ++k) {
            const size_t side = (k + size_t(r)) % n;
            const std::string command =
                std::string(self) + " --one " + sides[side].second + " " + std::to_string(level);
            FILE* child = popen(command.c_str(), "r");
            bool ok = false;
            if (child != nullptr) {
                char line[1024];
                while (std::fgets(line, sizeof line, child) != nullptr) {
                    double* v = got[side].data();
                    if (std::sscanf(line, "rates %lf %lf %lf %lf %lf %lf %lf %lf", v, v + 1, v + 2, v + 3, v + 4,
                                    v + 5, v + 6, v + 7) == 8) ok = true;
                    long q[3] = {};
                    if (std::sscanf(line, "sched %ld %ld %ld", q, q + 1, q + 2) == 3) {
                        for (int i = 0; i < 3; ++i) sched[side][size_t(i)].push_back(double(q[i]));
                    }
                }
                ok = pclose(child) == 0 && ok;
            }
            if (!ok) {
                std::fprintf(stderr, "round %d: the %s process gave no eight rates\n", r + 1, sides[side].first.c_str());
                return 1;
            }
        }
        for (size_t side = 0; side < n; ++side) {
            std::printf("%-5d %-16s %-12s", r + 1, load.c_str(), sides[side].first.c_str());
            for (int t = 0; t < 8; ++t) {
                std::printf(" %9.0f", got[side][t]);
                rates[side][t].push_back(got[side][t]);
                ratio[side][t].push_back(got[side][t] / got[base][t]);
            }
            std::printf("\n");
        }
        std::fflush(stdout);
    }
    std::printf("after: loadavg %s\n", LoadAverage().c_str());
    std::printf("the test thread over a headless run: involuntary switches, voluntary switches, migrations, "
                "min/median/max\n");
    for (size_t side = 0; side < n; ++side) {
        if (sched[side][0].empty()) continue;
        std::printf("  %-12s", sides[side].first.c_str());
        for (int i = 0; i < 3; ++i) {
            const Spread q = Of(sched[side][size_t(i)]);
            std::printf("   %4.0f %4.0f %4.0f", q.min, q.median, q.max);
        }
        std::printf("\n");
    }
    for (size_t side = 0; side < n; ++side) {
        if (side == base) continue;
        const char* name = sides[side].first.c_str();
        std::printf("%s: test, median MB/s of %s and of headless, %s / headless min med max\n", name, name, name);
        for (int t = 0; t < 8; ++t) {
            const Spread a = Of(ratio[side][t]);
            std::printf("  %d %9.0f %9.0f   %5.3f %5.3f %5.3f\n", t + 1, Of(rates[side][t]).median,
                        Of(rates[base][t]).median, a.min, a.median, a.max);
        }
    }
    return 0;
}

// The processor part's driver loop over one test's iteration with n workers (one per processor,
// 1..n) for `seconds` of summed iteration time: the work counted per second, or -1.
double DriverRate(int test, int n, int level) {
    run.numprocessors = n;
    DriverLoop loop;
    if (test == 0) {  // Filters, as its driver runs it
        const int32_t size = 8192 << level;
        loop.iteration = [n, size] { return DoFourierTransformIteration(n, size); };
        loop.count_per_iteration = n * 3.0 * 100.0;
        loop.ui_priority_during = run.tpriority;
        loop.ui_priority_after = -1;
    } else {  // Modulations
        modulations::thesize = 10 << level;
        loop.iteration = [n] { return DoSpeedTestIteration(n); };
        loop.count_per_iteration = n * 10.0;
        loop.pump_before_each = true;
    }
    DriverTotals totals;
    if (RunDriverLoop(loop, &totals) != 0 || totals.seconds <= 0.0) return -1.0;
    return totals.count / totals.seconds;
}

int Processor(char** argv, int rounds, int level) {
    const PrivateFolders folders;
    kp::StartThreadSpawner();
    WindowProgram program(argv);
    if (!program.Start(level)) return 2;
    EngineHost* const window_host = &Host();
    const int processors = kp::GetNumProcessors();
    measuring_times.driver_seconds = 0.5;
    results.processor_affinity_start = 1;
    const char* names[2] = {"Filters", "Modulations"};
    // [test][side: window, headless, headless2][0: rate at 1, 1: rate at n, 2: efficiency]
    const char* sides[3] = {"window", "headless", "headless2"};
    std::vector<double> got[2][3][3];
    std::vector<double> ratio[2][2];  // per round: efficiency of window / headless, headless2 / headless
    Wakes wakes[3];
    std::map<std::string, long> paints;
    std::printf("bench_memory_window --processor: %d rounds at level %d, 1 and %d workers, %.1f s of iteration "
                "time each; window (progress window open, the window's pump) and headless (quiet host) twice, "
                "the order rotating\n", rounds, level, processors, measuring_times.driver_seconds);
    std::printf("%-5s %-16s %-12s %-8s %12s %12s %6s\n", "round", "loadavg", "test", "side", "rate(1)", "rate(n)",
                "eff");
    for (int r = 0; r < rounds; ++r) {
        const std::string load = LoadAverage();
        for (int test = 0; test < 2; ++test) {
            double efficiency_of[3] = {};
            for (int k = 0; k < 3; ++k) {
                const int side = (k + r) % 3;
                const bool window = side == 0;
                SetEngineHost(window ? window_host : nullptr);
                if (window) {
                    Host().OpenProgress(names[test]);
                    HandleEvents(100);
                    program.paints.paints.clear();
                }
                run.testrunning = 1;
                run.testend = 0;
                Threads marks[9];
                marks[0] = TakeThreads();
                Host().SetStatusText(std::string("Test; 1 worker"));
                const double one = DriverRate(test, 1, level);
                marks[1] = TakeThreads();
                Host().SetProgress(0.5);
                Host().SetStatusText(std::string("Test; all workers"));
                const double all = DriverRate(test, processors, level);
                marks[2] = TakeThreads();
                for (int m = 3; m < 9; ++m) marks[m] = marks[2];
                run.testrunning = 0;
                if (window) {
                    Host().CloseProgress();
                    Host().SetStatusText("");
                    for (const auto& [w, n] : program.paints.paints) paints[w] += n;
                    program.paints.paints.clear();
                    HandleEvents(100);
                }
                SetEngineHost(window_host);
                if (one <= 0.0 || all <= 0.0) {
                    std::fprintf(stderr, "round %d: %s gave no rate\n", r + 1, names[test]);
                    return 1;
                }
                wakes[side].Add(marks);
                const double efficiency = all / (processors * one);
                efficiency_of[side] = efficiency;
                std::vector<double>* v = got[test][side];
                v[0].push_back(one);
                v[1].push_back(all);
                v[2].push_back(efficiency);
                std::printf("%-5d %-16s %-12s %-8s %12.4g %12.4g %6.3f\n", r + 1, load.c_str(), names[test],
                            sides[side], one, all, efficiency);
            }
            ratio[test][0].push_back(efficiency_of[0] / efficiency_of[1]);
            ratio[test][1].push_back(efficiency_of[2] / efficiency_of[1]);
        }
        std::fflush(stdout);
    }
    std::printf("after: loadavg %s\n", LoadAverage().c_str());
    std::printf("test, side, rate(1), rate(%d), efficiency: min/median/max; then the medians' ratios to headless, "
                "and the efficiency's ratio to headless in each round (min/median/max)\n", processors);
    for (int test = 0; test < 2; ++test) {
        for (int side = 0; side < 3; ++side) {
            std::printf("  %-12s %-9s", names[test], sides[side]);
            for (int q = 0; q < 3; ++q) {
                const Spread s = Of(got[test][side][q]);
                std::printf(q == 2 ? "   %5.3f %5.3f %5.3f" : "   %10.4g %10.4g %10.4g", s.min, s.median, s.max);
            }
            std::printf("\n");
        }
        for (int side : {0, 2}) {
            const Spread e = Of(ratio[test][side == 0 ? 0 : 1]);
            std::printf("  %-12s %s / headless: rate(1) %5.3f  rate(%d) %5.3f  efficiency %5.3f;  per round %5.3f %5.3f "
                        "%5.3f\n", names[test], sides[side], Of(got[test][side][0]).median / Of(got[test][1][0]).median,
                        processors, Of(got[test][side][1]).median / Of(got[test][1][1]).median,
                        Of(got[test][side][2]).median / Of(got[test][1][2]).median, e.min, e.median, e.max);
        }
    }
    // Columns: 1 worker, all workers (per test and round, both tests together).
    wakes[0].Print("window", 2 * rounds, 2);
    wakes[1].Print("headless", 2 * rounds, 2);
    wakes[2].Print("headless2", 2 * rounds, 2);
    std::printf("window: paints per round:");
    for (const auto& [w, n] : paints) std::printf("  %s %.1f", w.c_str(), double(n) / rounds);
    std::printf("\n");
    return 0;
}

// Disk-only New Tests in the window: every thread's wakes over the whole part, per test of it.
int Disk(char** argv, int rounds) {
    const PrivateFolders folders;
    kp::StartThreadSpawner();
    WindowProgram program(argv);
    if (!program.Start(0)) return 2;
    program.w->Action(CMD_DISK_TEST)->trigger();  // the disk part alone
    Threads marks[9];
    Wakes wakes;
    std::map<std::string, long> paints;
    int tests = 0;
    std::printf("bench_memory_window --disk: %d rounds of a disk-only New Tests in the window\n", rounds);
    for (int r = 0; r < rounds; ++r) {
        const std::string load = LoadAverage();
        report.isnew = 0;
        program.paints.paints.clear();
        marks[0] = TakeThreads();
        program.w->Action(CMD_NEW_TEST)->trigger();
        marks[1] = TakeThreads();
        for (int m = 2; m < 9; ++m) marks[m] = marks[1];
        for (const auto& [w, n] : program.paints.paints) paints[w] += n;
        int timed = 0;  // the disk tests' result lines ("... performance is: ...") of this run
        for (const std::string& line : report.szGreeting) timed += line.find("performance is:") != std::string::npos;
        if (run.test_interrupted != 0 || timed == 0) {
            std::fprintf(stderr, "round %d: the disk run gave no results\n", r + 1);
            return 1;
        }
        tests += timed;
        wakes.Add(marks);
        std::printf("round %d, loadavg %s: %d results\n", r + 1, load.c_str(), timed);
        std::fflush(stdout);
        HandleEvents(300);
        CloseGraphWindows();
        HandleEvents(200);
    }
    std::printf("after: loadavg %s; per result line, summed over the part (the part's own work included)\n",
                LoadAverage().c_str());
    wakes.Print("window", tests, 1);
    std::printf("window: paints per round:");
    for (const auto& [w, n] : paints) std::printf("  %s %.1f", w.c_str(), double(n) / rounds);
    std::printf("\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--one" && argc > 3) return OneRun(argv, argv[2], std::clamp(std::atoi(argv[3]), 0, 6));
    if (mode == "--fresh") {
        return Fresh(argv[0], argc > 2 ? std::max(1, std::atoi(argv[2])) : 30,
                     argc > 3 ? std::clamp(std::atoi(argv[3]), 0, 6) : 0,
                     argc > 4 ? argv[4] : "");
    }
    if (mode == "--disk") return Disk(argv, argc > 2 ? std::max(1, std::atoi(argv[2])) : 4);
    if (mode == "--user") {
        return User(argv, argc > 2 ? std::max(1, std::atoi(argv[2])) : 30, argc > 3 ? std::clamp(std::atoi(argv[3]), 0, 6) : 0);
    }
    const bool processor = mode == "--processor";
    const int a = processor ? 2 : 1;  // the first of the remaining arguments
    const int rounds = argc > a ? std::max(1, std::atoi(argv[a])) : 16;
    const int level = argc > a + 1 ? std::clamp(std::atoi(argv[a + 1]), 0, 6) : 0;
    if (processor) return Processor(argv, rounds, level);
    g_xserver_pid = argc > 3 && std::atoi(argv[3]) > 0 ? std::atoi(argv[3]) : FindXServer();
    const std::string extra = argc > 4 ? argv[4] : "";
    const bool with_settled = extra.find("settled") != std::string::npos;
    const bool with_stirred = extra.find("stirred") != std::string::npos;
    const bool with_napping = extra.find("napping") != std::string::npos;
    SetFirstPassObserver(&MarkFirstPass);
    const PrivateFolders folders;
    kp::StartThreadSpawner();
    WindowProgram program(argv);
    if (!program.Start(level)) return 2;
    EngineHost* const window_host = &Host();

    // The sides of a round, in turn.
    struct Side {
        const char* name = "";
        bool window = false;   // a New Tests run of the window (else DoMemTest with the quiet host)
        bool stirred = false;  // headless with a host that stirs the caches after each pass
        bool settled = false;  // the window's host waits for the X server after each pump
        std::vector<double> rates[8];
        std::vector<double> ratio[8];  // against the headless side of the same round
        long switches[8] = {}, voluntary[8] = {}, migrations[8] = {};
        long long xserver[8] = {};
        Wakes wakes;
        std::map<std::string, long> paints;
    };
    const auto make_side = [](const char* name, bool window, bool stirred, bool settled) {
        Side s;
        s.name = name;
        s.window = window;
        s.stirred = stirred;
        s.settled = settled;
        return s;
    };
    std::vector<Side> sides;
    sides.push_back(make_side("window", true, false, false));
    if (with_settled) sides.push_back(make_side("settled", true, false, true));
    if (with_stirred) sides.push_back(make_side("stirred", false, true, false));
    if (with_napping) sides.push_back(make_side("napping", false, true, false));
    sides.push_back(make_side("headless2", false, false, false));  // the machine's own spread
    sides.push_back(make_side("headless", false, false, false));

    std::printf("bench_memory_window: memory test, %d rounds at level %d; each round: window (memory-only "
                "New Tests)%s, and headless twice (DoMemTest, quiet host), the order rotating from round to "
                "round; UI thread nice %d, pid %d\n",
                rounds, level, with_settled ? ", settled (the same with an X round trip after each pump)" : "",
                kp::CurrentThreadNice(), int(getpid()));
    std::printf("%-5s %-16s %-8s %s\n", "round", "loadavg", "side", "tests 1..8 MB/s");
    for (int r = 0; r < rounds; ++r) {
        const std::string load = LoadAverage();
        std::vector<std::array<double, 8>> got(sides.size());
        for (size_t j = 0; j < sides.size(); ++j) {
            const size_t k = (j + size_t(r)) % sides.size();
            Side& side = sides[k];
            double* v = got[k].data();
            bool ok = false;
            program.paints.paints.clear();
            if (side.window) {
                std::unique_ptr<SettledHost> settled;
                if (side.settled) settled = std::make_unique<SettledHost>(*program.w);
                ok = program.NewTest(v);
                settled.reset();
                SetEngineHost(window_host);
                for (const auto& [window, n] : program.paints.paints) side.paints[window] += n;
                HandleEvents(300);
                CloseGraphWindows();
                HandleEvents(200);
            } else {
                StirringHost stirring(std::strcmp(side.name, "napping") == 0);
                ok = HeadlessMemTest(v, side.stirred ? &stirring : nullptr);
            }
            if (!ok) {
                std::fprintf(stderr, "round %d: the %s run gave no eight rates\n", r + 1, side.name);
                return 1;
            }
            side.wakes.Add(g_threads);
            for (int t = 0; t < 8; ++t) {
                side.switches[t] += g_marks[t + 1].involuntary - g_marks[t].involuntary;
                side.voluntary[t] += g_marks[t + 1].voluntary - g_marks[t].voluntary;
                side.migrations[t] += g_marks[t + 1].migrations - g_marks[t].migrations;
                side.xserver[t] += g_marks[t + 1].xserver_ns - g_marks[t].xserver_ns;
                side.rates[t].push_back(v[t]);
            }
            std::printf("%-5d %-16s %-8s", r + 1, load.c_str(), side.name);
            for (int t = 0; t < 8; ++t) std::printf(" %9.0f", v[t]);
            std::printf("\n");
        }
        std::fflush(stdout);
        const double* headless = got.back().data();
        for (size_t k = 0; k < sides.size(); ++k) {
            for (int t = 0; t < 8; ++t) sides[k].ratio[t].push_back(got[k][size_t(t)] / headless[t]);
        }
    }
    std::printf("after: loadavg %s\n", LoadAverage().c_str());
    for (const Side& side : sides) {
        std::printf("%s: test, median MB/s, %s / headless min med max; per round: the user-interface "
                    "thread's involuntary and voluntary switches and migrations, X server ms\n", side.name, side.name);
        for (int t = 0; t < 8; ++t) {
            const Spread s = Of(side.ratio[t]);
            std::printf("  %d %9.0f   %5.3f %5.3f %5.3f   %6.1f %6.1f %6.1f   %6.1f\n", t + 1, Of(side.rates[t]).median,
                        s.min, s.median, s.max, double(side.switches[t]) / rounds, double(side.voluntary[t]) / rounds,
                        double(side.migrations[t]) / rounds, double(side.xserver[t]) / 1e6 / rounds);
        }
    }
    for (const Side& side : sides) {
        side.wakes.Print(side.name, rounds, 8);
        if (!side.window) continue;
        std::printf("%s: paints per round (the memory part, from the New Tests command to its end):", side.name);
        for (const auto& [window, n] : side.paints) std::printf("  %s %.1f", window.c_str(), double(n) / rounds);
        std::printf("\n");
    }
    return 0;
}

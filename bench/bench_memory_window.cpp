// The memory test inside the program's window against the same test headless, in one process,
// side by side in each round:
//   - window: a memory-only New Tests run of the main window on the display (progress window,
//     status line, report pane and the events between passes, as the program has them);
//   - headless: DoMemTest with the host that does nothing, on the same thread at the same
//     priority, right after (no window work between passes).
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
//       (default 16 rounds at level 0; needs an X display)
//
// Each round prints the load average and the eight rates of every side; at the end, per side and
// test, the median rate, min/median/max of the ratio side / headless of the same round, and per
// round the user-interface thread's involuntary and voluntary switches and migrations and the X
// server's processor time, from each test's first timed pass to the next test's.
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
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
#include <fstream>
#include <string>
#include <vector>

#include "bench/spread.h"
#include "kestrel/engine/memory/memory_test.h"
#include "kestrel/engine/report/benchmark_reader.h"
#include "kestrel/engine/report/report.h"
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
// thread's context switches and migrations, the X server's processor time (when its process id
// is given).
struct Snapshot {
    long involuntary = 0;
    long voluntary = 0;
    long migrations = 0;
    long xserver_ticks = 0;
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
        std::ifstream in("/proc/" + std::to_string(g_xserver_pid) + "/stat");
        std::string field;
        for (int i = 1; i <= 15 && in >> field; ++i) {
            if (i == 14 || i == 15) s.xserver_ticks += std::atol(field.c_str());
        }
    }
    return s;
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
// (napping).
class StirringHost : public EngineHost {
public:
    explicit StirringHost(bool nap) : nap_(nap), other_(1 << 20, 1) {}
    void PumpPending() override {
        if (nap_) {
            usleep(100);
            return;
        }
        for (size_t i = 0; i < other_.size(); i += 64) other_[i] = char(other_[i] + 1);
        asm volatile("" : : "r"(other_.data()) : "memory");
    }

private:
    bool nap_;
    std::vector<char> other_;
};

void MarkFirstPass(int test, const std::vector<MemoryBuffer>&) { g_marks[test - 1] = Take(); }

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 16;
    const int level = argc > 2 ? std::clamp(std::atoi(argv[2]), 0, 6) : 0;
    g_xserver_pid = argc > 3 ? std::atoi(argv[3]) : 0;
    const std::string extra = argc > 4 ? argv[4] : "";
    const bool with_settled = extra.find("settled") != std::string::npos;
    const bool with_stirred = extra.find("stirred") != std::string::npos;
    const bool with_napping = extra.find("napping") != std::string::npos;
    SetFirstPassObserver(&MarkFirstPass);
    const PrivateFolders folders;
    kp::StartThreadSpawner();
    ChooseX11WhenDisplayed();
    int qt_argc = 1;
    QApplication app(qt_argc, argv);
    setlocale(LC_NUMERIC, "C");
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
        std::fprintf(stderr, "bench_memory_window needs an X display (platform %s)\n",
                     qPrintable(QGuiApplication::platformName()));
        return 2;
    }
    kp::MarkUiThread();
    app.setQuitOnLastWindowClosed(false);
    InstallBenchmarkReader();
    kp::SetCurrentThreadPriority(-1);  // as the program's user-interface thread
    perflink.program_directory = KESTREL_BIN_DIR;  // the counter library beside the program

    MainWindow w;
    w.Init("");
    while (!w.StartupDone()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!QTest::qWaitForWindowExposed(&w)) {
        std::fprintf(stderr, "the main window was never shown\n");
        return 1;
    }
    prefs.memory_load_value = level;
    w.Action(CMD_MEMORY_TEST)->trigger();  // the memory part alone
    EngineHost* const window_host = &Host();

    // The sides of a round, in turn.
    struct Side {
        const char* name = "";
        bool window = false;   // a New Tests run of the window (else DoMemTest with the quiet host)
        bool stirred = false;  // headless with a host that stirs the caches after each pass
        bool settled = false;  // the window's host waits for the X server after each pump
        std::vector<double> rates[8];
        std::vector<double> ratio[8];  // against the headless side of the same round
        long switches[8] = {}, voluntary[8] = {}, migrations[8] = {}, xserver[8] = {};
    };
    std::vector<Side> sides;
    sides.push_back(Side{"window", true, false, false, {}, {}});
    if (with_settled) sides.push_back(Side{"settled", true, false, true, {}, {}});
    if (with_stirred) sides.push_back(Side{"stirred", false, true, false, {}, {}});
    if (with_napping) sides.push_back(Side{"napping", false, true, false, {}, {}});
    sides.push_back(Side{"headless", false, false, false, {}, {}});

    std::printf("bench_memory_window: memory test, %d rounds at level %d; each round: window (memory-only "
                "New Tests)%s, then headless (DoMemTest, quiet host); UI thread nice %d, pid %d\n",
                rounds, level, with_settled ? ", settled (the same with an X round trip after each pump)" : "",
                kp::CurrentThreadNice(), int(getpid()));
    std::printf("%-5s %-16s %-8s %s\n", "round", "loadavg", "side", "tests 1..8 MB/s");
    for (int r = 0; r < rounds; ++r) {
        const std::string load = LoadAverage();
        std::vector<std::array<double, 8>> got(sides.size());
        for (size_t k = 0; k < sides.size(); ++k) {
            Side& side = sides[k];
            double* v = got[k].data();
            bool ok = false;
            if (side.window) {
                std::unique_ptr<SettledHost> settled;
                if (side.settled) settled = std::make_unique<SettledHost>(w);
                report.isnew = 0;  // the last run counts as saved: no question before the next
                w.Action(CMD_NEW_TEST)->trigger();  // the whole run happens inside
                ok = run.test_interrupted == 0 && Rates(0, v);
                g_marks[8] = Take();  // the end of the memory part, near enough
                settled.reset();
                SetEngineHost(window_host);
                HandleEvents(300);
                CloseGraphWindows();
                HandleEvents(200);
            } else {
                const int first = report.num;
                StirringHost stirring(std::strcmp(side.name, "napping") == 0);
                SetEngineHost(side.stirred ? &stirring : nullptr);
                run.testend = 0;
                ok = DoMemTest() == 0 && Rates(first, v);
                g_marks[8] = Take();
                SetEngineHost(window_host);
            }
            if (!ok) {
                std::fprintf(stderr, "round %d: the %s run gave no eight rates\n", r + 1, side.name);
                return 1;
            }
            for (int t = 0; t < 8; ++t) {
                side.switches[t] += g_marks[t + 1].involuntary - g_marks[t].involuntary;
                side.voluntary[t] += g_marks[t + 1].voluntary - g_marks[t].voluntary;
                side.migrations[t] += g_marks[t + 1].migrations - g_marks[t].migrations;
                side.xserver[t] += g_marks[t + 1].xserver_ticks - g_marks[t].xserver_ticks;
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
    const double tick_ms = 1000.0 / double(sysconf(_SC_CLK_TCK));
    for (const Side& side : sides) {
        std::printf("%s: test, median MB/s, %s / headless min med max; per round: the user-interface "
                    "thread's involuntary and voluntary switches and migrations, X server ms\n", side.name, side.name);
        for (int t = 0; t < 8; ++t) {
            const Spread s = Of(side.ratio[t]);
            std::printf("  %d %9.0f   %5.3f %5.3f %5.3f   %6.1f %6.1f %6.1f   %6.1f\n", t + 1, Of(side.rates[t]).median,
                        s.min, s.median, s.max, double(side.switches[t]) / rounds, double(side.voluntary[t]) / rounds,
                        double(side.migrations[t]) / rounds, double(side.xserver[t]) * tick_ms / rounds);
        }
    }
    return 0;
}

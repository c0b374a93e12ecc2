// The nine video tests' times as `lumen` runs them for the report: the main window at 1024 x 768
// (800 x 600 with --laptop) and the record's processor count the machine's (1 with
// --processor-count 1), as the program hands them to `lumen`; each test on its own thread while
// this thread serves the windows; in rounds, one test after the other.
// Run it once as it is and once under LD_PRELOAD=bench/libundo_mallopt.so, which leaves the C
// library's heap thresholds at their defaults, to see what the heap rules set at start change.
//
// Then the first run of each test in a fresh process (as `lumen` runs each test once) beside
// that process's later runs of the same test: every process runs one test three times; the
// processes go round the tests, so that the machine's load falls alike on all of them.
//
//   bench_video_times [rounds] [test ...] [--processes N] [--laptop] [--processor-count P]
//       rounds: in-process rounds of all tests chosen (default 7; min / median / max ms);
//       test: entry names such as FigureDraw (default all nine);
//       N: fresh processes per test (default 10; 0 leaves the first-run table out);
//       --laptop: the 800 x 600 window; P: the record's processor count (default this machine's);
//       --full: the 1024 x 768 window (the default, kept for older command lines).
#include <QApplication>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/spread.h"
#include "bench/thread_wakes.h"
#include "lumen/video_tests.h"
#include "platform/processors.h"

namespace {

constexpr int kRunsPerProcess = 3;

// The test rectangle and the processor count as the program passes them: 1024 x 768 (800 x 600 in
// the laptop mode) and this machine's processors.
lumen::VideoTestSettings g_settings;

// Child: runs one test kRunsPerProcess times and prints the times on one line.
int RunChild(const char* name, int laptop, int processors) {
    g_settings.laptop = laptop;
    g_settings.processors = processors;
    std::printf("times");
    for (int r = 0; r < kRunsPerProcess; ++r) {
        std::printf(" %.3f", lumen::RunVideoTestForTest(name, g_settings).ms);
    }
    std::printf("\n");
    return 0;
}

// Starts a fresh process of this program for one test; false when it gave no times.
bool RunFresh(const char* name, std::vector<double>* out) {
    // This program's own file (popen's shell would read /proc/self/exe as itself).
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return false;
    const std::string command = "'" + std::string(self) + "' --child " + name + " " +
                                std::to_string(g_settings.laptop) + " " + std::to_string(g_settings.processors);
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return false;
    char line[512];
    bool ok = false;
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        if (std::strncmp(line, "times ", 6) != 0) continue;
        double t[kRunsPerProcess] = {};
        if (std::sscanf(line + 6, "%lf %lf %lf", &t[0], &t[1], &t[2]) == kRunsPerProcess) {
            out->assign(t, t + kRunsPerProcess);
            ok = std::all_of(t, t + kRunsPerProcess, [](double v) { return v > 0.0; });
        }
    }
    return pclose(pipe) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    if (argc == 5 && std::strcmp(argv[1], "--child") == 0) {
        return RunChild(argv[2], std::atoi(argv[3]), std::max(1, std::atoi(argv[4])));
    }
    g_settings.laptop = 0;
    g_settings.processors = kp::GetNumProcessors();

    int rounds = 7;
    int processes = 10;
    std::vector<bool> chosen(9, true);
    bool named = false;
    for (int a = 1; a < argc; ++a) {
        if (std::strcmp(argv[a], "--full") == 0) {
            g_settings.laptop = 0;
        } else if (std::strcmp(argv[a], "--laptop") == 0) {
            g_settings.laptop = 1;
        } else if (std::strcmp(argv[a], "--processor-count") == 0 && a + 1 < argc) {
            g_settings.processors = std::max(1, std::atoi(argv[++a]));
        } else if (std::strcmp(argv[a], "--processes") == 0 && a + 1 < argc) {
            processes = std::max(0, std::atoi(argv[++a]));
        } else if (a == 1 && std::isdigit(static_cast<unsigned char>(argv[a][0]))) {
            rounds = std::atoi(argv[a]);
        } else {
            const int i = lumen::FindVideoTest(argv[a]);
            if (i < 0) {
                std::fprintf(stderr, "no video test %s\n", argv[a]);
                return 2;
            }
            if (!named) chosen.assign(9, false);
            named = true;
            chosen[size_t(i)] = true;
        }
    }
    std::vector<std::vector<double>> ms(9);
    // Per test: every thread's wakes during its runs (by name; the user-interface thread named so),
    // summed over the rounds. Threads that began and ended inside a run are not seen.
    std::vector<std::map<std::string, long>> wakes(9);
    for (int round = 0; round < rounds; ++round) {
        std::printf("round %d:", round);
        for (int i = 0; i < 9; ++i) {
            if (!chosen[size_t(i)]) continue;
            const auto before = TakeThreadWakes();
            const double t = lumen::RunVideoTestForTest(lumen::videofunc[i].name, g_settings).ms;
            for (const auto& [tid, thread] : TakeThreadWakes()) {
                const auto was = before.find(tid);
                const std::string name = tid == int(getpid()) ? "user-interface thread" : thread.first;
                wakes[size_t(i)][name] += thread.second - (was != before.end() ? was->second.second : 0);
            }
            if (t > 0.0) ms[size_t(i)].push_back(t);
            std::printf(" %.2f", t);
            std::fflush(stdout);
        }
        std::printf("\n");
    }

    if (rounds > 0) {
        std::printf("wakes per run (voluntary switches of the threads alive at its end, by name):\n");
        for (int i = 0; i < 9; ++i) {
            if (!chosen[size_t(i)]) continue;
            std::printf("  %-32s", lumen::videofunc[i].title);
            for (const auto& [name, n] : wakes[size_t(i)]) std::printf("  %s %.1f", name.c_str(), double(n) / rounds);
            std::printf("\n");
        }
    }

    // Fresh processes: first runs, and the later runs of the same processes.
    std::vector<std::vector<double>> first(9), later(9);
    std::vector<int> failed(9, 0);
    for (int p = 0; p < processes; ++p) {
        std::printf("process %d:", p);
        for (int i = 0; i < 9; ++i) {
            if (!chosen[size_t(i)]) continue;
            std::vector<double> t;
            if (!RunFresh(lumen::videofunc[i].name, &t)) {
                ++failed[size_t(i)];
                std::printf(" -");
                continue;
            }
            first[size_t(i)].push_back(t[0]);
            later[size_t(i)].insert(later[size_t(i)].end(), t.begin() + 1, t.end());
            std::printf(" %s %.2f %.2f %.2f;", lumen::videofunc[i].name, t[0], t[1], t[2]);
            std::fflush(stdout);
        }
        std::printf("\n");
    }

    std::printf("main window %s, processor count %d; ", g_settings.laptop != 0 ? "800 x 600" : "1024 x 768",
                g_settings.processors);
    std::printf("ms per test: in-process min / median / max over %d rounds", rounds);
    if (processes > 0) {
        std::printf("; first run in a fresh process and runs 2-%d there, min / median / max over %d processes "
                    "(a process whose run failed counts as failed, its times left out)",
                    kRunsPerProcess, processes);
    }
    std::printf("\n");
    for (int i = 0; i < 9; ++i) {
        if (!chosen[size_t(i)]) continue;
        std::printf("  %-32s", lumen::videofunc[i].title);
        if (ms[size_t(i)].empty()) {
            std::printf(" %31s", rounds > 0 ? "not measured" : "");
        } else {
            const Spread s = Of(ms[size_t(i)]);
            std::printf(" %9.2f / %9.2f / %9.2f", s.min, s.median, s.max);
        }
        if (processes > 0) {
            if (first[size_t(i)].empty()) {
                std::printf("   first run not measured");
            } else {
                const Spread f = Of(first[size_t(i)]);
                const Spread l = Of(later[size_t(i)]);
                std::printf("   first %.2f / %.2f / %.2f  later %.2f / %.2f / %.2f  first/later %5.2f", f.min, f.median,
                            f.max, l.min, l.median, l.max, f.median / l.median);
            }
            if (failed[size_t(i)] > 0) std::printf("  (%d processes failed)", failed[size_t(i)]);
        }
        std::printf("\n");
    }
    return 0;
}

// The nine video tests' times as `lumen` runs them (the main window at 800 x 600, each test on
// its own thread while this thread serves the windows), in rounds, one test after the other.
// Run it once as it is and once under LD_PRELOAD=bench/libundo_mallopt.so, which leaves the C
// library's heap thresholds at their defaults, to see what the heap rules set at start change.
//
//   bench_video_times [rounds] [test ...]   (default 7 rounds of all nine, by their entry names
//                                           such as FigureDraw; min / median / max ms per test)
#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/spread.h"
#include "lumen/video_tests.h"

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    std::vector<bool> chosen(9, argc <= 2);
    for (int a = 2; a < argc; ++a) {
        const int i = lumen::FindVideoTest(argv[a]);
        if (i < 0) {
            std::fprintf(stderr, "no video test %s\n", argv[a]);
            return 2;
        }
        chosen[size_t(i)] = true;
    }
    std::vector<std::vector<double>> ms(9);
    for (int round = 0; round < rounds; ++round) {
        std::printf("round %d:", round);
        for (int i = 0; i < 9; ++i) {
            if (!chosen[size_t(i)]) continue;
            const double t = lumen::RunVideoTestForTest(lumen::videofunc[i].name, lumen::VideoTestSettings{}).ms;
            if (t > 0.0) ms[size_t(i)].push_back(t);
            std::printf(" %.2f", t);
            std::fflush(stdout);
        }
        std::printf("\n");
    }
    std::printf("ms per test (min / median / max over %d rounds):\n", rounds);
    for (int i = 0; i < 9; ++i) {
        if (!chosen[size_t(i)]) continue;
        if (ms[size_t(i)].empty()) {
            std::printf("  %-32s not measured\n", lumen::videofunc[i].title);
            continue;
        }
        const Spread s = Of(ms[size_t(i)]);
        std::printf("  %-32s %9.2f / %9.2f / %9.2f\n", lumen::videofunc[i].title, s.min, s.median, s.max);
    }
    return 0;
}

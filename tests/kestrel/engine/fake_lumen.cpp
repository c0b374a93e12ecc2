// A stand-in for the video test program, for the video part's tests. It checks its command line
// as the real one does, and what it does then is chosen by FAKE_LUMEN_MODE:
//   answer      reads the record, fills every result field (below) and hands it back, ends
//   unmeasured  as answer, but tests 2 and 9 answer the failure value (-1.0)
//   aborted     as answer, but test 1 answers 0.0
//   lost-from-N as answer, but from test N (1 to 9) on the analyser's readings are marked not
//               measured (its link broke during test N, or for N = 1 it was never started)
//   silent      reads the record and ends without handing it back
//   short       reads the record, hands back half of it and ends
//   refuse      ends at once without connecting (as a refused start does)
//   stall       reads the record and hands nothing back until the file FAKE_LUMEN_RELEASE exists,
//               then ends
// FAKE_LUMEN_ARGS names a file that receives its arguments, one per line; FAKE_LUMEN_RECORD a
// file that receives the record as it arrived; FAKE_LUMEN_NICE a file that receives the nice
// value it started with.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <sys/resource.h>

#include "platform/local_socket.h"
#include "shared/records.h"

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

// Times of tests 1 to 9 and the 3-D animation, in ms.
constexpr double kTimes[10] = {2000.0, 500.0, 1500.0, 3000.0, 4000.0, 250.0, 0.5, 800.0, 2000.0, 4000.0};

void Fill(TIMES& t) {
    double* e[10] = {&t.elapsed1, &t.elapsed2, &t.elapsed3, &t.elapsed4, &t.elapsed5,
                     &t.elapsed6, &t.elapsed7, &t.elapsed8, &t.elapsed9, &t.elapsed10_animation};
    for (int i = 0; i < 10; ++i) *e[i] = kTimes[i];
    t.rectcount1 = 6000;
    t.rectcount2 = 11;
    t.numpoints = 12000000;
    t.triangles_per_sec = 900;
    t.quads_per_sec = 700;
    t.num_effects_rendered = 3;
    for (int i = 0; i < 9; ++i) {
        for (int k = 0; k < 6; ++k) t.perf_scores[i][k] = float(10 * i + k + 1);
        for (int c = 0; c < 32; ++c) {
            t.perf_cpuloads[i][c] = float(c) + 0.5f;
            t.perf_cpuloads2[i][c] = float(100 + c);
        }
        t.initial_processor_load[i] = float(i) / 2.0f;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (FILE* f = std::fopen(Env("FAKE_LUMEN_ARGS").c_str(), "w")) {
        for (int i = 1; i < argc; ++i) std::fprintf(f, "%s\n", argv[i]);
        std::fclose(f);
    }
    if (FILE* f = std::fopen(Env("FAKE_LUMEN_NICE").c_str(), "w")) {
        std::fprintf(f, "%d\n", getpriority(PRIO_PROCESS, 0));
        std::fclose(f);
    }
    const std::string mode = Env("FAKE_LUMEN_MODE");
    if (argc != 4 || std::strcmp(argv[3], "0x3D7E19C4a90457") != 0 || mode == "refuse") return 1;
    int fd = -1;
    for (int tries = 0; tries < 200 && fd < 0; ++tries) {
        fd = kp::ConnectLocal("kespipe");
        if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (fd < 0) return 2;
    TIMES t;
    if (kp::ReadExact(fd, &t, sizeof t, -1) != kp::IoResult::Ok) return 3;
    if (FILE* f = std::fopen(Env("FAKE_LUMEN_RECORD").c_str(), "wb")) {
        std::fwrite(&t, sizeof t, 1, f);
        std::fclose(f);
    }
    if (mode == "silent") return 0;
    if (mode == "stall") {
        const std::string release = Env("FAKE_LUMEN_RELEASE");
        for (;;) {
            if (FILE* f = std::fopen(release.c_str(), "r")) {
                std::fclose(f);
                return 0;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    Fill(t);
    if (mode == "unmeasured") t.elapsed2 = t.elapsed9 = -1.0;
    if (mode == "aborted") t.elapsed1 = 0.0;
    if (mode.rfind("lost-from-", 0) == 0) {
        for (int i = std::atoi(mode.c_str() + 10) - 1; i >= 0 && i < 9; ++i)
            for (float& v : t.perf_scores[i]) v = kNotMeasured;
    }
    const size_t size = mode == "short" ? sizeof t / 2 : sizeof t;
    kp::WriteAll(fd, &t, size, -1);
    return 0;
}

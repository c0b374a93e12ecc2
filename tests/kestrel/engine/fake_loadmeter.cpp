// A stand-in for the analyser, for the link's tests. What it does is chosen by
// FAKE_LOADMETER_MODE:
//   answer      answers every interval (score[j] = j + 1, every processor 50 % and 7/s), ends on `end`
//   stall       connects and never answers
//   stall-once  stalls when FAKE_LOADMETER_MARK does not exist yet (and creates it), else answers
//   ignore-end  answers, but keeps running after `end`
//   exit        ends at once without connecting
//   close-mid   answers the first interval with half a record and closes
//   die-after-one  answers the first interval and ends at once, as if killed
//   big-memory  as answer, but the available memory is 6144000000 bytes (above 4 GB)
// FAKE_LOADMETER_ARGS names a file that receives its arguments, one per line, and the line "end"
// when a record with the end flag came. As the analyser does, it ends when the thread that
// started it ends.
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/local_socket.h"
#include "shared/perf_link.h"
#include "shared/records.h"

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

[[noreturn]] void Hang() {
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(60));
}

}  // namespace

int main(int argc, char** argv) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (FILE* f = std::fopen(Env("FAKE_LOADMETER_ARGS").c_str(), "w")) {
        for (int i = 1; i < argc; ++i) std::fprintf(f, "%s\n", argv[i]);
        std::fclose(f);
    }
    if (argc < 4 || std::strcmp(argv[1], kLoadmeterToken) != 0) return 1;
    std::string mode = Env("FAKE_LOADMETER_MODE");
    if (mode == "exit") return 0;
    if (mode == "stall-once") {
        std::string mark = Env("FAKE_LOADMETER_MARK");
        if (access(mark.c_str(), F_OK) != 0) {
            std::fclose(std::fopen(mark.c_str(), "w"));
            mode = "stall";
        } else {
            mode = "answer";
        }
    }
    int fd = -1;
    for (int tries = 0; tries < 200 && fd < 0; ++tries) {
        fd = kp::ConnectLocal(kPerfSocketName);
        if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (fd < 0) return 2;
    PerfMonData rec;
    if (kp::ReadExact(fd, &rec, sizeof rec, -1) != kp::IoResult::Ok) return 3;  // the settings
    if (mode == "stall") Hang();
    for (;;) {
        if (kp::ReadExact(fd, &rec, sizeof rec, -1) != kp::IoResult::Ok) return 0;
        if (rec.end == 1) {
            if (FILE* f = std::fopen(Env("FAKE_LOADMETER_ARGS").c_str(), "a")) {
                std::fputs("end\n", f);
                std::fclose(f);
            }
            if (mode == "ignore-end") Hang();
            return 0;
        }
        for (int j = 0; j < 6; ++j) rec.score[j] = float(j + 1);
        if (mode == "big-memory") rec.score[5] = 6144000000.0f;
        for (int i = 0; i < 32; ++i) {
            rec.cpu_scores_1[i] = 50.0f;
            rec.cpu_scores_2[i] = 7.0f;
        }
        if (mode == "close-mid") {
            kp::WriteAll(fd, &rec, sizeof rec / 2, -1);
            close(fd);
            return 0;
        }
        if (kp::WriteAll(fd, &rec, sizeof rec, -1) != kp::IoResult::Ok) return 0;
        if (mode == "die-after-one") _exit(0);
    }
}

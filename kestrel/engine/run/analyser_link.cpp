#include "kestrel/engine/run/analyser_link.h"
#include "platform/error_text.h"

#include <dlfcn.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "counters/kestest/kestest.h"
#include "kestrel/engine/run/analyser_tables.h"
#include "kestrel/engine/run/host.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "platform/msgbox.h"
#include "shared/perf_link.h"

PerfMonData pchk = {};
PerfLink perflink;

std::string SuiteProgramDirectory() {
    return perflink.program_directory.empty() ? kp::ProgramDirectory() : perflink.program_directory;
}

namespace {

void PipeBox(const char* text, const char* caption) {
    kp::MessageBox(kp::Owner::Main, text, caption, kp::Icon::Stop);
}

void ClearScores() { std::fill(std::begin(pchk.score), std::end(pchk.score), 0.0f); }

// Ends the analyser at once and closes the link.
void CloseLink() {
    if (perflink.hProcessPerf) perflink.hProcessPerf->Kill();
    perflink.hProcessPerf.reset();
    if (perflink.hPipePerf >= 0) close(perflink.hPipePerf);
    perflink.hPipePerf = -1;
    perflink.server.reset();
}

enum class Io { Ok, TimedOut, Failed, NoLink };

Io WriteRecord() {
    if (!PerfLinkOpen()) return Io::NoLink;
    pchk.numprocessors = run.real_num_processors;
    kp::IoResult r = kp::WriteAll(perflink.hPipePerf, &pchk, sizeof pchk, perflink.watch_ms);
    if (r == kp::IoResult::Ok) return Io::Ok;
    if (r == kp::IoResult::TimedOut) return Io::TimedOut;
    PipeBox(r == kp::IoResult::Closed ? "Connection with Loadmeter was broken!"
                                      : "Bad write handle to Loadmeter!",
            "Pipe Exception");
    CloseLink();
    return Io::Failed;
}

Io ReadRecord() {
    if (!PerfLinkOpen()) return Io::NoLink;
    PerfMonData reply;
    kp::IoResult r = kp::ReadExact(perflink.hPipePerf, &reply, sizeof reply, perflink.watch_ms);
    if (r == kp::IoResult::Ok) {
        pchk = reply;
        return Io::Ok;
    }
    if (r == kp::IoResult::TimedOut) return Io::TimedOut;
    if (r == kp::IoResult::Closed) {
        PipeBox("Connection with Loadmeter was broken!", "Broken Pipe Exception");
    } else {
        PipeBox("Bad Read Handle from Loadmeter!", "Pipe Exception");
    }
    CloseLink();
    return Io::Failed;
}

// The analyser stalled again while being restarted, or could not be started: no analyser for
// the rest of the run.
void GiveUp() {
    CloseLink();
    perflink.given_up = true;
}

}  // namespace

bool PerfLinkOpen() { return perflink.hPipePerf >= 0; }

bool PerfWanted() { return prefs.show_perf_data != 0 && !perflink.given_up; }

bool AllSixScoresZero() {
    return std::all_of(std::begin(pchk.score), std::end(pchk.score), [](float s) { return s == 0.0f; });
}

void AllowPerfRestarts() { perflink.given_up = false; }

void GetDriveCharactersPerf() {
    constexpr long kIso9660 = 0x9660;
    constexpr long kUdf = 0x15013346;
    struct statfs fs{};
    if (statfs(".", &fs) == 0 && (long(fs.f_type) == kIso9660 || long(fs.f_type) == kUdf)) {
        perflink.startup_drive_is_cd_perf = 1;
    }
}

void ShowErrorMsg(int error) {
    kp::MessageBox(kp::Owner::Main, kp::ErrorText(error), "Operation Failed", kp::Icon::Exclamation);
}

void StartPerfProcess() {
    GetDriveCharactersPerf();
    ClearScores();
    pchk.end = 0;
    if (perflink.given_up) return;
    CloseLink();

    // A start that fails says why once and gives the analyser up for the rest of the run, as a
    // second stall does: no further starts, no readings.
    perflink.server = kp::LocalServer::Listen(kPerfSocketName);
    if (!perflink.server) {
        ShowErrorMsg(errno != 0 ? errno : EADDRNOTAVAIL);
        return GiveUp();
    }
    const std::string program = SuiteProgramDirectory() + "/" + kLoadmeterProgram;
    int spawn_error = 0;
    perflink.hProcessPerf = kp::ChildProcess::Spawn(
        program, {kLoadmeterProgram, kLoadmeterToken, std::to_string(WIN95_SUPPORT_ON), kNoResultsFile},
        &spawn_error);
    if (!perflink.hProcessPerf) {
        perflink.server.reset();
        ShowErrorMsg(spawn_error != 0 ? spawn_error : ENOENT);
        return GiveUp();
    }
    // The wait ends when the analyser connects, ends (a refused start), or takes too long.
    int fd = perflink.server->Accept(perflink.connect_ms,
                                     [] { return !perflink.hProcessPerf->Alive(); });
    if (fd < 0) {
        CloseLink();
        ShowErrorMsg(ECONNREFUSED);
        return GiveUp();
    }
    perflink.hPipePerf = fd;
    // The first record not taken (after its box): given up as well.
    if (DoPerfWrite() == 0) GiveUp();
}

int DoPerfWrite() {
    Io r = WriteRecord();
    if (r == Io::TimedOut) {
        PipeBox("Error Writing to Loadmeter!", "Pipe Exception");
        CloseLink();
    }
    return r == Io::Ok ? 1 : 0;
}

int DoPerfRead() { return ReadRecord() == Io::TimedOut ? 0 : 1; }

int EndPerfProcess() {
    pchk.end = 1;
    if (perflink.hProcessPerf && !perflink.hProcessPerf->WaitFor(perflink.end_wait_ms)) {
        perflink.hProcessPerf->Kill();
    }
    CloseLink();
    return 1;
}

int DoDiskEndCheck() {
    pchk.perfData[0] = 1;
    pchk.end = 1;
    pchk.score[0] = 0.0f;
    if (PerfLinkOpen()) DoPerfWrite();
    EndPerfProcess();
    return 0;
}

void RestartAfterTimeout(const std::function<void()>& refill, bool after_write) {
    CloseLink();
    passtring(kLoadmeterThrottled);
    ClearScores();
    if (refill) refill();
    StartPerfProcess();
    if (!PerfLinkOpen()) return;
    Host().Sleep(2000);
    Io w = WriteRecord();
    if (w == Io::TimedOut) return GiveUp();
    if (w != Io::Ok || after_write) return;
    if (ReadRecord() == Io::TimedOut) GiveUp();
}

bool PerfExchange(const std::function<void()>& refill) {
    Io w = WriteRecord();
    if (w == Io::TimedOut) {
        RestartAfterTimeout(refill, true);
    } else if (w != Io::Ok) {
        return false;
    }
    if (!PerfLinkOpen()) return false;
    Io r = ReadRecord();
    if (r == Io::TimedOut) {
        RestartAfterTimeout(refill, false);
        return PerfLinkOpen();
    }
    return r == Io::Ok;
}

int64_t getperfdata(const int* selector) {
    struct Counter {
        const char* object;
        const char* counter;
    };
    static const Counter kCounters[] = {
        {"Memory", "Cache Bytes"},
        {"Memory", "System Cache Resident Bytes"},
        {"Objects", "Processes"},
        {"Memory", "Available Bytes"},
        {"Objects", "Threads"},
    };
    void* lib = dlopen((SuiteProgramDirectory() + "/" + kCounterLibrary).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
        kp::MessageBox(kp::Owner::Main,
                       "Library file kestest.dll failed to load (if condition persists, reinstall the file).",
                       "Library Exception", kp::Icon::Exclamation);
        return -1;
    }
    auto value_fn = reinterpret_cast<GetCounterValueFn>(dlsym(lib, "GetCounterValueForIdNumberKestrelA"));
    auto ids_fn = reinterpret_cast<GetCounterIdsFn>(dlsym(lib, "GetCounterIdsKestrelA"));
    if (value_fn == nullptr || ids_fn == nullptr) {
        kp::MessageBox(kp::Owner::Main, "Library functions failed to load at Perf_id",
                       "Library Exception", kp::Icon::Exclamation);
        dlclose(lib);
        return -1;
    }
    int64_t result = 0;
    const int s = selector != nullptr ? *selector : -1;
    if (s >= 0 && s < int(std::size(kCounters))) {
        uint32_t object = 0, counter = 0;
        ids_fn(kCounters[s].object, kCounters[s].counter, &object, &counter);
        unsigned char value[8] = {};
        value_fn(object, counter, nullptr, 0, value);
        uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | value[i];
        result = int64_t(std::min<uint64_t>(v, uint64_t(INT64_MAX)));
    }
    dlclose(lib);
    return result;
}

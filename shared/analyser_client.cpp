#include "shared/analyser_client.h"

#include "platform/error_text.h"

#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/clock.h"
#include "platform/msgbox.h"
#include "shared/perf_link.h"

std::string SuiteProgramDirectory() {
    return perflink.program_directory.empty() ? kp::ProgramDirectory() : perflink.program_directory;
}

PerfMonData pchk = {};
// Made before every other object of the program that has a constructor, so the programs may tie
// it to themselves from their own static initialisers.
PerfLink perflink __attribute__((init_priority(101)));

namespace {

void TiedSleep(int ms) {
    if (perflink.ties.sleep != nullptr) {
        perflink.ties.sleep(ms);
    } else {
        kp::Sleep(ms);
    }
}

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

// The analyser stalled again while being restarted, or could not be started: no analyser for
// the rest of the run.
void GiveUp() {
    CloseLink();
    perflink.given_up = true;
}

// The link failed after the start (its box shown): the scores in pchk are the last ones read,
// not this interval's. No analyser for the rest of the run.
void LoseLink() {
    GiveUp();
    perflink.lost = true;
}

enum class Io { Ok, TimedOut, Failed, NoLink };

// A failure (other than no answer within the watch) closes the link after its box, and loses it
// when `lose` is set.
Io WriteRecord(bool lose) {
    if (!PerfLinkOpen()) return Io::NoLink;
    if (perflink.ties.before_write != nullptr) perflink.ties.before_write(pchk);
    kp::IoResult r = kp::WriteAll(perflink.hPipePerf, &pchk, sizeof pchk, perflink.watch_ms);
    if (r == kp::IoResult::Ok) return Io::Ok;
    if (r == kp::IoResult::TimedOut) return Io::TimedOut;
    PipeBox(r == kp::IoResult::Closed ? "Connection with Loadmeter was broken!"
                                      : "Bad write handle to Loadmeter!",
            "Pipe Exception");
    lose ? LoseLink() : CloseLink();
    return Io::Failed;
}

// A failure (other than no answer within the watch) loses the link after its box.
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
    LoseLink();
    return Io::Failed;
}

// A write; a failure closes the link (after its box), and loses it when `lose` is set.
int Write(bool lose) {
    Io r = WriteRecord(lose);
    if (r == Io::TimedOut) {
        PipeBox("Error Writing to Loadmeter!", "Pipe Exception");
        lose ? LoseLink() : CloseLink();
        r = Io::Failed;
    }
    return r == Io::Ok ? 1 : 0;
}

}  // namespace

bool PerfLinkOpen() { return perflink.hPipePerf >= 0; }

bool PerfWanted() {
    return perflink.ties.show_perf_data != nullptr && perflink.ties.show_perf_data() && !perflink.given_up;
}

bool AllSixScoresZero() {
    return std::all_of(std::begin(pchk.score), std::end(pchk.score), [](float s) { return s == 0.0f; });
}

void AllowPerfRestarts() {
    perflink.given_up = false;
    perflink.lost = false;
    perflink.lost_told = false;
}

bool PerfReadings() {
    if (PerfWanted()) return true;
    if (perflink.lost) TellCountersNotMeasured();
    return false;
}

void TellCountersNotMeasured() {
    if (perflink.lost_told) return;
    perflink.lost_told = true;
    if (perflink.ties.report_line != nullptr) perflink.ties.report_line(kCountersNotMeasured);
}

void GetDriveCharactersPerf() {
    constexpr long kIso9660 = 0x9660;
    constexpr long kUdf = 0x15013346;
    struct statfs fs{};
    if (statfs(".", &fs) == 0 && (long(fs.f_type) == kIso9660 || long(fs.f_type) == kUdf)) {
        perflink.startup_drive_is_cd_perf = 1;
    }
}

void ShowErrorMsg(int error, const std::string& program) {
    const std::string text = kp::ErrorText(error) + (program.empty() ? "" : " (" + program + ")");
    kp::MessageBox(kp::Owner::Main, text, "Operation Failed", kp::Icon::Exclamation);
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
    kp::SpawnOptions options;
    options.passParent = true;  // it ends at once should this process have ended before it is up
    perflink.hProcessPerf = kp::ChildProcess::Spawn(
        program, {kLoadmeterProgram, kLoadmeterToken, std::to_string(perflink.ties.win95), kNoResultsFile},
        options, &spawn_error);
    if (!perflink.hProcessPerf) {
        perflink.server.reset();
        ShowErrorMsg(spawn_error != 0 ? spawn_error : ENOENT, program);
        return GiveUp();
    }
    // The wait ends when the analyser connects, ends (a refused start), or takes too long.
    int fd = perflink.server->Accept(perflink.connect_ms,
                                     [] { return !perflink.hProcessPerf->Alive(); });
    if (fd < 0) {
        CloseLink();
        ShowErrorMsg(ECONNREFUSED, program);
        return GiveUp();
    }
    perflink.hPipePerf = fd;
    // The first record not taken (after its box): a start that failed, given up as well.
    if (Write(false) == 0) GiveUp();
}

int DoPerfWrite() { return Write(true); }

int DoPerfRead() { return ReadRecord() == Io::TimedOut && !perflink.ties.read_always_answers ? 0 : 1; }

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
    // The stop itself reads nothing: its write failing loses no reading.
    if (PerfLinkOpen()) Write(false);
    EndPerfProcess();
    return 0;
}

void RestartAfterTimeout(const std::function<void()>& refill, bool after_write) {
    CloseLink();
    if (perflink.ties.report_line != nullptr) perflink.ties.report_line(kLoadmeterThrottled);
    ClearScores();
    if (refill) refill();
    StartPerfProcess();
    if (!PerfLinkOpen()) return;
    TiedSleep(2000);
    Io w = WriteRecord(true);
    if (w == Io::TimedOut) return GiveUp();
    if (w != Io::Ok || after_write) return;
    if (ReadRecord() == Io::TimedOut) GiveUp();
}

bool PerfExchange(const std::function<void()>& refill) {
    Io w = WriteRecord(true);
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

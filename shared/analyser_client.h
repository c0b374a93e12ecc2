// The link to the real-time analyser `loadmeter`, shared by the main program and the video test
// program: the analyser is started as a child program, connects to the suite's analyser socket,
// and answers every write of the record (which ends one measuring interval) with the averages
// over that interval. What differs between the two programs comes in through AnalyserTies.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/local_socket.h"
#include "platform/process.h"
#include "shared/records.h"

// The program's one analyser record: request fields set by the tests, replies by the analyser.
extern PerfMonData pchk;

// What the link asks of the program that uses it.
struct AnalyserTies {
    // Writes a report line (the restart line); may be null.
    void (*report_line)(const std::string& line) = nullptr;
    // A fixed pause in milliseconds.
    void (*sleep)(int ms) = nullptr;
    // Counter data is wanted in this run.
    bool (*show_perf_data)() = nullptr;
    // Prepares the record before every write (the main program puts the machine's processor
    // count in; the video test program clears disk_test_running).
    void (*before_write)(PerfMonData& record) = nullptr;
    // The analyser's command-line flag of the file exchange mode.
    int win95 = 0;
    // A read that does not come within the watch still answers 1 (the video test program's
    // callers then make exactly one read).
    bool read_always_answers = false;
};

struct PerfLink {
    // Set by the program before the link is used (null members: no report line, the plain
    // sleep, no counter data, nothing added to a write).
    AnalyserTies ties;
    std::optional<kp::LocalServer> server;        // the listening socket while a link is up
    int hPipePerf = -1;                           // the analyser's connection
    std::optional<kp::ChildProcess> hProcessPerf; // the running analyser
    int startup_drive_is_cd_perf = 0;
    // A restart that stalled again, or a start that failed, gave up: no analyser for the rest
    // of the run.
    bool given_up = false;
    // The link broke after the analyser had started (it ended, or its connection failed): given
    // up as well, and the readings that follow are not measurements. `lost_told`: the report has
    // said so once in this run.
    bool lost = false;
    bool lost_told = false;

    // Where the analyser and the counter library are looked for (the program's own folder).
    std::string program_directory;
    // Waits, in milliseconds: one write or read of the record, the analyser's connection, and
    // the analyser's own end after the last write.
    int watch_ms = 5000;
    int connect_ms = 10000;
    int end_wait_ms = 10000;
};

extern PerfLink perflink;

// The folder where the suite's other programs and libraries are looked for: the program's own,
// unless perflink.program_directory names another.
std::string SuiteProgramDirectory();

bool PerfLinkOpen();
// Counter data is wanted and the analyser was not given up in this run: the tests sample it and
// write their counter lines only then.
bool PerfWanted();
// All six averages of the last reply are 0.0: the analyser counts as stalled.
bool AllSixScoresZero();
// A new run may start the analyser again after an earlier run gave up on it.
void AllowPerfRestarts();
// PerfWanted, at a place where a test writes its counter lines. Where they are left out because
// the link broke, the first such place in the run also gets the one line that says from which
// test on the counters were not measured.
bool PerfReadings();
// The same line, once in the run, for counters that another program's link lost.
void TellCountersNotMeasured();

void GetDriveCharactersPerf();
// Starts the analyser, waits for it to connect and sends the first record. A start that fails
// (the program cannot be started, ends or never connects, or refuses the first record) shows
// one box with the reason and gives the analyser up for the rest of the run.
void StartPerfProcess();
// Sends pchk (ends the analyser's interval): non-zero on success, 0 on failure (after a box,
// with the link closed and lost for the run). Without a link: 0, no box.
int DoPerfWrite();
// Reads the analyser's reply into pchk: 1 when read, or when a failure was handled (box, link
// closed and lost for the run) or there is no link; 0 when no reply came within the watch.
int DoPerfRead();
// Sets `end`, waits for the analyser to end (then ends it), closes the link. 1.
int EndPerfProcess();
// The last write with the stop flags, then EndPerfProcess. 0.
int DoDiskEndCheck();
// Box with the system's text for an error, caption "Operation Failed"; a program that could not
// be started is named after the text.
void ShowErrorMsg(int error, const std::string& program = {});

// One measuring interval as the tests take it: a watched write and a watched read. When either
// does not finish within the watch, the analyser is restarted once ("Loadmeter throttled!
// Restarting ..."), refill() preparing the record for the new start; a second stall during that
// restart, or a restart that fails, gives the analyser up for the rest of the run. True when a
// reply was read.
bool PerfExchange(const std::function<void()>& refill);
// The restart after a watch ran out, on its own (after_write: only the write is repeated).
void RestartAfterTimeout(const std::function<void()>& refill, bool after_write);

#include "lumen/score_table.h"

#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <iterator>
#include <system_error>
#include <thread>

#include "lumen/frame.h"
#include "lumen/lumen_state.h"
#include "lumen/video_tests.h"
#include "lumen/windows.h"
#include "platform/clock.h"
#include "platform/error_text.h"
#include "platform/local_socket.h"
#include "platform/msgbox.h"
#include "platform/processors.h"
#include "shared/analyser_client.h"

namespace {

bool ShowPerfData() { return lumen::times.show_perf_data != 0; }
// Every write of the video program's record samples at the analyser's normal priority.
void NormalSampling(PerfMonData& record) { record.disk_test_running = 0; }

}  // namespace

namespace lumen {

namespace {

constexpr const char* kPipeName = "kespipe";
constexpr const char* kInitialLoadTitle = "Testing for Initial CPU Load.  Please wait ...";
// How long the main program may take to listen.
constexpr int kConnectMs = 10000;

int g_pipe = -1;

// The template of the record into the working copy, with this machine's processors.
void ReloadFromTemplate() {
    pchk = times.pchk;
    pchk.numprocessors = kp::GetNumProcessors();
    pchk.disk_test_running = 0;
}

void RestartAnalyser() {
    DoDiskEndCheck();
    ReloadFromTemplate();
    StartPerfProcess();
}

void SetTitle(const std::string& title) {
    if (hwndParent != nullptr) hwndParent->SetTitle(title);
}

// Runs work on the analyser link in the sequencer's turn; nothing once the analyser has been
// stopped for the program's end.
void UseLink(const std::function<void()>& work) {
    AnalyserTurn turn;
    if (!turn.Ended()) work();
}

void MeasureInitialLoad(int i) {
    UseLink([] {
        pchk.perfData[0] = 1;
        pchk.end = 0;
    });
    SetTitle(kInitialLoadTitle);
    UseLink([] {
        if (times.processor_number == 1) {
            DoPerfWrite();
            DoPerfRead();
        }
    });
    kp::Sleep(4000);
    // A write or read that does not finish within the watch restarts the analyser and measures
    // once more.
    UseLink([i] {
        PerfExchange(ReloadFromTemplate);
        times.initial_processor_load[i] = InitialLoad(pchk.score[0]);
        if (AllSixScoresZero()) RestartAnalyser();
    });
    SetTitle(TestTitle(i));
}

void StoreSampling(int i) {
    DoPerfWrite();
    DoPerfRead();
    if (!PerfWanted()) {
        // No analyser measured this test: its link broke during this test or before it, or it
        // could not be started (what pchk holds was read for another test, or is nothing).
        std::fill(std::begin(times.perf_scores[i]), std::end(times.perf_scores[i]), kNotMeasured);
        return;
    }
    const int n = std::clamp(int(pchk.numprocessors), 0, 32);
    for (int c = 0; c < n; ++c) {
        times.perf_cpuloads[i][c] = pchk.cpu_scores_1[c];
        times.perf_cpuloads2[i][c] = pchk.cpu_scores_2[c];
    }
    for (int k = 0; k < 6; ++k) {
        if (times.pchk.perfData[k] != 0) times.perf_scores[i][k] = pchk.score[k];
    }
    const float* s = pchk.score;
    const int* on = times.pchk.perfData;
    const bool checked_zero = s[0] == 0.0f && s[1] == 0.0f && s[2] == 0.0f && s[3] == 0.0f && s[5] == 0.0f;
    const bool pages_only = on[4] != 0 && on[0] == 0 && on[1] == 0 && on[2] == 0 && on[3] == 0 && on[5] == 0;
    if (checked_zero && !pages_only) RestartAnalyser();
}

void PostDestroy() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) Main_OnDestroy();
    QMetaObject::invokeMethod(app, [] { Main_OnDestroy(); }, Qt::QueuedConnection);
}

}  // namespace

float InitialLoad(float score) { return score > 5.0f ? score / 5.0f : score / 3.0f; }

bool PipeThread() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectMs);
    int fd = -1;
    for (;;) {
        if (terminate_flag == 1) {
            bTerminate = 1;
            for (auto& t : terminate) t = 1;
            EndAfterFatalError();
        }
        fd = kp::ConnectLocal(kPipeName);
        if (fd >= 0) break;
        const bool waiting = fd == -ENOENT || fd == -ECONNREFUSED;
        if (!waiting || std::chrono::steady_clock::now() >= deadline) {
            kp::MessageBox(kp::Owner::Main, "Could not open file for read", "Exception", kp::Icon::Stop);
            kp::MessageBox(kp::Owner::Main, "Run Video Kestrel from Kestrel only!", "Fatal Exception",
                           kp::Icon::Stop);
            bTerminate = 1;
            for (auto& t : terminate) t = 1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    g_pipe = fd;
    // The whole record or nothing of it: a record cut short leaves the settings as they were.
    TIMES in;
    const kp::IoResult r = kp::ReadExact(fd, &in, sizeof in, -1);
    if (r == kp::IoResult::Ok) {
        in.install_directory[sizeof in.install_directory - 1] = '\0';
        times = in;
    } else {
        kp::MessageBox(kp::Owner::Main, kp::ErrorText(r == kp::IoResult::Closed ? EPIPE : EIO), "Operation Failed",
                       kp::Icon::Exclamation);
    }
    count = times.count;
    pnumber = times.processor_number;
    tpriority = times.priority;
    bTerminate = 1;
    return true;
}

void DoWrite() {
    times.bits_per_pixel = bits_per_pixel;
    if (g_pipe >= 0) {
        const kp::IoResult r = kp::WriteAll(g_pipe, &times, sizeof times, 10000);
        if (r != kp::IoResult::Ok && r != kp::IoResult::Closed) {
            kp::MessageBox(kp::Owner::Main, kp::ErrorText(EIO), "Operation Failed", kp::Icon::Exclamation);
        }
        shutdown(g_pipe, SHUT_WR);
    }
    PostDestroy();
}

void ScoreTable() {
    perflink.ties = AnalyserTies{nullptr, &kp::Sleep, &ShowPerfData, &NormalSampling, WIN95_SUPPORT_ON, true};
    std::memcpy(install_directory, times.install_directory, sizeof install_directory);
    install_directory[sizeof install_directory - 1] = '\0';
    perflink.program_directory = install_directory;
    ReloadFromTemplate();
    use_high_precision = times.use_highfreq_timer;
    const bool perf = times.show_perf_data != 0;
    SetAnalyserStop([perf] {
        if (perf) DoDiskEndCheck();
    });
    if (perf) {
        UseLink(StartPerfProcess);
        kp::Sleep(1000);
    }
    zbuffer = times.zbuffer != 0 ? 16 : 32;
    for (int i = 0; i < 9; ++i) {
        SetTitle(TestTitle(i));
        malloc_trim(0);
        kp::Sleep(500);
        if (i > 0) nXClnt = nYClnt = 0;
        if (perf) {
            UseLink([] { pchk.end = 0; });
            if (times.pchk.perfData[0] != 0) MeasureInitialLoad(i);
        }
        // A test that is not part of this build answers the failure value.
        const double ms = videofunc[i].run != nullptr ? videofunc[i].run() : -1.0;
        if (perf) UseLink([i] { StoreSampling(i); });
        ElapsedOf(times, i) = ms;
        if (i == 5) times.num_effects_rendered = int32_t(num_effects_rendered);
    }
    // The sequencer started the analyser, which ends with the thread that started it: it stops
    // the analyser itself before it ends (the stop at the program's end then has nothing to do).
    StopAnalyser();
    DoWrite();
}

namespace {
std::atomic<bool> g_fail_sequencer_start{false};
}  // namespace

void FailNextSequencerStart() { g_fail_sequencer_start = true; }

bool StartSequencer() {
    try {
        if (g_fail_sequencer_start.exchange(false)) throw std::system_error(EAGAIN, std::generic_category());
        std::thread([] {
            kp::SetCurrentThreadPriority(1);
            ScoreTable();
        }).detach();
        return true;
    } catch (const std::system_error& e) {
        ShowErrorMsg(e.code().value());
        return false;
    }
}

}  // namespace lumen

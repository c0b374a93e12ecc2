#include "kestrel/engine/run/video_test.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kestrel/engine/report/line_format.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/report/report_tables.h"
#include "kestrel/engine/report/video_tables.h"
#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/run/analyser_tables.h"
#include "kestrel/engine/run/host.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/engine/run/system_info.h"
#include "platform/local_socket.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/workers.h"
#include "shared/perf_link.h"
#include "shared/strformat.h"

VideoLink videolink;
int videoglobal = 0;

namespace {

const std::string kAsterisks(78, '*');

// A value from the other program as a whole number: truncated toward zero, held to the 32-bit
// range, 0 for a value that is not a number.
long Whole(double v) {
    if (std::isnan(v)) return 0;
    if (v >= double(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    if (v <= double(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    return long(v);
}

void Box(const std::string& text, const char* caption) {
    kp::MessageBox(kp::Owner::Main, text, caption, kp::Icon::Stop);
}

std::string VideoProgramDirectory() {
    return videolink.program_directory.empty() ? kp::ProgramDirectory() : videolink.program_directory;
}

// The fields the video program fills: cleared before every hand-over, so that nothing of an
// earlier run is ever read as this run's.
void ClearResults(TIMES& t) {
    t.elapsed1 = t.elapsed2 = t.elapsed3 = t.elapsed4 = t.elapsed5 = 0.0;
    t.elapsed6 = t.elapsed7 = t.elapsed8 = t.elapsed9 = t.elapsed10_animation = 0.0;
    std::memset(t.perf_scores, 0, sizeof t.perf_scores);
    std::memset(t.perf_cpuloads, 0, sizeof t.perf_cpuloads);
    std::memset(t.perf_cpuloads2, 0, sizeof t.perf_cpuloads2);
    std::memset(t.initial_processor_load, 0, sizeof t.initial_processor_load);
    t.rectcount1 = t.rectcount2 = t.numpoints = t.triangles_per_sec = t.quads_per_sec = 0;
    t.num_effects_rendered = 0;
}

// The settings of the record and, with counter data wanted, the analyser request inside it.
// False (after its box) when the program's folder does not fit the record.
bool FillSettings(TIMES& t) {
    t.count = prefs.valuelongtest;
    t.processor_number = run.numprocessors;
    t.zbuffer = prefs.zbuffer_16bit;
    t.use_highfreq_timer = prefs.use_high_precision;
    const std::string dir = VideoProgramDirectory();
    if (dir.size() >= sizeof t.install_directory) {
        Box("The program folder's name is too long for the video test.", "File Exception");
        return false;
    }
    std::memset(t.install_directory, 0, sizeof t.install_directory);
    std::memcpy(t.install_directory, dir.data(), dir.size());
    // The video program measures with an analyser of its own, whatever became of this program's.
    t.show_perf_data = prefs.show_perf_data;
    if (t.show_perf_data == 0) return true;
    PerfMonData& p = t.pchk;
    p.show_graphs = prefs.show_graphs;
    p.countertime = ntime[std::clamp(prefs.niceness, 0, 2)];
    for (int k = 0; k < 6; ++k) p.perfData[k] = prefs.perf_counters[k] != 0 ? 1 : 0;
    // The counter windows stand in a strip below the video program's window.
    const int height = Host().Screen().height;
    const bool laptop = prefs.laptop_settings_on != 0;
    p.indices[0] = 0;
    p.indices[1] = laptop ? 600 : 768;
    p.indices[2] = laptop ? (height > 600 ? 600 : 0) : (height > 772 ? 768 : 0);
    return true;
}

// The program is ending: the video program (and with it the analyser it started) is ended at
// once. True when it was.
bool EndedWithTheProgram(kp::ChildProcess& child) {
    if (run.ending == 0) return false;
    child.Kill();
    return true;
}

// Waits until fd has something to read or the video program has ended, keeping the main window
// answering. True when there is something to read (an end of the connection included); false
// also when the program is ending (the video program killed).
bool WaitReadable(int fd, kp::ChildProcess& child) {
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, 100);
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return false;
        if (!child.Alive()) {
            // A record written just before the end is still there to read.
            pollfd last{fd, POLLIN, 0};
            return poll(&last, 1, 0) > 0;
        }
        Host().PumpPending();
        if (EndedWithTheProgram(child)) return false;
    }
}

void WaitForEnd(kp::ChildProcess& child) {
    while (!child.WaitFor(100)) {
        Host().PumpPending();
        if (EndedWithTheProgram(child)) return;
    }
}

// Writes the settings to the video program. False after the program was ended and the box shown.
bool SendCommand(int fd, kp::ChildProcess& child) {
    TIMES& t = results.times;
    const kp::IoResult r = kp::WriteAll(fd, &t, sizeof t, videolink.read_ms);
    if (r == kp::IoResult::Ok) return true;
    child.Kill();
    if (r == kp::IoResult::TimedOut) {
        Box("No available data to send to VideoKestrel!", "Pipe Exception");
    } else if (r == kp::IoResult::Closed) {
        Box("Connection with VideoKestrel was broken!", "Broken Pipe Exception");
    } else {
        Box("Bad write handle to VideoKestrel!", "Pipe Exception");
    }
    return false;
}

// Reads the whole record back; a record cut short is not taken. True when read.
bool DoRead(int fd, kp::ChildProcess& child) {
    TIMES back;
    kp::IoResult r = kp::IoResult::Closed;
    if (WaitReadable(fd, child)) r = kp::ReadExact(fd, &back, sizeof back, videolink.read_ms);
    // Ended with the program: nothing to tell anyone.
    if (run.ending != 0) return false;
    if (r == kp::IoResult::Ok) {
        back.install_directory[sizeof back.install_directory - 1] = '\0';
        results.times = back;
        return true;
    }
    if (r == kp::IoResult::Closed) {
        Box("Connection with VideoKestrel was broken!", "Pipe Exception");
    } else {
        Box("Bad Read Handle from VideoKestrel!", "Pipe Exception");
    }
    return false;
}

// The report's "not measured" line stands above this test with no readings written since: the
// tests without readings that follow it need no line of their own.
bool not_measured_said = false;

// The analyser lines of row r.
void AnalyserBlock(int r) {
    const TIMES& t = results.times;
    // The video program's own analyser was not there for this test: no readings, the report says
    // so at the first such test, unless the line of an earlier part stands with no readings since
    // (readings of the video program's new analyser may stand between that line and this test).
    if (NotMeasured(t.perf_scores[r])) {
        if (!not_measured_said) passtring(kCountersNotMeasured);
        not_measured_said = true;
        perflink.lost_told = true;
        passtring("");
        return;
    }
    not_measured_said = false;
    if (prefs.perf_counters[0] != 0) {
        passtring(StrPrintf("Idle Processor Load:  %.1f", double(t.initial_processor_load[r])));
    }
    const int cpus = std::clamp(run.real_num_processors, 1, 32);
    for (int k = 0; k < 6; ++k) {
        if (prefs.perf_counters[k] == 0) continue;
        const char* name = loadmeter_strings[k];
        if ((k == 0 || k == 1) && run.real_num_processors > 1) {
            passtring(k == 0 ? StrPrintf("%s  %.1f%% per CPU", name, double(t.perf_scores[r][0]))
                             : StrPrintf("%s  %ld per CPU", name, Saturate<long>(t.perf_scores[r][1])));
            std::string line;
            for (int cpu = 0; cpu < cpus; ++cpu) {
                line += k == 0 ? StrPrintf("CPU %d:  %.1f%%; ", cpu, double(t.perf_cpuloads[r][cpu]))
                               : StrPrintf("CPU %d:  %ld; ", cpu, Saturate<long>(t.perf_cpuloads2[r][cpu]));
                if ((cpu % 6 == 0 && cpu > 0) || cpu == cpus - 1) {
                    passtring(line);
                    line.clear();
                }
            }
        } else if (k == 0) {
            passtring(StrPrintf("%s  %.1f%%", name, double(t.perf_scores[r][0])));
        } else {
            // The figures at the full width of the record's fields (the free memory of today's
            // machines is many times 2^31 bytes).
            passtring(StrPrintf("%s  %ld", name, Saturate<long>(t.perf_scores[r][k])));
        }
    }
    const float* s = t.perf_scores[r];
    if (s[0] == 0.0f && s[1] == 0.0f && s[2] == 0.0f && s[3] == 0.0f && s[5] == 0.0f) {
        passtring("Loadmeter throttled during this test!");
    }
    passtring("");
}

// Starts the video program at the program's own priority, as a new program starts, and not at the
// lowered priority of the user-interface thread (a child takes the nice value of the thread that
// starts it, and could not raise it again; all of the video program's threads would run below
// normal). It is started from a worker at normal priority, which stays until the launcher goes
// (the video program has ended by then): the video program ends with the thread that started it.
class Launcher {
public:
    std::optional<kp::ChildProcess> Spawn(const std::string& program, const std::vector<std::string>& argv,
                                          const kp::SpawnOptions& options, int* error) {
        const bool made = team_.Create(
            0,
            [this, &program, &argv, &options, error] {
                std::unique_lock<std::mutex> lock(mutex_);
                child_ = kp::ChildProcess::Spawn(program, argv, options, error);
                spawned_ = true;
                cv_.notify_all();
                cv_.wait(lock, [this] { return done_; });
            },
            0);
        if (!made) return kp::ChildProcess::Spawn(program, argv, options, error);
        team_.Release(0);
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return spawned_; });
        return std::move(child_);
    }
    ~Launcher() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        team_.Join();
    }

private:
    kp::WorkerTeam team_{1};
    std::mutex mutex_;
    std::condition_variable cv_;
    std::optional<kp::ChildProcess> child_;
    bool spawned_ = false;
    bool done_ = false;
};

double TimeOf(const TIMES& t, int i) {
    const double times[10] = {t.elapsed1, t.elapsed2, t.elapsed3, t.elapsed4, t.elapsed5,
                              t.elapsed6, t.elapsed7, t.elapsed8, t.elapsed9, t.elapsed10_animation};
    return times[i];
}

}  // namespace

int StartProcess() {
    TIMES& t = results.times;
    ClearResults(t);
    // A program that is ending starts none.
    if (run.ending != 0) return 0;
    if (!FillSettings(t)) return 0;

    std::optional<kp::LocalServer> server = kp::LocalServer::Listen(kVideoSocketName);
    if (!server) {
        ShowErrorMsg(errno != 0 ? errno : EADDRNOTAVAIL);
        return 0;
    }
    const std::string program = VideoProgramDirectory() + "/" + kVideoProgram;
    int spawn_error = 0;
    kp::SpawnOptions options;
    options.passParent = true;  // it ends at once should this process have ended before it is up
    // Declared before the child: the child is ended before its launcher goes.
    Launcher launcher;
    std::optional<kp::ChildProcess> child = launcher.Spawn(
        program,
        {kVideoProgram, std::to_string(prefs.laptop_settings_on), std::to_string(WIN95_SUPPORT_ON), kVideoToken},
        options, &spawn_error);
    if (!child) {
        Box(StrPrintf("Cannot Fild File %s or %s!  Exit and Restart Kestrel.", kVideoProgram, kVideoProgram),
            "File Exception");
        TurnOnScreenSaver();
        return 0;
    }
    // The wait for the connection ends when the program ends without connecting (a refused
    // start), and the main window keeps answering meanwhile.
    int fd = -1;
    while (fd < 0 && child->Alive()) {
        fd = server->Accept(100, [&child] { return !child->Alive(); });
        if (fd < 0) {
            Host().PumpPending();
            if (EndedWithTheProgram(*child)) return 0;
        }
    }
    if (fd < 0) return 0;
    bool ok = SendCommand(fd, *child) && DoRead(fd, *child);
    if (ok) {
        WaitForEnd(*child);
    } else {
        ClearResults(t);
        child->Kill();
    }
    shutdown(fd, SHUT_RDWR);
    close(fd);
    return ok ? 1 : 0;
}

void DoVideoInput(int i, int quads_reference, double reference, double work) {
    const TIMES& tm = results.times;
    const double t = TimeOf(tm, i);
    // One guard against a time too short to divide by, in seconds for the rates and in
    // milliseconds for the time-based scores: one millisecond.
    const double T = t < 1.0 ? 1.0 : t;
    const double S = T * 0.001;
    const double R = reference;
    const double P = work;
    const double score_by_time = R / T * 100.0;
    long score = 0;
    std::string line;
    static const char* const kNames[10] = {
        "test %d.) Figure Drawing Test:", "test %d.) Animation Test:", "test %d.) Font Scrolling Test:",
        "test %d.) Line/Arc Drawing Test:", "test %d.) BMP Drawing Test:", "test %d.) Special Effects Test:",
        "test %d.) Window Invocation Test:", "test %d.) Fractal Draw Test:", "test %da.) 3-D Rendering Test:",
        "test %dc.) 3-D Animation Test:"};
    const int shown = i == 9 ? i : i + 1;
    if (!(t > 0.0)) {
        // Not measured: no score, and nothing added.
        passtring(StrPrintf(kNames[i], shown) + "  not measured; Score:  0");
        if (i == 8) passtring(StrPrintf("test %db.) 3-D Rendering Test:  not measured; Score:  0", shown));
        if (i == 0) videoglobal = 0;
    } else {
        switch (i) {
            case 0:
                score = Whole(tm.rectcount1 / S / R * 100.0);
                line = StrPrintf("test %d.) Figure Drawing Test:  %ld figures drawn per second; Score:  %ld", shown,
                                 Whole(tm.rectcount1 / S), score);
                break;
            case 1:
                score = Whole(score_by_time);
                line = StrPrintf("test %d.) Animation Test:  %.2f animations per second; %.1f frames/sec; Score:  %ld",
                                 shown, P / S, double(framesnt) / S, score);
                break;
            case 2:
                score = Whole(score_by_time);
                line = StrPrintf("test %d.) Font Scrolling Test:  %.2f screens scrolled per second; Score:  %ld", shown,
                                 P / S, score);
                break;
            case 3: {
                const double M = tm.numpoints / (S * 1000000.0);
                score = Whole(M * 100.0 / R * 100.0);
                line = StrPrintf("test %d.) Line/Arc Drawing Test:  %.1f MegaPixels drawn per second; Score:  %ld",
                                 shown, M, score);
                break;
            }
            case 4:
                score = Whole(score_by_time);
                line = StrPrintf("test %d.) BMP Drawing Test:  %.1f BMPs drawn per second; Score:  %ld", shown, P / S,
                                 score);
                break;
            case 5:
                score = Whole(tm.num_effects_rendered / S / R * 100.0);
                line = StrPrintf("test %d.) Special Effects Test:  %.2f Effects drawn per second; Score:  %ld", shown,
                                 tm.num_effects_rendered / S, score);
                break;
            case 6:
            case 7:
                // The shown rate and score are of the time itself, without the floors.
                score = Whole(score_by_time);
                line = StrPrintf(i == 6 ? "test %d.) Window Invocation Test:  %.1f windows drawn per second; Score:  %ld"
                                        : "test %d.) Fractal Draw Test:  %.1f Fractals drawn per second; Score:  %ld",
                                 shown, P / (t * 0.001), Whole(R / t * 100.0));
                break;
            case 8:
                score = Whole(score_by_time);
                line = StrPrintf("test %da.) 3-D Rendering Test:  %.2f 3-D renders per second; Score:  %ld", shown,
                                 P / S, score);
                break;
            default:
                score = Whole(score_by_time);
                line = StrPrintf("test %dc.) 3-D Animation Test:  %.2f 3-D Frames per second; Score:  %ld", shown,
                                 P / S, score);
                break;
        }
        passtring(line);
        if (i == 8) {
            const long q = Whole(quads_reference != 0 ? double(tm.quads_per_sec) / quads_reference * 100.0 : 0.0);
            passtring(StrPrintf("test %db.) 3-D Rendering Test:  %ld 3-D Quadrangles rendered per second; Score:  %ld",
                                shown, long(tm.quads_per_sec), q));
        }
        if (i == 0) {
            videoglobal = int(score);
        } else {
            videoglobal = int(std::clamp<long>(long(videoglobal) + score, 0, std::numeric_limits<int32_t>::max()));
        }
    }
    if (prefs.show_perf_data != 0 && i != 8) AnalyserBlock(i == 9 ? 8 : i);
}

int DoVIDEOTest(int long_flag) {
    const int32_t kept_laptop = prefs.laptop_settings_on;
    const ScreenFacts screen = Host().Screen();
    auto end = [&](int result) {
        prefs.laptop_settings_on = kept_laptop;
        return result;
    };
    if (prefs.laptop_settings_on != 0) {
        if (screen.width < 800 || screen.height < 600) {
            kp::MessageBox(kp::Owner::Main,
                           StrPrintf("Need at least 800x600 video resolution for this test!  Your's is set at %dx%d.",
                                     screen.width, screen.height),
                           "Lumen Exception", kp::Icon::Information);
            run.testrunning = 0;
            return end(-1);
        }
    } else if (screen.width < 1024 || screen.height < 768) {
        kp::MessageBox(kp::Owner::Main,
                       StrPrintf("Need at least 1024x768 video resolution for this test!  Your's is set at %dx%d.",
                                 screen.width, screen.height),
                       "Lumen Exception", kp::Icon::Information);
        const kp::Answer a = kp::MessageBox(
            kp::Owner::Main,
            "Would you like to run the test in laptop mode:  800x600 resolution?\n(You can set this setting as "
            "default by choosing preferences->Benchmark Settings->Video Test Options.",
            "Lumen Exception", kp::Icon::Question, kp::Buttons::YesNo);
        if (a != kp::Answer::Yes) {
            run.testrunning = 0;
            return end(-1);
        }
        prefs.laptop_settings_on = 1;
    }
    passtring(long_flag != 0 ? "Performing Long Video Test..." : "Performing Short Video Test...");
    passtring("");
    results.times.bits_per_pixel = screen.bitsPerPixel;
    videoglobal = 0;
    not_measured_said = perflink.lost_told;
    if (StartProcess() == 0 || results.times.elapsed1 == 0.0) {
        passtring("Test aborted");
        run.testrunning = 0;
        return end(-1);
    }
    const bool laptop = prefs.laptop_settings_on != 0;
    passtring(StrPrintf("Video Screen Resolution:  %dx%d", screen.width, screen.height));
    passtring(laptop ? "Video Test Resolution:  800x600" : "Video Test Resolution:  1024x768");
    passtring(StrPrintf("Video Depth:  %d bits/pixel", int(results.times.bits_per_pixel)));
    passtring(prefs.zbuffer_16bit != 0 ? "Z-Buffer Depth set at:  16 bits" : "Z-Buffer Depth set at:  32 bits");
    passtring("");
    const VideoReference ref = ChooseVideoReference(laptop, screen.width, results.times.bits_per_pixel);
    if (ref.table != nullptr) {
        for (int i = 0; i < 10; ++i) DoVideoInput(i, ref.quads, ref.table[i], pixels[i]);
    }
    passtring("");
    passtring("");
    passtring(kAsterisks);
    const double x = videoglobal * 0.1;
    results.TotalVideo = int32_t(Whole(x + 0.5));
    passtring(StrPrintf(kTotalVideoLine, long(results.TotalVideo)));
    if (x < kVideoTotalScore) {
        const double slower = x > 0.0 ? (100.0 - x) / x * 100.0 : 100.0;
        passtring(StrPrintf("This Video subsystem is %.1f%% slower than a  Matrox Millennium (with Micron P100)", slower));
    } else {
        passtring(StrPrintf("This Video subsystem is %.1f%% faster than a Matrox Millennium (with Micron P100)",
                            x - 100.0));
    }
    passtring(kAsterisks);
    return end(0);
}

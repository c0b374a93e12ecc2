// The test sequencer with stand-in processor drivers, the real memory and disk tests and the
// stand-in analyser: the report header, every selection's progress title and parts, Stop and
// failures, the rows and efficiency lines of the scaling forms, and saved reports of whole runs
// read back by the benchmark file reader.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <regex>

#include "kestrel/engine/run/analyser_tables.h"
#include "kestrel/engine/report/benchmark_reader.h"
#include "kestrel/engine/run/commands.h"
#include "kestrel/engine/report/line_format.h"
#include "kestrel/engine/memory/memory_test.h"
#include "kestrel/engine/report/report_tables.h"
#include "kestrel/engine/run/sequencer.h"
#include "kestrel/engine/run/video_test.h"
#include "kestrel/engine/processor/workers.h"
#include "shared/helpers.h"
#include "shared/perf_link.h"
#include "tests/kestrel/engine/disk_fixture.h"
#include "tests/kestrel/engine/processor_fakes.h"
#include "tests/support/recording_host.h"

namespace {

using Lines = std::vector<std::string>;

// ---- Stand-in processor drivers ----

// What each DoCPUTest ran with (seen by the first driver's first run of it), and the processors
// its workers were bound to.
struct Call {
    int p;
    int testing_os;
    int affinity;
    std::vector<int> bound;
};
std::vector<Call> g_calls;
int g_runs[9] = {};
bool g_zero_rates = false;
bool g_os_scales_better = false;

bool RecordBinding(kp::Worker*, int n) {
    if (!g_calls.empty()) g_calls.back().bound.push_back(n);
    return true;
}

// A run's share of its test's rate in the long test, where the eight runs must differ.
constexpr double kSpread[8] = {1.0, 1.3, 0.9, 1.1, 1.0, 1.05, 0.95, 1.2};

// Scores grow with the processors: the system pass by 50 per added processor, the OS pass by
// 40 (the other way round when the OS is to scale better); a processor of uniprocessor
// emulation scores 100 + 25 per place after the first.
double Factor() {
    const int p = run.numprocessors;
    if (results.uniprocemulation != 0 && p == 1) return 1.0 + 0.25 * (results.processor_affinity_start - 1);
    const bool os = results.testing_os != 0;
    return 1.0 + (os != g_os_scales_better ? 0.4 : 0.5) * (p - 1);
}

// Each run also runs one iteration of p workers, bound as the real drivers' workers are.
template <int F>
int ScaledDriver() {
    const int r = g_runs[F]++;
    const int per_test = prefs.valuelongtest != 0 ? 8 : 1;
    if (F == 0 && r % per_test == 0) {
        g_calls.push_back({run.numprocessors, results.testing_os, results.processor_affinity_start, {}});
    }
    if (F == 0) {
        WorkerIteration it;
        it.n = run.numprocessors;
        it.work = [](int32_t) {};
        if (RunWorkerIteration(it) < 0) return -1;
    }
    const double share = prefs.valuelongtest != 0 ? kSpread[r % 8] : 1.0;
    kt::StoreRate(F, g_zero_rates ? 0.0 : ReferenceRow(prefs.memory_load_value)[F] * Factor() * share);
    return 0;
}

// A driver in the way of the real ones: iterations until Stop (pressed at the host's pump).
int LoopDriver() {
    DriverLoop loop;
    loop.iteration = [] { return 1.0; };
    loop.count_per_iteration = 1;
    DriverTotals totals;
    if (RunDriverLoop(loop, &totals) != 0) return -1;
    kt::StoreRate(2, 1000.0);
    return 0;
}

int FailingDriver() { return -1; }

// ---- Helpers ----

int64_t PlentyFree() { return int64_t(1) << 32; }
int64_t LittleFree() { return 1000; }

bool Has(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}
size_t Count(const Lines& lines, const std::string& line) { return size_t(std::count(lines.begin(), lines.end(), line)); }

// The lines of a run that name its steps, passes and efficiencies, in order.
Lines ScalingLines(const Lines& lines) {
    static const std::regex step(R"(^(Starting |Testing Processors|The Kes |The Total |The OS |The load ).*)");
    Lines out;
    for (const std::string& l : lines) {
        if (std::regex_match(l, step)) out.push_back(l);
    }
    return out;
}

std::vector<int> Processors() {
    std::vector<int> p;
    for (const Call& c : g_calls) p.push_back(c.p);
    return p;
}

std::string Today(const char* format) {
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char text[32] = {};
    strftime(text, sizeof text, format, &local);
    return text;
}

// The selection table of the shell: flags consistent with each TestValue (processor, memory,
// disk, video).
constexpr uint8_t kFlags[15][4] = {{1, 1, 1, 1}, {1, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}, {0, 1, 0, 0},
                                   {1, 0, 1, 0}, {1, 0, 0, 1}, {1, 1, 0, 0}, {1, 0, 1, 1}, {1, 1, 0, 1},
                                   {1, 1, 1, 0}, {0, 0, 1, 1}, {0, 1, 1, 0}, {0, 1, 1, 1}, {0, 1, 0, 1}};

class Sequencer : public ::testing::Test {
protected:
    void SetUp() override {
        kt::ResetDiskEngine();  // report, preferences, store, drive menu; the disk fakes' counters
        SetDefaults();
        prefs.use_high_precision = 1;
        prefs.memory_load_value = 0;
        run.testrunning = 0;
        run.test_interrupted = 0;
        run.real_num_processors = 4;
        run.numprocessors = 4;
        run.IDM_SCALING_CHECKED = 0;
        run.OSEFFICIENCY_CHECKED = 0;
        Select(1);
        machine = MachineDescription{};
        globaldrives = 1;
        drivemenu.globaldrivechar[0] = "/";
        SetFreeMemoryReader(&PlentyFree);
        previous_setter_ = SetAffinitySetter(&RecordBinding);
        g_calls.clear();
        std::fill(std::begin(g_runs), std::end(g_runs), 0);
        g_zero_rates = false;
        g_os_scales_better = false;
        const DriverFn drivers[9] = {&ScaledDriver<0>, &ScaledDriver<1>, &ScaledDriver<2>, &ScaledDriver<3>, &ScaledDriver<4>,
                                     &ScaledDriver<5>, &ScaledDriver<6>, &ScaledDriver<7>, &ScaledDriver<8>};
        std::copy(std::begin(drivers), std::end(drivers), funcpointer);
        perflink.watch_ms = 5000;
        perflink.connect_ms = 5000;
        perflink.end_wait_ms = 5000;
        setenv("FAKE_LOADMETER_MODE", "answer", 1);
        setenv("FAKE_LOADMETER_ARGS", args_file_.c_str(), 1);
        // The stand-in video program answers with a full record.
        videolink.program_directory = kp::ProgramDirectory() + "/fakes";
        setenv("FAKE_LUMEN_MODE", "answer", 1);
    }
    void TearDown() override {
        perflink.end_wait_ms = 100;
        EndPerfProcess();
        SetFreeMemoryReader(nullptr);
        SetAffinitySetter(previous_setter_);
        run.testend = 0;
    }

    static void Select(uint32_t value) {
        run.TestValue = value;
        const uint8_t* f = kFlags[value <= 14 ? value : 0];
        run.CPU_TEST_CHECKED = f[0];
        run.MEMORY_TEST_CHECKED = f[1];
        run.DISK_TEST_CHECKED = f[2];
        run.VIDEO_TEST_CHECKED = f[3];
    }
    static void Scaling(int step, bool os) {
        run.IDM_SCALING_CHECKED = 1;
        run.OSEFFICIENCY_CHECKED = os ? 1 : 0;
        prefs.stepwise_scaling = step;
    }
    bool AnalyserStarted() const { return access(args_file_.c_str(), F_OK) == 0; }
    const Lines& L() const { return report.szGreeting; }

    kt::RecordingHost host;
    kp::BoxRecorder boxes;
    kt::FakeDriverTable table_;  // puts the program's drivers back afterwards
    AffinitySetter previous_setter_ = nullptr;
    std::string args_file_ = kt::TempDir() + "/loadmeter-args.txt";
};

// ---- The report header ----

TEST_F(Sequencer, HeaderDescribesTheMachineInFullAndHidesItsLinesDuringTheRun) {
    const std::string maker(1000, 'M');  // far longer than any fixed line buffer
    machine.manufacturer = maker;
    machine.make = "Model 7";
    machine.speed = "450";
    machine.os = "Debian GNU/Linux 12";
    machine.memory = "64";
    machine.memoryvalue = 2;
    machine.cachesize = "512";
    machine.cachevalue = 1;
    machine.videoadapter = "vga";
    machine.videoram = "8";
    machine.ramvalue = 9;
    globaldrives = 2;
    drivemenu.globaldrivechar[1] = "/home/";
    machine.harddisk[0] = "Disk A";
    machine.harddisk[1] = "Disk B";
    machine.diskvalue[0] = 3;
    machine.diskvalue[1] = 6;
    machine.adapter[0] = "Adapter A";
    machine.adapter[1] = "Adapter B";
    run.processor = "Fake CPU";
    prefs.memory_load_value = 3;
    Select(3);  // video only: the header, then the video part
    char name[HOST_NAME_MAX + 1] = {};
    ASSERT_EQ(gethostname(name, sizeof name), 0);

    ASSERT_EQ(StartTesting(), 0);
    ASSERT_GT(L().size(), 24u);
    EXPECT_EQ(L()[24], "Uniprocessor emulation:  off");
    Lines masked(L().begin(), L().begin() + 24);
    masked[21] = kt::MaskNumbers(masked[21]);
    EXPECT_EQ(masked, (Lines{"Kestrel System Level Benchmark ver. 1.21 (12/96)",
                             "",
                             "Computer Hostname:  " + std::string(name),
                             "Computer Manufacturer: " + maker + "; Model: Model 7",
                             "Microprocessor:  Fake CPU running at 450 MHz",
                             "OS Info:  Debian GNU/Linux 12",
                             "Memory/Cache: 64 MBs of Synchronous Dynamic RAM",
                             "512 KBs External Pipeline-Burst (3-1-1-1) CPU Cache",
                             "Video Info:  vga w/ 8 MBs of SGRAM",
                             "Hard Drive Info logical Disk 0 (/): ",
                             "Drive Name:  Disk A; Type:  Fast SCSI II",
                             "Local Bus Adapter Name/Type:  Adapter A",
                             "Hard Drive Info logical Disk 1 (/home/): ",
                             "Drive Name:  Disk B; Type:  None Specified",
                             "Local Bus Adapter Name/Type:  Adapter B",
                             "",
                             "",
                             "",
                             "Memory Load:  8 MB (App/File Server)",
                             "Number of background processes running:  0; threads:  0",
                             "Timer Precision:  High (0.00 microseconds per interrupt)",
                             "Test Run Date/Time:  #/#/#  #:#:#",
                             "Short Test On",
                             ""}));
    EXPECT_EQ(report.headernum, 16);  // nine lines, three per disk, one empty line
    EXPECT_TRUE(std::regex_match(L()[21], std::regex(R"(Test Run Date/Time:  \d\d/\d\d/\d\d  \d\d:\d\d:\d\d)")));
    EXPECT_EQ(L()[21].substr(21, 8), Today("%m/%d/%y"));
    EXPECT_EQ(prefs.use_high_precision, 1);
    EXPECT_EQ(results.last_memory_load_value, 3);
    EXPECT_TRUE(boxes.boxes().empty());

    // The machine's own processor name wins over the detected one.
    machine.theproc = "Named CPU";
    StartTesting();
    EXPECT_EQ(L()[4], "Microprocessor:  Named CPU running at 450 MHz");

    // No speed stored: the first processor's current clock, rounded.
    const std::string proc = kt::FreshDir("proc");
    kt::WriteFile(proc + "/cpuinfo", "processor\t: 0\ncpu MHz\t\t: 2894.560\n\nprocessor\t: 1\ncpu MHz\t\t: 800.000\n");
    setenv("KESTREL_PROC_ROOT", proc.c_str(), 1);
    machine.speed.clear();
    StartTesting();
    unsetenv("KESTREL_PROC_ROOT");
    EXPECT_EQ(L()[4], "Microprocessor:  Named CPU running at 2895 MHz");
}

TEST_F(Sequencer, HeaderTimerLengthAndAnalyserLines) {
    Select(3);
    prefs.use_high_precision = 0;
    prefs.valuelongtest = 1;
    prefs.show_perf_data = 1;
    prefs.niceness = 2;
    StartTesting();
    const auto at = std::find(L().begin(), L().end(), "Memory Load:  1 MB (Default)");
    ASSERT_NE(at, L().end());
    const Lines tail(at, at + 9);
    // The video part follows the header.
    EXPECT_EQ(tail[7], "Uniprocessor emulation:  off");
    EXPECT_EQ(tail[8], "");
    // The analyser about to run counts as one more process and thread.
    EXPECT_EQ(tail[1], "Number of background processes running:  1; threads:  1");
    EXPECT_EQ(tail[2], "Loadmeter niceness level:  2");
    EXPECT_EQ(tail[3], "Timer Precision:  Low (10 milliseconds per interrupt)");
    EXPECT_EQ(tail[5], "Long Test On");
    EXPECT_EQ(report.headernum, 13);
    // Video only: no progress window and no analyser.
    EXPECT_TRUE(host.progress_opened.empty());
    EXPECT_FALSE(AnalyserStarted());
}

// ---- The selections ----

TEST_F(Sequencer, EverySelectionHasItsTitleAndRunsItsParts) {
    const char* titles[15] = {"Performing All The Tests", "Performing The CPU Test", "Performing The Disk Test",
                              "Performing The Video Test", "Performing The Memory Test",
                              "Performing The CPU & Disk Test", "Performing The CPU & Video Test",
                              "Performing The CPU & Memory Test", "Performing The CPU & Disk & Video Test",
                              "Performing The CPU & Memory & Video Test", "Performing The CPU & Memory & Disk Test",
                              "Performing The Disk & Video Test", "Performing The  Memory & Disk Test",
                              "Performing The Memory & Disk & Video Test", "Performing The  Memory & Video Test"};
    for (uint32_t v = 0; v <= 16; ++v) {
        SCOPED_TRACE(v);
        kt::RecordingHost h;
        g_calls.clear();
        Select(v);
        if (v <= 4) {  // all tests whatever the flags say; the single parts whatever they say
            run.CPU_TEST_CHECKED = run.MEMORY_TEST_CHECKED = run.DISK_TEST_CHECKED = 0;
            run.VIDEO_TEST_CHECKED = 0;
        }
        StartTesting();
        const bool known = v <= 14;
        const uint8_t* f = kFlags[known ? v : 0];
        const bool cpu = known && f[0], memory = known && f[1], disk = known && f[2];
        EXPECT_EQ(!g_calls.empty(), cpu);
        EXPECT_EQ(Has(L(), "Performing Short Memory Test"), memory);
        EXPECT_EQ(Has(L(), "Starting the Disk Test ..."), disk);
        EXPECT_EQ(Has(L(), "Performing Short Video Test..."), known && f[3]);
        if (known) {
            ASSERT_FALSE(h.captions.empty());
            EXPECT_EQ(h.captions.front(), titles[v]);
        } else {
            EXPECT_TRUE(h.captions.empty());
        }
        EXPECT_EQ(h.progress_opened, v == 3 ? Lines{} : Lines{"Starting The Tests ..."});
        EXPECT_FALSE(h.progress_open);
        EXPECT_EQ(h.next_tests, int(cpu && memory) + int(memory && disk));
        EXPECT_EQ(h.posted, std::vector<int>{CMD_RESULT_COMPARISONS});
        EXPECT_EQ(h.title, "Your Scores!");
        EXPECT_EQ(run.testrunning, 0);
        EXPECT_EQ(run.test_interrupted, 0);
    }
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(Sequencer, AnalyserRunsFromTheStartToThePartThatStopsIt) {
    Select(7);  // processor and memory
    prefs.show_perf_data = 1;
    prefs.niceness = 1;
    prefs.runglance = 1;
    host.main_window = {10, 20, 800, 600};
    StartTesting();
    EXPECT_TRUE(AnalyserStarted());
    EXPECT_FALSE(PerfLinkOpen());
    EXPECT_EQ(host.sleeps.front(), 1000);  // the analyser's time to start
    EXPECT_EQ(pchk.countertime, ntime[1]);
    EXPECT_EQ(pchk.indices[0], 10 + 200);
    EXPECT_EQ(pchk.indices[1], 210 + 400);
    EXPECT_EQ(pchk.indices[2], 20 + 300 + 70);
    EXPECT_EQ(host.glances, 1);
    EXPECT_EQ(host.posted, std::vector<int>{CMD_RESULT_COMPARISONS});

    // A selection that runs no part still stops it by the end.
    std::remove(args_file_.c_str());
    Select(20);
    StartTesting();
    EXPECT_TRUE(AnalyserStarted());
    EXPECT_FALSE(PerfLinkOpen());
    EXPECT_TRUE(boxes.boxes().empty());
}

// ---- Stop and failures ----

TEST_F(Sequencer, StopDuringTheProcessorPartEndsTheRun) {
    Select(0);
    funcpointer[2] = &LoopDriver;
    host.on_pump = [](int) { StopTesting(); };
    StartTesting();
    EXPECT_TRUE(Has(L(), "Test aborted!"));
    EXPECT_FALSE(Has(L(), "Performing Short Memory Test"));
    EXPECT_FALSE(Has(L(), "Starting the Disk Test ..."));
    EXPECT_TRUE(host.posted.empty());
    EXPECT_EQ(host.title, "Your Scores!");
    EXPECT_FALSE(host.progress_open);
    EXPECT_EQ(run.test_interrupted, 1);
    EXPECT_EQ(run.testrunning, 0);
    EXPECT_EQ(SuspendDrawThrd(), 1);
    EXPECT_EQ(ResumeDrawThrd(), 1);

    // The next run starts afresh.
    funcpointer[2] = &ScaledDriver<2>;
    host.on_pump = nullptr;
    Select(1);
    StartTesting();
    EXPECT_EQ(run.testend, 0);
    EXPECT_EQ(run.test_interrupted, 0);
    EXPECT_EQ(host.posted, std::vector<int>{CMD_RESULT_COMPARISONS});
}

TEST_F(Sequencer, StopDuringTheMemoryTestSkipsTheDiskTest) {
    Select(10);
    host.on_pump = [](int) { StopTesting(); };
    StartTesting();
    EXPECT_EQ(L()[L().size() - 1], "Test Aborted!");
    EXPECT_TRUE(Has(L(), "Performing Short Memory Test"));
    EXPECT_FALSE(Has(L(), "Starting the Disk Test ..."));
    EXPECT_TRUE(host.posted.empty());
    EXPECT_EQ(host.next_tests, 1);
}

TEST_F(Sequencer, FailedPartsInterruptTheRun) {
    // A processor test that fails.
    Select(1);
    funcpointer[4] = &FailingDriver;
    StartTesting();
    EXPECT_EQ(run.test_interrupted, 1);
    EXPECT_TRUE(host.posted.empty());

    // A memory test without the memory it needs: no disk test after it.
    funcpointer[4] = &ScaledDriver<4>;
    SetFreeMemoryReader(&LittleFree);
    Select(12);
    StartTesting();
    EXPECT_TRUE(Has(L(), "Not enough available memory to run the Memory Test.  Skipping"));
    EXPECT_EQ(L().back(), "Test Aborted!");
    EXPECT_FALSE(Has(L(), "Starting the Disk Test ..."));
    EXPECT_EQ(run.test_interrupted, 1);

    // A disk test that fails: the run goes on to its end, interrupted.
    SetFreeMemoryReader(&PlentyFree);
    drivemenu.DRIVECHOSEN[0] = 1;
    drivemenu.globaldrivechar[0] = kt::TempDir() + "/no such drive/";
    host.posted.clear();
    Select(13);
    StartTesting();
    EXPECT_TRUE(Has(L(), "Starting the Disk Test ..."));
    EXPECT_EQ(run.test_interrupted, 1);
    EXPECT_TRUE(host.posted.empty());
    EXPECT_EQ(host.title, "Your Scores!");
}

// An analyser that cannot be started (missing, or ending at once) is given up for the whole run
// after one box with the reason: it is not started again, and the run's report is the one a run
// without counter data writes (long test: the empty lines do not change), numbers aside.
TEST_F(Sequencer, AnAnalyserThatCannotStartIsGivenUpForTheRunAfterOneBox) {
    const std::string library = kp::ProgramDirectory() + "/disk_fakes/" + kCounterLibrary;
    const auto body = [this] {
        static const std::regex verdict("faster|slower");
        const auto header_end = std::find(L().begin(), L().end(), "Long Test On");
        Lines out;
        for (auto it = header_end; it != L().end(); ++it) out.push_back(std::regex_replace(kt::MaskNumbers(*it), verdict, "F/S"));
        return out;
    };
    prefs.valuelongtest = 1;
    for (const bool ends_at_once : {false, true}) {
        for (const uint32_t selection : {4u, 1u}) {  // memory; processor
            SCOPED_TRACE(testing::Message() << (ends_at_once ? "ends at once" : "missing") << ", selection " << selection);
            Select(selection);
            prefs.show_perf_data = 0;
            StartTesting();
            const Lines without_counter_data = body();

            const std::string dir = kt::FreshDir("analyser");
            ASSERT_EQ(symlink(library.c_str(), (dir + "/" + kCounterLibrary).c_str()), 0);
            const std::string starts = dir + "/starts.txt";
            if (ends_at_once) {
                chmod(kt::WriteFile(dir + "/loadmeter", "#!/bin/sh\necho started >> \"$(dirname \"$0\")/starts.txt\"\n").c_str(), 0755);
            }
            perflink.program_directory = dir;
            prefs.show_perf_data = 1;
            prefs.perf_counters[0] = 1;
            prefs.perf_counters[2] = 1;
            prefs.perf_counters[5] = 1;
            kp::BoxRecorder run_boxes;
            StartTesting();
            ASSERT_EQ(run_boxes.boxes().size(), 1u);
            EXPECT_EQ(run_boxes.boxes()[0].text,
                      std::string(ends_at_once ? "Connection refused" : "No such file or directory") + " (" + dir + "/loadmeter)");
            EXPECT_EQ(run_boxes.boxes()[0].caption, "Operation Failed");
            EXPECT_EQ(kt::ReadFile(starts), ends_at_once ? "started\n" : "");
            EXPECT_EQ(body(), without_counter_data);
            for (const std::string& l : L()) {
                EXPECT_NE(l, "Loadmeter throttled!  Restarting ...");
                EXPECT_NE(l.rfind("Average ", 0), 0u) << l;
                EXPECT_EQ(l.find("Idle Processor Load"), std::string::npos) << l;
                EXPECT_EQ(l.find("initial processor loading"), std::string::npos) << l;
            }
            EXPECT_EQ(run.test_interrupted, 0);
            EXPECT_EQ(host.title, "Your Scores!");
            EXPECT_FALSE(PerfLinkOpen());
            perflink.program_directory = kp::ProgramDirectory() + "/disk_fakes";
        }
    }
}

// ---- Plain and uniprocessor runs ----

TEST_F(Sequencer, PlainRunUsesEveryProcessorForRowOne) {
    StartTesting();
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].p, 4);
    EXPECT_EQ(g_calls[0].bound, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(results.TotalCPU[1], 250);
    EXPECT_TRUE(Has(L(), "Uniprocessor emulation:  off"));
    EXPECT_EQ(results.uniprocemulation, 0);
    EXPECT_EQ(results.tempuniprocemulation, 0);
    EXPECT_EQ(results.scale_value, 1);
    EXPECT_EQ(results.total_scaling_runs, 0);
    EXPECT_EQ(results.current_cpu_selected, 1);
}

TEST_F(Sequencer, UniprocessorEmulationTestsEachChosenProcessorIntoItsRow) {
    results.uniprocemulation = 1;
    results.cpus_selected[0] = 0;
    results.cpus_selected[1] = 1;
    results.cpus_selected[3] = 1;
    results.num_cpus_selected_for_uniproc = 2;
    results.temp_cpus_selected[2] = 1;  // left from an earlier run
    StartTesting();
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[0].bound, std::vector<int>{2});
    EXPECT_EQ(g_calls[1].bound, std::vector<int>{4});
    EXPECT_EQ(results.TotalCPU[2], 125);
    EXPECT_EQ(results.TotalCPU[4], 175);
    EXPECT_EQ(results.TotalCPU[1], 0);
    const Lines expected = {"Number of processors to test:  2", "Uniprocessor emulation:  on", "Testing Processor 2 (CPU 1)",
                            "", "Uniprocessor emulation:  on", "Testing Processor 4 (CPU 3)"};
    EXPECT_NE(std::search(L().begin(), L().end(), expected.begin(), expected.begin() + 4), L().end());
    EXPECT_NE(std::search(L().begin(), L().end(), expected.begin() + 4, expected.end()), L().end());
    // Every processor tested is marked, and only those.
    for (int i = 0; i < kRows; ++i) EXPECT_EQ(results.temp_cpus_selected[i], i == 1 || i == 3 ? 1 : 0) << i;
    EXPECT_EQ(results.temp_num_cpus_selected_for_uniproc, 2);
    EXPECT_EQ(results.tempuniprocemulation, 1);
    EXPECT_EQ(results.current_cpu_selected, 2);
}

TEST_F(Sequencer, UniprocessorEmulationWithNoProcessorChosenTestsTheFirst) {
    run.numprocessors = 1;  // fewer processors than the machine has
    std::fill(std::begin(results.cpus_selected), std::end(results.cpus_selected), 0);
    results.num_cpus_selected_for_uniproc = 0;
    StartTesting();
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].bound, std::vector<int>{1});
    EXPECT_TRUE(Has(L(), "Number of processors to test:  1"));
    EXPECT_TRUE(Has(L(), "Testing Processor 1 (CPU 0)"));
    EXPECT_EQ(results.cpus_selected[0], 1);
    EXPECT_EQ(results.temp_cpus_selected[0], 1);
    EXPECT_EQ(results.TotalCPU[1], 100);
}

// ---- Scaling runs ----

TEST_F(Sequencer, StepwiseRunOfStepTwoMeasuresOneTwoAndFourProcessors) {
    Scaling(2, false);
    StartTesting();
    EXPECT_EQ(Processors(), (std::vector<int>{1, 2, 4}));
    const std::string total = "The Total Kes Scaling Efficiency for this system is:  150.0%; 50.0% per CPU";
    EXPECT_EQ(ScalingLines(L()), (Lines{"Starting Uniprocessor Tests",
                                        "Testing Processors: 1 (CPU 0) through 1 (CPU 0)",
                                        "Starting System Scaling SMP Tests",
                                        "Testing Processors: 1 (CPU 0) through 2 (CPU 1)",
                                        "The Kes System Scaling Efficiency for 1 to 2 processors is:  50.0%",
                                        "Testing Processors: 1 (CPU 0) through 4 (CPU 3)",
                                        "The Kes System Scaling Efficiency for 2 to 4 processors is:  66.7%",
                                        total, total}));
    EXPECT_TRUE(Has(L(), "Testing scaling efficiency ... Stepwise."));
    EXPECT_TRUE(Has(L(), "Number of processors:  4;  Stepwise value:  2"));
    EXPECT_FLOAT_EQ(results.efficiency[2], 50.0f);
    EXPECT_NEAR(results.efficiency[4], 66.67f, 0.01f);
    EXPECT_FLOAT_EQ(results.total_scaling_efficiency, 150.0f);
    EXPECT_EQ(results.total_scaling_runs, 2);
    EXPECT_EQ(results.scale_value, 4);
    EXPECT_EQ(results.scaling_efficiency_showing, 1);
    EXPECT_EQ(run.numprocessors, 4);
    EXPECT_EQ(Count(L(), "CPU Number               % CPU Load Balance"), 0u);  // without the OS pass
}

TEST_F(Sequencer, StepwiseTotalsUseTheLastRowMeasured) {
    Scaling(3, false);
    results.TotalCPU[4] = 999;  // from an earlier run: this run never measures four processors
    StartTesting();
    EXPECT_EQ(Processors(), (std::vector<int>{1, 3}));
    EXPECT_EQ(Count(L(), "The Total Kes Scaling Efficiency for this system is:  100.0%; 50.0% per CPU"), 2u);
    EXPECT_FLOAT_EQ(results.total_scaling_efficiency, 100.0f);
    EXPECT_EQ(results.total_scaling_runs, 1);
}

TEST_F(Sequencer, StepwiseRunWithTheOSPassComparesTheTwoPasses) {
    Scaling(1, true);
    const int32_t kept_counter = prefs.perf_counters[0];
    StartTesting();
    // The OS pass measures 1 to 4 processors; the system pass starts at 2 and compares it with
    // the OS pass's one-processor result.
    ASSERT_EQ(g_calls.size(), 7u);
    EXPECT_EQ(Processors(), (std::vector<int>{1, 2, 3, 4, 2, 3, 4}));
    for (int i = 1; i < 4; ++i) {
        EXPECT_EQ(g_calls[size_t(i)].testing_os, 1);
        EXPECT_TRUE(g_calls[size_t(i)].bound.empty());  // the OS places the workers
        EXPECT_EQ(g_calls[size_t(i + 3)].testing_os, 0);
        EXPECT_EQ(g_calls[size_t(i + 3)].bound.size(), size_t(i + 1));
    }
    const std::string os_total = "The Total Kes OS Scaling Efficiency for this system is:  120.0%; 40.0% per CPU";
    const std::string total = "The Total Kes Scaling Efficiency for this system is:  150.0%; 50.0% per CPU";
    const std::string scaled = "The OS Scaled  80.0% to the hardware/system";
    const std::string balance = "The load balance efficiency of the OS is:  100.0%";
    EXPECT_EQ(ScalingLines(L()), (Lines{"Starting Uniprocessor Tests",
                                        "Testing Processors: 1 (CPU 0) through 1 (CPU 0)",
                                        "Starting OS Scaling SMP Tests",
                                        "Testing Processors: 1 (CPU 0) through 2 (CPU 1)",
                                        "The Kes OS Scaling Efficiency for 1 to 2 processors is:  40.0%",
                                        "Testing Processors: 1 (CPU 0) through 3 (CPU 2)",
                                        "The Kes OS Scaling Efficiency for 2 to 3 processors is:  28.6%",
                                        "Testing Processors: 1 (CPU 0) through 4 (CPU 3)",
                                        "The Kes OS Scaling Efficiency for 3 to 4 processors is:  22.2%",
                                        os_total,
                                        "Starting System Scaling SMP Tests",
                                        "Testing Processors: 1 (CPU 0) through 2 (CPU 1)",
                                        "The Kes System Scaling Efficiency for 1 to 2 processors is:  50.0%",
                                        "Testing Processors: 1 (CPU 0) through 3 (CPU 2)",
                                        "The Kes System Scaling Efficiency for 2 to 3 processors is:  33.3%",
                                        "Testing Processors: 1 (CPU 0) through 4 (CPU 3)",
                                        "The Kes System Scaling Efficiency for 3 to 4 processors is:  25.0%",
                                        total, scaled, balance, os_total, total, scaled, balance}));
    const Lines table = {"", std::string(66, '*'), "CPU Number               % CPU Load Balance", std::string(78, '-'),
                         "CPU 0:                        50.0", "CPU 1:                        50.0",
                         "CPU 2:                        50.0", "CPU 3:                        50.0",
                         std::string(66, '*')};
    size_t tables = 0;
    for (auto it = L().begin(); (it = std::search(it, L().end(), table.begin(), table.end())) != L().end(); ++it) ++tables;
    EXPECT_EQ(tables, 6u);  // one after each step of either pass
    EXPECT_EQ(results.TotalCPU_OS[4], 220);
    EXPECT_EQ(results.TotalCPU[4], 250);
    EXPECT_EQ(results.TotalCPU[1], 100);
    EXPECT_NEAR(results.efficiency_os[3], 28.57f, 0.01f);
    EXPECT_FLOAT_EQ(results.total_scaling_efficiency_os, 120.0f);
    EXPECT_EQ(results.temp_os_checked, 1);
    EXPECT_EQ(results.testing_os, 0);
    EXPECT_EQ(results.total_scaling_runs, 3);
    // The analyser was forced on for the run and the preferences put back after it.
    EXPECT_TRUE(AnalyserStarted());
    EXPECT_FALSE(PerfLinkOpen());
    EXPECT_EQ(prefs.show_perf_data, 0);
    EXPECT_EQ(prefs.show_graphs, 0);
    EXPECT_EQ(prefs.perf_counters[0], kept_counter);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(Sequencer, TwoPassRunsAndTheirTotals) {
    // Two processors: no "per CPU" part.
    run.real_num_processors = 2;
    Scaling(0, false);
    StartTesting();
    EXPECT_EQ(Processors(), (std::vector<int>{1, 2}));
    EXPECT_EQ(ScalingLines(L()), (Lines{"Starting Uniprocessor Tests", "Starting System Scaling SMP Tests",
                                        "The Total Kes Scaling Efficiency for this system is:  50.0%"}));
    EXPECT_EQ(results.total_scaling_runs, 1);
    EXPECT_EQ(results.scale_value, 2);

    // Four processors with the OS pass; the OS scaling better than the system shows as 100 %.
    run.real_num_processors = 4;
    Scaling(0, true);
    g_calls.clear();
    g_os_scales_better = true;
    StartTesting();
    ASSERT_EQ(g_calls.size(), 3u);
    EXPECT_EQ(g_calls[1].p, 4);
    EXPECT_EQ(g_calls[1].testing_os, 1);
    EXPECT_EQ(g_calls[2].testing_os, 0);
    EXPECT_EQ(ScalingLines(L()),
              (Lines{"Starting Uniprocessor Tests", "Starting OS Scaling SMP Tests", "Starting System Scaling SMP Tests",
                     "The Total Kes OS Scaling Efficiency for this system is:  150.0%; 50.0% per CPU",
                     "The Total Kes Scaling Efficiency for this system is:  120.0%; 40.0% per CPU",
                     "The OS Scaled  100.0% to the hardware/system", "The load balance efficiency of the OS is:  100.0%"}));
    EXPECT_TRUE(Has(L(), "Testing OS scaling efficiency ..."));
    EXPECT_EQ(results.TotalCPU_OS[4], 250);
    EXPECT_EQ(results.TotalCPU[4], 220);
    EXPECT_EQ(results.scale_value, 4);
}

TEST_F(Sequencer, EfficienciesWithoutScoresAreZero) {
    g_zero_rates = true;
    Scaling(1, false);
    StartTesting();
    EXPECT_TRUE(Has(L(), "The Kes System Scaling Efficiency for 3 to 4 processors is:  0.0%"));
    EXPECT_EQ(Count(L(), "The Total Kes Scaling Efficiency for this system is:  0.0%; 0.0% per CPU"), 2u);

    // One processor, stepwise: nothing to share the growth over.
    g_zero_rates = false;
    run.real_num_processors = 1;
    run.numprocessors = 1;
    StartTesting();
    EXPECT_EQ(Count(L(), "The Total Kes Scaling Efficiency for this system is:  0.0%; 0.0% per CPU"), 1u);
    EXPECT_EQ(Count(L(), "The Total Kes Scaling Efficiency for this system is:  0.0%"), 1u);
    EXPECT_EQ(results.total_scaling_runs, 0);
    for (const std::string& l : L()) {
        EXPECT_EQ(l.find("nan"), std::string::npos) << l;
        EXPECT_EQ(l.find("inf"), std::string::npos) << l;
    }
}

// The progress window's bar as the engine fills it: one list of fractions per pass, a new one
// started by each next test.
class BarHost : public kt::RecordingHost {
public:
    void ProgressNextTest() override {
        RecordingHost::ProgressNextTest();
        bars.emplace_back();
    }
    void SetProgress(double fraction) override {
        RecordingHost::SetProgress(fraction);
        bars.back().push_back(fraction);
    }
    std::vector<std::vector<double>> bars{1};
};

TEST_F(Sequencer, EveryPassOfTheProcessorPartStartsWithAnEmptyBar) {
    const struct {
        const char* form;
        int step;  // -1: no scaling run
        bool os;
        bool emulation;
        size_t passes;
    } forms[] = {
        {"plain", -1, false, false, 1},       {"uniprocessor emulation", -1, false, true, 2},
        {"two passes", 0, true, false, 3},    {"stepwise", 2, false, false, 3},
        {"stepwise with the OS pass", 1, true, false, 7},
    };
    for (const auto& f : forms) {
        SCOPED_TRACE(f.form);
        BarHost bar;
        g_calls.clear();
        run.IDM_SCALING_CHECKED = 0;
        if (f.step >= 0) Scaling(f.step, f.os);
        results.uniprocemulation = f.emulation ? 1 : 0;
        std::fill(std::begin(results.cpus_selected), std::end(results.cpus_selected), 0);
        results.cpus_selected[1] = results.cpus_selected[3] = 1;
        results.num_cpus_selected_for_uniproc = 2;
        StartTesting();
        ASSERT_EQ(g_calls.size(), f.passes);
        ASSERT_EQ(bar.bars.size(), f.passes);
        for (const std::vector<double>& pass : bar.bars) {
            ASSERT_FALSE(pass.empty());
            EXPECT_LE(pass.front(), 1.0 / 9.0 + 1e-6);  // empty, or the pass's first test done
            EXPECT_TRUE(std::is_sorted(pass.begin(), pass.end()));
            EXPECT_DOUBLE_EQ(pass.back(), 1.0);
        }
    }
}

TEST_F(Sequencer, AStoppedScalingRunWritesNoTotals) {
    Scaling(1, true);
    host.on_pump = [](int) { StopTesting(); };
    funcpointer[2] = &LoopDriver;
    StartTesting();
    EXPECT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(ScalingLines(L()), (Lines{"Starting Uniprocessor Tests", "Testing Processors: 1 (CPU 0) through 1 (CPU 0)"}));
    EXPECT_EQ(results.testing_os, 0);
    EXPECT_EQ(results.uniprocemulation, 0);
    EXPECT_EQ(results.scale_value, 4);
    EXPECT_EQ(run.numprocessors, 4);
    EXPECT_FALSE(PerfLinkOpen());
    EXPECT_TRUE(host.posted.empty());
}

// ---- Saved reports read back ----

struct Shape {
    const char* name;
    uint32_t test_value;
    int scaling;  // 0 plain, 1 uniprocessor emulation, 2 scaling
    int step;
    bool os;
};

class RoundTrip : public Sequencer, public ::testing::WithParamInterface<Shape> {
protected:
    // The nine printed scores of each DoCPUTest, by row in the order the run wrote them.
    std::map<int, std::vector<long>> PrintedScores(const std::vector<int>& rows) const {
        static const std::regex score(R"(^test \d\.\) .*;  Score:  (-?\d+)$)");
        std::vector<long> all;
        std::smatch m;
        for (const std::string& l : L()) {
            if (std::regex_match(l, m, score)) all.push_back(std::strtol(m[1].str().c_str(), nullptr, 10));
        }
        std::map<int, std::vector<long>> by_row;
        for (size_t j = 0; j < rows.size() && 9 * j + 9 <= all.size(); ++j) {
            by_row[rows[j]].assign(all.begin() + long(9 * j), all.begin() + long(9 * j + 9));
        }
        return by_row;
    }
};

// What a value printed with two decimals reads back as: the number printed.
double TwoDecimals(double v) { return std::strtod(StrPrintf("%.2f", v).c_str(), nullptr); }
// What a score printed as a whole percent of the reference reads back as.
double WholePercent(double v, double reference) {
    return double(PercentOfReference<long>(v, reference)) * reference * 0.01;
}

TEST_P(RoundTrip, TheSavedReportReadsBackAsTheRunsStore) {
    const Shape& shape = GetParam();
    prefs.valuelongtest = 1;  // with the statistics lines
    prefs.memory_load_value = 1;
    Select(shape.test_value);
    if (shape.scaling == 1) {
        results.uniprocemulation = 1;
        results.cpus_selected[0] = 0;
        results.cpus_selected[1] = 1;
        results.cpus_selected[2] = 1;
        results.num_cpus_selected_for_uniproc = 2;
    }
    if (shape.scaling == 2) Scaling(shape.step, shape.os);
    std::optional<kt::FixtureMounts> mounts;
    if (run.DISK_TEST_CHECKED) {
        mounts.emplace();
        mounts->Add("8:1", "/", "ext4", "/dev/sda1");
        const std::string drive = kt::FreshDir("drive");
        mounts->Add("8:9", drive, "ext4", "/dev/sdz9");
        kp::DiskFileMode direct;
        direct.direct = true;
        kp::CreatedFile probe = kp::CreateDiskFile(drive + "/probe.tmp", direct, 16384);
        if (probe.status != kp::CreateStatus::Created) GTEST_SKIP() << "the temporary directory takes no direct I/O";
        close(probe.fd);
        unlink((drive + "/probe.tmp").c_str());
        prefs.default_drive_chosen[1] = 1;
        ASSERT_EQ(DoDiskBench(0), 0);
        prefs.blocksizenumber = 5;
        prefs.filesizenumber = 0;
        disk_run_lengths.long_run = 2;
    }

    StartTesting();
    ASSERT_EQ(run.test_interrupted, 0);
    ASSERT_TRUE(boxes.boxes().empty());
    const auto ran = std::make_unique<ResultStore>(results);
    std::string file;
    for (const std::string& l : L()) file += l + "\r\n";
    // What the store keeps over a load must not pass for read.
    results.last_memory_load_value = 5;
    results.global_block_size_for_graphs = -7;
    DoDataSearch(file.data(), file.size());
    const ResultStore& read = results;
    ASSERT_EQ(read.data_from_file, 1);

    for (int r = 0; r < kRows; ++r) {
        EXPECT_EQ(read.TotalCPU[r], ran->TotalCPU[r]) << "row " << r;
        EXPECT_EQ(read.TotalCPU_OS[r], ran->TotalCPU_OS[r]) << "row " << r;
        EXPECT_NEAR(read.efficiency[r], ran->efficiency[r], 0.0501) << "row " << r;
        EXPECT_NEAR(read.efficiency_os[r], ran->efficiency_os[r], 0.0501) << "row " << r;
    }
    EXPECT_EQ(read.TotalMemory, ran->TotalMemory);
    EXPECT_EQ(read.TotalVideo, ran->TotalVideo);
    EXPECT_EQ(ran->TotalVideo > 0, run.VIDEO_TEST_CHECKED == 1 || shape.test_value == 0);
    for (int d = 0; d < kDrives; ++d) EXPECT_EQ(read.TotalDisk[d], ran->TotalDisk[d]) << "drive " << d;
    EXPECT_EQ(read.disks_selected, ran->disks_selected);
    if (run.DISK_TEST_CHECKED) {
        EXPECT_GT(ran->TotalDisk[0], 0);
        EXPECT_EQ(read.global_block_size_for_graphs, ran->global_block_size_for_graphs);
    }
    EXPECT_EQ(read.last_memory_load_value, ran->last_memory_load_value);
    EXPECT_EQ(read.temp_os_checked, ran->temp_os_checked);
    EXPECT_EQ(read.scaling_efficiency_showing, ran->scaling_efficiency_showing);
    EXPECT_EQ(read.tempuniprocemulation, ran->tempuniprocemulation);
    EXPECT_EQ(read.total_scaling_runs, ran->total_scaling_runs);
    if (shape.scaling == 1) {
        for (int i = 0; i < kRows; ++i) EXPECT_EQ(read.temp_cpus_selected[i], ran->temp_cpus_selected[i]) << i;
        EXPECT_EQ(read.temp_num_cpus_selected_for_uniproc, ran->temp_num_cpus_selected_for_uniproc);
    }
    if (shape.scaling == 2) {
        EXPECT_EQ(read.tested_num_processors, ran->tested_num_processors);
        EXPECT_EQ(read.scale_value, shape.step == 0 ? 4 : shape.step + 1);
    }

    // The statistics of every row measured, to the digits printed.
    std::vector<int> rows;
    for (const Call& c : g_calls) rows.push_back(shape.scaling == 1 ? c.affinity : shape.scaling == 2 ? c.p : 1);
    const double* reference = ReferenceRow(1);
    const std::map<int, std::vector<long>> printed = PrintedScores(rows);
    EXPECT_EQ(printed.empty(), shape.test_value != 1 && shape.test_value != 0);
    for (const auto& [row, scores] : printed) {
        for (int k = 0; k < kTests; ++k) {
            SCOPED_TRACE(testing::Message() << "row " << row << " test " << k);
            const double deviation = TwoDecimals(ran->std_dev[row][k]);
            EXPECT_DOUBLE_EQ(read.std_dev[row][k], deviation);
            EXPECT_DOUBLE_EQ(read.second_high_score[row][k], WholePercent(ran->second_high_score[row][k], reference[k]));
            EXPECT_DOUBLE_EQ(read.second_low_score[row][k], WholePercent(ran->second_low_score[row][k], reference[k]));
            EXPECT_DOUBLE_EQ(read.percent_deviation[row][k], deviation / double(scores[size_t(k)] == 0 ? 1 : scores[size_t(k)]) * 100);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, RoundTrip,
                         ::testing::Values(Shape{"Plain", 1, 0, 0, false}, Shape{"Uniprocessor", 1, 1, 0, false},
                                           Shape{"TwoPass", 1, 2, 0, false}, Shape{"TwoPassOS", 1, 2, 0, true},
                                           Shape{"StepOne", 1, 2, 1, false}, Shape{"StepOneOS", 1, 2, 1, true},
                                           Shape{"StepThree", 1, 2, 3, false}, Shape{"StepTwoOS", 1, 2, 2, true},
                                           Shape{"MemoryAndDisk", 12, 0, 0, false},
                                           Shape{"AllFourParts", 0, 0, 0, false}),
                         [](const testing::TestParamInfo<Shape>& info) { return std::string(info.param.name); });

TEST_F(Sequencer, ARunAfterAnOSScalingRunDescribesItself) {
    Scaling(1, true);
    StartTesting();
    ASSERT_EQ(results.temp_os_checked, 1);
    run.IDM_SCALING_CHECKED = 0;
    run.OSEFFICIENCY_CHECKED = 0;
    StartTesting();
    EXPECT_EQ(results.temp_os_checked, 0);
    EXPECT_EQ(results.scaling_efficiency_showing, 0);
    EXPECT_EQ(results.total_scaling_runs, 0);
    EXPECT_EQ(Count(L(), "CPU Number               % CPU Load Balance"), 0u);
}

}  // namespace

#include "kestrel/engine/run/sequencer.h"

#include <time.h>

#include <algorithm>
#include <cstdint>

#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/run/commands.h"
#include "kestrel/engine/disk/disk_test.h"
#include "kestrel/engine/run/host.h"
#include "kestrel/engine/report/line_format.h"
#include "kestrel/engine/memory/memory_test.h"
#include "kestrel/engine/processor/processor_driver.h"
#include "kestrel/engine/processor/processor_runner.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/report/report_tables.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/engine/run/system_info.h"
#include "kestrel/engine/run/video_test.h"
#include "kestrel/engine/processor/workers.h"
#include "platform/clock.h"
#include "platform/pages.h"


namespace {

const std::string kStars(66, '*');
const std::string kHyphens(78, '-');
constexpr int kMaxProcessors = kRows - 1;

// Progress window titles by TestValue.
constexpr const char* kTestTitles[15] = {
    "Performing All The Tests",
    "Performing The CPU Test",
    "Performing The Disk Test",
    "Performing The Video Test",
    "Performing The Memory Test",
    "Performing The CPU & Disk Test",
    "Performing The CPU & Video Test",
    "Performing The CPU & Memory Test",
    "Performing The CPU & Disk & Video Test",
    "Performing The CPU & Memory & Video Test",
    "Performing The CPU & Memory & Disk Test",
    "Performing The Disk & Video Test",
    "Performing The  Memory & Disk Test",
    "Performing The Memory & Disk & Video Test",
    "Performing The  Memory & Video Test",
};

constexpr const char* kTotalLine = "The Total Kes Scaling Efficiency for this system is:  %.1f%%";
constexpr const char* kTotalPerCpuLine = "The Total Kes Scaling Efficiency for this system is:  %.1f%%; %.1f%% per CPU";
constexpr const char* kOSTotalLine = "The Total Kes OS Scaling Efficiency for this system is:  %.1f%%";
constexpr const char* kOSTotalPerCpuLine =
    "The Total Kes OS Scaling Efficiency for this system is:  %.1f%%; %.1f%% per CPU";

// Whether the progress window of this run is open.
bool g_progress_open = false;

template <size_t N>
const char* NameOf(const char* const (&table)[N], int value) {
    return value >= 0 && size_t(value) < N ? table[value] : "";
}

// A part of a combination (or of all the tests) runs when its flag is set.
bool InCombination(uint8_t flag) {
    return run.TestValue == 0 || (run.TestValue >= 5 && run.TestValue <= 14 && flag == 1);
}
bool ProcessorPartRuns() { return run.TestValue == 1 || InCombination(run.CPU_TEST_CHECKED); }

// The processors of the machine as the processor part counts them, and the scaling step (a
// negative preference counts as the two-pass form).
int Processors() { return std::clamp(run.real_num_processors, 1, kMaxProcessors); }
int StepwiseValue() { return std::max(prefs.stepwise_scaling, 0); }


// The growth from one score to another in percent; 0 when there is no score to grow from.
float Growth(int32_t to, int32_t from) {
    if (from == 0) return 0.0f;
    return (float(to) - float(from)) / float(from) * 100.0f;
}
// A total growth shared out over the processors added to the first one.
float PerCpu(float total, int processors) { return processors > 1 ? total / float(processors - 1) : 0.0f; }

void Framed(const std::string& text) {
    passtring(kStars);
    passtring(text);
    passtring(kStars);
}

// A header line that the report pane hides while the run goes.
void Counted(const std::string& line) {
    passtring(line);
    ++report.headernum;
}

void StopAnalyser() {
    if (prefs.show_perf_data != 0) DoDiskEndCheck();
}

void CloseProgress() {
    if (!g_progress_open) return;
    Host().CloseProgress();
    g_progress_open = false;
}

void TimerLines() {
    int64_t frequency = 0;
    if (prefs.use_high_precision != 0 && kp::QueryCounterFrequency(&frequency) && frequency > 0) {
        passtring(StrPrintf("Timer Precision:  High (%.2f microseconds per interrupt)", 1000000.0 / double(frequency)));
        return;
    }
    if (prefs.use_high_precision != 0) {
        passtring("System doesn't support a high frequency timer, using the low frequency timer instead");
        prefs.use_high_precision = 0;
    }
    passtring("Timer Precision:  Low (10 milliseconds per interrupt)");
}

std::string Formatted(const tm& when, const char* format) {
    std::string text(32, '\0');
    text.resize(strftime(text.data(), text.size(), format, &when));
    return text;
}

// ---- Processor part ----

// The passes of the processor part measured so far in this run.
int g_passes = 0;

// DoCPUTest for p processors into row `row`; false (the run interrupted) when it was stopped or
// failed. Every pass after the first starts the progress window's bar again.
bool Measure(int p, int row) {
    if (g_passes++ > 0) Host().ProgressNextTest();
    run.globalpercent = 0;
    if (DoCPUTest(p, row) != 0) {
        run.test_interrupted = 1;
        return false;
    }
    return true;
}

// The load of each processor during the run into `row`, of the OS pass or of the system pass.
void LoadBalanceTable(int n, int row, bool os_pass) {
    if (results.temp_os_checked == 0) return;
    passtring("");
    passtring(kStars);
    passtring("CPU Number               % CPU Load Balance");
    passtring(kHyphens);
    const auto& balance = os_pass ? results.total_cpu_load_balance1 : results.total_cpu_load_balance2;
    for (int i = 0; i < n; ++i) passtring(StrPrintf("CPU %d:                        %.1f", i, double(balance[row][i])));
    passtring(kStars);
}

// How the OS pass compares with the system pass: its total growth and its processor loads.
void ComparisonLines(int n) {
    const ResultStore& s = results;
    passtring("");
    passtring(kStars);
    const float d = s.total_scaling_efficiency >= 1.0f ? s.total_scaling_efficiency : 1.0f;
    const float scaled = std::min(s.total_scaling_efficiency_os / d * 100.0f, 100.0f);
    passtring(StrPrintf("The OS Scaled  %.1f%% to the hardware/system", double(scaled)));
    float sum = 0.0f;
    int count = 0;
    for (int row = 0; row <= n; ++row) {
        for (int i = 0; i < n; ++i) {
            const float system = s.total_cpu_load_balance2[row][i];
            if (system > 0.0f) {
                sum += s.total_cpu_load_balance1[row][i] / std::max(system, 1.0f);
                ++count;
            }
        }
    }
    const float balance = std::min(sum / float(std::max(count, 1)) * 100.0f, 100.0f);
    passtring(StrPrintf("The load balance efficiency of the OS is:  %.1f%%", double(balance)));
    passtring(kStars);
}

// A plain run on all processors, or uniprocessor emulation on each chosen processor.
int PlainRun(int n) {
    ResultStore& s = results;
    // The views are told the first chosen processor, and in emulation every processor tested.
    std::fill(std::begin(s.temp_cpus_selected), std::end(s.temp_cpus_selected), 0);
    int first = -1;
    for (int i = 0; i < kMaxProcessors && first < 0; ++i) {
        if (s.cpus_selected[i] != 0) first = i;
    }
    if (first >= 0) {
        s.one_cpu_selected_for_uniproc = 1;
    } else {
        first = 0;
        s.cpus_selected[0] = 1;
        s.num_cpus_selected_for_uniproc = 1;
    }
    s.temp_cpus_selected[first] = 1;
    s.current_cpu_selected = first + 1;
    s.scaling_efficiency_showing = 0;

    int result = 0;
    if (run.numprocessors != n || s.uniprocemulation != 0) {
        s.temp_num_cpus_selected_for_uniproc = s.num_cpus_selected_for_uniproc;
        s.tempuniprocemulation = 1;
        passtring(StrPrintf(kProcessorsToTestLine, s.num_cpus_selected_for_uniproc));
        for (int i = 0; i < n; ++i) {
            if (s.cpus_selected[i] == 0) continue;
            s.uniprocemulation = 1;
            s.temp_cpus_selected[i] = 1;
            passtring("Uniprocessor emulation:  on");
            passtring(StrPrintf(kTestingProcessorLine, i + 1, i));
            passtring("");
            s.processor_affinity_start = i + 1;
            if (!Measure(1, i + 1)) {
                result = -1;
                break;
            }
        }
    } else {
        s.uniprocemulation = 0;
        passtring("Uniprocessor emulation:  off");
        passtring("");
        if (!Measure(n, 1)) result = -1;
    }
    s.scale_value = 1;
    return result;
}

// One pass of a stepwise run: p = 1, then every step processors more, from k = start. *last is
// the row measured last (left as it was when the pass measures none). False when aborted.
bool StepLoop(int n, int step, int start, bool os_pass, int* last) {
    ResultStore& s = results;
    int prev = 1;
    for (int k = start; k <= n; k += step) {
        int p = k;
        if (k == 0 || (step == 1 && k < n)) {
            p = k + 1;
        } else if (step == 1) {
            break;
        }
        if (k == 0) {
            s.uniprocemulation = 1;
            passtring("Starting Uniprocessor Tests");
        } else {
            s.uniprocemulation = 0;
            if (k == step && os_pass) {
                passtring("Starting OS Scaling SMP Tests");
            } else if (k == step) {
                passtring("");
                passtring(kSystemScalingStartLine);
            }
        }
        passtring("");
        passtring(StrPrintf("Testing Processors: 1 (CPU 0) through %d (CPU %d)", p, p - 1));
        if (!Measure(p, p)) return false;
        *last = p;
        if (k > 0) {
            passtring("");
            passtring("");
            s.efficiency[p] = Growth(s.TotalCPU[p], s.TotalCPU[prev]);
            Framed(StrPrintf(os_pass ? kOSEfficiencyLine : kSystemEfficiencyLine, prev, p, double(s.efficiency[p])));
            LoadBalanceTable(n, p, os_pass);
        }
        prev = p;
        passtring("");
    }
    return true;
}

// The two-pass form: one processor, then all of them (with the OS pass first when chosen).
bool TwoPassRun(int n) {
    ResultStore& s = results;
    s.uniprocemulation = 1;
    passtring("Starting Uniprocessor Tests");
    if (!Measure(1, 1)) return false;
    passtring("");
    if (s.testing_os != 0) {
        s.uniprocemulation = 0;
        passtring("Starting OS Scaling SMP Tests");
        const bool measured = Measure(n, n);
        s.testing_os = 0;
        CopyOStoCPU();
        LoadBalanceTable(n, n, true);
        passtring("");
        if (!measured) return false;
    }
    s.uniprocemulation = 0;
    passtring(kSystemScalingStartLine);
    if (!Measure(n, n)) return false;
    LoadBalanceTable(n, n, false);
    passtring("");
    return true;
}

// The stepwise form. The totals of a pass are taken to the last row it measured (which is row n
// only when n is a multiple of the step, or the step is 1). *last is that row.
bool StepwiseRun(int n, int step, int* last) {
    ResultStore& s = results;
    const bool os = run.OSEFFICIENCY_CHECKED != 0;
    if (os && s.testing_os != 0) {
        *last = 1;
        const bool measured = StepLoop(n, step, 0, true, last);
        if (measured) {
            s.total_scaling_efficiency_os = Growth(s.TotalCPU[*last], s.TotalCPU[1]);
            passtring("");
            Framed(StrPrintf(kOSTotalPerCpuLine, double(s.total_scaling_efficiency_os),
                             double(PerCpu(s.total_scaling_efficiency_os, *last))));
        }
        s.testing_os = 0;
        CopyOStoCPU();
        if (!measured) return false;
    }
    // With the OS pass, its one-processor run stands as the system pass's first step.
    *last = 1;
    if (!StepLoop(n, step, os ? step : 0, false, last)) return false;
    s.total_scaling_efficiency = Growth(s.TotalCPU[*last], s.TotalCPU[1]);
    passtring("");
    Framed(StrPrintf(kTotalPerCpuLine, double(s.total_scaling_efficiency),
                     double(PerCpu(s.total_scaling_efficiency, *last))));
    if (s.temp_os_checked != 0) ComparisonLines(n);
    return true;
}

// The end of both scaling forms: the totals over the passes up to their last row.
void ScalingTail(int n, int last, bool aborted) {
    ResultStore& s = results;
    run.numprocessors = n;
    if (!aborted) {
        s.total_scaling_efficiency = Growth(s.TotalCPU[last], s.TotalCPU[1]);
        if (s.temp_os_checked != 0) {
            const float os = s.total_scaling_efficiency_os = Growth(s.TotalCPU_OS[last], s.TotalCPU_OS[1]);
            Framed(last > 2 ? StrPrintf(kOSTotalPerCpuLine, double(os), double(PerCpu(os, last)))
                            : StrPrintf(kOSTotalLine, double(os)));
            passtring("");
        }
        const float total = s.total_scaling_efficiency;
        Framed(last > 2 ? StrPrintf(kTotalPerCpuLine, double(total), double(PerCpu(total, last)))
                        : StrPrintf(kTotalLine, double(total)));
        if (s.temp_os_checked != 0) ComparisonLines(n);
    }
    s.scale_value = n;
}

// The processor part in the form the options choose. 0, or -1 when it was stopped or failed.
int ProcessorPart() {
    ResultStore& s = results;
    const int n = Processors();
    g_passes = 0;
    if (run.IDM_SCALING_CHECKED != 1) return PlainRun(n);

    s.scaling_efficiency_showing = 1;
    const int step = StepwiseValue();
    const bool os = run.OSEFFICIENCY_CHECKED != 0;
    if (os) s.testing_os = 1;
    if (step == 0) {
        passtring(os ? kOSScalingLine : kScalingLine);
    } else {
        passtring(os ? kOSScalingStepwiseLine : kScalingStepwiseLine);
    }
    passtring("");
    passtring(StrPrintf(kProcessorsLine, n, step));
    passtring("");

    int last = n;
    const bool done = step == 0 ? TwoPassRun(n) : StepwiseRun(n, step, &last);
    s.testing_os = 0;
    if (!done) s.uniprocemulation = 0;
    ScalingTail(n, last, !done);
    return done ? 0 : -1;
}

// ---- The other parts ----

// The memory part. False (after "Test Aborted!") when it was skipped, stopped or failed.
bool MemoryPart() {
    const int result = DoMemTest();
    kp::ReturnFreePages();  // the buffers kept for reuse do not stay through the disk test
    if (result == 0) return true;
    passtring("Test Aborted!");
    run.test_interrupted = 1;
    return false;
}

// The video part: the uniprocessor lines, then the video test. Its result (0, or -1 when refused
// or aborted).
int VideoPart() {
    ResultStore& s = results;
    if (run.numprocessors != run.real_num_processors && s.uniprocemulation != 0) {
        passtring("Uniprocessor emulation:  on");
    } else {
        s.uniprocemulation = 0;
        passtring("Uniprocessor emulation:  off");
    }
    passtring("");
    return DoVIDEOTest(prefs.valuelongtest);
}

// All the tests, or the parts of a combination, in their fixed order.
void RunCombination() {
    const bool cpu = InCombination(run.CPU_TEST_CHECKED);
    const bool memory = InCombination(run.MEMORY_TEST_CHECKED);
    const bool disk = InCombination(run.DISK_TEST_CHECKED);
    const bool video = InCombination(run.VIDEO_TEST_CHECKED);
    if (cpu && ProcessorPart() != 0) {
        StopAnalyser();
        return;
    }
    if (!memory && !disk) StopAnalyser();
    if (memory) {
        if (cpu) Host().ProgressNextTest();
        passtring("");
        if (!MemoryPart()) {
            StopAnalyser();
            return;
        }
        if (!disk) StopAnalyser();
    }
    if (disk) {
        if (memory) Host().ProgressNextTest();
        passtring("");
        if (DoDISKTest(prefs.valuelongtest) != 0) run.test_interrupted = 1;
    }
    // A program that is ending runs no video part after a part it stopped.
    if (video && run.ending == 0) {
        CloseProgress();
        if (VideoPart() != 0) run.test_interrupted = 1;
    }
}

void RunSelection() {
    const uint32_t value = run.TestValue;
    if (value > 14) return;
    Host().SetProgressCaption(kTestTitles[value]);
    switch (value) {
        case 1:
            ProcessorPart();
            StopAnalyser();
            break;
        case 2:
            if (DoDISKTest(prefs.valuelongtest) != 0) run.test_interrupted = 1;
            break;
        case 3:
            if (VideoPart() != 0) run.test_interrupted = 1;
            break;
        case 4:
            MemoryPart();
            StopAnalyser();
            break;
        default:
            RunCombination();
            break;
    }
}

}  // namespace

int InitializeEnvironment() {
    ResultStore& s = results;
    const int step = StepwiseValue();
    run.globalpercent = 0;
    s.last_memory_load_value = prefs.memory_load_value;
    run.test_interrupted = 0;
    run.testrunning = 1;
    s.last_test_mode = step;
    s.tested_num_processors = Processors();
    s.processor_affinity_start = 1;
    s.current_cpu_selected = 0;
    // The shape of the processor run is what a file of this run reads back as: its scaling steps
    // after the one-processor row (none without a scaling run), and no scaling or OS pass until
    // the processor part makes one.
    const bool scaling = ProcessorPartRuns() && run.IDM_SCALING_CHECKED == 1;
    s.total_scaling_runs = scaling ? ScalingSteps(Processors(), step) : 0;
    s.scaling_efficiency_showing = 0;
    s.temp_os_checked = 0;

    ClearReportLines();
    ClearBottomText();
    GetRegEntry2();
    TurnOffScreenSaver();
    s.times.priority = run.numprocessors > 1 ? run.tpriority : -1;
    run.testend = 0;
    s.tempuniprocemulation = 0;

    const MachineDescription& m = machine;
    Counted(StrPrintf(kVersionLine, kKestrelVersion, kKestrelBuildDate));
    Counted("");
    Counted(StrPrintf("Computer Hostname:  %s", GetWin95HostName().c_str()));
    Counted(StrPrintf("Computer Manufacturer: %s; Model: %s", m.manufacturer.c_str(), m.make.c_str()));
    Counted(StrPrintf("Microprocessor:  %s running at %s MHz", (m.theproc.empty() ? run.processor : m.theproc).c_str(),
                      (m.speed.empty() ? ProcessorClockText() : m.speed).c_str()));
    Counted(StrPrintf("OS Info:  %s", m.os.c_str()));
    Counted(StrPrintf("Memory/Cache: %s MBs of %s RAM", m.memory.c_str(), NameOf(memory_type_names, m.memoryvalue)));
    Counted(StrPrintf("%s KBs External %s CPU Cache", m.cachesize.c_str(), NameOf(cache_type_names, m.cachevalue)));
    Counted(StrPrintf("Video Info:  %s w/ %s MBs of %s", m.videoadapter.c_str(), m.videoram.c_str(),
                      NameOf(video_ram_type_names, m.ramvalue)));
    const int drives = std::clamp(globaldrives, 0, kDrives);
    for (int k = 0; k < drives; ++k) {
        Counted(StrPrintf("Hard Drive Info logical Disk %d (%s): ", k, drivemenu.globaldrivechar[k].c_str()));
        Counted(StrPrintf("Drive Name:  %s; Type:  %s", m.harddisk[k].c_str(), NameOf(disk_type_names, m.diskvalue[k])));
        Counted(StrPrintf(kAdapterLine, m.adapter[k].c_str()));
    }
    Counted("");
    passtring("");
    passtring("");
    if (run.IDM_SCALING_CHECKED == 1) run.numprocessors = 1;
    passtring(StrPrintf(kMemoryLoadLine, NameOf(memory_load_names, prefs.memory_load_value)));
    const int processes_item = 2;
    const int threads_item = 4;
    passtring(StrPrintf("Number of background processes running:  %ld; threads:  %ld",
                        long(getperfdata(&processes_item) + prefs.show_perf_data),
                        long(getperfdata(&threads_item) + prefs.show_perf_data)));
    if (prefs.show_perf_data != 0) passtring(StrPrintf("Loadmeter niceness level:  %d", prefs.niceness));
    TimerLines();
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    passtring(StrPrintf("Test Run Date/Time:  %s  %s", Formatted(local, "%m/%d/%y").c_str(),
                        Formatted(local, "%H:%M:%S").c_str()));
    passtring(prefs.valuelongtest != 0 ? "Long Test On" : "Short Test On");
    passtring("");
    return 0;
}

int StartTesting() {
    const int32_t kept_show_perf_data = prefs.show_perf_data;
    const int32_t kept_show_graphs = prefs.show_graphs;
    const int32_t kept_processor_counter = prefs.perf_counters[0];
    AllowPerfRestarts();
    InitializeEnvironment();

    if (run.TestValue != 3) {
        // The OS pass needs the processor-load counter.
        if (ProcessorPartRuns() && run.OSEFFICIENCY_CHECKED != 0 && run.IDM_SCALING_CHECKED == 1) {
            prefs.show_graphs = 1;
            prefs.show_perf_data = 1;
            results.temp_os_checked = 1;
            prefs.perf_counters[0] = 1;
        }
        if (prefs.show_perf_data != 0) {
            RefillPerfSettings(Host().MainWindow());
            StartPerfProcess();
            Host().Sleep(1000);
        }
        Host().OpenProgress("Starting The Tests ...");
        g_progress_open = true;
    }

    RunSelection();

    prefs.show_perf_data = kept_show_perf_data;
    prefs.show_graphs = kept_show_graphs;
    prefs.perf_counters[0] = kept_processor_counter;
    // A selection whose parts never stop the analyser (none at all) leaves it running here.
    if (PerfLinkOpen()) DoDiskEndCheck();
    CloseProgress();
    if (run.test_interrupted == 0) Host().PostCommand(CMD_RESULT_COMPARISONS);
    kp::TrimHeap();
    kp::ReturnFreePages();
    TurnOnScreenSaver();
    Host().SetReportTitle("Your Scores!");
    run.testrunning = 0;
    // A program that is ending starts no viewer.
    if (prefs.runglance == 1 && run.ending == 0) Host().RunGlance();
    return 0;
}

void StopTesting() {
    run.testend = 1;
    StopAllWorkers();
    run.test_interrupted = 1;
}

int SuspendDrawThrd() { return 1; }
int ResumeDrawThrd() { return 1; }

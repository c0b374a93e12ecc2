#include "kestrel/engine/report/report_tables.h"
#include "kestrel/engine/memory/memory_test.h"
#include "shared/strformat.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/run/analyser_tables.h"
#include "kestrel/engine/run/host.h"
#include "kestrel/engine/report/line_format.h"
#include "kestrel/engine/memory/memory_loops.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "shared/helpers.h"

namespace {

constexpr const char* kStars85 =
    "*************************************************************************************";
static_assert(std::char_traits<char>::length(kStars85) == 85);

int64_t CounterFreeMemory() {
    const int selector = 3;
    return getperfdata(&selector);
}

std::atomic<FreeMemoryReader> g_free_memory{&CounterFreeMemory};


std::atomic<FirstPassObserver> g_first_pass_observer{nullptr};

// A zero-filled block of the memory helpers, released on every way out. Taking it writes the
// zeros for real: a page never written reads as the system's shared zero page (so a loop reading
// it measures no memory at all) and pays its fault on the first write, inside a timed pass.
struct Block {
    void* p = nullptr;
    int64_t bytes = 0;
    Block() = default;
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    ~Block() { Release(); }
    bool Take(int64_t size) {
        int error = 0;
        p = AllocateMemory(size_t(size), &error);
        if (p == nullptr) return false;
        bytes = size;
        std::memset(p, 0, size_t(size));
        return true;
    }
    void Release() {
        if (p == nullptr) return;
        int error = 0;
        FreeMemory(p, &error);
        p = nullptr;
        bytes = 0;
    }
    template <class T>
    T* As() const { return static_cast<T*>(p); }
};

void AllocationBox() {
    kp::MessageBox(kp::Owner::Main, "Allocation Error!", "Memory Exception", kp::Icon::Exclamation);
}

// Times one pass in milliseconds, with the high-resolution counter or the millisecond clock.
template <class Loop>
bool TimedPass(bool high_precision, const Loop& loop, double* ms) {
    kp::ClearUpperVectorState();
    if (!high_precision) {
        const uint32_t start = kp::MillisecondsSinceStart();
        loop();
        *ms = double(uint32_t(kp::MillisecondsSinceStart() - start));
        return true;
    }
    int64_t freq = 0, time1 = 0, time2 = 0;
    if (!kp::QueryCounterFrequency(&freq) || freq <= 0 || !kp::QueryCounter(&time1)) return false;
    loop();
    if (!kp::QueryCounter(&time2)) return false;
    *ms = double(time2 - time1) / (double(freq) * 1e-6 * 1000.0);
    return true;
}

// The analyser record as a (re)started analyser gets it; after zero readings it samples at half
// the period and at the highest priority.
void PrepareRecord(const MainWindowFacts& win, bool after_zeros) {
    pchk.show_graphs = prefs.show_graphs;
    const int period = ntime[std::clamp(prefs.niceness, 0, 2)];
    pchk.countertime = after_zeros ? period / 2 : period;
    pchk.indices[0] = win.left + win.clientWidth / 4;
    pchk.indices[1] = pchk.indices[0] + win.clientWidth / 2;
    pchk.indices[2] = win.top + win.clientHeight / 2 + std::max(win.clientHeight / 10, 70);
    pchk.disk_test_running = after_zeros ? 1 : 0;
    for (int j = 0; j < 6; ++j) pchk.perfData[j] = prefs.perf_counters[j] != 0 ? 1 : 0;
}

// Reads the analyser's reply; a read that stalls takes the one restart of the link.
void ReadAnswer(const std::function<void()>& refill) {
    if (DoPerfRead() == 0) RestartAfterTimeout(refill, false);
}


// The processor load before the tests (counter 0 chosen).
void MeasureIdleLoad(const MainWindowFacts& win) {
    const auto refill = [&win] { PrepareRecord(win, false); };
    const char* waiting = "Testing for initial processor loading.  Please wait ...";
    const bool several = run.real_num_processors > 1;
    pchk.perfData[0] = 1;
    pchk.end = 0;
    if (!several) {
        PerfExchange(refill);
        DoPerfWrite();
        ReadAnswer(refill);
        passtring(waiting);
        Host().Sleep(8000);
        DoPerfWrite();
        Host().Sleep(1000);
        ReadAnswer(refill);
    } else {
        passtring(waiting);
        Host().Sleep(6000);
    }
    PerfExchange(refill);
    if (!PerfReadings()) return;  // given up for this run: no readings to show
    if (AllSixScoresZero()) {
        passtring(kLoadmeterThrottled);
        DoDiskEndCheck();
        PrepareRecord(win, false);
        StartPerfProcess();
        Host().Sleep(2000);
        DoPerfWrite();
        ReadAnswer(refill);
        // Given up (the new start failed, or it stalled again): no reading to show.
        if (PerfReadings()) passtring(StrPrintf("Idle Processor Load:  %.1f%%", double(pchk.score[0])));
    } else {
        passtring(StrPrintf("Idle Processor Load:  %.1f%%", double(pchk.score[0]) * (several ? 0.5 : 0.2)));
    }
    passtring("");
}

// The analyser's averages over the test just run, and the restart when it answered with zeros.
void SampleAnalyser(const MainWindowFacts& win) {
    for (int j = 0; j < 6; ++j) {
        if (prefs.perf_counters[j] != 0) pchk.perfData[j] = 1;
    }
    pchk.end = 0;
    PerfExchange([&win] { PrepareRecord(win, false); });
    if (!PerfReadings()) return;
    for (const std::string& line : MemoryCounterLines(pchk, prefs.perf_counters, run.real_num_processors)) {
        passtring(line);
    }
    if (AnalyserStalled(pchk, prefs.perf_counters)) {
        passtring(kLoadmeterThrottled);
        DoDiskEndCheck();
        PrepareRecord(win, true);
        StartPerfProcess();
        passtring("");
    }
}

struct TestText {
    const char* announce;
    const char* status;
    const char* result;
};

constexpr TestText kMemTests[8] = {
    {"Testing Memory Copy Performance for 8 byte arrays... ",
     "Testing Sequential Memory Copy Performance for 8 byte arrays",
     "test %d.) Memory Copy Speed for 8 byte arrays:  %.2f MB/s"},
    {"Testing Memory Move Performance for 8 byte arrays... ",
     "Testing Sequential Memory Move Performance for 8 byte arrays",
     "test %d.) Memory Move Speed for 8 byte arrays:  %.2f MB/s"},
    {"Testing Memory Copy Performance for 1 byte arrays... ",
     "Testing Sequential Memory Copy Performance for 1 byte arrays",
     "test %d.) Memory Copy Speed for 1 byte arrays:  %.2f MB/s"},
    {"Testing Memory Move Performance for 1 byte arrays... ",
     "Testing Sequential Memory Move Performance for 1 byte arrays",
     "test %d.) Memory Move Speed for 1 byte arrays:  %.2f MB/s"},
    {"Testing Memory Copy Performance for 8 byte arrays... ",
     "Testing Patterned Memory Copy Performance for 8 byte arrays",
     "test %d.) Memory Copy Speed for 8 byte arrays:  %.2f MB/s"},
    {"Testing Memory Move Performance for 8 byte arrays... ",
     "Testing Patterned Memory Move Performance for 8 byte arrays",
     "test %d.) Memory Move Speed for 8 byte arrays:  %.2f MB/s"},
    {"Testing Memory Copy Performance for 1 byte arrays... ",
     "Testing Patterned Memory Copy Performance for 1 byte arrays",
     "test %d.) Memory Copy Speed for 1 byte arrays:  %.2f MB/s"},
    {"Testing Memory Move Performance for 1 byte arrays... ",
     "Testing Patterned Memory Move Performance for 1 byte arrays",
     "test %d.) Memory Move Speed for 1 byte arrays:  %.2f MB/s"},
};

}  // namespace

FirstPassObserver SetFirstPassObserver(FirstPassObserver observer) {
    return g_first_pass_observer.exchange(observer);
}

FreeMemoryReader SetFreeMemoryReader(FreeMemoryReader reader) {
    return g_free_memory.exchange(reader != nullptr ? reader : &CounterFreeMemory);
}

int64_t MemoryTestSize(int level, int64_t free_bytes) {
    level = std::clamp(level, 0, 6);
    const int64_t size = kMegabyte << level;
    if (free_bytes >= 2 * size) return size;
    return level == 0 ? 0 : kMegabyte;
}

int64_t PatternedSize(int64_t size) {
    return size > kMegabyte ? std::max(size / 4, kMegabyte) : size;
}

void BuildDoublePattern(uint32_t* index1, uint32_t* index2, int64_t elements) {
    for (int64_t i = 0; i < elements; ++i) {
        const int64_t k = 2 * i;
        index1[i] = uint32_t(std::llabs(4 * i - 10 * k) % elements);
        index2[i] = uint32_t(std::llabs(3 * i - 8 * k) % elements);
    }
}

void BuildBytePattern(uint32_t* index1, int64_t size, int length) {
    const int64_t L = std::max(length, 1);
    for (int64_t i = 0; i < size / 4; ++i) {
        const int64_t k = i == 0 ? 0 : ((i - 1) % L) + 1;
        index1[i] = uint32_t(std::llabs(4 * i - 10 * k) % size);
    }
}

double MemoryRate(int length, int64_t size, double total_ms, double resolution_ms) {
    const double ms = std::max(total_ms, resolution_ms);
    return (double(length) * double(size)) / (ms * 0.001 * double(kMegabyte));
}

void ReportMemoryTotals(double mean) {
    passtring(kStars85);
    passtring(StrPrintf("Total Memory Throughput Achieved is:  %.2f MB/s", mean));
    const double x = mean / memoryscore * totalscore;
    results.TotalMemory = Saturate<int32_t>(x);
    passtring(StrPrintf(kTotalMemoryLine, long(results.TotalMemory)));
    if (x > 100.0) {
        passtring(StrPrintf("This Memory subsystem is %.1f%% faster than a Micron P100 PowerStation", x - 100.0));
    } else {
        passtring(StrPrintf("This Memory subsystem is %.1f%% slower than a Micron P100 PowerStation",
                      (100.0 - x) / x * 100.0));
    }
    passtring(kStars85);
}

std::vector<std::string> MemoryCounterLines(const PerfMonData& rec, const int32_t perf_counters[6],
                                            int processors) {
    std::vector<std::string> lines;
    const int n = std::clamp(processors, 1, 32);
    // Items of the processors joined on lines, a line ending after processors 6, 12, 18, ...
    const auto per_cpu = [&](auto item) {
        std::string line;
        for (int i = 0; i < n; ++i) {
            line += item(i);
            if ((i > 0 && i % 6 == 0) || i == n - 1) {
                lines.push_back(line);
                line.clear();
            }
        }
    };
    for (int j = 0; j < 6; ++j) {
        if (perf_counters[j] == 0) continue;
        const char* name = loadmeter_strings[j];
        if (j == 0 && processors == 1) {
            lines.push_back(StrPrintf("%s  %.1f%%", name, double(rec.score[0])));
        } else if (j == 0) {
            lines.push_back(StrPrintf("%s  %.1f%% per CPU", name, double(rec.score[0])));
            per_cpu([&](int i) { return StrPrintf("CPU %d:  %.1f%%; ", i, double(rec.cpu_scores_1[i])); });
        } else if (j == 1 && processors > 1) {
            lines.push_back(StrPrintf("%s  %ld per CPU", name, Saturate<long>(rec.score[1])));
            per_cpu([&](int i) { return StrPrintf("CPU %d:  %ld; ", i, Saturate<long>(rec.cpu_scores_2[i])); });
        } else {
            lines.push_back(StrPrintf("%s  %ld", name, Saturate<long>(rec.score[j])));
        }
    }
    return lines;
}

bool AnalyserStalled(const PerfMonData& rec, const int32_t perf_counters[6]) {
    for (int j : {0, 1, 2, 3, 5}) {
        if (rec.score[j] != 0.0f) return false;
    }
    for (int j : {0, 1, 2, 3, 5}) {
        if (perf_counters[j] != 0) return true;
    }
    return false;
}

int DoMemTest() {
    const MainWindowFacts win = Host().MainWindow();
    const int length = prefs.valuelongtest != 0 ? 200 : 100;
    passtring(length == 200 ? "Performing Long Memory Test" : "Performing Short Memory Test");

    int64_t free_bytes = g_free_memory.load()();
    passtring("");
    passtring("Testing for available Memory ...");
    if (free_bytes < kMegabyte) {
        passtring(StrPrintf("Available Memory:  %ld bytes of %s MB", long(free_bytes), machine.memory.c_str()));
    } else {
        passtring(StrPrintf("Available Memory:  %.2f MB of %s MB", double(free_bytes) / double(kMegabyte),
                      machine.memory.c_str()));
    }

    if (PerfWanted() && prefs.perf_counters[0] != 0) MeasureIdleLoad(win);

    passtring("");
    if (free_bytes < kMegabyte) free_bytes = g_free_memory.load()();

    const int level = std::clamp(prefs.memory_load_value, 0, 6);
    const int64_t allocation_size = MemoryTestSize(level, free_bytes);
    if (allocation_size == 0) {
        passtring("Not enough available memory to run the Memory Test.  Skipping");
        return -1;
    }
    if (allocation_size != kMegabyte << level) {
        passtring(StrPrintf("Not enough available memory to run the Memory Test at %d MB.  Defaulting to 1 MB.",
                      1 << level));
    }

    Block pattern_var1, pattern_var2;
    if (!pattern_var1.Take(allocation_size) || !pattern_var2.Take(allocation_size)) {
        AllocationBox();
        return -1;
    }
    uint32_t* const index1 = pattern_var1.As<uint32_t>();
    uint32_t* const index2 = pattern_var2.As<uint32_t>();
    double globalpercent = 0;
    Host().SetProgress(globalpercent);

    const bool high_precision = prefs.use_high_precision != 0;
    const double resolution_ms = high_precision ? 1000.0 / double(kp::kCounterFrequency) : 1.0;
    double megabytes_per_sec[8] = {};
    Block d_dest, d_source, c_dest, c_source;
    int64_t size = allocation_size;

    for (int series = 0; series < 2; ++series) {
        passtring(series == 0 ? "************ Executing sequential read/write memory tests ************"
                              : "************ Executing patterned read/write memory tests ************");
        passtring("");
        if (series == 1) size = PatternedSize(size);

        for (int t = 0; t < 4; ++t) {
            const int test = series * 4 + t + 1;
            const bool eight = t < 2;
            const bool copy = t % 2 == 0;
            if (copy) {
                Host().SetProgressCaption(eight ? "Testing Memory Throughput with 8 byte arrays"
                                                : "Testing Memory Throughput with 1 byte arrays");
                Block& dest = eight ? d_dest : c_dest;
                Block& source = eight ? d_source : c_source;
                if (!dest.Take(size) || !source.Take(size)) {
                    AllocationBox();
                    return -1;
                }
            }
            passtring(kMemTests[test - 1].announce);
            Host().SetStatusText(kMemTests[test - 1].status);
            if (test == 5) BuildDoublePattern(index1, index2, size / 8);
            if (test == 7) BuildBytePattern(index1, size, length);

            double* const dd = d_dest.As<double>();
            double* const ds = d_source.As<double>();
            char* const cd = c_dest.As<char>();
            char* const cs = c_source.As<char>();
            const long n8 = long(size / 8);
            const long n1 = long(size);
            const auto loop = [&] {
                switch (test) {
                    case 1: MemCopy8(ds, n8); break;
                    case 2: MemMove8(dd, ds, n8); break;
                    case 3: MemCopy1(cs, n1); break;
                    case 4: MemMove1(cd, cs, n1); break;
                    case 5: MemCopy8Patterned(dd, index1, n8); break;
                    case 6: MemMove8Patterned(dd, ds, index1, index2, n8); break;
                    case 7: MemCopy1Patterned(cd, index1, n1); break;
                    default: MemMove1Patterned(cd, cs, index1, index2, n1); break;
                }
            };

            if (const FirstPassObserver observe = g_first_pass_observer.load()) {
                std::vector<MemoryBuffer> held;
                for (const Block* b : {&pattern_var1, &pattern_var2, &d_dest, &d_source, &c_dest, &c_source}) {
                    if (b->p != nullptr) held.push_back({b->p, b->bytes});
                }
                observe(test, held);
            }

            double total_ms = 0;
            const double start_percent = globalpercent;
            for (int pass = 0; pass < length; ++pass) {
                double ms = 0;
                if (!TimedPass(high_precision, loop, &ms)) {
                    kp::MessageBox(kp::Owner::Main, "Error retrieving high frequency timer counts",
                                   "Kestrel Timer Exception", kp::Icon::Stop);
                    return -1;
                }
                total_ms += ms;
                globalpercent = (double(pass + 1) / length) / nummemorytests + start_percent;
                Host().SetProgress(globalpercent);
                Host().PumpPending();
                if (run.testend == 1) return -1;
            }

            megabytes_per_sec[test - 1] = MemoryRate(length, size, total_ms, resolution_ms);
            passtring(StrPrintf(kMemTests[test - 1].result, test, megabytes_per_sec[test - 1]));
            passtring("");
            if (test == 8) Host().SetProgressCaption("Test Completed!");
            if (!copy) {
                (eight ? d_dest : c_dest).Release();
                (eight ? d_source : c_source).Release();
            }
            if (PerfReadings()) SampleAnalyser(win);
        }
    }

    pattern_var1.Release();
    pattern_var2.Release();
    double sum = 0;
    for (double rate : megabytes_per_sec) sum += rate;
    ReportMemoryTotals(sum / nummemorytests);
    Host().SetStatusText("");
    return 0;
}

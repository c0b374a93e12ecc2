#include "kestrel/engine/report/report_tables.h"
#include "kestrel/engine/processor/processor_driver.h"

#include <algorithm>

#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/run/analyser_tables.h"
#include "kestrel/engine/processor/funcpointer.h"
#include "kestrel/engine/run/host.h"
#include "kestrel/engine/report/line_format.h"
#include "kestrel/engine/memory/memory_test.h"
#include "kestrel/engine/processor/processor_runner.h"
#include "kestrel/engine/processor/processor_tables.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "platform/pages.h"

float globalindex = 0;
float intindex = 0;
float fpindex = 0;

namespace {

constexpr const char* kStars66 = "******************************************************************";
static_assert(std::char_traits<char>::length(kStars66) == 66);

// globalindex of the reference machine: five integer tests counted twice, four floating-point.
constexpr double kReferenceIndex = 14.0;

void AddToAccumulators(int i, float theIndex) {
    if (i == 0) {
        globalindex = 2 * theIndex;
        intindex = theIndex;
    } else if (i == 2) {
        fpindex = theIndex;
        globalindex += theIndex;
    } else if (score_lines[i].integer) {
        intindex += theIndex;
        globalindex += 2 * theIndex;
    } else {
        fpindex += theIndex;
        globalindex += theIndex;
    }
}

void StoreProcessorLoads(int i) {
    const int n = std::clamp(run.real_num_processors, 0, 32);
    const bool os_pass = results.testing_os != 0;
    for (int p = 0; p < n; ++p) {
        (os_pass ? results.cpu_percentage1 : results.cpu_percentage2)[p][i] = pchk.cpu_scores_1[p];
        (os_pass ? results.cpu_interrupts1 : results.cpu_interrupts2)[p][i] = pchk.cpu_scores_2[p];
    }
}

}  // namespace

std::vector<std::string> ProcessorCounterLines(const PerfMonData& rec, const int32_t perf_counters[6],
                                               int processors) {
    std::vector<std::string> lines;
    const int n = std::clamp(processors, 1, 32);
    for (int k = 0; k < 6; ++k) {
        if (perf_counters[k] == 0) continue;
        const char* name = loadmeter_strings[k];
        const double v = rec.score[k];
        if (k == 0 && processors == 1) {
            lines.push_back(StrPrintf("%s  %.1f%%", name, v));
        } else if (k == 0) {
            lines.push_back(StrPrintf("%s  %.1f%% per CPU", name, v));
            std::string line;
            for (int p = 0; p < n; ++p) line += StrPrintf("CPU %d:  %.1f%%; ", p, double(rec.cpu_scores_1[p]));
            lines.push_back(line);
        } else if (k == 1 && processors > 1) {
            lines.push_back(StrPrintf("%s  %ld per CPU", name, Saturate<long>(v)));
            std::string line;
            for (int p = 0; p < n; ++p) {
                line += StrPrintf("CPU %d:  %ld; ", p, Saturate<long>(rec.cpu_scores_2[p]));
                if (p > 0 && p % 6 == 0) {
                    lines.push_back(line);
                    line.clear();
                }
            }
            lines.push_back(line);
        } else {
            lines.push_back(StrPrintf("%s  %ld", name, Saturate<long>(v)));
        }
    }
    return lines;
}

void DoStringInput(int i, int theproc, double the_B_index, float theIndex, float theMean) {
    const MainWindowFacts win = Host().MainWindow();
    const bool long_test = prefs.valuelongtest != 0;
    // The empty lines that go with counter data follow the preference alone; an analyser given
    // up (before this test or during its exchange) only leaves out the readings and the restart.
    const bool counter_data = prefs.show_perf_data != 0;
    const int row = theproc;

    // The analyser's averages over this test's runs.
    if (PerfWanted()) {
        for (int k = 0; k < 6; ++k) {
            if (prefs.perf_counters[k] != 0) pchk.perfData[k] = 1;
        }
        pchk.end = 0;
        PerfExchange([&win] { RefillPerfSettings(win); });
    }

    const ScoreLine& s = score_lines[i];
    const char* format = s.format3 != nullptr && theMean <= 0.01 ? s.format3 : s.format;
    passtring(StrPrintf(format, i + 1, double(theMean) * s.scale, Saturate<long>(theIndex * 100.0f)));
    AddToAccumulators(i, theIndex);

    if (long_test) {
        passtring(StrPrintf(kStatsLine, i + 1,
                      results.std_dev[row][i],
                      PercentOfReference<long>(results.second_high_score[row][i], the_B_index),
                      PercentOfReference<long>(results.second_low_score[row][i], the_B_index)));
        if (!counter_data) passtring("");
    }

    if (counter_data) {
        if (PerfReadings()) {
            if (results.temp_os_checked != 0) StoreProcessorLoads(i);
            for (const std::string& line : ProcessorCounterLines(pchk, prefs.perf_counters, run.real_num_processors)) {
                passtring(line);
            }
            if (AnalyserStalled(pchk, prefs.perf_counters)) {
                passtring(kLoadmeterThrottled);
                DoDiskEndCheck();
                RefillPerfSettings(win);
                StartPerfProcess();
            }
        }
        passtring("");
    }

    if (long_test) {
        const double of_mean = results.percent_deviation_of_mean[row][i];
        const double deviation = results.percent_deviation[row][i];
        if (of_mean > 5.0) {
            passtring(StrPrintf("Test failed to perform accurately.  Value:  %.1f%% deviation of the mean, is too large",
                          of_mean));
            passtring("");
        } else if (deviation > 6.0) {
            passtring(StrPrintf("Test results are only partially accurate.  Value:  %.1f%% deviation is larger than "
                          "expected",
                          deviation));
            passtring("");
        }
    }
}

void ReportProcessorTotals(int row, double total) {
    results.TotalCPU[row] = Saturate<int32_t>(total + 0.5);
    output_string(kStars66);
    const int cpumark = Saturate<int>(double(intindex) * 100.0 * 0.2 + 0.5);
    const int fpumark = Saturate<int>(double(fpindex) * 100.0 * 0.25 + 0.5);
    output_string(StrPrintf(kTotalProcessorLine,
                      int(results.TotalCPU[row]), cpumark, fpumark));
    if (total > totalscore) {
        output_string(StrPrintf("This Processor subsystem is %.1f%% faster than a Micron P100 PowerStation.",
                          total - totalscore));
    } else {
        // A total of 0 (or none at all) is as slow as can be shown: 100 percent slower.
        const double slower = total > 0.0 ? (totalscore - total) / total * 100.0 : 100.0;
        output_string(StrPrintf("This Processor subsystem is %.1f%% slower than a Micron P100 PowerStation.", slower));
    }
    output_string(kStars66);
}

long DoCPUTest(int num_of_processors_to_test, int pnum) {
    if (pnum < 0 || pnum >= kRows) return -1;
    run.globalpercent = 0;
    run.numprocessors = num_of_processors_to_test;
    for (int i = 0; i < kTests; ++i) {
        results.std_dev[pnum][i] = 0;
        results.second_high_score[pnum][i] = 0;
        results.second_low_score[pnum][i] = 0;
        results.percent_deviation[pnum][i] = 0;
        results.percent_deviation_of_mean[pnum][i] = 0;
    }
    results.TotalCPU[pnum] = 0;

    for (int i = 0; i < kProcessorTests; ++i) {
        kp::TrimHeap();
        double mean = 0.0;
        if (bench_with_confidence(i, &mean, pnum, float(i + 1) / 9.0f) == -1) {
            if (run.IDM_SCALING_CHECKED == 1) run.numprocessors = run.real_num_processors;
            run.testrunning = 0;
            return -1;
        }
        const double B = ReferenceRow(prefs.memory_load_value)[i];
        DoStringInput(i, pnum, B, float(mean / B), float(mean));
    }

    ReportProcessorTotals(pnum, double(globalindex) * 100.0 / kReferenceIndex);

    if (results.temp_os_checked != 0) {
        const int n = std::clamp(run.real_num_processors, 0, 32);
        const bool os_pass = results.testing_os != 0;
        for (int p = 0; p < n; ++p) {
            float sum = 0;
            for (int i = 0; i < kTests; ++i) {
                sum += (os_pass ? results.cpu_percentage1 : results.cpu_percentage2)[p][i];
            }
            (os_pass ? results.total_cpu_load_balance1 : results.total_cpu_load_balance2)[pnum][p] =
                float(sum * (1.0 / 9.0));
        }
    }
    return 0;
}

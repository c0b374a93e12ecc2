#include "kestrel/engine/processor/processor_runner.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/run/analyser_tables.h"
#include "kestrel/engine/processor/funcpointer.h"
#include "kestrel/engine/processor/kernel_records.h"
#include "kestrel/engine/report/line_format.h"
#include "kestrel/engine/processor/processor_tables.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "platform/pages.h"

float table_of_uncertainties[36][10];

namespace {

constexpr int kLongRuns = 8;

bool FillUncertainties() {
    for (int r = 0; r < 36; ++r) {
        for (int c = 0; c < 10; ++c) {
            const double t = (10.0 * r + c) / 100.0;
            const double percent = 100.0 * std::erf(t / std::sqrt(2.0));
            table_of_uncertainties[r][c] = float(std::round(percent * 100.0) / 100.0);
        }
    }
    return true;
}
const bool g_uncertainties_filled = FillUncertainties();

void SetTitle(const char* name, int percent) {
    Host().SetProgressCaption(StrPrintf("%s - %d%% finished", name, percent));
}

const char* PerUnit(int fid) { return iteration_display[fid].per_minute ? "/minute" : "/sec"; }
double Shown(int fid, double score) { return score * iteration_display[fid].scale; }

// The status-pane text shown while run i goes; `two` is the previous run's score.
std::string StatusText(int fid, int row, int i, int count, const std::string& two) {
    if (results.uniprocemulation != 0) {
        return StrPrintf("Test %d; CPU %d - Test iteration #%d of %d. %s", fid + 1, row - 1, i + 1, count, two.c_str());
    }
    if (run.IDM_SCALING_CHECKED != 0) {
        return StrPrintf("Test %d; CPU 0 through %d - Test iteration #%d of %d. %s", fid + 1, row - 1, i + 1, count,
                   two.c_str());
    }
    return StrPrintf("Test %d; Test iteration #%d of %d. %s", fid + 1, i + 1, count, two.c_str());
}

// "Iteration %d score:  %.1f %s/sec", or ".../minute".
std::string IterationText(int fid, int i, double score) {
    return StrPrintf("Iteration %d score:  %.1f %s%s", i + 1, Shown(fid, score), twindow_tnames[fid], PerUnit(fid));
}

// The closing line of the long test, with the last run's score.
std::string ClosingText(int fid, int row, double score) {
    const double shown = Shown(fid, score);
    if (results.uniprocemulation != 0) {
        return StrPrintf("CPU %d - Test %d done.  Iteration 8 score:  %.1f %s%s", row - 1, fid + 1, shown,
                   twindow_tnames[fid], PerUnit(fid));
    }
    if (run.IDM_SCALING_CHECKED != 0) {
        return StrPrintf("CPU 0 through %d - Test %d done.  Iteration 8 score:  %.1f %s%s", row - 1, fid + 1, shown,
                   twindow_tnames[fid], PerUnit(fid));
    }
    return StrPrintf("Test %d done.  Iteration 8 score:  %.1f %s%s", fid + 1, shown, twindow_tnames[fid], PerUnit(fid));
}


// The processor load before the runs, over one measuring interval of the analyser.
void SampleIdleLoad(const MainWindowFacts& win) {
    const char* waiting = "Testing for initial processor loading.  Please wait ...";
    bool restarted = false;
    const auto refill = [&] {
        restarted = true;
        RefillPerfSettings(win);
    };
    const bool several = run.real_num_processors > 1;
    pchk.perfData[0] = 1;
    pchk.end = 0;
    if (several) {
        PerfExchange(refill);
        passtring(waiting);
        Host().Sleep(8000);
    } else {
        passtring(waiting);
        Host().Sleep(6000);
    }
    // Close the interval. After a restart the new analyser's first reading is shown as it is.
    restarted = false;
    PerfExchange(refill);
    if (!PerfReadings()) return;  // given up for this run: no readings to show
    if (restarted) {
        passtring(StrPrintf("Idle Processor Load:  %.1f%%", double(pchk.score[0])));
    } else if (AllSixScoresZero()) {
        passtring(kLoadmeterThrottled);
        DoDiskEndCheck();
        RefillPerfSettings(win);
        StartPerfProcess();
        Host().Sleep(2000);
        DoPerfWrite();
        // A reply that does not come within the watch takes the watched restart, which gives the
        // analyser up when it stalls again.
        if (DoPerfRead() == 0) RestartAfterTimeout(refill, false);
        // Given up (the new start failed, or it stalled again): no reading to show.
        if (PerfReadings()) passtring(StrPrintf("Idle Processor Load:  %.1f%%", double(pchk.score[0])));
    } else {
        passtring(StrPrintf("Idle Processor Load:  %.1f%%", double(pchk.score[0]) * (several ? 0.5 : 0.2)));
    }
    passtring("");
}

}  // namespace

void RefillPerfSettings(const MainWindowFacts& win) {
    pchk.show_graphs = prefs.show_graphs;
    pchk.countertime = ntime[std::clamp(prefs.niceness, 0, 2)];
    pchk.indices[0] = win.left + win.clientWidth / 4;
    pchk.indices[1] = pchk.indices[0] + win.clientWidth / 2;
    pchk.indices[2] = win.top + win.clientHeight / 2 + std::max(win.clientHeight / 10, 70);
    pchk.disk_test_running = 0;
    for (int k = 0; k < 6; ++k) pchk.perfData[k] = prefs.perf_counters[k] != 0 ? 1 : 0;
}

double getscore(int fid) {
    switch (fid) {
        case 0: return global_bitopstruct.bitopspersec;
        case 1: return global_numsortstruct.sortspersec;
        case 2: return global_flopstruct.flops;
        case 3: return global_fourierstruct.fflops;
        case 4: return global_fftstruct.fflops;
        case 5: return global_assignstruct.iterspersec;
        case 6: return global_sspstruct.iterspersec;
        case 7: return global_elimstruct.iterspersec;
        case 8: return global_matrixopsstruct.iterspersec;
        default: return 0.0;
    }
}

int bench_with_confidence(int fid, double* mean, int the_processors_to_test, float percent) {
    if (fid < 0 || fid >= kProcessorTests || the_processors_to_test < 0 || the_processors_to_test >= kRows) {
        return -1;
    }
    const MainWindowFacts win = Host().MainWindow();
    const bool long_test = prefs.valuelongtest != 0;
    const int count = long_test ? kLongRuns : 1;
    const int row = the_processors_to_test;
    double myscores[10] = {};
    std::string one, two;

    if (fid == 0) SetTitle(ftestnames[0], 0);
    if (PerfWanted() && prefs.perf_counters[0] != 0) SampleIdleLoad(win);

    for (int i = 0; i < count; ++i) {
        kp::TrimHeap();
        one = StatusText(fid, row, i, count, two);
        Host().SetStatusText(one);
        const DriverFn driver = funcpointer[fid];
        const int result = driver != nullptr ? driver() : -1;
        myscores[i] = getscore(fid);
        if (long_test) {
            two = IterationText(fid, i, myscores[i]);
            output_bottomtext_buffer(one);
            report.temp_text_lines = report.num_text_lines;
            run.globalpercent += 0.01375f;
            SetTitle(ftestnames[fid], Saturate<int>(double(run.globalpercent) * 100.0 + 0.5));
            Host().SetProgress(run.globalpercent);
        }
        if (run.testend == 1 || result != 0) return -1;
    }

    if (long_test) {
        two = ClosingText(fid, row, myscores[kLongRuns - 1]);
        output_bottomtext_buffer(two);
        report.temp_text_lines = report.num_text_lines;
        Host().SetStatusText(two);
        Host().Sleep(1000);
    }
    Host().Sleep(800);
    Host().SetStatusText("");
    run.globalpercent = percent;

    if (long_test) {
        calc_benchmark(myscores, fid, mean, row);
    } else {
        calc_confidence(myscores, mean);
    }
    kp::TrimHeap();
    kp::ReturnFreePages();  // the test's pooled blocks are not needed by the next one
    SetTitle(ftestnames[fid + 1], Saturate<int>(double(percent) * 100.0 + (long_test ? 0.5 : 0.1)));
    Host().SetProgress(run.globalpercent);
    return 0;
}

void calc_benchmark(const double scores[8], int function_id, double* smean, int the_processors_to_test) {
    const int f = std::clamp(function_id, 0, kProcessorTests - 1);
    const int R = std::clamp(the_processors_to_test, 0, kRows - 1);
    const double* bindex = ReferenceRow(prefs.memory_load_value);
    const double B = bindex[f];
    const auto pct = [B](double v) { return v / B * 100.0; };

    // The lowest and the highest run (the first of equal values wins).
    double lowscore = scores[0], highscore = scores[0];
    int temp_low_number = 0, temp_high_number = 0;
    for (int i = 0; i < kLongRuns; ++i) {
        if (scores[i] < lowscore) {
            lowscore = scores[i];
            temp_low_number = i;
        } else if (scores[i] > highscore) {
            highscore = scores[i];
            temp_high_number = i;
        }
    }
    const auto extreme = [&](int i) { return i == temp_low_number || i == temp_high_number; };

    // Mean and deviation of the other runs, over six.
    double sum = 0.0;
    for (int i = 0; i < kLongRuns; ++i) {
        if (!extreme(i)) sum += scores[i];
    }
    const double temp_smean = sum * (1.0 / 6.0);
    double squares = 0.0;
    for (int i = 0; i < kLongRuns; ++i) {
        if (!extreme(i)) squares += std::pow(pct(scores[i]) - pct(temp_smean), 2);
    }
    const double temp_stddev = std::sqrt(squares / 6.0);

    // Expected number of runs as far out as each run. With no spread every run sits at the mean.
    double p_out[kLongRuns] = {};
    for (int i = 0; i < kLongRuns; ++i) {
        if (extreme(i)) continue;
        double t_sus = temp_stddev > 0.0 ? std::fabs(pct(scores[i]) - pct(temp_smean)) / temp_stddev : 0.0;
        if (!(t_sus >= 0.0)) t_sus = 0.0;
        t_sus = std::min(t_sus, 3.59);
        const int r = std::clamp(int(10.0 * t_sus), 0, 35);
        const int c = std::clamp(int(100.0 * t_sus) - 10 * r, 0, 9);
        p_out[i] = (1.0 - 0.01 * table_of_uncertainties[r][c]) * 6.0;
    }

    // Four picks of the least likely run below one half: the low and the high run first.
    double total_runs = 8.0;
    int reject[kLongRuns] = {};
    double lownum[4] = {10.0, 10.0, 10.0, 10.0};
    int templownum[4] = {10, 10, 10, 10};
    for (int pass = 0; pass < 4; ++pass) {
        for (int i = 0; i < kLongRuns; ++i) {
            if (reject[i] == 0 && p_out[i] < 0.5 && p_out[i] < lownum[pass]) {
                lownum[pass] = p_out[i];
                templownum[pass] = i;
            }
        }
        if (templownum[pass] == 10) break;
        reject[templownum[pass]] = 1;
        total_runs -= 1.0;
    }

    // Run i's score stands on its own bottom-text line: the last eight lines are runs 0 to 7.
    const int first_line = report.num_text_lines - kLongRuns;
    for (int i = 0; i < kLongRuns; ++i) {
        if (reject[i] != 0) strcat_bottomtext_buffer(" (dropped)", first_line + i);
    }

    total_runs = std::max(total_runs, 1.0);
    double kept_sum = 0.0, kept_high = 0.0, kept_low = 0.0;
    bool first = true;
    for (int i = 0; i < kLongRuns; ++i) {
        if (reject[i] != 0) continue;
        kept_sum += scores[i];
        kept_high = first ? scores[i] : std::max(kept_high, scores[i]);
        kept_low = first ? scores[i] : std::min(kept_low, scores[i]);
        first = false;
    }
    *smean = kept_sum / total_runs;

    double deviation = 0.0;
    for (int i = 0; i < kLongRuns; ++i) {
        if (reject[i] == 0) deviation += std::pow(pct(scores[i]) - pct(*smean), 2);
    }
    const double std_dev = std::sqrt(deviation / total_runs);
    const double mean_percent = pct(*smean);
    results.std_dev[R][f] = std_dev;
    results.second_high_score[R][f] = kept_high;
    results.second_low_score[R][f] = kept_low;
    // A mean of zero leaves the relative deviations at zero.
    const bool relative = mean_percent != 0.0 && std::isfinite(mean_percent);
    results.percent_deviation_of_mean[R][f] =
        relative ? (std_dev / std::sqrt(total_runs)) / mean_percent * 100.0 : 0.0;
    results.percent_deviation[R][f] = relative ? std_dev / mean_percent * 100.0 : 0.0;
}

void calc_confidence(const double* scores, double* smean) { *smean = scores[0] * 1.0; }

// Result stores for the graph tests: the four page forms of the statistics page, a stepwise
// scaling run with its OS pass, and the same at 10^4 times the reference machine; text measured
// with fixed metrics.
#pragma once

#include <QSize>
#include <string_view>

#include "kestrel/engine/report/report_tables.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/graphs/graph_common.h"

namespace kt {

// Text measured as its length times the font's width: the same on every machine.
inline QSize FixedMeasure(const LogFont& lf, std::string_view text) {
    return QSize(int(text.size()) * lf.Width, lf.Height);
}

// Row `row` of the plain or OS tables: test t peaks at pct0 + pct_step x t percent of the
// reference at the store's memory level, troughs at 0.8 of that; its deviations grow linearly.
inline void StatsRow(int row, bool os, double pct0, double pct_step, double std0, double std_step, double pdev0,
                     double pdev_step) {
    ResultStore& s = results;
    const double* ref = ReferenceRow(s.last_memory_load_value);
    for (int t = 0; t < kTests; ++t) {
        const double peak = ref[t] * (pct0 + pct_step * t) / 100;
        (os ? s.second_high_score_os : s.second_high_score)[row][t] = peak;
        (os ? s.second_low_score_os : s.second_low_score)[row][t] = peak * 0.8;
        (os ? s.std_dev_os : s.std_dev)[row][t] = std0 + std_step * t;
        (os ? s.percent_deviation_os : s.percent_deviation)[row][t] = pdev0 + pdev_step * t;
    }
}

inline void ClearStore() {
    results = ResultStore{};
    graph_view = GraphView{};
}

// A plain run at the 1 MB level: peaks 150 % to 246 % (step 2 of the ladder), standard
// deviations up to 2.9 (divisor 4), percent deviations up to 10.6 with one of exactly 10.5.
inline void PlainStore() {
    ClearStore();
    results.scale_value = 1;
    results.current_cpu_selected = 1;
    StatsRow(1, false, 150, 12, 0.5, 0.3, 1.0, 1.2);
    results.percent_deviation[1][7] = 10.5;
}

// Uniprocessor emulation over processors 0 and 2, showing processor 2 (row 3) while scale_value
// names another row: peaks below 100 % (labels i / 2, bars 2v), deviations at most 2.5 (divisor 8).
inline void UniprocessorStore() {
    ClearStore();
    results.tempuniprocemulation = 1;
    results.temp_num_cpus_selected_for_uniproc = 2;
    results.temp_cpus_selected[0] = results.temp_cpus_selected[2] = 1;
    results.current_cpu_selected = 3;
    results.scale_value = 1;
    StatsRow(1, false, 500, 50, 4.0, 1.0, 6.0, 1.0);
    StatsRow(3, false, 40, 7, 0.2, 0.25, 0.3, 0.2);
    results.std_dev[3][8] = 2.5;
}

// A stepwise scaling run (step 2 on 8 processors) at the 8 MB level, showing all 8: row 8 peaks
// 700 % to 1180 % (step 6), standard deviations up to exactly 5.0 (divisor 4), percent deviations
// up to 5.2 (divisor 2); row 1 has percent deviations past 10.5, which are labelled. With `os`
// the OS pass's row 8 peaks up to 1216 % (step 7) with percent deviations past 10.5.
inline void ScalingStore(bool os) {
    ClearStore();
    results.last_memory_load_value = 3;
    results.scaling_efficiency_showing = 1;
    results.temp_os_checked = os ? 1 : 0;
    results.tested_num_processors = 8;
    results.last_test_mode = 2;
    results.total_scaling_runs = ScalingSteps(8, 2);
    results.scale_value = 8;
    StatsRow(1, false, 150, 12, 0.8, 0.2, 3.0, 1.1);
    for (int row : {2, 4, 6}) StatsRow(row, false, 200 * row, 10, 9.0, 0.0, 9.0, 0.0);
    StatsRow(8, false, 700, 60, 1.0, 0.5, 2.0, 0.4);
    if (os) StatsRow(8, true, 720, 62, 1.2, 0.4, 2.5, 1.5);
    const int rows[] = {1, 2, 4, 6, 8};
    const int32_t totals[] = {400, 780, 1500, 2150, 2700}, totals_os[] = {400, 760, 1420, 2000, 2500};
    const float eff[] = {0.0f, 95.0f, 92.5f, 92.5f, 88.0f}, eff_os[] = {0.0f, 90.0f, 86.8f, 81.7f, 75.0f};
    for (int k = 0; k < 5; ++k) {
        results.TotalCPU[rows[k]] = totals[k];
        results.efficiency[rows[k]] = eff[k];
        if (!os) continue;
        results.TotalCPU_OS[rows[k]] = totals_os[k];
        results.efficiency_os[rows[k]] = eff_os[k];
    }
}

// The reference machine's scores in the same run: every peak at 100 %, one processor scoring 100
// and eight 700 (the OS pass 650), memory, disk and video 100; deviations as there, some of them
// past 10.5.
inline void ReferenceStore() {
    ScalingStore(true);
    StatsRow(1, false, 100, 0, 0.8, 0.2, 3.0, 1.1);
    StatsRow(8, false, 100, 0, 1.0, 0.5, 2.0, 0.4);
    StatsRow(8, true, 100, 0, 1.2, 0.4, 2.5, 1.5);
    const int rows[] = {1, 2, 4, 6, 8};
    const int32_t totals[] = {100, 190, 370, 540, 700}, totals_os[] = {100, 180, 350, 500, 650};
    for (int k = 0; k < 5; ++k) {
        results.TotalCPU[rows[k]] = totals[k];
        results.TotalCPU_OS[rows[k]] = totals_os[k];
    }
    results.TotalMemory = results.TotalDisk[0] = results.TotalVideo = 100;
}

// Today's machine: every score 10^4 times the reference's, and more (peaks 10^6 % to 1.8 x 10^6 %,
// totals 10^6 to 6.75 x 10^6), in a stepwise scaling run with its OS pass.
inline void TenThousandfoldStore() {
    ScalingStore(true);
    StatsRow(1, false, 1e6, 1e5, 0.8, 0.2, 3.0, 1.1);
    StatsRow(8, false, 7e6, 6e5, 1.0, 0.5, 2.0, 0.4);
    StatsRow(8, true, 7.2e6, 6.2e5, 1.2, 0.4, 2.5, 1.5);
    const int rows[] = {1, 2, 4, 6, 8};
    const int32_t totals[] = {1000000, 1950000, 3750000, 5375000, 6750000};
    for (int k = 0; k < 5; ++k) {
        results.TotalCPU[rows[k]] = totals[k];
        results.TotalCPU_OS[rows[k]] = totals[k] / 10 * 9;
    }
    results.TotalMemory = 1458000;
    results.TotalDisk[0] = 180000;
    results.TotalVideo = 500000;
}

}  // namespace kt

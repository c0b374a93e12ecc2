#include "kestrel/engine/run/result_store.h"

#include <algorithm>
#include <cstring>

#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/report/report.h"

ResultStore results;

namespace {

template <typename T, size_t R, size_t C>
void Zero(T (&a)[R][C]) {
    for (auto& row : a) std::fill(std::begin(row), std::end(row), T{});
}

template <typename T, size_t R, size_t C>
void Copy(const T (&from)[R][C], T (&to)[R][C]) {
    for (size_t r = 0; r < R; ++r) std::copy(std::begin(from[r]), std::end(from[r]), std::begin(to[r]));
}

}  // namespace

void SetDefaults() {
    ResultStore& s = results;
    Zero(s.std_dev);
    Zero(s.percent_deviation);
    Zero(s.percent_deviation_of_mean);
    Zero(s.second_high_score);
    Zero(s.second_low_score);
    Zero(s.std_dev_os);
    Zero(s.percent_deviation_os);
    Zero(s.percent_deviation_of_mean_os);
    Zero(s.second_high_score_os);
    Zero(s.second_low_score_os);
    Zero(s.cpu_percentage1);
    Zero(s.cpu_percentage2);
    Zero(s.cpu_interrupts1);
    Zero(s.cpu_interrupts2);
    Zero(s.total_cpu_load_balance1);
    Zero(s.total_cpu_load_balance2);
    for (int r = 0; r < kRows; ++r) {
        s.TotalCPU[r] = 0;
        s.TotalCPU_OS[r] = 0;
        s.TotalDisk[r] = 0;
        s.efficiency[r] = 0;
        s.efficiency_os[r] = 0;
        s.temp_cpus_selected[r] = 0;
        s.tempdata[r] = 0;
        s.cpus_selected[r] = 0;
    }
    s.cpus_selected[0] = 1;

    std::fill(std::begin(pchk.cpu_scores_1), std::end(pchk.cpu_scores_1), 0.0f);
    std::fill(std::begin(pchk.cpu_scores_2), std::end(pchk.cpu_scores_2), 0.0f);

    std::memset(&s.times, 0, sizeof s.times);

    s.TotalVideo = 0;
    s.TotalMemory = 0;
    s.testing_os = 0;
    s.temp_os_checked = 0;
    s.data_from_file = 0;
    s.total_scaling_efficiency = 0;
    s.total_scaling_efficiency_os = 0;
    s.scale_value = 1;
    s.total_scaling_runs = 0;
    s.tested_num_processors = 1;
    s.disks_selected = 1;
    s.current_disk_selected = 0;
    s.uniprocemulation = 0;
    s.tempuniprocemulation = 0;
    s.processor_affinity_start = 1;
    s.num_cpus_selected_for_uniproc = 1;
    s.temp_num_cpus_selected_for_uniproc = 1;
    s.current_cpu_selected = 1;
    s.one_cpu_selected_for_uniproc = 0;

    ClearBottomText();
}

int CopyOStoCPU() {
    ResultStore& s = results;
    std::copy(std::begin(s.TotalCPU), std::end(s.TotalCPU), std::begin(s.TotalCPU_OS));
    std::copy(std::begin(s.efficiency), std::end(s.efficiency), std::begin(s.efficiency_os));
    Copy(s.std_dev, s.std_dev_os);
    Copy(s.second_high_score, s.second_high_score_os);
    Copy(s.second_low_score, s.second_low_score_os);
    Copy(s.percent_deviation, s.percent_deviation_os);
    Copy(s.percent_deviation_of_mean, s.percent_deviation_of_mean_os);
    return 0;
}

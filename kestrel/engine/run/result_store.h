// The result store: the numbers of the current run or of the benchmark file last loaded.
//
// Rows 0 to 32 are processor counts of a processor-test run (row 0 is never written by a run);
// tests 0 to 8 are the nine processor tests in their fixed order; processors 0 to 32 are 0-based;
// drives 0 to 25 are the drives of the disk test.
#pragma once

#include <cstdint>

#include "shared/records.h"

inline constexpr int kRows = 33;
inline constexpr int kTests = 9;
inline constexpr int kDrives = 26;

struct ResultStore {
    // Scores and statistics of the processor test, and their twins of the operating-system pass.
    int32_t TotalCPU[kRows] = {};
    double std_dev[kRows][kTests] = {};
    double percent_deviation[kRows][kTests] = {};
    double percent_deviation_of_mean[kRows][kTests] = {};
    double second_high_score[kRows][kTests] = {};
    double second_low_score[kRows][kTests] = {};
    int32_t TotalCPU_OS[kRows] = {};
    double std_dev_os[kRows][kTests] = {};
    double percent_deviation_os[kRows][kTests] = {};
    double percent_deviation_of_mean_os[kRows][kTests] = {};
    double second_high_score_os[kRows][kTests] = {};
    double second_low_score_os[kRows][kTests] = {};
    float efficiency[kRows] = {};
    float efficiency_os[kRows] = {};
    float total_scaling_efficiency = 0;
    float total_scaling_efficiency_os = 0;

    // Processor load during the processor test: 1 the OS pass, 2 the system pass.
    float cpu_percentage1[kRows][kTests] = {};   // [processor][test]
    float cpu_percentage2[kRows][kTests] = {};
    float cpu_interrupts1[kRows][kTests] = {};
    float cpu_interrupts2[kRows][kTests] = {};
    float total_cpu_load_balance1[kRows][kRows] = {};  // [row][processor]
    float total_cpu_load_balance2[kRows][kRows] = {};

    // Scores of the other tests.
    int32_t TotalDisk[kRows] = {};  // per drive, entries 0 to 25 used
    int32_t TotalMemory = 0;
    int32_t TotalVideo = 0;
    int32_t global_block_size_for_graphs = 0;
    char global_drive_filebuffer[kDrives][256] = {};
    int32_t disks_selected = 0;
    int32_t current_disk_selected = 0;
    int32_t last_memory_load_value = 0;  // memory level 0..6 of the run or file
    TIMES times = {};

    // Run state of the processor test.
    int32_t scale_value = 0;
    int32_t total_scaling_runs = 0;
    int32_t tested_num_processors = 0;
    int32_t testing_os = 0;
    int32_t temp_os_checked = 0;
    int32_t scaling_efficiency_showing = 0;
    int32_t last_test_mode = 0;  // the processor step of the last stepwise scaling run
    int32_t uniprocemulation = 0;
    int32_t tempuniprocemulation = 0;
    int32_t cpus_selected[kRows] = {};
    int32_t temp_cpus_selected[kRows] = {};
    int32_t tempdata[kRows] = {};
    int32_t num_cpus_selected_for_uniproc = 0;
    int32_t temp_num_cpus_selected_for_uniproc = 0;
    int32_t current_cpu_selected = 0;
    int32_t one_cpu_selected_for_uniproc = 0;
    int32_t processor_affinity_start = 0;
    int32_t data_from_file = 0;
};

extern ResultStore results;

// Resets the store to its empty state (also the analyser record's per-processor replies and the
// bottom-text counters). The memory level, the scaling flag, the block size of the graphs, the
// drive descriptions and the report lines are left alone.
void SetDefaults();
// Copies the system-pass scores and statistics of every row into the OS-pass arrays. Result 0.
int CopyOStoCPU();

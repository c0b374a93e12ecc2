// The result store's reset and the copy of the system pass into the OS-pass arrays.
#include <gtest/gtest.h>

#include <cstring>

#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/result_store.h"

namespace {

void Scribble() {
    ResultStore& s = results;
    for (int r = 0; r < kRows; ++r) {
        s.TotalCPU[r] = 100 + r;
        s.TotalDisk[r] = 7;
        s.efficiency[r] = float(r) / 2;
        s.cpus_selected[r] = 1;
        s.temp_cpus_selected[r] = 1;
        s.tempdata[r] = 1;
        for (int t = 0; t < kTests; ++t) {
            s.std_dev[r][t] = r + t / 10.0;
            s.percent_deviation[r][t] = 2 * r + t;
            s.percent_deviation_of_mean[r][t] = 3 * r + t;
            s.second_high_score[r][t] = 4 * r + t;
            s.second_low_score[r][t] = 5 * r + t;
            s.std_dev_os[r][t] = -1;
            s.cpu_percentage1[r][t] = 50;
            s.cpu_interrupts2[r][t] = 60;
        }
        for (int p = 0; p < kRows; ++p) s.total_cpu_load_balance1[r][p] = 9 + p;
    }
    s.times.elapsed1 = 5.0;
    s.times.install_directory[0] = 'x';
    s.last_memory_load_value = 5;
    s.scaling_efficiency_showing = 1;
    s.global_block_size_for_graphs = 4096;
    std::strcpy(s.global_drive_filebuffer[2], "C: disk");
    s.uniprocemulation = 1;
    s.scale_value = 8;
    s.TotalMemory = 3;
    s.TotalVideo = 4;
    pchk.cpu_scores_1[31] = 1.5f;
    pchk.cpu_scores_2[0] = 2.5f;
    pchk.score[0] = 3.5f;
    report.text_cpu_line = {"a", "b"};
    report.num_text_lines = 2;
    report.temp_text_lines = 1;
}

TEST(ResultStore, SetDefaultsEmptiesScoresAndChoosesTheFirstProcessor) {
    Scribble();
    SetDefaults();
    const ResultStore& s = results;
    for (int r = 0; r < kRows; ++r) {
        EXPECT_EQ(s.TotalCPU[r], 0);
        EXPECT_EQ(s.TotalDisk[r], 0);
        EXPECT_EQ(s.efficiency[r], 0.0f);
        EXPECT_EQ(s.cpus_selected[r], r == 0 ? 1 : 0);
        EXPECT_EQ(s.temp_cpus_selected[r], 0);
        EXPECT_EQ(s.tempdata[r], 0);
        for (int t = 0; t < kTests; ++t) {
            EXPECT_EQ(s.std_dev[r][t], 0.0);
            EXPECT_EQ(s.second_low_score[r][t], 0.0);
            EXPECT_EQ(s.std_dev_os[r][t], 0.0);
            EXPECT_EQ(s.cpu_percentage1[r][t], 0.0f);
            EXPECT_EQ(s.cpu_interrupts2[r][t], 0.0f);
        }
        for (int p = 0; p < kRows; ++p) EXPECT_EQ(s.total_cpu_load_balance1[r][p], 0.0f);
    }
    EXPECT_EQ(s.num_cpus_selected_for_uniproc, 1);
    EXPECT_EQ(s.temp_num_cpus_selected_for_uniproc, 1);
    EXPECT_EQ(s.current_cpu_selected, 1);
    EXPECT_EQ(s.processor_affinity_start, 1);
    EXPECT_EQ(s.scale_value, 1);
    EXPECT_EQ(s.tested_num_processors, 1);
    EXPECT_EQ(s.disks_selected, 1);
    EXPECT_EQ(s.uniprocemulation, 0);
    EXPECT_EQ(s.TotalMemory, 0);
    EXPECT_EQ(s.TotalVideo, 0);
    // The whole video record is zero bytes.
    const auto* bytes = reinterpret_cast<const unsigned char*>(&s.times);
    for (size_t i = 0; i < sizeof s.times; ++i) ASSERT_EQ(bytes[i], 0) << i;
    // The analyser's per-processor replies are cleared, its other fields are not.
    EXPECT_EQ(pchk.cpu_scores_1[31], 0.0f);
    EXPECT_EQ(pchk.cpu_scores_2[0], 0.0f);
    EXPECT_EQ(pchk.score[0], 3.5f);
    EXPECT_EQ(report.num_text_lines, 0);
    EXPECT_EQ(report.temp_text_lines, 0);
}

TEST(ResultStore, SetDefaultsLeavesLevelScalingFlagBlockSizeAndDrives) {
    Scribble();
    SetDefaults();
    EXPECT_EQ(results.last_memory_load_value, 5);
    EXPECT_EQ(results.scaling_efficiency_showing, 1);
    EXPECT_EQ(results.global_block_size_for_graphs, 4096);
    EXPECT_STREQ(results.global_drive_filebuffer[2], "C: disk");
}

TEST(ResultStore, CopyOStoCPUCopiesEveryRowButNotTheLoads) {
    SetDefaults();
    Scribble();
    const ResultStore before = results;
    EXPECT_EQ(CopyOStoCPU(), 0);
    const ResultStore& s = results;
    for (int r = 0; r < kRows; ++r) {
        EXPECT_EQ(s.TotalCPU_OS[r], s.TotalCPU[r]) << r;
        EXPECT_EQ(s.efficiency_os[r], s.efficiency[r]) << r;
        for (int t = 0; t < kTests; ++t) {
            EXPECT_EQ(s.std_dev_os[r][t], s.std_dev[r][t]);
            EXPECT_EQ(s.percent_deviation_os[r][t], s.percent_deviation[r][t]);
            EXPECT_EQ(s.percent_deviation_of_mean_os[r][t], s.percent_deviation_of_mean[r][t]);
            EXPECT_EQ(s.second_high_score_os[r][t], s.second_high_score[r][t]);
            EXPECT_EQ(s.second_low_score_os[r][t], s.second_low_score[r][t]);
        }
    }
    EXPECT_EQ(s.TotalCPU_OS[0], 100);  // row 0 too
    // The load arrays have their own forms for each pass: untouched.
    EXPECT_EQ(std::memcmp(s.cpu_percentage1, before.cpu_percentage1, sizeof s.cpu_percentage1), 0);
    EXPECT_EQ(std::memcmp(s.cpu_percentage2, before.cpu_percentage2, sizeof s.cpu_percentage2), 0);
    EXPECT_EQ(std::memcmp(s.cpu_interrupts1, before.cpu_interrupts1, sizeof s.cpu_interrupts1), 0);
    EXPECT_EQ(std::memcmp(s.cpu_interrupts2, before.cpu_interrupts2, sizeof s.cpu_interrupts2), 0);
    EXPECT_EQ(std::memcmp(s.total_cpu_load_balance1, before.total_cpu_load_balance1,
                          sizeof s.total_cpu_load_balance1), 0);
    // Scores and statistics of the system pass stay as they were.
    EXPECT_EQ(std::memcmp(s.std_dev, before.std_dev, sizeof s.std_dev), 0);
    EXPECT_EQ(std::memcmp(s.TotalCPU, before.TotalCPU, sizeof s.TotalCPU), 0);
}

}  // namespace

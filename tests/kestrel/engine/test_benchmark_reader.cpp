// The benchmark file reader on hand-written reports of every kind of run (the fuzz corpus), on
// refused, truncated and hostile files.
//
// The scaling and uniprocessor samples carry, for a group of base b (the row, plus 40 in the
// system pass of an OS scaling file) and test k: standard deviation b/10 + k/100, peak 100b + k,
// trough 100b - k, score 10b + k + 1 and a processor total of 1000 + b.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "kestrel/engine/report/benchmark_reader.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/report/report_tables.h"
#include "kestrel/engine/run/result_store.h"
#include "platform/msgbox.h"
#include "platform/ui_thread.h"
#include "tests/support/data_size_limit.h"
#include "tests/support/isolation.h"
#include "tests/support/recording_host.h"

namespace {

using Fractions = std::vector<double>;

std::string Corpus(const std::string& name) { return kt::ReadFile(std::string(KESTREL_CORPUS_DIR) + "/" + name); }

// Every occurrence replaced; the text must hold at least one.
std::string Replace(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    for (; at != std::string::npos; at = text.find(from, at + to.size())) text.replace(at, from.size(), to);
    return text;
}

std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) text += l + "\r\n";
    return text;
}

template <typename... Args>
std::string Format(const char* format, Args... args) {
    char line[512];
    std::snprintf(line, sizeof line, format, args...);
    return line;
}

// The smallest report the reader takes: a version line and one described disk.
const std::string kHeader = Lines({"Kestrel System Level Benchmark ver. 1.21 (12/96)", "",
                                   "Hard Drive Info logical Disk 0 (/): ",
                                   "Drive Name:  Disk; Type:  Fast SCSI II",
                                   "Local Bus Adapter Name/Type:  NVMe", "", "", "",
                                   "Memory Load:  1 MB (Default)"});

const double kRef4MB[9] = {73203932.0, 479.39, 10900.0, 5.04, 5.64, 165.94, 0.33214, 16.78, 45.05};

const Fractions kPlainSteps = {0, .05, .08, .15, .18, .24, .30, .40, .50, .60, .70, .75, .80, .85, .90, 1};

class Reader : public ::testing::Test {
protected:
    void SetUp() override {
        kp::MarkUiThread();
        results = ResultStore{};
    }
    // Parses the text with a fresh record of boxes and progress.
    void Parse(const std::string& text) {
        boxes.Clear();
        host.progress.clear();
        host.progress_opened.clear();
        host.progress_closes = 0;
        // An exact-size copy: nothing after the text to lean on.
        std::vector<char> bytes(text.begin(), text.end());
        DoDataSearch(bytes.data(), bytes.size());
    }
    void ExpectParsed() {
        EXPECT_TRUE(boxes.boxes().empty());
        EXPECT_EQ(results.data_from_file, 1);
        EXPECT_EQ(host.progress_opened, std::vector<std::string>{"Processing Data ..."});
        EXPECT_FALSE(host.progress_open);
    }
    void ExpectRefused(const std::string& text) {
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, text);
        EXPECT_EQ(boxes.boxes()[0].caption, "File Exception");
        EXPECT_EQ(boxes.boxes()[0].icon, kp::Icon::Exclamation);
        EXPECT_EQ(boxes.boxes()[0].owner, kp::Owner::Progress);
        EXPECT_EQ(results.data_from_file, 0);
        EXPECT_FALSE(host.progress_open);
        EXPECT_EQ(host.progress_closes, 1);
    }
    void ExpectProgress(const Fractions& steps) {
        ASSERT_EQ(host.progress.size(), steps.size());
        for (size_t i = 0; i < steps.size(); ++i) EXPECT_NEAR(host.progress[i], steps[i], 1e-9) << i;
    }
    kt::RecordingHost host;
    kp::BoxRecorder boxes;
};

// A row of the processor arrays (or their OS twins) as a sample group of base b left it.
void ExpectRow(int row, int b, const double* reference, bool os = false) {
    SCOPED_TRACE("row " + std::to_string(row));
    const ResultStore& s = results;
    EXPECT_EQ(os ? s.TotalCPU_OS[row] : s.TotalCPU[row], 1000 + b);
    for (int k = 0; k < kTests; ++k) {
        const double sd = b * 0.1 + k * 0.01;
        EXPECT_NEAR(os ? s.std_dev_os[row][k] : s.std_dev[row][k], sd, 1e-9);
        EXPECT_DOUBLE_EQ(os ? s.second_high_score_os[row][k] : s.second_high_score[row][k],
                         (100 * b + k) * reference[k] * 0.01);
        EXPECT_DOUBLE_EQ(os ? s.second_low_score_os[row][k] : s.second_low_score[row][k],
                         (100 * b - k) * reference[k] * 0.01);
        EXPECT_NEAR(os ? s.percent_deviation_os[row][k] : s.percent_deviation[row][k],
                    sd / (10 * b + k + 1) * 100, 1e-9);
    }
}

void ExpectEmptyRow(int row, bool os = false) {
    SCOPED_TRACE("empty row " + std::to_string(row));
    const ResultStore& s = results;
    EXPECT_EQ(os ? s.TotalCPU_OS[row] : s.TotalCPU[row], 0);
    for (int k = 0; k < kTests; ++k) {
        EXPECT_EQ(os ? s.std_dev_os[row][k] : s.std_dev[row][k], 0);
        EXPECT_EQ(os ? s.second_high_score_os[row][k] : s.second_high_score[row][k], 0);
        EXPECT_EQ(os ? s.percent_deviation_os[row][k] : s.percent_deviation[row][k], 0);
    }
}

// Every row but the listed ones is empty.
void ExpectOnlyRows(const std::vector<int>& rows, bool os = false) {
    for (int r = 0; r < kRows; ++r)
        if (std::find(rows.begin(), rows.end(), r) == rows.end()) ExpectEmptyRow(r, os);
}

// ---- Every kind of run ----

TEST_F(Reader, PlainRunFillsRowOneAndEveryArea) {
    Parse(Corpus("plain.bmf"));
    ExpectParsed();
    ExpectProgress(kPlainSteps);
    const ResultStore& s = results;
    EXPECT_EQ(s.last_memory_load_value, 2);
    EXPECT_EQ(s.TotalCPU[1], 1834);
    const double sd[9] = {1.23, 12.34, 123.45, 0.87, 2.5, 0.05, 3.14, 9.99, 10.01};
    const double peak[9] = {1702, 1950, 2210, 340, 410, 1210, 980, 1500, 1720};
    const double trough[9] = {1671, 1801, 2105, 320, 395, 1190, 950, 1490, 1700};
    const double score[9] = {1686, 1879, 2150, 330, 402, 1200, 965, 1495, 1710};
    for (int k = 0; k < kTests; ++k) {
        EXPECT_DOUBLE_EQ(s.std_dev[1][k], sd[k]) << k;
        EXPECT_DOUBLE_EQ(s.second_high_score[1][k], peak[k] * kRef4MB[k] * 0.01) << k;
        EXPECT_DOUBLE_EQ(s.second_low_score[1][k], trough[k] * kRef4MB[k] * 0.01) << k;
        EXPECT_DOUBLE_EQ(s.percent_deviation[1][k], sd[k] / score[k] * 100) << k;
    }
    ExpectOnlyRows({1});
    EXPECT_EQ(s.TotalMemory, 60119);
    EXPECT_EQ(s.global_block_size_for_graphs, 4096);
    EXPECT_EQ(s.disks_selected, 2);
    EXPECT_STREQ(s.global_drive_filebuffer[0], "Local Disk Drive /");
    EXPECT_STREQ(s.global_drive_filebuffer[1], "Local Disk Drive /home");
    EXPECT_EQ(s.TotalDisk[0], 23078);
    EXPECT_EQ(s.TotalDisk[1], 18321);
    EXPECT_EQ(s.TotalDisk[2], 0);
    EXPECT_EQ(s.TotalVideo, 4033);
    EXPECT_EQ(s.scaling_efficiency_showing, 0);
    EXPECT_EQ(s.temp_os_checked, 0);
    EXPECT_EQ(s.tempuniprocemulation, 0);
    EXPECT_EQ(s.total_scaling_runs, 0);
    EXPECT_EQ(s.scale_value, 1);
    EXPECT_EQ(s.tested_num_processors, 1);
}

// A deviation is read as the whole number written, whatever its width.
TEST_F(Reader, DeviationsAreReadWhole) {
    const struct {
        const char* written;
        double read;
    } cases[] = {{"1.23", 1.23}, {"12.34", 12.34}, {"123.45", 123.45}, {"12345.67", 12345.67}, {"109.88", 109.88}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        Parse(Replace(Corpus("plain.bmf"), "deviation:  1.23;", std::string("deviation:  ") + c.written + ";"));
        ExpectParsed();
        EXPECT_DOUBLE_EQ(results.std_dev[1][0], c.read);
        EXPECT_DOUBLE_EQ(results.percent_deviation[1][0], c.read / 1686 * 100);
        EXPECT_DOUBLE_EQ(results.second_high_score[1][0], 1702 * kRef4MB[0] * 0.01);
    }
}

// The line a run writes where its counters were no longer measured (in the video part also after
// a test that kept its readings) stands among the values the reader takes and changes none of
// them.
TEST_F(Reader, TheLineOfALostAnalyserChangesNothingRead) {
    const std::string line = "Performance data not measured from this test on: the connection with Loadmeter was broken.";
    Parse(Corpus("plain.bmf"));
    const auto plain = std::make_unique<ResultStore>(results);
    for (const char* before : {"test 3.) MegaFlops", "test 1.) Figure Drawing", "test 2.) Animation", "Total Disk Score:  23078"}) {
        SCOPED_TRACE(before);
        results = ResultStore{};
        const std::string at = std::string("\r\n") + before;
        Parse(Replace(Corpus("plain.bmf"), at, "\r\n" + line + "\r\n" + at.substr(2)));
        ExpectParsed();
        const ResultStore& a = results;
        const ResultStore& b = *plain;
        EXPECT_EQ(std::memcmp(a.std_dev, b.std_dev, sizeof a.std_dev), 0);
        EXPECT_EQ(std::memcmp(a.second_high_score, b.second_high_score, sizeof a.second_high_score), 0);
        EXPECT_EQ(std::memcmp(a.second_low_score, b.second_low_score, sizeof a.second_low_score), 0);
        EXPECT_EQ(std::memcmp(a.percent_deviation, b.percent_deviation, sizeof a.percent_deviation), 0);
        EXPECT_EQ(std::memcmp(a.TotalCPU, b.TotalCPU, sizeof a.TotalCPU), 0);
        EXPECT_EQ(std::memcmp(a.TotalDisk, b.TotalDisk, sizeof a.TotalDisk), 0);
        EXPECT_EQ(std::memcmp(a.global_drive_filebuffer, b.global_drive_filebuffer, sizeof a.global_drive_filebuffer), 0);
        EXPECT_EQ(a.TotalMemory, b.TotalMemory);
        EXPECT_EQ(a.TotalVideo, b.TotalVideo);
    }
}

TEST_F(Reader, UniprocessorRunFillsTheRowsOfTheProcessorsTested) {
    Parse(Corpus("uniproc.bmf"));
    ExpectParsed();
    ExpectProgress({0, .05, .08, .15, .18, .24, .30, .37, .44, .51, .58, .70, .75, .80, .85, .90, 1});
    const ResultStore& s = results;
    EXPECT_EQ(s.last_memory_load_value, 6);
    EXPECT_EQ(s.tempuniprocemulation, 1);
    EXPECT_EQ(s.temp_num_cpus_selected_for_uniproc, 2);
    EXPECT_EQ(s.tempdata[0], 2);
    EXPECT_EQ(s.tempdata[1], 4);
    EXPECT_EQ(s.tempdata[2], 0);
    for (int p = 0; p < kRows; ++p) EXPECT_EQ(s.temp_cpus_selected[p], p == 1 || p == 3 ? 1 : 0) << p;
    ExpectRow(2, 2, bindex_64meg);
    ExpectRow(4, 4, bindex_64meg);
    ExpectOnlyRows({2, 4});
    EXPECT_EQ(s.TotalMemory, 60119);
    EXPECT_EQ(s.scaling_efficiency_showing, 0);
    EXPECT_EQ(s.total_scaling_runs, 0);
}

TEST_F(Reader, TwoPassScalingFillsRowOneAndTheAllProcessorRow) {
    Parse(Corpus("twopass.bmf"));
    ExpectParsed();
    ExpectProgress({0, .05, .08, .15, .18, .24, .30, .35, .40, .45, .50, .55, .60, .65, .70, .75, .80, .88, 1});
    const ResultStore& s = results;
    EXPECT_EQ(s.scaling_efficiency_showing, 1);
    EXPECT_EQ(s.temp_os_checked, 0);
    EXPECT_EQ(s.tested_num_processors, 4);
    EXPECT_EQ(s.last_test_mode, 0);
    EXPECT_EQ(s.total_scaling_runs, 1);
    EXPECT_EQ(s.scale_value, 4);
    ExpectRow(1, 1, bindex_1meg);
    ExpectRow(4, 4, bindex_1meg);
    ExpectOnlyRows({1, 4});
    for (int r = 0; r < kRows; ++r) EXPECT_EQ(s.efficiency[r], 0.0f);
}

TEST_F(Reader, TwoPassOSScalingFillsBothPasses) {
    Parse(Corpus("twopass_os.bmf"));
    ExpectParsed();
    ExpectProgress({0, .05, .08, .15, .20, .24, .30, .33, .36, .39, .42, .45, .48, .51, .54, .57,
                    .60, .63, .66, .69, .72, .75, .78, .81, .84, .91, 1});
    const ResultStore& s = results;
    EXPECT_EQ(s.scaling_efficiency_showing, 1);
    EXPECT_EQ(s.temp_os_checked, 1);
    EXPECT_EQ(s.total_scaling_runs, 1);
    EXPECT_EQ(s.scale_value, 4);
    ExpectRow(1, 1, bindex_2meg, true);
    ExpectRow(4, 4, bindex_2meg, true);
    ExpectOnlyRows({1, 4}, true);
    // Row 1 keeps the OS pass's one-processor run; the system pass measured row 4 alone.
    ExpectRow(1, 1, bindex_2meg);
    ExpectRow(4, 44, bindex_2meg);
    ExpectOnlyRows({1, 4});
}

TEST_F(Reader, StepwiseScalingFillsTheStepsRows) {
    Parse(Corpus("stepwise.bmf"));
    ExpectParsed();
    const ResultStore& s = results;
    EXPECT_EQ(s.last_memory_load_value, 3);
    EXPECT_EQ(s.tested_num_processors, 8);
    EXPECT_EQ(s.last_test_mode, 3);
    EXPECT_EQ(s.total_scaling_runs, 2);
    EXPECT_EQ(s.scale_value, 4);
    for (int r : {1, 3, 6}) ExpectRow(r, r, bindex_8meg);
    ExpectOnlyRows({1, 3, 6});
    for (int r = 0; r < kRows; ++r)
        EXPECT_EQ(s.efficiency[r], r == 3 ? 3.7f : r == 6 ? 6.7f : 0.0f) << r;
    // The areas after the processor part.
    EXPECT_EQ(s.TotalMemory, 60119);
    EXPECT_EQ(s.global_block_size_for_graphs, 8192);
    EXPECT_EQ(s.disks_selected, 2);
    EXPECT_EQ(s.TotalDisk[1], 18321);
}

TEST_F(Reader, StepwiseValueOneFillsEveryRow) {
    Parse(Corpus("stepwise1.bmf"));
    ExpectParsed();
    const ResultStore& s = results;
    EXPECT_EQ(s.last_memory_load_value, 5);
    EXPECT_EQ(s.total_scaling_runs, 3);
    EXPECT_EQ(s.scale_value, 2);
    for (int r : {1, 2, 3, 4}) ExpectRow(r, r, bindex_32meg);
    ExpectOnlyRows({1, 2, 3, 4});
    for (int r = 0; r < kRows; ++r)
        EXPECT_EQ(s.efficiency[r], r >= 2 && r <= 4 ? float(r + 0.7) : 0.0f) << r;
}

TEST_F(Reader, StepwiseOSScalingPutsTheSystemPassInTheRowsItMeasured) {
    Parse(Corpus("stepwise_os.bmf"));
    ExpectParsed();
    const ResultStore& s = results;
    EXPECT_EQ(s.temp_os_checked, 1);
    EXPECT_EQ(s.tested_num_processors, 9);
    EXPECT_EQ(s.total_scaling_runs, 3);
    EXPECT_EQ(s.scale_value, 4);
    for (int r : {1, 3, 6, 9}) ExpectRow(r, r, bindex_1meg, true);
    ExpectOnlyRows({1, 3, 6, 9}, true);
    ExpectRow(1, 1, bindex_1meg);
    for (int r : {3, 6, 9}) ExpectRow(r, r + 40, bindex_1meg);
    ExpectOnlyRows({1, 3, 6, 9});
    for (int r = 0; r < kRows; ++r) {
        const bool step = r == 3 || r == 6 || r == 9;
        EXPECT_EQ(s.efficiency_os[r], step ? float(r + 0.3) : 0.0f) << r;
        EXPECT_EQ(s.efficiency[r], step ? float(r + 0.7) : 0.0f) << r;
    }
}

TEST_F(Reader, MemoryAndDiskOnlyRun) {
    results.global_block_size_for_graphs = 512;
    Parse(Corpus("memdisk.bmf"));
    ExpectParsed();
    ExpectProgress(kPlainSteps);
    const ResultStore& s = results;
    EXPECT_EQ(s.last_memory_load_value, 4);
    EXPECT_EQ(s.TotalMemory, 60119);
    EXPECT_EQ(s.global_block_size_for_graphs, 16384);
    EXPECT_EQ(s.disks_selected, 3);
    EXPECT_STREQ(s.global_drive_filebuffer[0], "Local Disk Drive /");
    EXPECT_STREQ(s.global_drive_filebuffer[1], "Remote Disk Drive /mnt/share");
    EXPECT_STREQ(s.global_drive_filebuffer[2], "Removable Disk Drive /media/usb");
    EXPECT_EQ(s.TotalDisk[0], 23078);
    EXPECT_EQ(s.TotalDisk[1], 912);
    EXPECT_EQ(s.TotalDisk[2], 305);
    EXPECT_EQ(s.TotalVideo, 0);
    // Fewer than nine "Score:" labels: no percent deviations.
    ExpectOnlyRows({});
}

TEST_F(Reader, LinesWrittenWithTheSharedFormatsReadBack) {
    std::vector<std::string> lines = {Format(kVersionLine, kKestrelVersion, kKestrelBuildDate),
                                      Format(kAdapterLine, "SCSI"),
                                      Format(kMemoryLoadLine, memory_load_names[5])};
    for (int k = 0; k < kTests; ++k) {
        lines.push_back(Format(kScoreLines[k], k + 1, 1.5, long(200 + k)));
        lines.push_back(Format(kStatsLine, k + 1, 0.5 + k, long(210 + k), long(190 + k)));
    }
    lines.push_back(Format(kTotalProcessorLine, 205, 204, 206));
    lines.push_back(Format(kTotalMemoryLine, 77L));
    lines.push_back(Format(kDrivesTestedLine, 1));
    lines.push_back(Format(kBlocksizeLine, 2048));
    lines.push_back(Format(kDriveLines[0][3], "/media/net"));
    lines.push_back(Format(kTotalDiskLine, 88L));
    lines.push_back(Format(kTotalVideoLine, 99L));
    Parse(Lines(lines));
    ExpectParsed();
    const ResultStore& s = results;
    EXPECT_EQ(s.last_memory_load_value, 5);
    EXPECT_EQ(s.TotalCPU[1], 205);
    for (int k = 0; k < kTests; ++k) {
        EXPECT_DOUBLE_EQ(s.std_dev[1][k], 0.5 + k);
        EXPECT_DOUBLE_EQ(s.second_high_score[1][k], (210 + k) * bindex_32meg[k] * 0.01);
        EXPECT_DOUBLE_EQ(s.second_low_score[1][k], (190 + k) * bindex_32meg[k] * 0.01);
        EXPECT_DOUBLE_EQ(s.percent_deviation[1][k], (0.5 + k) / (200 + k) * 100);
    }
    EXPECT_EQ(s.TotalMemory, 77);
    EXPECT_EQ(s.global_block_size_for_graphs, 2048);
    EXPECT_STREQ(s.global_drive_filebuffer[0], "Remote, Removable Disk Drive /media/net");
    EXPECT_EQ(s.TotalDisk[0], 88);
    EXPECT_EQ(s.TotalVideo, 99);
}

TEST_F(Reader, ScalingLinesWrittenWithTheSharedFormatsReadBack) {
    std::string text = kHeader + Lines({kScalingStepwiseLine, Format(kProcessorsLine, 4, 2)});
    for (int row : {1, 2, 4}) {
        if (row > 1) text += Lines({Format(kSystemEfficiencyLine, row / 2, row, 10.0 * row)});
        text += Lines({Format(kTotalProcessorLine, 300 + row, 0, 0)});
    }
    Parse(text);
    ExpectParsed();
    EXPECT_EQ(results.total_scaling_runs, 2);
    EXPECT_EQ(results.TotalCPU[1], 301);
    EXPECT_EQ(results.TotalCPU[2], 302);
    EXPECT_EQ(results.TotalCPU[4], 304);
    EXPECT_EQ(results.efficiency[2], 20.0f);
    EXPECT_EQ(results.efficiency[4], 40.0f);
}

TEST_F(Reader, EveryMemoryLoadNameGivesItsLevel) {
    for (int level = 0; level < kMemoryLevels; ++level) {
        results.last_memory_load_value = -1;
        Parse(Replace(kHeader, "1 MB (Default)", memory_load_names[level]));
        EXPECT_EQ(results.last_memory_load_value, level) << memory_load_names[level];
    }
}

// ---- Memory level, OVERALL SCORE, drives ----

TEST_F(Reader, AnUnknownMemorySizeKeepsTheLevelTheCallerSet) {
    const std::string text = Replace(Corpus("plain.bmf"), "4 MB (High End Workstation)", "3 MB (Odd Machine)");
    results.last_memory_load_value = 5;
    Parse(text);
    ExpectParsed();
    EXPECT_EQ(results.last_memory_load_value, 5);
    EXPECT_DOUBLE_EQ(results.second_high_score[1][1], 1950 * bindex_32meg[1] * 0.01);
    // A level outside the table takes the reference row of the nearest level, as the runner does.
    results.last_memory_load_value = 9;
    Parse(text);
    EXPECT_EQ(results.last_memory_load_value, 9);
    EXPECT_DOUBLE_EQ(results.second_high_score[1][0], 1702 * bindex_64meg[0] * 0.01);
    EXPECT_DOUBLE_EQ(results.second_low_score[1][8], 1700 * bindex_64meg[8] * 0.01);
}

TEST_F(Reader, WithoutProcessorTotalsTheOverallScoreIsRead) {
    Parse(Replace(Corpus("plain.bmf"), "Total Processor Score:", "OVERALL SCORE:"));
    ExpectParsed();
    EXPECT_EQ(results.TotalCPU[1], 1834);
    // The nine test scores are still the first nine "Score:" labels.
    EXPECT_DOUBLE_EQ(results.percent_deviation[1][8], 10.01 / 1710 * 100);
}

TEST_F(Reader, ThirtyDrivesGiveTwentySixDescriptionsAndScores) {
    std::vector<std::string> lines = {Format(kDrivesTestedLine, 30)};
    for (int d = 0; d < 30; ++d) {
        lines.push_back(Format(kDriveLines[1][0], ("/d" + std::to_string(d)).c_str()));
        lines.push_back(Format(kTotalDiskLine, long(100 + d)));
    }
    Parse(kHeader + Lines(lines));
    ExpectParsed();
    EXPECT_EQ(results.disks_selected, 30);
    for (int d = 0; d < kDrives; ++d) {
        EXPECT_EQ(results.global_drive_filebuffer[d], "Local Disk Drive /d" + std::to_string(d));
        EXPECT_EQ(results.TotalDisk[d], 100 + d);
    }
    for (int d = kDrives; d < kRows; ++d) EXPECT_EQ(results.TotalDisk[d], 0);
}

// A drive the file does not describe has no description, not that of a file read before.
TEST_F(Reader, WithoutADriveCountOneDriveIsRead) {
    std::strcpy(results.global_drive_filebuffer[1], "old");
    Parse(Replace(Corpus("memdisk.bmf"), "Number of drives being tested:  3", ""));
    ExpectParsed();
    EXPECT_EQ(results.disks_selected, 1);
    EXPECT_EQ(results.TotalDisk[0], 23078);
    EXPECT_EQ(results.TotalDisk[1], 0);
    EXPECT_STREQ(results.global_drive_filebuffer[1], "");
}

// ---- Refused files ----

TEST_F(Reader, VersionOnePointTwentyIsAccepted) {
    Parse(Replace(Corpus("plain.bmf"), "ver. 1.21", "ver. 1.20"));
    ExpectParsed();
    EXPECT_EQ(results.TotalCPU[1], 1834);
}

TEST_F(Reader, VersionOnePointNineteenIsRefused) {
    Parse(Replace(Corpus("plain.bmf"), "ver. 1.21", "ver. 1.19"));
    ExpectRefused("File version is pre-1.20!  Cannot parse data.");
    EXPECT_EQ(results.TotalCPU[1], 0);
    ExpectProgress({0, .05, .08});
}

TEST_F(Reader, AReportWithoutAVersionLineIsRefused) {
    Parse(Replace(Corpus("plain.bmf"), "Kestrel System Level Benchmark ver.", "Kestrel System Level Benchmark"));
    ExpectRefused("File version is pre-1.20!  Cannot parse data.");
}

TEST_F(Reader, AReportThatDescribesNoDiskIsRefusedAsCorrupt) {
    Parse(Replace(Corpus("memdisk.bmf"), "Name/Type:", "Name:"));
    ExpectRefused("Database file is corrupt!  Cannot parse data");
    ExpectProgress({0});
    Parse("");
    ExpectRefused("Database file is corrupt!  Cannot parse data");
}

TEST_F(Reader, AnOSFileWithoutItsSystemPassIsRefusedAfterTheOSPass) {
    Parse(Replace(Corpus("stepwise_os.bmf"), "Starting System Scaling SMP Tests", "Starting System Tests"));
    ExpectRefused("Database file is either corrupt or pre-version 1.20!  Cannot parse data");
    // What the OS pass gave stays.
    ExpectRow(9, 9, bindex_1meg, true);
}

TEST_F(Reader, AnOpenProgressWindowIsUsedAndClosed) {
    host.progress_open = true;  // e.g. the window of a run
    Parse(Corpus("twopass.bmf"));
    EXPECT_TRUE(host.progress_opened.empty());
    EXPECT_FALSE(host.progress_open);
    EXPECT_EQ(results.data_from_file, 1);
}

// ---- Truncated and hostile files ----

TEST_F(Reader, AGroupCutShortKeepsWhatWasRead) {
    const std::string text = Corpus("plain.bmf");
    Parse(text.substr(0, text.find("test 5.) Filters")));
    ExpectParsed();
    EXPECT_DOUBLE_EQ(results.std_dev[1][3], 0.87);
    EXPECT_EQ(results.std_dev[1][4], 0);
    EXPECT_DOUBLE_EQ(results.second_low_score[1][3], 320 * kRef4MB[3] * 0.01);
    EXPECT_EQ(results.TotalCPU[1], 0);
    for (int k = 0; k < kTests; ++k) EXPECT_EQ(results.percent_deviation[1][k], 0) << k;
}

TEST_F(Reader, EveryCutOfEverySampleEitherParsesOrIsRefusedOnce) {
    for (const char* name : {"plain.bmf", "uniproc.bmf", "twopass.bmf", "twopass_os.bmf", "stepwise.bmf",
                             "stepwise1.bmf", "stepwise_os.bmf", "memdisk.bmf"}) {
        const std::string text = Corpus(name);
        for (size_t cut = 0; cut <= text.size(); cut += 1 + cut / 64) {
            Parse(text.substr(0, cut));
            ASSERT_LE(boxes.boxes().size(), 1u) << name << " " << cut;
            ASSERT_EQ(results.data_from_file, boxes.boxes().empty() ? 1 : 0) << name << " " << cut;
            ASSERT_FALSE(host.progress_open);
            for (int r = 0; r < kRows; ++r) ASSERT_GE(results.TotalCPU[r], 0);
        }
    }
}

TEST_F(Reader, LabelsAtTheVeryEndOfTheText) {
    Parse(kHeader + "Total Memory Score:");
    ExpectParsed();
    EXPECT_EQ(results.TotalMemory, 0);
    Parse(kHeader + "Total Memory Score:  7");
    EXPECT_EQ(results.TotalMemory, 7);
    std::strcpy(results.global_drive_filebuffer[0], "old");
    Parse(kHeader + "Performing Short I/O Test on ");
    EXPECT_STREQ(results.global_drive_filebuffer[0], "");
    Parse(kHeader + "Performing Short I/O Test on \r\n");
    EXPECT_STREQ(results.global_drive_filebuffer[0], "");
    Parse(kHeader + "Performing Short I/O Test on Local Disk Drive /x.");
    EXPECT_STREQ(results.global_drive_filebuffer[0], "Local Disk Drive /x");
    Parse(kHeader + Lines({kScalingLine}) + "Number of processors:");
    EXPECT_EQ(results.tested_num_processors, 1);
    EXPECT_EQ(results.total_scaling_runs, 0);
    Parse("Local Bus Adapter Name/Type:  x\r\nKestrel System Level Benchmark ver.");
    ExpectRefused("File version is pre-1.20!  Cannot parse data.");
    Parse("Kestrel System Level Benchmark ver. 1.21 Name/Type:");
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(results.data_from_file, 1);
    Parse("Name/Type:Kestrel System Level Benchmark ver. 1.21");  // the marker at the very start
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(results.data_from_file, 1);
}

TEST_F(Reader, ProcessorNumbersOutsideOneToThirtyTwoArePassedOver) {
    std::string text = Replace(Corpus("uniproc.bmf"), "Testing Processor 2 (CPU 1)", "Testing Processor 0 (CPU 1)");
    Parse(text);
    ExpectParsed();
    EXPECT_EQ(results.tempdata[0], 0);
    EXPECT_EQ(results.tempdata[1], 4);
    ExpectRow(4, 4, bindex_64meg);
    ExpectOnlyRows({4});
    for (int p = 0; p < kRows; ++p) EXPECT_EQ(results.temp_cpus_selected[p], p == 3 ? 1 : 0) << p;

    Parse(Replace(text, "Testing Processor 4 (CPU 3)", "Testing Processor 99 (CPU 3)"));
    ExpectOnlyRows({});
    for (int p = 0; p < kRows; ++p) EXPECT_EQ(results.temp_cpus_selected[p], 0) << p;
    Parse(Replace(text, "Testing Processor 4 (CPU 3)", "Testing Processor 33 (CPU 3)"));
    ExpectOnlyRows({});
}

TEST_F(Reader, AProcessorCountOutsideOneToThirtyTwoIsRefused) {
    for (const char* count : {"999", "-5", "0", "33"}) {
        Parse(Replace(Corpus("uniproc.bmf"), "Number of processors to test:  2",
                      std::string("Number of processors to test:  ") + count));
        ExpectParsed();
        EXPECT_EQ(results.tempuniprocemulation, 1) << count;
        EXPECT_EQ(results.temp_num_cpus_selected_for_uniproc, 1) << count;
        ExpectRow(2, 2, bindex_64meg);
        ExpectOnlyRows({2});
    }
    for (const char* n : {"99", "0", "-1", "33"}) {
        Parse(Replace(Corpus("twopass.bmf"), "Number of processors:  4", std::string("Number of processors:  ") + n));
        ExpectParsed();
        EXPECT_EQ(results.tested_num_processors, 1) << n;
        EXPECT_EQ(results.total_scaling_runs, 0) << n;
        EXPECT_EQ(results.scale_value, 1) << n;
        ExpectRow(1, 1, bindex_1meg);
        ExpectOnlyRows({1});
    }
}

TEST_F(Reader, AStepwiseValueOutsideZeroToThirtyTwoLeavesOnlyRowOne) {
    for (const char* step : {"-5", "999", "33"}) {
        results.last_test_mode = 7;
        Parse(Replace(Corpus("stepwise_os.bmf"), "Stepwise value:  3", std::string("Stepwise value:  ") + step));
        ExpectParsed();
        EXPECT_EQ(results.last_test_mode, 7) << step;
        EXPECT_EQ(results.total_scaling_runs, 0) << step;
        EXPECT_EQ(results.scale_value, 1) << step;
        ExpectRow(1, 1, bindex_1meg, true);
        ExpectOnlyRows({1}, true);
        ExpectRow(1, 1, bindex_1meg);
        ExpectOnlyRows({1});
        for (int r = 0; r < kRows; ++r) EXPECT_EQ(results.efficiency[r], 0.0f);
    }
}

TEST_F(Reader, AStepLargerThanTheProcessorCountReadsRowOne) {
    Parse(Replace(Corpus("stepwise.bmf"), "Stepwise value:  3", "Stepwise value:  32"));
    ExpectParsed();
    EXPECT_EQ(results.total_scaling_runs, 0);
    ExpectOnlyRows({1});
}

// scale_value indexes the 33-row arrays: s + 1 (the processor count for s = 0), at most 32, from
// an accepted stepwise value even when the processor count is refused.
TEST_F(Reader, ScaleValueFollowsAnAcceptedStepwiseValueAndStaysInTheRows) {
    struct Case {
        const char* processors;
        const char* step;
        int scale_value;
        int runs;
        int tested;
    };
    const Case cases[] = {
        {"8", "3", 4, 2, 8},     {"8", "0", 8, 1, 8},     {"8", "31", 32, 0, 8},  {"8", "32", 32, 0, 8},
        {"32", "32", 32, 1, 32}, {"32", "1", 2, 31, 32},  {"99", "3", 4, 0, 1},   {"0", "32", 32, 0, 1},
        {"-1", "1", 2, 0, 1},    {"33", "0", 1, 0, 1},    {"8", "33", 1, 0, 8},   {"99", "-2", 1, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("processors ") + c.processors + ", step " + c.step);
        std::string text = Replace(Corpus("stepwise.bmf"), "Number of processors:  8;  Stepwise value:  3",
                                   std::string("Number of processors:  ") + c.processors +
                                       ";  Stepwise value:  " + c.step);
        Parse(text);
        ExpectParsed();
        EXPECT_EQ(results.scale_value, c.scale_value);
        EXPECT_EQ(results.total_scaling_runs, c.runs);
        EXPECT_EQ(results.tested_num_processors, c.tested);
    }
}

// Markers are taken at their last occurrence: a text holding several runs is read for its last.
TEST_F(Reader, SeveralRunsInOneTextAreReadForTheLast) {
    struct Case {
        std::vector<const char*> runs;
        std::string tail;  // appended after the runs
        int memory_level;
        int tested;
        int os;
        int disks;
        int32_t cpu1;
    };
    const Case cases[] = {
        {{"plain.bmf", "memdisk.bmf"}, "", 4, 1, 0, 3, 0},
        {{"memdisk.bmf", "plain.bmf"}, "", 2, 1, 0, 2, 1834},
        {{"plain.bmf"}, "Local Bus Adapter Name/Type", 2, 1, 0, 2, 1834},
        {{"stepwise_os.bmf", "stepwise.bmf"}, "", 3, 8, 0, 2, 1001},
        {{"stepwise.bmf", "stepwise_os.bmf"}, "", 0, 9, 1, 1, 1001},
        {{"twopass_os.bmf", "twopass.bmf"}, "", 0, 4, 0, 1, 1001},
        {{"twopass.bmf", "stepwise_os.bmf", "uniproc.bmf"}, "", 6, 1, 0, 1, 0},
    };
    for (const Case& c : cases) {
        std::string text, label;
        for (const char* name : c.runs) {
            text += Corpus(name);
            label += std::string(name) + " ";
        }
        SCOPED_TRACE(label + c.tail);
        Parse(text + c.tail);
        ExpectParsed();
        EXPECT_EQ(results.last_memory_load_value, c.memory_level);
        EXPECT_EQ(results.tested_num_processors, c.tested);
        EXPECT_EQ(results.temp_os_checked, c.os);
        EXPECT_EQ(results.disks_selected, c.disks);
        EXPECT_EQ(results.TotalCPU[1], c.cpu1);
    }
}

TEST_F(Reader, ThirtyTwoProcessorsStepOneFillsEveryRow) {
    std::string text = kHeader + Lines({kScalingStepwiseLine, Format(kProcessorsLine, 32, 1)});
    for (int row = 1; row <= 40; ++row) text += Lines({Format(kTotalProcessorLine, row, 0, 0)});
    Parse(text);
    ExpectParsed();
    EXPECT_EQ(results.total_scaling_runs, 31);
    for (int r = 1; r <= 32; ++r) EXPECT_EQ(results.TotalCPU[r], r);
    EXPECT_EQ(results.TotalCPU[0], 0);
}

TEST_F(Reader, NegativeAndHugeNumbersAreHeldInRange) {
    std::string text = Replace(Corpus("memdisk.bmf"), "Number of drives being tested:  3", "Number of drives being tested:  -3");
    text = Replace(text, "Total Memory Score:  60119", "Total Memory Score:  99999999999999");
    text = Replace(text, "Total Disk Score:  23078", "Total Disk Score:  -9999999999");
    Parse(text);
    ExpectParsed();
    EXPECT_EQ(results.disks_selected, 1);
    EXPECT_EQ(results.TotalMemory, INT32_MAX);
    EXPECT_EQ(results.TotalDisk[0], INT32_MIN);
}

TEST_F(Reader, InstalledAsTheReportReaderItParsesOpenedFiles) {
    InstallBenchmarkReader();
    report.FileName = std::string(KESTREL_CORPUS_DIR) + "/stepwise.bmf";
    ASSERT_EQ(OpenLineFile(), 0);
    SetReportReader(nullptr);
    CloseReportFile();
    EXPECT_EQ(results.data_from_file, 1);
    EXPECT_EQ(results.TotalCPU[6], 1006);
    EXPECT_EQ(report.num, 264);
}

// This process's resident memory now ("VmRSS:") or at its peak ("VmHWM:"), in bytes.
size_t Resident(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string word;
    size_t kib = 0;
    while (status >> word)
        if (word == key) {
            status >> kib;
            break;
        }
    return kib * 1024;
}

// A loaded file is read once, into one buffer: too large for the memory left, it is refused at
// once; otherwise the process grows by little more than the file and its lines while it is read
// and parsed, and a refused file's text is given back before its box. A file of NULs shows one
// empty line and keeps no copy of itself among the lines; a file of one long line holds it once.
TEST_F(Reader, AHugeFileIsReadOnceAndGivenBackBeforeItsBox) {
    InstallBenchmarkReader();
    const size_t nuls = size_t(256) << 20;
    const std::string huge = kt::WriteFile(kt::TempDir() + "/huge.bmf", "");
    ASSERT_EQ(truncate(huge.c_str(), off_t(nuls)), 0);  // sparse: no disk used
    report.FileName = huge;
    {
        const kt::DataSizeLimit limit(rlim_t(64) << 20);
        EXPECT_EQ(OpenLineFile(), 1);
    }
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption + ": " + boxes.boxes()[0].text, "Memory Exception: Allocation Error!");
    EXPECT_EQ(report.szGreeting, std::vector<std::string>{"Out of Memory"});

    const size_t long_line = size_t(64) << 20;
    struct Case {
        std::string path;
        size_t size;
        size_t line;  // the length of the one line shown
        double peak, box;  // at most this many times the file's size more, at the peak and at the box
    };
    const Case cases[] = {
        {huge, nuls, 0, 1.5, 0.4},
        {kt::WriteFile(kt::TempDir() + "/line.bmf", std::string(long_line, 'x')), long_line, long_line, 2.5, 1.4},
    };
    for (const Case& c : cases) {
        report.FileName = c.path;
        boxes.Clear();
        {
            std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts from here
        }
        const size_t before = Resident("VmRSS:");
        ASSERT_LE(Resident("VmHWM:"), before + (size_t(16) << 20));
        size_t at_box = 0;
        kp::BoxBackend recorder = kp::SetMessageBoxBackend(nullptr);
        kp::SetMessageBoxBackend([&](const kp::BoxRequest& box) {
            at_box = Resident("VmRSS:");
            return recorder(box);
        });
        EXPECT_EQ(OpenLineFile(), 0) << c.path;
        kp::SetMessageBoxBackend(recorder);
        const size_t after = Resident("VmRSS:");
        const size_t peak = Resident("VmHWM:");
        ASSERT_EQ(boxes.boxes().size(), 1u) << c.path;
        EXPECT_EQ(boxes.boxes()[0].text, "Database file is corrupt!  Cannot parse data");
        ASSERT_EQ(report.szGreeting.size(), 1u) << c.path;
        EXPECT_EQ(report.szGreeting[0].size(), c.line) << c.path;
        const auto more = [before](size_t bytes) { return (double(bytes) - double(before)) / (1 << 20); };
        const double mb = double(c.size >> 20);
        EXPECT_LT(more(peak), mb * c.peak) << c.path << ": MB more at the peak";
        EXPECT_LT(more(at_box), mb * c.box) << c.path << ": MB more while the box is up";
        EXPECT_LT(more(after), mb * c.box) << c.path << ": MB more afterwards";
    }
    SetReportReader(nullptr);
    CloseReportFile();
}

}  // namespace

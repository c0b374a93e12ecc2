// Tables shared by the report's writers and the benchmark file reader: the name tables of the
// report header, the reference results of the processor tests, and the lines that carry values
// (their formats as the writers print them and the labels the reader looks for). Writer and
// reader take these from here, so a changed character cannot part them.
#pragma once

// The scaling steps after the one-processor row of a scaling run on n processors with step s:
// 1 in the two-pass form (s = 0), n - 1 with step 1, n / s otherwise. The sequencer stores it after
// a run, and the reader gives the same count for the file of such a run.
inline int ScalingSteps(int n, int step) { return step == 0 ? 1 : step == 1 ? n - 1 : n / step; }

#include <string_view>

// Version line of the report header.
inline constexpr const char* kKestrelVersion = "1.21";
inline constexpr const char* kKestrelBuildDate = "(12/96)";

// Name tables of the report header, indexed by the stored value.
inline constexpr const char* memory_type_names[] = {
    "Fast Page Mode", "Extended Data Output", "Synchronous Dynamic", "Burst Extended Data Output"};
inline constexpr const char* cache_type_names[] = {
    "Asynchronous", "Pipeline-Burst (3-1-1-1)", "Sync-Burst (2-1-1-1)", "Inline", "Integrated DIE",
    "Integrated DIE + L3"};
inline constexpr const char* disk_type_names[] = {
    "IDE (Mode 2)", "EIDE/ATA-1 (Mode 3)", "EIDE/ATA-2 (Mode 4)", "Fast SCSI II",
    "Fast/Wide SCSI II or SCSI III", "Ultra SCSI (Fast/Wide SCSI III)", "None Specified"};
// Memory levels 0 to 6; the reader maps the leading number of a name back to its level.
inline constexpr const char* memory_load_names[] = {
    "1 MB (Default)", "2 MB (Average Workstation)", "4 MB (High End Workstation)",
    "8 MB (App/File Server)", "16 MB (High End App Server)", "32 MB (Back Office Server)",
    "64 MB (Transaction Server)"};
inline constexpr const char* video_ram_type_names[] = {
    "EDO DRAM", "DRAM", "VRAM", "WRAM", "EDO VRAM", "RAMBUS", "SDRAM", "3DRAM", "FRAM", "SGRAM"};
inline constexpr int kMemoryLevels = 7;

// Results of the reference machine in the nine processor tests, one row per memory level, in
// the units of each test's driver.
inline constexpr double bindex_1meg[9] = {72413932.0, 1916.33, 10900.0, 62.0, 25.51,
                                          555.61, 1.15214, 234.242, 218.67};
inline constexpr double bindex_2meg[9] = {72933932.0, 958.47, 10900.0, 19.17, 12.19,
                                          275.21, 0.54214, 54.7, 102.35};
inline constexpr double bindex_4meg[9] = {73203932.0, 479.39, 10900.0, 5.04, 5.64,
                                          165.94, 0.33214, 16.78, 45.05};
inline constexpr double bindex_8meg[9] = {74283932.0, 239.8, 10900.0, 1.04, 2.47,
                                          101.47, 0.17214, 7.08, 26.32};
inline constexpr double bindex_16meg[9] = {73493932.0, 119.59, 10900.0, 0.19, 0.99,
                                           37.84, 0.08214, 2.44, 8.33};
inline constexpr double bindex_32meg[9] = {73933932.0, 59.82, 10900.0, 0.05, 0.44,
                                           18.47, 0.04514, 0.8, 6.66};
inline constexpr double bindex_64meg[9] = {73933932.0, 29.92, 10900.0, 0.011, 0.21,
                                           8.67, 0.022814, 0.38, 2.3};
inline constexpr const double* bindex_by_level[kMemoryLevels] = {
    bindex_1meg, bindex_2meg, bindex_4meg, bindex_8meg, bindex_16meg, bindex_32meg, bindex_64meg};

// The reference row of a memory level (a level outside 0 to 6 is taken as the nearest one).
inline const double* ReferenceRow(int level) {
    return bindex_by_level[level < 0 ? 0 : level >= kMemoryLevels ? kMemoryLevels - 1 : level];
}

// Lines that carry values, as their writers print them.
inline constexpr const char* kVersionLine = "Kestrel System Level Benchmark ver. %s %s";
inline constexpr const char* kAdapterLine = "Local Bus Adapter Name/Type:  %s";
inline constexpr const char* kMemoryLoadLine = "Memory Load:  %s";
inline constexpr const char* kScalingLine = "Testing scaling efficiency ...";
inline constexpr const char* kScalingStepwiseLine = "Testing scaling efficiency ... Stepwise.";
inline constexpr const char* kOSScalingLine = "Testing OS scaling efficiency ...";
inline constexpr const char* kOSScalingStepwiseLine = "Testing OS scaling efficiency ... Stepwise.";
inline constexpr const char* kProcessorsLine = "Number of processors:  %d;  Stepwise value:  %d";
inline constexpr const char* kSystemScalingStartLine = "Starting System Scaling SMP Tests";
inline constexpr const char* kSystemEfficiencyLine =
    "The Kes System Scaling Efficiency for %d to %d processors is:  %.1f%%";
inline constexpr const char* kOSEfficiencyLine =
    "The Kes OS Scaling Efficiency for %d to %d processors is:  %.1f%%";
inline constexpr const char* kProcessorsToTestLine = "Number of processors to test:  %d";
inline constexpr const char* kTestingProcessorLine = "Testing Processor %d (CPU %d)";
inline constexpr const char* kStatsLine =
    "test %d stats.) standard deviation:  %.2f; peak: %ld; trough:  %ld";
// The score line of each processor test (tests 4, 5 and 8 print "%.3f" for very small means).
inline constexpr const char* kScoreLines[9] = {
    "test %d.) Millions of Bit Operations per second:  %.2f;  Score:  %ld",
    "test %d.) Queries per minute:  %.2f;  Score:  %ld",
    "test %d.) MegaFlops:  %.1f;  Score:  %ld",
    "test %d.) Integrations per second:  %.2f;  Score:  %ld",
    "test %d.) Filters per second:  %.2f;  Score:  %ld",
    "test %d.) Analyzations per minute:  %.2f;  Score:  %ld",
    "test %d.) Modulations per second:  %.2f;  Score:  %ld",
    "test %d.) Factorizations per second:  %.2f;  Score:  %ld",
    "test %d.) Matrix Operations per second:  %.2f;  Score:  %ld"};
inline constexpr const char* kTotalProcessorLine =
    "Total Processor Score: %d Kes ProcessorMarks  CPUMark:  %d  FPUMark:  %d";
inline constexpr const char* kBlocksizeLine = "Blocksize set to:  %d Bytes";
inline constexpr const char* kDrivesTestedLine = "Number of drives being tested:  %d";
// The drive line of the disk test: [long test][kind: local, remote, removable, remote removable].
inline constexpr const char* kDriveLines[2][4] = {
    {"Performing Short I/O Test on Local Disk Drive %s.",
     "Performing Short Disk I/O Test on Remote Disk Drive %s.",
     "Performing Short Disk I/O Test on Removable Disk Drive %s.",
     "Performing Short Disk I/O Test on Remote, Removable Disk Drive %s."},
    {"Performing Long I/O Test on Local Disk Drive %s.",
     "Performing Long Disk I/O Test on Remote Disk Drive %s.",
     "Performing Long Disk I/O Test on Removable Disk Drive %s.",
     "Performing Long Disk I/O Test on Remote, Removable Disk Drive %s."}};
inline constexpr const char* kTotalDiskLine = "Total Disk Score:  %ld Kes DiskMarks";
inline constexpr const char* kTotalMemoryLine = "Total Memory Score:  %ld Kes MemoryMarks";
inline constexpr const char* kTotalVideoLine = "Total Video Score:  %ld Kes VideoMarks";

// Labels the reader looks for in those lines.
inline constexpr std::string_view kLabelVersion = "Kestrel System Level Benchmark ver.";
inline constexpr std::string_view kLabelNameType = "Name/Type:";
inline constexpr std::string_view kLabelMemoryLoad = "Memory Load:";
inline constexpr std::string_view kLabelOSScaling = "Testing OS scaling efficiency ...";
inline constexpr std::string_view kLabelScaling = "Testing scaling efficiency ...";
inline constexpr std::string_view kLabelProcessors = "Number of processors:";
inline constexpr std::string_view kLabelStepwise = "Stepwise value:";
inline constexpr std::string_view kLabelSystemScaling = "Starting System Scaling SMP Tests";
inline constexpr std::string_view kLabelEfficiency = "processors is:";
inline constexpr std::string_view kLabelProcessorsToTest = "Number of processors to test:";
inline constexpr std::string_view kLabelTestingProcessor = "Testing Processor";
inline constexpr std::string_view kLabelDeviation = "deviation:";
inline constexpr std::string_view kLabelPeak = "peak:";
inline constexpr std::string_view kLabelTrough = "trough:";
inline constexpr std::string_view kLabelScore = "Score:";
inline constexpr std::string_view kLabelProcessorScore = "Processor Score:";
inline constexpr std::string_view kLabelOverallScore = "OVERALL SCORE:";
inline constexpr std::string_view kLabelBlocksize = "Blocksize set to:";
inline constexpr std::string_view kLabelDrivesTested = "Number of drives being tested:";
inline constexpr std::string_view kLabelDrive = "I/O Test on ";
inline constexpr std::string_view kLabelDiskScore = "Disk Score:";
inline constexpr std::string_view kLabelMemoryScore = "Memory Score:";
inline constexpr std::string_view kLabelVideoScore = "Video Score:";

// The disk test: the Test Drives menu built from the machine's drives, and the run that measures
// the throughput of every ticked drive and scores it in Kes DiskMarks against a reference drive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kestrel/engine/run/result_store.h"

// Bytes per request by `blocksizenumber`, and the factor that makes block size x factor 4096.
inline constexpr int blocksize_table[6] = {512, 1024, 2048, 4096, 8192, 16384};
inline constexpr float block_factors[6] = {8.0f, 4.0f, 2.0f, 1.0f, 0.5f, 0.25f};
// File size steps by `filesizenumber`, and their names.
inline constexpr int filesize_increment_table[7] = {1, 2, 4, 7, 9, 13, 18};
inline constexpr const char* filesize_names[7] = {"1 MB", "2 MB", "4 MB", "8 MB", "10 MB", "15 MB", "20 MB"};
// Base block counts of iterations 1 to 10, repeating.
inline constexpr int nblocks[10] = {100, 120, 140, 160, 180, 200, 220, 240, 260, 280};
// Reference MB/s by block size.
inline constexpr double diskscores[6] = {1.83, 2.1, 1.76, 2.22, 2.48, 3.14};
// Names of the directory preference `defdirnumber`.
inline constexpr const char* directory_names[3] = {"root", "temp", "%homepath%"};
// Command of the first Test Drives menu entry; entry g has 116 + g.
inline constexpr int kFirstDriveCommand = 116;

// The Test Drives menu, by position.
struct DriveMenu {
    int DRIVECHOSEN[kDrives] = {};       // ticked for this run
    int network_drive[kDrives] = {};
    int removable_drive[kDrives] = {};
    std::string globaldrivechar[kDrives];  // the drive's root, "/" or "/home/"
};
extern DriveMenu drivemenu;

// Iterations of every test in the short and the long run. The program keeps 25 and 50; tests
// shorten them.
struct DiskRunLengths {
    int short_run = 25;
    int long_run = 50;
};
extern DiskRunLengths disk_run_lengths;

// The sequencer's entry: flag 0 the short run, 1 the long run. An abort clears `testrunning`.
// An empty report line follows. 0 done, -1 aborted.
int DoDISKTest(int flag);
// n = 0 builds the drive menu (once, at start-up); n > 0 runs the test with n iterations.
int DoDiskBench(int n);
// The run: 0 done, -1 aborted.
int DoDiskTest(int n);

// Average blocks per iteration over n iterations.
int AverageBlockCount(int n, int filesizenumber, float factor);
// MB/s of a test: each iteration writes and reads the file twice. The time sum is floored at the
// clock's resolution (1 ms).
double DiskRate(int blocksize, int average_blocks, int n, double time_sum_ms);
// The score: average / reference x 100, rounded half up, saturated to the 32-bit range.
int32_t DiskMarks(double average, double reference);
// Per-processor entries joined into report lines: a line ends after the entries of processors
// 6, 12, 18, 24 and 30; what is left (possibly nothing) is the last line.
std::vector<std::string> CpuEntryLines(const std::vector<std::string>& entries);

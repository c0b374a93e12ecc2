#include "kestrel/engine/report/report_tables.h"
#include "kestrel/engine/disk/disk_test.h"
#include "shared/strformat.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/run/analyser_tables.h"
#include "kestrel/engine/report/line_format.h"
#include "kestrel/engine/disk/disk_drives.h"
#include "kestrel/engine/disk/disk_io.h"
#include "kestrel/engine/run/host.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"

DriveMenu drivemenu;
DiskRunLengths disk_run_lengths;

namespace {

constexpr const char* kAborted = "Test Aborted!";
constexpr const char* kMeasureError = "Error Measuring Disk I/O";
constexpr int kTestsPerDrive = 8;

void Line(const std::string& text) { passtring(text); }

// The four tests of a pattern.
struct TestRow {
    int open_mode;     // diskio0's mode; -1: diskionocache
    int pass_mode;     // the passes' mode; -1: the uncached passes
    bool cache_sample; // the cache counter is sampled every iteration
    bool small_format; // below 0.01 MB/s the result has three decimals
    const char* caption;
    const char* result;
    const char* small_result;
};

const TestRow kTests[4] = {
    {0, 0, true, false, "Testing drive %s - asynchronous cached",
     "test %d.) Asynchronous Cached I/O performance is: %.2lf Megabytes/sec for drive %s", nullptr},
    {2, 0, false, false, "Testing drive %s - asynchronous write-through",
     "test %d.) Asynchronous Write-through I/O performance is: %.2lf Megabytes/sec for drive %s", nullptr},
    {1, 1, true, true, "Testing drive %s - synchronous cached",
     "test %d.) Synchronous Cached I/O performance is: %.2lf Megabytes/sec for drive %s",
     "test %d.) Synchronous Cached I/O performance is: %.3lf Megabytes/sec for drive %s"},
    {-1, -1, false, true, "Testing drive %s - synchronous uncached",
     "test %d.) Synchronous Uncached I/O performance is: %.2lf Megabytes/sec for drive %s",
     "test %d.) Synchronous Uncached I/O performance is: %.3lf Megabytes/sec for drive %s"},
};

class DiskRun {
public:
    explicit DiskRun(int n) : n_(n) {}
    int Run();

private:
    bool Drive(int k, int ordinal);
    bool Pattern(int p);
    bool Test(int t, int p);
    bool Passes(int t, int p, double* time_sum);
    void CacheLine(double cache_sum, const char* word);
    void Score(int ordinal);
    void IdleLoad();
    void Sample();
    void Refill(bool half);
    void SetPercent(double fraction) {
        globalpercent_ = fraction;
        Host().SetProgress(fraction);
    }
    int Abort();

    int n_;
    int bsn_ = 3;
    int fsn_ = 0;
    float factor_ = 1.0f;
    double reference_ = 0;
    int average_blocks_ = 0;
    int kind_ = 1;  // cache counter: 1 local and removable drives, 0 network drives
    MainWindowFacts place_;
    double globalpercent_ = 0;
    double base_ = 0;
    double rates_[kTestsPerDrive] = {};
};

int DiskRun::Abort() {
    if (prefs.show_perf_data) DoDiskEndCheck();
    FreeDiskBuffers();
    return -1;
}

int DiskRun::Run() {
    disk.filerror = 0;
    bsn_ = std::clamp(prefs.blocksizenumber, 0, 5);
    fsn_ = std::clamp(prefs.filesizenumber, 0, 6);
    factor_ = block_factors[bsn_];
    reference_ = diskscores[bsn_];
    disk.blocksize = results.global_block_size_for_graphs = blocksize_table[bsn_];
    std::memset(disk.buf, fillchar, size_t(disk.blocksize));
    if (AllocateDiskBuffers() != 0) {
        Line(kAborted);
        return Abort();
    }
    place_ = Host().MainWindow();
    if (prefs.show_perf_data) {
        pchk.countertime = ntime[std::clamp(prefs.niceness, 0, 2)] / 2;
        pchk.disk_test_running = 1;
    }
    average_blocks_ = AverageBlockCount(n_, fsn_, factor_);

    const int drives = std::clamp(globaldrives, 0, kDrives);
    results.disks_selected = 0;
    for (int k = 0; k < drives; ++k) results.disks_selected += drivemenu.DRIVECHOSEN[k] != 0 ? 1 : 0;
    Line("Starting the Disk Test ...");
    Line(StrPrintf(kDrivesTestedLine, results.disks_selected));
    Line(StrPrintf(kBlocksizeLine, disk.blocksize));
    Line(StrPrintf("Filesize set to: %s", filesize_names[fsn_]));
    Line(StrPrintf("Using directory: %s", directory_names[std::clamp(prefs.defdirnumber, 0, 2)]));

    int ordinal = 0;
    for (int k = 0; k < drives; ++k) {
        if (drivemenu.DRIVECHOSEN[k] == 0) continue;
        if (!Drive(k, ordinal)) return Abort();
        ++ordinal;
    }
    if (prefs.show_perf_data) DoDiskEndCheck();
    FreeDiskBuffers();
    return 0;
}

bool DiskRun::Drive(int k, int ordinal) {
    // The progress window's next test from the second drive on; before the first drive the
    // sequencer sends it when another part ran before.
    if (ordinal > 0) Host().ProgressNextTest();
    if (PerfWanted() && prefs.perf_counters[0]) IdleLoad();
    disk.thedrive = drivemenu.globaldrivechar[k];
    SetPercent(0);
    base_ = 0;

    const bool network = drivemenu.network_drive[k] != 0;
    const bool removable = drivemenu.removable_drive[k] != 0;
    kind_ = network ? 0 : 1;
    const int long_run = n_ == disk_run_lengths.short_run ? 0 : 1;
    const int kind = (network ? 1 : 0) + (removable ? 2 : 0);
    Line(StrPrintf(kDriveLines[long_run][kind], disk.thedrive.c_str()));

    std::string fstype, label;
    if (VolumeInformation(disk.thedrive, &fstype, &label)) {
        Line("File System:  " + fstype);
        Line("Volume Name:  " + label);
        int64_t total = 0, free = 0;
        if (GetDiskData(&total, &free, disk.thedrive) == 0) {
            Line("Cannont Obtain Disk Information!");
        } else {
            Line(StrPrintf("Volume Size:  %.2f MB", double(total) / 1048576.0));
            if (free > 10000) {
                Line(StrPrintf("Free Space:  %.2f MB", double(free) / 1048576.0));
            } else {
                Line(StrPrintf("Free Space:  %ld bytes", long(free)));
            }
        }
    } else {
        Line("Error Obtaining Volume Information!");
    }

    for (int p = 0; p < 2; ++p) {
        if (!Pattern(p)) return false;
    }
    Line("");
    Score(ordinal);
    return true;
}

bool DiskRun::Pattern(int p) {
    disk.filesize = int(float(filesize_increment_table[fsn_] * 280) * factor_);
    if (diskio0(0, p) != 0) {
        Line(kAborted);
        return false;
    }
    if (p == 0) Line(StrPrintf("Cluster Size:  %ld Bytes", disk.clust_size));
    Line("");
    if (p == 0) {
        Line("************ Executing direct/patterned I/O tests ************");
        Host().SetStatusText(StrPrintf("Direct/Patterned I/O tests on drive %s", disk.thedrive.c_str()));
    } else {
        Line("************ Executing sequential I/O tests ************");
        Host().SetStatusText(StrPrintf("Sequential I/O tests on drive %s", disk.thedrive.c_str()));
    }
    Line("");
    for (int t = 0; t < 4; ++t) {
        if (!Test(t, p)) return false;
    }
    Line("");
    base_ = globalpercent_;
    Host().Sleep(500);
    return true;
}

// The passes of one iteration, their times added; false (file flushed and deleted, the line
// written) when one of them failed to give a time.
bool DiskRun::Passes(int t, int p, double* time_sum) {
    for (int pass = 0; pass < 2; ++pass) {
        double ms;
        if (kTests[t].pass_mode < 0) {
            ms = p == 0 ? diskio2() : diskio4();
        } else {
            ms = pass == 0 ? diskio1(kTests[t].pass_mode, p) : diskio3(kTests[t].pass_mode, p);
        }
        if (ms < 0) {  // a failed pass is never timed or scored
            fsync(disk.filehandle);
            endtest();
            Line(kMeasureError);
            disk.flag = 1;
            return false;
        }
        *time_sum += ms;
    }
    return true;
}

bool DiskRun::Test(int t, int p) {
    const TestRow& row = kTests[t];
    Host().SetProgressCaption(StrPrintf(row.caption, disk.thedrive.c_str()));
    base_ = globalpercent_;
    if (t > 0) {
        const int opened = row.open_mode < 0 ? diskionocache(p) : diskio0(row.open_mode, p);
        if (opened != 0) {
            Line(kAborted);
            return false;
        }
    }
    double time_sum = 0;
    double cache_sum = 0;
    for (int i = 1; i <= n_; ++i) {
        disk.filesize = int(float(nblocks[(i - 1) % 10] * filesize_increment_table[fsn_]) * factor_);
        if (row.cache_sample) cache_sum += double(getperfdata(&kind_));
        if (!Passes(t, p, &time_sum)) return false;
        SetPercent(double(i) / n_ / kTestsPerDrive + base_);
        Host().PumpPending();
        if (run.testend != 0) {
            fsync(disk.filehandle);
            endtest();
            Line(kAborted);
            return false;
        }
    }
    fsync(disk.filehandle);
    endtest();
    if (t == 0) {
        CacheLine(cache_sum, "Asynchronous");
        Host().Sleep(500);
    } else if (t == 2) {
        Host().Sleep(500);
        Line("");
        CacheLine(cache_sum, "Synchronous");
    } else {
        Host().Sleep(500);
    }
    if (disk.flag == 0) {
        Line(kMeasureError);
        disk.flag = 1;
        return false;
    }
    const double rate = DiskRate(disk.blocksize, average_blocks_, n_, time_sum);
    rates_[p * 4 + t] = rate;
    const char* format = row.small_format && rate < 0.01 ? row.small_result : row.result;
    Line(StrPrintf(format, p * 4 + t + 1, rate, disk.thedrive.c_str()));
    // The empty line follows the counter data preference alone: an analyser given up before
    // this test, or during its exchange, only leaves out the counter lines.
    if (prefs.show_perf_data) {
        if (PerfReadings()) Sample();
        Line("");
    }
    return true;
}

void DiskRun::CacheLine(double cache_sum, const char* word) {
    const std::string head = std::string("Average ") + (kind_ == 0 ? "Network " : "") + word + " Cache Size:  ";
    const double average = cache_sum / n_ * 1e-6;
    if (cache_sum < 0) {
        Line(head + "Error measuring cache size.");
    } else if (average > 1.0) {
        Line(head + StrPrintf("%.2f MB", average));
    } else {
        Line(head + StrPrintf("%.1f KB", average * 1000.0));
    }
}

void DiskRun::Score(int ordinal) {
    double sum = 0;
    for (double r : rates_) sum += r;
    const double average = sum / kTestsPerDrive;
    const double x = average / reference_ * 100.0;
    const int32_t marks = DiskMarks(average, reference_);
    results.TotalDisk[ordinal] = marks;
    const std::string stars(85, '*');
    const char* drive = disk.thedrive.c_str();
    Line(stars);
    Line(StrPrintf("Total Disk I/O performance for drive %s is: %.2lf Megabytes/sec.", drive, average));
    Line(StrPrintf(kTotalDiskLine, long(marks)));
    if (average > reference_) {
        Line(StrPrintf("This disk subsystem is %.1f%% faster than a Seagate Mode 3 EIDE Decathalon (with Micron P100)",
                    x - 100.0));
    } else {
        Line(StrPrintf("This disk subsystem is %.1f%% slower than a Seagate Mode 3 EIDE Decathalon (with Micron P100)",
                    x > 0 ? (100.0 - x) / x * 100.0 : 100.0));
    }
    Line(stars);
    Line("");
}

// The analyser record as a new analyser start needs it.
void DiskRun::Refill(bool half) {
    pchk.show_graphs = prefs.show_graphs;
    pchk.countertime = ntime[std::clamp(prefs.niceness, 0, 2)] / (half ? 2 : 1);
    pchk.indices[0] = place_.left + place_.clientWidth / 4;
    pchk.indices[1] = pchk.indices[0] + place_.clientWidth / 2;
    pchk.indices[2] = place_.top + place_.clientHeight / 2 + std::max(place_.clientHeight / 10, 70);
    pchk.disk_test_running = 1;
    for (int k = 0; k < 6; ++k) pchk.perfData[k] = prefs.perf_counters[k] != 0 ? 1 : 0;
}

void DiskRun::IdleLoad() {
    const auto refill = [this] { Refill(false); };
    pchk.perfData[0] = 1;
    pchk.end = 0;
    const bool several = run.real_num_processors > 1;
    if (several) {
        Host().Sleep(2000);
        PerfExchange(refill);
    } else {
        PerfExchange(refill);
        Line("Testing for initial processor loading.  Please wait ...");
        Host().Sleep(4000);
        PerfExchange(refill);
    }
    if (!PerfReadings()) return;  // given up for this run: no readings to show
    if (AllSixScoresZero()) {
        Line(kLoadmeterThrottled);
        DoDiskEndCheck();
        Refill(true);
        StartPerfProcess();
        Host().Sleep(2000);
        PerfExchange(refill);
        // Given up (the new start failed, or it stalled again): no reading to show.
        if (PerfReadings()) Line(StrPrintf("Idle Processor Load:  %.1f%%", double(pchk.score[0])));
    } else {
        Line(StrPrintf("Idle Processor Load:  %.1f%%", double(pchk.score[0]) * (several ? 1.0 / 3.0 : 0.2)));
    }
    Line("");
}

void DiskRun::Sample() {
    for (int k = 0; k < 6; ++k) {
        if (prefs.perf_counters[k]) {
            pchk.perfData[k] = 1;
            pchk.end = 0;
        }
    }
    PerfExchange([this] { Refill(false); });
    if (!PerfReadings()) return;
    bool only_counter_4 = prefs.perf_counters[4] != 0;
    for (int k = 0; k < 6; ++k) {
        if (k != 4 && prefs.perf_counters[k]) only_counter_4 = false;
    }
    const float* s = pchk.score;
    if (s[0] == 0.0f && s[1] == 0.0f && s[2] == 0.0f && s[3] == 0.0f && s[5] == 0.0f && !only_counter_4) {
        Line(kLoadmeterThrottled);
        DoDiskEndCheck();
        Refill(true);
        StartPerfProcess();
        return;
    }
    const int cpus = std::clamp(run.real_num_processors, 1, 32);
    for (int k = 0; k < 6; ++k) {
        if (!prefs.perf_counters[k]) continue;
        std::vector<std::string> entries;
        if (k == 0 && cpus == 1) {
            Line(StrPrintf("%s  %.1f%%", loadmeter_strings[k], double(s[0])));
        } else if (k == 0) {
            Line(StrPrintf("%s  %.1f%% per CPU", loadmeter_strings[k], double(s[0])));
            for (int i = 0; i < cpus; ++i) entries.push_back(StrPrintf("CPU %d:  %.1f%%; ", i, double(pchk.cpu_scores_1[i])));
        } else if (k == 1 && cpus > 1) {
            Line(StrPrintf("%s  %ld per CPU", loadmeter_strings[k], Saturate<long>(s[1])));
            for (int i = 0; i < cpus; ++i) entries.push_back(StrPrintf("CPU %d:  %ld; ", i, Saturate<long>(pchk.cpu_scores_2[i])));
        } else {
            Line(StrPrintf("%s  %ld", loadmeter_strings[k], Saturate<long>(s[k])));
        }
        if (!entries.empty()) {
            for (const std::string& l : CpuEntryLines(entries)) Line(l);
        }
    }
}

// The drive menu: positions from the mount table, ticks from the preferences.
int BuildDriveMenu() {
    bool any = false;
    for (int k = 0; k < kDrives; ++k) {
        drivemenu.network_drive[k] = 0;
        drivemenu.removable_drive[k] = 0;
        drivemenu.globaldrivechar[k].clear();
        results.TotalDisk[k] = 0;
        drivemenu.DRIVECHOSEN[k] = prefs.default_drive_chosen[k] != 0 ? 1 : 0;
        any = any || drivemenu.DRIVECHOSEN[k] != 0;
    }
    if (!any) {
        prefs.default_drive_chosen[0] = 1;
        drivemenu.DRIVECHOSEN[0] = 1;
    }
    globaldrives = 0;
    const MountTable table = ReadMountTable();
    for (int i = 0; i < table.malformed; ++i) Line("Can't determine disk drives");
    for (int i = 0; i < table.relative; ++i) Line("root directory doesn't exist");
    for (const DriveEntry& d : ListDrives(table)) {
        const int g = globaldrives;
        std::string text;
        switch (d.kind) {
            case DriveKind::Removable:
                text = "Test Removable Drive " + d.root;
                drivemenu.removable_drive[g] = 1;
                break;
            case DriveKind::Network:
                text = "Test Network Drive " + d.root;
                drivemenu.network_drive[g] = 1;
                break;
            case DriveKind::Fixed:
                text = "Test Disk Drive " + d.root;
                break;
        }
        Host().SetDriveMenuItem(kFirstDriveCommand + g, text, prefs.default_drive_chosen[g] != 0);
        drivemenu.globaldrivechar[g] = d.root;
        ++globaldrives;
    }
    return 0;
}

}  // namespace

int AverageBlockCount(int n, int filesizenumber, float factor) {
    if (n <= 0) return 0;
    long sum = 0;
    for (int i = 0; i < n; ++i) sum += long(float(nblocks[i % 10] * filesize_increment_table[filesizenumber]) * factor);
    return int(sum / n);
}

double DiskRate(int blocksize, int average_blocks, int n, double time_sum_ms) {
    const double ms = std::max(time_sum_ms, 1.0);
    return double(blocksize) * average_blocks * n * 4.0 / (ms * 0.001 * 1048576.0);
}

int32_t DiskMarks(double average, double reference) {
    return std::max(Saturate<int32_t>(average / reference * 100.0 + 0.5), 0);
}

std::vector<std::string> CpuEntryLines(const std::vector<std::string>& entries) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < entries.size(); ++i) {
        line += entries[i];
        if (i == 6 || i == 12 || i == 18 || i == 24 || i == 30) {
            lines.push_back(line);
            line.clear();
        }
    }
    lines.push_back(line);
    return lines;
}

int DoDiskTest(int n) { return DiskRun(n).Run(); }

int DoDiskBench(int n) {
    if (n == 0) return BuildDriveMenu();
    return DoDiskTest(n);
}

int DoDISKTest(int flag) {
    int result = 0;
    if (flag == 0 || flag == 1) {
        result = DoDiskBench(flag == 0 ? disk_run_lengths.short_run : disk_run_lengths.long_run);
        if (result != 0) run.testrunning = 0;
    }
    output_string("");
    return result;
}

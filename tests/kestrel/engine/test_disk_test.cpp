// The disk test driver: the drive list and menu from a fixture mount table, the figures of a
// run, whole short runs on temporary directories with the recording host, Stop, failures and
// the analyser's samples.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cmath>

#include "kestrel/engine/run/host.h"
#include "platform/pages.h"
#include "tests/kestrel/engine/disk_fixture.h"
#include "tests/support/recording_host.h"
#include "tests/support/stand_in_analyser.h"

namespace {

using Lines = std::vector<std::string>;

// The smallest block size the directory takes for direct transfers (-1: none).
int SmallestDirectBlockSize(const std::string& dir) {
    for (int n = 0; n < 6; ++n) {
        kp::DiskFileMode mode;
        mode.direct = true;
        kp::CreatedFile f = kp::CreateDiskFile(dir + "probe.tmp", mode, size_t(blocksize_table[n]));
        if (f.status == kp::CreateStatus::Created) {
            close(f.fd);
            unlink((dir + "probe.tmp").c_str());
            return n;
        }
    }
    return -1;
}

// A folder standing for a mounted drive of the fixture table; its root with the trailing "/".
std::string AddDrive(kt::FixtureMounts& mounts, int minor, const char* type = "ext4") {
    const std::string dir = kt::FreshDir("drive");
    mounts.Add("8:" + std::to_string(minor), dir, type, "/dev/sdz" + std::to_string(minor));
    return dir + "/";
}

class DiskRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        kt::ResetDiskEngine();
        mounts_.Add("8:1", "/", "ext4", "/dev/sda1");
    }
    void TearDown() override { FreeDiskBuffers(); }

    // The menu built with the given positions ticked by default.
    void BuildMenu(std::initializer_list<int> ticked) {
        for (int k : ticked) prefs.default_drive_chosen[k] = 1;
        ASSERT_EQ(DoDiskBench(0), 0);
    }
    // A fast run: the largest blocks, the smallest file, two iterations per test.
    void FastSettings() {
        prefs.blocksizenumber = 5;
        prefs.filesizenumber = 0;
        disk_run_lengths.short_run = 2;
        disk_run_lengths.long_run = 3;
    }
    const Lines& L() const { return report.szGreeting; }

    kt::FixtureMounts mounts_;
    kt::RecordingHost host;
    kp::BoxRecorder boxes;
};

TEST_F(DiskRunTest, DrivesAreTheLocalAndNetworkFileSystemsInMountOrder) {
    const std::string bound = kt::FreshDir("bound");
    const std::string usb = kt::FreshDir("my disk");
    const std::string net = kt::FreshDir("net");
    const std::string data = kt::FreshDir("data");
    const std::string file = kt::WriteFile(kt::TempDir() + "/a-file", "");
    std::string usb_escaped = usb;
    usb_escaped.replace(usb_escaped.find(' '), 1, "\\040");
    mounts_.Raw("21 1 0:20 / /proc rw,nosuid - proc proc rw")
        .Raw("23 22 8:1 /srv/data " + bound + " rw - ext4 /dev/sda1 rw")  // the same device again
        .Add("0:22", "/dev/shm", "tmpfs", "tmpfs")
        .Add("8:17", usb_escaped, "vfat", "/dev/sdb1")
        .Add("0:45", net, "nfs4", "server:/export")
        .Add("11:0", "/media/cdrom", "iso9660", "/dev/sr0")
        .Add("7:0", "/snap/core/1", "squashfs", "/dev/loop0")
        .Add("2:0", "/media/floppy", "vfat", "/dev/fd0")
        .Add("8:2", file, "ext4", "/dev/sda2")  // a file bound over a file
        .Raw("this line is not a mount")
        .Add("8:3", "relative/path", "ext4", "/dev/sda3")
        .Add("8:4", data, "xfs", "/dev/sda4")
        .Add("0:50", "/mnt/ram", "ramfs", "none");
    // sysfs: sdb is removable, sda is not; partitions leave the flag to their disk.
    const std::string sys = system_roots.sys;
    for (const char* part : {"sdb/sdb1", "sda/sda4"}) {
        ASSERT_EQ(system(("mkdir -p " + sys + "/devices/" + part + " " + sys + "/dev/block").c_str()), 0);
    }
    kt::WriteFile(sys + "/devices/sdb/removable", "1\n");
    kt::WriteFile(sys + "/devices/sda/removable", "0\n");
    ASSERT_EQ(symlink("../../devices/sdb/sdb1", (sys + "/dev/block/8:17").c_str()), 0);
    ASSERT_EQ(symlink("../../devices/sda/sda4", (sys + "/dev/block/8:4").c_str()), 0);

    BuildMenu({});
    ASSERT_EQ(globaldrives, 4);
    const std::string roots[4] = {"/", usb + "/", net + "/", data + "/"};
    for (int g = 0; g < 4; ++g) EXPECT_EQ(drivemenu.globaldrivechar[g], roots[g]);
    ASSERT_EQ(host.drive_menu.size(), 4u);
    EXPECT_EQ(host.drive_menu[0].text, "Test Disk Drive /");
    EXPECT_EQ(host.drive_menu[1].text, "Test Removable Drive " + usb + "/");
    EXPECT_EQ(host.drive_menu[2].text, "Test Network Drive " + net + "/");
    EXPECT_EQ(host.drive_menu[3].text, "Test Disk Drive " + data + "/");
    for (int g = 0; g < 4; ++g) EXPECT_EQ(host.drive_menu[g].command, kFirstDriveCommand + g);
    EXPECT_EQ(drivemenu.removable_drive[1], 1);
    EXPECT_EQ(drivemenu.network_drive[2], 1);
    EXPECT_EQ(drivemenu.removable_drive[3] + drivemenu.network_drive[3], 0);
    // Nothing ticked by default: the first drive is.
    EXPECT_TRUE(host.drive_menu[0].checked);
    EXPECT_FALSE(host.drive_menu[1].checked);
    EXPECT_EQ(drivemenu.DRIVECHOSEN[0], 1);
    EXPECT_EQ(prefs.default_drive_chosen[0], 1);
    EXPECT_EQ(L(), (Lines{"Can't determine disk drives", "root directory doesn't exist"}));
}

TEST_F(DiskRunTest, AtMost26DrivesAndTheStoredTicks) {
    for (int i = 0; i < 30; ++i) AddDrive(mounts_, 10 + i);
    results.TotalDisk[3] = 77;
    BuildMenu({2, 5});
    EXPECT_EQ(globaldrives, 26);
    EXPECT_EQ(host.drive_menu.back().command, kFirstDriveCommand + 25);
    for (int g = 0; g < 26; ++g) {
        EXPECT_EQ(drivemenu.DRIVECHOSEN[g], g == 2 || g == 5 ? 1 : 0);
        EXPECT_EQ(host.drive_menu[g].checked, g == 2 || g == 5);
    }
    EXPECT_EQ(results.TotalDisk[3], 0);
}

TEST_F(DiskRunTest, VolumeNameFromTheLabelLinks) {
    const std::string dev = kt::WriteFile(kt::FreshDir("dev") + "/sdz1", "");
    const std::string dir = kt::FreshDir("labelled");
    mounts_.Add("8:33", dir, "ext4", dev);
    ASSERT_EQ(symlink(dev.c_str(), (system_roots.labels + "/My\\x20Disk").c_str()), 0);
    std::string fstype, label;
    ASSERT_TRUE(VolumeInformation(dir + "/", &fstype, &label));
    EXPECT_EQ(fstype, "ext4");
    EXPECT_EQ(label, "My Disk");
    ASSERT_TRUE(VolumeInformation("/", &fstype, &label));
    EXPECT_EQ(label, "");
    setenv("KESTREL_PROC_ROOT", kt::FreshDir("noproc").c_str(), 1);
    EXPECT_FALSE(VolumeInformation("/", &fstype, &label));
}

TEST(DiskFigures, AverageBlocksRateAndScore) {
    EXPECT_EQ(AverageBlockCount(25, 0, 1.0f), 180);
    EXPECT_EQ(AverageBlockCount(50, 0, 1.0f), 190);
    EXPECT_EQ(AverageBlockCount(25, 6, 8.0f), 180 * 18 * 8);
    // Each iteration moves the file four times: 4096 x 180 x 25 x 4 bytes in 10 s.
    EXPECT_DOUBLE_EQ(DiskRate(4096, 180, 25, 10000.0), 4096.0 * 180 * 25 * 4 / (10.0 * 1048576));
    // A zero time sum is floored at the clock's millisecond.
    EXPECT_DOUBLE_EQ(DiskRate(4096, 180, 25, 0.0), DiskRate(4096, 180, 25, 1.0));
    EXPECT_TRUE(std::isfinite(DiskRate(16384, 5040, 50, 0.0)));

    EXPECT_EQ(DiskMarks(1.495 * 2.22, 2.22), 150);  // x = 149.5
    EXPECT_EQ(DiskMarks(1.494 * 2.22, 2.22), 149);  // x = 149.4
    EXPECT_EQ(DiskMarks(1.83, 1.83), 100);
    EXPECT_EQ(DiskMarks(1e12, 1.83), INT32_MAX);  // saturates, never wraps
}

TEST(DiskFigures, PerProcessorEntriesAreGroupedIntoLines) {
    Lines entries;
    for (int i = 0; i < 12; ++i) entries.push_back(std::to_string(i) + ";");
    EXPECT_EQ(CpuEntryLines(entries), (Lines{"0;1;2;3;4;5;6;", "7;8;9;10;11;"}));
    entries.resize(7);
    EXPECT_EQ(CpuEntryLines(entries), (Lines{"0;1;2;3;4;5;6;", ""}));
    entries.clear();
    for (int i = 0; i < 32; ++i) entries.push_back("x");
    Lines lines = CpuEntryLines(entries);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0].size(), 7u);
    EXPECT_EQ(lines[1].size(), 6u);
    EXPECT_EQ(lines[5], "x");
}

TEST_F(DiskRunTest, ShortRunOnADriveGivesTheReportAndAScore) {
    const std::string drive = AddDrive(mounts_, 9);
    const int bsn = SmallestDirectBlockSize(drive);
    if (bsn < 0) GTEST_SKIP() << "the temporary directory takes no direct I/O";
    BuildMenu({1});
    prefs.blocksizenumber = bsn;
    prefs.filesizenumber = 0;
    disk_run_lengths.short_run = 2;
    const size_t live = kp::LivePageBlocks();

    ASSERT_EQ(DoDISKTest(0), 0);
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_GT(results.TotalDisk[0], 0);
    EXPECT_EQ(results.disks_selected, 1);
    EXPECT_EQ(results.global_block_size_for_graphs, blocksize_table[bsn]);
    const std::string stars(85, '*');
    Lines expected = {
        "Starting the Disk Test ...",
        "Number of drives being tested:  1",
        "Blocksize set to:  " + std::to_string(blocksize_table[bsn]) + " Bytes",
        "Filesize set to: 1 MB",
        "Using directory: root",
        "Performing Short I/O Test on Local Disk Drive <drive>.",
        "File System:  ext4",
        "Volume Name:  ",
        "Volume Size:  # MB",
        "Free Space:  # MB",
        "Cluster Size:  # Bytes",
    };
    const char* banners[2] = {"************ Executing direct/patterned I/O tests ************",
                              "************ Executing sequential I/O tests ************"};
    for (int p = 0; p < 2; ++p) {
        const std::string n[4] = {std::to_string(p * 4 + 1), std::to_string(p * 4 + 2), std::to_string(p * 4 + 3),
                                  std::to_string(p * 4 + 4)};
        for (const std::string& l : Lines{
                 "",
                 banners[p],
                 "",
                 "Average Asynchronous Cache Size:  # MB",
                 "test " + n[0] + ".) Asynchronous Cached I/O performance is: # Megabytes/sec for drive <drive>",
                 "test " + n[1] + ".) Asynchronous Write-through I/O performance is: # Megabytes/sec for drive <drive>",
                 "",
                 "Average Synchronous Cache Size:  # MB",
                 "test " + n[2] + ".) Synchronous Cached I/O performance is: # Megabytes/sec for drive <drive>",
                 "test " + n[3] + ".) Synchronous Uncached I/O performance is: # Megabytes/sec for drive <drive>",
                 "",
             }) {
            expected.push_back(l);
        }
    }
    for (const std::string& l : Lines{
             "",
             stars,
             "Total Disk I/O performance for drive <drive> is: # Megabytes/sec.",
             "Total Disk Score:  # Kes DiskMarks",
             "This disk subsystem is #% faster/slower than a Seagate Mode 3 EIDE Decathalon (with Micron P100)",
             stars,
             "",
             "",
         }) {
        expected.push_back(l);
    }
    EXPECT_EQ(kt::Masked(L(), drive), expected);

    // Files numbered 0 to 7, each gone after its test; buffers handed back.
    EXPECT_EQ(disk.count, 8);
    EXPECT_TRUE(kt::DirEntries(drive).empty());
    EXPECT_EQ(kp::LivePageBlocks(), live);
    EXPECT_NEAR(host.progress.back(), 1.0, 1e-9);
    EXPECT_EQ(host.status, (Lines{"Direct/Patterned I/O tests on drive " + drive, "Sequential I/O tests on drive " + drive}));
    EXPECT_EQ(host.captions.front(), "Testing drive " + drive + " - asynchronous cached");
    EXPECT_EQ(host.captions.back(), "Testing drive " + drive + " - synchronous uncached");
    EXPECT_EQ(host.pumps, 16);  // after every iteration
    EXPECT_EQ(host.next_tests, 0);  // the one drive's bar is started by the sequencer
}

// Records where, among the progress captions, each next-test command came.
class NextTestHost : public kt::RecordingHost {
public:
    void ProgressNextTest() override {
        RecordingHost::ProgressNextTest();
        at.push_back(captions.size());
    }
    std::vector<size_t> at;
};

TEST_F(DiskRunTest, FromTheSecondDriveOnTheProgressWindowGetsItsNextTest) {
    for (int minor : {9, 10, 11}) AddDrive(mounts_, minor);
    BuildMenu({});
    FastSettings();
    for (const std::vector<int>& ticked : {std::vector<int>{2}, {1, 3}, {1, 2, 3}}) {
        SCOPED_TRACE(ticked.size());
        NextTestHost h;
        report = ReportText{};
        for (int k = 0; k < kDrives; ++k) drivemenu.DRIVECHOSEN[k] = 0;
        for (int k : ticked) drivemenu.DRIVECHOSEN[k] = 1;
        ASSERT_EQ(DoDISKTest(0), 0);
        // Before each drive after the first: after the eight test captions of every drive before.
        std::vector<size_t> expected;
        for (size_t d = 1; d < ticked.size(); ++d) expected.push_back(8 * d);
        EXPECT_EQ(h.at, expected);
        EXPECT_EQ(h.next_tests, int(ticked.size()) - 1);
        EXPECT_EQ(h.captions.size(), 8 * ticked.size());
    }
}

TEST_F(DiskRunTest, TwoTickedDrivesStoreTheirScoresByOrdinal) {
    AddDrive(mounts_, 9);
    const std::string second = AddDrive(mounts_, 10);
    const std::string third = AddDrive(mounts_, 11);
    BuildMenu({2, 3});
    FastSettings();
    SetDiskSpaceReader([](const std::string&, DiskSpace* s) {
        s->total = int64_t(8) << 30;
        s->free = (int64_t(4) << 30) + (1 << 20);
        s->cluster = 4096;
        return true;
    });
    ASSERT_EQ(DoDISKTest(1), 0);
    EXPECT_GT(results.TotalDisk[0], 0);
    EXPECT_GT(results.TotalDisk[1], 0);
    EXPECT_EQ(results.TotalDisk[2], 0);
    EXPECT_EQ(results.disks_selected, 2);
    EXPECT_TRUE(kt::Contains(L(), "Number of drives being tested:  2"));
    EXPECT_TRUE(kt::Contains(L(), "Performing Long I/O Test on Local Disk Drive " + second + "."));
    EXPECT_TRUE(kt::Contains(L(), "Performing Long I/O Test on Local Disk Drive " + third + "."));
    // Sizes of 4 GiB and more are counted whole.
    EXPECT_TRUE(kt::Contains(L(), "Volume Size:  8192.00 MB"));
    EXPECT_TRUE(kt::Contains(L(), "Free Space:  4097.00 MB"));
    EXPECT_EQ(disk.count, 16);
    EXPECT_TRUE(kt::DirEntries(second).empty());
    EXPECT_TRUE(kt::DirEntries(third).empty());
}

TEST_F(DiskRunTest, StopAfterAnIterationDeletesTheFileAndAborts) {
    const std::string drive = AddDrive(mounts_, 9);
    BuildMenu({1});
    FastSettings();
    const size_t live = kp::LivePageBlocks();
    host.on_pump = [](int pump) {
        if (pump == 3) run.testend = 1;
    };
    EXPECT_EQ(DoDISKTest(0), -1);
    EXPECT_EQ(run.testrunning, 0);
    ASSERT_GE(L().size(), 2u);
    EXPECT_EQ(L()[L().size() - 2], "Test Aborted!");
    EXPECT_EQ(L().back(), "");
    const Lines masked = kt::Masked(L(), drive);
    EXPECT_TRUE(kt::Contains(masked, "test 1.) Asynchronous Cached I/O performance is: # Megabytes/sec for drive <drive>"));
    for (const std::string& l : masked) EXPECT_NE(l.rfind("test 2.)", 0), 0u) << l;
    EXPECT_TRUE(kt::DirEntries(drive).empty());
    EXPECT_EQ(kp::LivePageBlocks(), live);
    EXPECT_EQ(results.TotalDisk[0], 0);
}

TEST_F(DiskRunTest, AFailedRequestEndsTheRunWithTheMeasuringError) {
    const std::string drive = AddDrive(mounts_, 9);
    BuildMenu({1});
    FastSettings();
    int result;
    {
        kt::FileSizeLimit limit(128 * 1024);  // the generated offsets go far beyond
        result = DoDISKTest(0);
    }
    EXPECT_EQ(result, -1);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Error reading/writing data random asynchronous!");
    const Lines tail(L().end() - 4, L().end());
    EXPECT_EQ(kt::Masked(tail, drive), (Lines{"DiskTest Error!  Stopping ...", "Average Asynchronous Cache Size:  # MB",
                                              "Error Measuring Disk I/O", ""}));
    EXPECT_TRUE(kt::DirEntries(drive).empty());
    EXPECT_EQ(results.TotalDisk[0], 0);
    EXPECT_EQ(disk.flag, 1);
}

TEST_F(DiskRunTest, AFailedPassIsNeverAddedOrScored) {
    const std::string drive = AddDrive(mounts_, 9);
    BuildMenu({1});
    FastSettings();
    // The offset table of the second iteration cannot be allocated: that pass returns -1.0.
    host.on_pump = [](int pump) {
        if (pump == 1) kp::FailNextPageAllocations(1);
    };
    EXPECT_EQ(DoDISKTest(0), -1);
    const Lines tail(L().end() - 3, L().end());
    EXPECT_EQ(tail, (Lines{"Out of Memory", "Error Measuring Disk I/O", ""}));
    for (const std::string& l : L()) EXPECT_EQ(l.find("performance is:"), std::string::npos) << l;
    EXPECT_TRUE(kt::DirEntries(drive).empty());
    EXPECT_EQ(results.TotalDisk[0], 0);
}

TEST_F(DiskRunTest, BuffersThatCannotBeAllocatedAbortTheRun) {
    AddDrive(mounts_, 9);
    BuildMenu({1});
    FastSettings();
    const size_t live = kp::LivePageBlocks();
    kp::FailNextPageAllocations(1);
    EXPECT_EQ(DoDISKTest(0), -1);
    EXPECT_EQ(L(), (Lines{"Out of Memory", "Test Aborted!", ""}));
    EXPECT_EQ(kp::LivePageBlocks(), live);
}

TEST_F(DiskRunTest, RefusedDirectIoAbortsAtTheUncachedTest) {
    const std::string drive = AddDrive(mounts_, 9);
    BuildMenu({1});
    FastSettings();
    kp::RefuseDirectIo(true);
    EXPECT_EQ(DoDISKTest(0), -1);
    const Lines masked = kt::Masked(L(), drive);
    EXPECT_TRUE(kt::Contains(masked, "test 3.) Synchronous Cached I/O performance is: # Megabytes/sec for drive <drive>"));
    const Lines tail(masked.end() - 3, masked.end());
    EXPECT_EQ(tail, (Lines{"Uncached I/O refused on drive <drive>: the file system does not accept direct I/O (Invalid argument)",
                           "Test Aborted!", ""}));
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Error opening file for read/write!");
    EXPECT_TRUE(kt::DirEntries(drive).empty());
}

TEST_F(DiskRunTest, ADriveShortOfSpaceShowsItsBytesAndAborts) {
    const std::string drive = AddDrive(mounts_, 9);
    BuildMenu({1});
    FastSettings();
    SetDiskSpaceReader([](const std::string&, DiskSpace* s) {
        s->total = 1 << 20;
        s->free = 5000;
        return true;
    });
    EXPECT_EQ(DoDISKTest(0), -1);
    const Lines tail(L().end() - 5, L().end());
    EXPECT_EQ(tail, (Lines{"Volume Name:  ", "Volume Size:  1.00 MB", "Free Space:  5000 bytes", "Test Aborted!", ""}));
    EXPECT_EQ(boxes.boxes().size(), 2u);
    EXPECT_TRUE(kt::DirEntries(drive).empty());

    report = ReportText{};
    SetDiskSpaceReader([](const std::string&, DiskSpace*) { return false; });
    EXPECT_EQ(DoDISKTest(0), -1);
    EXPECT_TRUE(kt::Contains(L(), "Cannont Obtain Disk Information!"));
}

// One drive, one iteration a test, counter data shown, and an analyser that answers.
void StartAnsweringAnalyser(int processors) {
    disk_run_lengths.short_run = 1;
    setenv("FAKE_LOADMETER_MODE", "answer", 1);
    setenv("FAKE_LOADMETER_ARGS", (kt::TempDir() + "/args.txt").c_str(), 1);
    prefs.show_perf_data = 1;
    run.real_num_processors = processors;
    StartPerfProcess();
}

TEST_F(DiskRunTest, AnalyserSamplesAroundTheTests) {
    const std::string drive = AddDrive(mounts_, 9);
    BuildMenu({1});
    FastSettings();
    perflink.watch_ms = 5000;
    prefs.perf_counters[0] = prefs.perf_counters[1] = prefs.perf_counters[2] = 1;
    StartAnsweringAnalyser(12);
    ASSERT_TRUE(PerfLinkOpen());

    ASSERT_EQ(DoDISKTest(0), 0);
    EXPECT_FALSE(PerfLinkOpen());  // stopped at the end
    EXPECT_EQ(pchk.countertime, 800);
    EXPECT_EQ(pchk.disk_test_running, 1);
    std::string cpus1, cpus2, ints1, ints2;
    for (int i = 0; i < 12; ++i) {
        (i < 7 ? cpus1 : cpus2) += "CPU " + std::to_string(i) + ":  50.0%; ";
        (i < 7 ? ints1 : ints2) += "CPU " + std::to_string(i) + ":  7; ";
    }
    // The fake analyser answers score[j] = j + 1 and 50 % / 7 per processor.
    const Lines sample = {"Average CPU Usage:  1.0% per CPU", cpus1, cpus2, "Average Interrupts/sec.:  2 per CPU", ints1, ints2,
                          "Average Context Switches/sec.:  3", ""};
    const Lines masked = kt::Masked(L(), drive);
    auto at = std::find(masked.begin(), masked.end(),
                        "test 1.) Asynchronous Cached I/O performance is: # Megabytes/sec for drive <drive>");
    ASSERT_NE(at, masked.end());
    EXPECT_EQ(Lines(L().begin() + (at - masked.begin()) + 1, L().begin() + (at - masked.begin()) + 9), sample);
    EXPECT_EQ(std::count(L().begin(), L().end(), cpus1), 8);  // after every test
    // Idle load before the drive: one-third of the average with several processors.
    auto idle = std::find(L().begin(), L().end(), "Idle Processor Load:  0.3%");
    ASSERT_NE(idle, L().end());
    EXPECT_EQ(*(idle + 1), "");
    EXPECT_EQ(*(idle + 2), "Performing Short I/O Test on Local Disk Drive " + drive + ".");
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_FALSE(kt::Contains(L(), "Loadmeter throttled!  Restarting ..."));
}

TEST_F(DiskRunTest, ARestartThatCannotStartTheAnalyserShowsNoIdleReading) {
    const std::string drive = AddDrive(mounts_, 9);
    BuildMenu({1});
    FastSettings();
    prefs.perf_counters[0] = 1;
    StartAnsweringAnalyser(2);
    ASSERT_TRUE(PerfLinkOpen());
    // The analyser ends (every average then reads 0), and none is to be had for the restart.
    perflink.end_wait_ms = 100;
    EndPerfProcess();
    // The counter library for the cache samples stays; the analyser is gone.
    const std::string dir = kt::FreshDir("no-analyser");
    ASSERT_EQ(symlink((perflink.program_directory + "/libkestest.so").c_str(), (dir + "/libkestest.so").c_str()), 0);
    perflink.program_directory = dir;

    ASSERT_EQ(DoDISKTest(0), 0);
    const auto restart = std::find(L().begin(), L().end(), "Loadmeter throttled!  Restarting ...");
    ASSERT_NE(restart, L().end());
    EXPECT_EQ(*(restart + 1), "");
    for (const std::string& line : L()) EXPECT_EQ(line.rfind("Idle Processor Load", 0), std::string::npos) << line;
    EXPECT_TRUE(perflink.given_up);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "No such file or directory (" + dir + "/loadmeter)");
}

// A direct pattern's result line as the sequential pattern numbers it (test n + 4).
std::string Renumbered(const std::string& line) {
    if (line.rfind("test ", 0) != 0 || line.size() < 6) return line;
    std::string out = line;
    out[5] = char(out[5] + 4);
    return out;
}

TEST_F(DiskRunTest, TheEmptyLineAfterEachResultFollowsTheCounterPreferenceAlone) {
    const std::string drive = AddDrive(mounts_, 9);
    BuildMenu({1});
    FastSettings();
    disk_run_lengths.short_run = 1;
    prefs.perf_counters[1] = prefs.perf_counters[2] = 1;  // no idle load: the first exchange is test 1's
    setenv("FAKE_LOADMETER_ARGS", (kt::TempDir() + "/args.txt").c_str(), 1);
    const std::string counters[2] = {"Average Interrupts/sec.:  2", "Average Context Switches/sec.:  3"};
    const std::string result[4] = {
        "test 1.) Asynchronous Cached I/O performance is: # Megabytes/sec for drive <drive>",
        "test 2.) Asynchronous Write-through I/O performance is: # Megabytes/sec for drive <drive>",
        "test 3.) Synchronous Cached I/O performance is: # Megabytes/sec for drive <drive>",
        "test 4.) Synchronous Uncached I/O performance is: # Megabytes/sec for drive <drive>",
    };
    const std::string cache = "Average Synchronous Cache Size:  # MB";
    const std::string lost = "Performance data not measured from this test on: the connection with Loadmeter was broken.";
    struct Case {
        const char* name;
        int show_perf_data;
        const char* analyser;  // the stand-in's mode; nullptr: given up before the disk test
        Lines pattern;         // the direct pattern's lines from test 1's result on
        Lines sequential;      // the sequential pattern's; empty: the direct one's renumbered, no restart
    };
    const Case cases[] = {
        {"no counter data", 0, "answer", {result[0], result[1], "", cache, result[2], result[3], "", ""}, {}},
        {"an analyser that answers", 1, "answer",
         {result[0], counters[0], counters[1], "", result[1], counters[0], counters[1], "", "", cache,
          result[2], counters[0], counters[1], "", result[3], counters[0], counters[1], "", "", ""},
         {}},
        {"given up before the test", 1, nullptr,
         {result[0], "", result[1], "", "", cache, result[2], "", result[3], "", "", ""}, {}},
        {"given up during test 1's exchange", 1, "stall",
         {result[0], "Loadmeter throttled!  Restarting ...", "", result[1], "", "", cache, result[2], "", result[3],
          "", "", ""},
         {}},
        // Killed after answering test 1: the later tests have no readings, and the report says
        // so once, at test 2.
        {"broken after test 1", 1, "die-after-one",
         {result[0], counters[0], counters[1], "", result[1], lost, "", "", cache, result[2], "", result[3], "", "", ""},
         {Renumbered(result[0]), "", Renumbered(result[1]), "", "", cache, Renumbered(result[2]), "",
          Renumbered(result[3]), "", "", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        report = ReportText{};
        boxes.Clear();
        prefs.show_perf_data = c.show_perf_data;
        AllowPerfRestarts();
        perflink.given_up = c.analyser == nullptr;
        const bool stalls = c.analyser != nullptr && std::string(c.analyser) == "stall";
        const bool breaks = c.analyser != nullptr && std::string(c.analyser) == "die-after-one";
        perflink.watch_ms = stalls ? kt::kStallWatchMs : kt::kAnswerWatchMs;
        if (c.analyser != nullptr) setenv("FAKE_LOADMETER_MODE", c.analyser, 1);
        if (c.show_perf_data != 0 && c.analyser != nullptr) {
            StartPerfProcess();
            ASSERT_TRUE(PerfLinkOpen());
        }
        ASSERT_EQ(DoDISKTest(0), 0);
        EXPECT_FALSE(PerfLinkOpen());
        // The direct pattern up to the sequential banner, the sequential one up to the score.
        const Lines masked = kt::Masked(L(), drive);
        const auto direct = std::find(masked.begin(), masked.end(), result[0]);
        const auto banner = std::find(direct, masked.end(), "************ Executing sequential I/O tests ************");
        const auto sequential = std::find(banner, masked.end(), Renumbered(result[0]));
        const auto stars = std::find(sequential, masked.end(), std::string(85, '*'));
        ASSERT_NE(stars, masked.end());
        EXPECT_EQ(Lines(direct, banner), c.pattern);
        Lines renumbered = c.sequential;
        if (renumbered.empty()) {
            for (const std::string& l : c.pattern) {
                if (l != "Loadmeter throttled!  Restarting ...") renumbered.push_back(Renumbered(l));
            }
        }
        EXPECT_EQ(Lines(sequential, stars), renumbered);
        ASSERT_EQ(boxes.boxes().size(), breaks ? 1u : 0u);
        if (breaks) {
            EXPECT_EQ(boxes.boxes()[0].text, "Connection with Loadmeter was broken!");
        }
    }
    AllowPerfRestarts();
}

}  // namespace

// The disk test's file routines on a temporary directory: every cache mode and pass, the file's
// name and folder, the space check, refused direct I/O and failing requests.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>

#include "kestrel/engine/run/host.h"
#include "platform/pages.h"
#include "tests/kestrel/engine/disk_fixture.h"
#include "tests/support/recording_host.h"

namespace {

constexpr int kBlock = 4096;
constexpr int kBlocks = 50;
constexpr const char* kStopping = "DiskTest Error!  Stopping ...";

std::string RealPath(const std::string& p) {
    char* r = realpath(p.c_str(), nullptr);
    std::string s = r != nullptr ? r : p;
    std::free(r);
    return s;
}

class DiskIo : public ::testing::Test {
protected:
    void SetUp() override {
        kt::ResetDiskEngine();
        drive_ = kt::FreshDir("drive") + "/";
        disk.thedrive = drive_;
        disk.blocksize = kBlock;
        disk.filesize = kBlocks;
        std::memset(disk.buf, fillchar, sizeof disk.buf);
        ASSERT_EQ(AllocateDiskBuffers(), 0);
    }
    void TearDown() override {
        endtest();
        FreeDiskBuffers();
    }

    // The open file's size and bytes.
    off_t Size() const {
        struct stat st{};
        fstat(disk.filehandle, &st);
        return st.st_size;
    }
    std::string Bytes() const { return kt::ReadFile(disk.filename_disktest); }
    static bool AllFill(const std::string& s) {
        return std::all_of(s.begin(), s.end(), [](char c) { return c == fillchar; });
    }

    kt::RecordingHost host;
    kp::BoxRecorder boxes;
    std::string drive_;
};

struct ModeCase {
    const char* name;
    int open_mode;  // diskio0's mode, -1 diskionocache
    int pattern;
    std::function<double()> pass;
    enum { AtZero, Blocks, Offsets } layout;
    bool content;   // the written bytes can be checked (the synchronous generated-offset pass reads
                    // holes into its buffer and writes them on)
};

TEST_F(DiskIo, EveryCacheModeWritesAndReadsTheFileBack) {
    const ModeCase cases[] = {
        {"async cached direct", 0, 0, [] { return diskio1(0, 0); }, ModeCase::AtZero, true},
        {"async cached sequential", 0, 1, [] { return diskio1(0, 1); }, ModeCase::Blocks, true},
        {"async write-through direct", 2, 0, [] { return diskio1(0, 0); }, ModeCase::AtZero, true},
        {"async write-through sequential", 2, 1, [] { return diskio1(0, 1); }, ModeCase::Blocks, true},
        {"async generated offsets", 0, 0, [] { return diskio3(0, 0); }, ModeCase::Offsets, true},
        {"sync cached direct", 1, 0, [] { return diskio1(1, 0); }, ModeCase::Blocks, true},
        {"sync cached sequential", 1, 1, [] { return diskio3(1, 1); }, ModeCase::Blocks, true},
        {"sync generated offsets", 1, 0, [] { return diskio3(1, 0); }, ModeCase::Offsets, false},
        {"sync unflushed direct", 1, 0, [] { return diskio1(2, 0); }, ModeCase::Blocks, true},
        {"uncached direct", -1, 0, [] { return diskio2(); }, ModeCase::Blocks, true},
        {"uncached sequential", -1, 1, [] { return diskio4(); }, ModeCase::Blocks, true},
    };
    const std::vector<uint32_t> offsets = GeneratedOffsets(kBlocks, kBlock);
    const off_t furthest = off_t(*std::max_element(offsets.begin(), offsets.end())) + kBlock;
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(c.name);
        prefs.use_high_precision = c.pattern;  // both clocks
        std::memset(disk.buf, fillchar, sizeof disk.buf);
        ASSERT_EQ(c.open_mode < 0 ? diskionocache(c.pattern) : diskio0(c.open_mode, c.pattern), 0);
        const int flags = kt::OpenFlags(disk.filehandle);
        EXPECT_EQ((flags & O_DSYNC) != 0, c.open_mode == 2);
        EXPECT_EQ((flags & O_DIRECT) != 0, c.open_mode < 0);
        EXPECT_GE(c.pass(), 0.0);
        EXPECT_EQ(disk.flag, 1);
        EXPECT_EQ(disk.filerror, 0);
        const off_t expected = c.layout == ModeCase::AtZero ? kBlock : c.layout == ModeCase::Blocks ? off_t(kBlock) * kBlocks : furthest;
        EXPECT_EQ(Size(), expected);
        if (c.content) {
            const std::string bytes = Bytes();
            if (c.layout == ModeCase::Offsets) {
                for (uint32_t o : offsets) EXPECT_TRUE(AllFill(bytes.substr(o, kBlock))) << "offset " << o;
            } else {
                EXPECT_TRUE(AllFill(bytes));
            }
        }
        const std::string path = disk.filename_disktest;
        endtest();
        EXPECT_NE(access(path.c_str(), F_OK), 0);  // gone after the pass
        EXPECT_EQ(disk.filehandle, -1);
    }
    EXPECT_TRUE(kt::DirEntries(drive_).empty());
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_TRUE(report.szGreeting.empty());
}

TEST_F(DiskIo, ReadsFollowTheFilePointerWhereTheWriteEnded) {
    ASSERT_EQ(diskio0(1, 0), 0);
    diskio1(1, 0);  // fresh file: every read is at its end and moves nothing
    EXPECT_EQ(Size(), off_t(kBlock) * kBlocks);
    // Now each read moves a block, so the writes go to every other block until the reads run
    // off the end: the last write lands on block 74.
    diskio1(1, 0);
    EXPECT_EQ(Size(), off_t(kBlock) * 75);
}

TEST_F(DiskIo, TestFilesAreNumberedOnAndDeleted) {
    disk.count = 0;
    std::vector<std::string> names;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(i == 1 ? diskionocache(0) : diskio0(i, 0), 0);
        names.push_back(disk.filename_disktest);
        endtest();
    }
    EXPECT_EQ(names, (std::vector<std::string>{drive_ + "tkesA0.tmp", drive_ + "tkesA1.tmp", drive_ + "tkesA2.tmp"}));
    EXPECT_EQ(disk.count, 3);
    EXPECT_TRUE(kt::DirEntries(drive_).empty());
}

TEST_F(DiskIo, AStaleFileOfACrashedRunDoesNotBlockTheNextRun) {
    kt::WriteFile(drive_ + "tkesA0.tmp", "left by a crash");
    disk.count = 0;
    ASSERT_EQ(diskio0(1, 1), 0);
    EXPECT_EQ(disk.filename_disktest, drive_ + "tkesA0.tmp");
    EXPECT_EQ(Size(), 0);
    endtest();
    EXPECT_TRUE(kt::DirEntries(drive_).empty());
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(DiskIo, ALinkUnderTheNameIsLeftAloneAndTheNextNumberTaken) {
    const std::string victim = kt::WriteFile(kt::FreshDir("elsewhere") + "/victim", "precious");
    ASSERT_EQ(symlink(victim.c_str(), (drive_ + "tkesA4.tmp").c_str()), 0);
    disk.count = 4;
    ASSERT_EQ(diskio0(1, 0), 0);
    EXPECT_EQ(disk.filename_disktest, drive_ + "tkesA5.tmp");
    diskio1(1, 0);
    endtest();
    EXPECT_EQ(kt::ReadFile(victim), "precious");
    EXPECT_EQ(kt::DirEntries(drive_), std::vector<std::string>{"tkesA4.tmp"});
    EXPECT_EQ(disk.count, 6);
}

TEST_F(DiskIo, TemporaryAndHomeDirectoriesAreReRootedOnTheDriveAndCreated) {
    const std::string drive = drive_.substr(0, drive_.size() - 1);
    kt::FixtureMounts mounts;
    mounts.Add("8:1", "/", "ext4", "/dev/sda1").Add("8:2", drive, "ext4", "/dev/sda2");

    prefs.defdirnumber = 1;
    ASSERT_EQ(diskio0(1, 0), 0);
    const std::string temp = drive_ + RealPath(kt::TempDir()).substr(1) + "/";
    EXPECT_EQ(disk.filename_disktest, temp + "tkesA0.tmp");
    endtest();

    prefs.defdirnumber = 2;
    ASSERT_EQ(diskio0(1, 0), 0);
    const std::string home = drive_ + RealPath(std::getenv("HOME")).substr(1) + "/";
    EXPECT_EQ(disk.filename_disktest, home + "tkesA1.tmp");
    endtest();

    // On the drive that holds it, the temporary directory is used as it is.
    prefs.defdirnumber = 1;
    disk.thedrive = "/";
    ASSERT_EQ(diskio0(1, 0), 0);
    EXPECT_EQ(disk.filename_disktest, RealPath(kt::TempDir()) + "/tkesA2.tmp");
    endtest();
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(DiskIo, LongHomePathsWorkAndImpossibleOnesTakeTheDirectoryFailure) {
    const std::string drive = drive_.substr(0, drive_.size() - 1);
    kt::FixtureMounts mounts;
    mounts.Add("8:1", "/", "ext4", "/dev/sda1").Add("8:2", drive, "ext4", "/dev/sda2");
    const std::string old_home = std::getenv("HOME");
    prefs.defdirnumber = 2;

    // Far beyond a 255-character variable or a 260-character path.
    std::string home = old_home;
    for (int i = 0; i < 3; ++i) home += "/" + std::string(200, char('a' + i));
    setenv("HOME", home.c_str(), 1);
    EXPECT_EQ(diskio0(1, 0), 0);
    EXPECT_EQ(disk.filename_disktest, drive_ + home.substr(1) + "/tkesA0.tmp");
    EXPECT_GT(disk.filename_disktest.size(), 600u);
    endtest();
    EXPECT_TRUE(boxes.boxes().empty());

    // Longer than the system takes.
    for (int i = 0; i < 25; ++i) home += "/" + std::string(200, 'z');
    setenv("HOME", home.c_str(), 1);
    EXPECT_EQ(diskio0(1, 0), 1);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Cannot create directory " + drive_ + home.substr(1) + "/.");
    EXPECT_EQ(boxes.boxes()[0].caption, "File Exception");
    EXPECT_EQ(boxes.boxes()[0].icon, kp::Icon::Stop);
    EXPECT_EQ(disk.filehandle, -1);

    // A file where a folder has to go.
    boxes.Clear();
    setenv("HOME", (old_home + "-x/sub").c_str(), 1);
    const std::string blocker = kt::WriteFile(drive_ + old_home.substr(1) + "-x", "");
    EXPECT_EQ(diskio0(1, 0), 1);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Cannot create directory " + blocker + "/sub/.");

    // No home directory at all.
    boxes.Clear();
    unsetenv("HOME");
    EXPECT_EQ(diskio0(1, 0), 1);
    setenv("HOME", old_home.c_str(), 1);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Error retrieving the %HOMEPATH% environmental variable");
    EXPECT_EQ(boxes.boxes()[0].caption, "Kestrel Disk Exception");
    EXPECT_EQ(disk.filerror, 1);
}

// The environment variable as it was, put back when this ends.
class EnvRestore {
public:
    explicit EnvRestore(const char* name) : name_(name) {
        const char* v = std::getenv(name);
        had_ = v != nullptr;
        if (had_) value_ = v;
    }
    ~EnvRestore() {
        if (had_) setenv(name_, value_.c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char* name_;
    bool had_ = false;
    std::string value_;
};

void SetOrUnset(const char* name, const std::string& value) {
    if (value.empty()) unsetenv(name);
    else setenv(name, value.c_str(), 1);
}

TEST_F(DiskIo, UnderRootTheFileGoesWhereThisUserMayCreateFilesOnTheDrive) {
    EnvRestore keep_home("HOME"), keep_tmp("TMPDIR");
    // Drive D (8:2) with folders on it; a file system mounted inside it (8:3); D's device bound
    // to a second place (8:2 again, so no drive of its own); a link into D; a folder on "/".
    const std::string d = kt::FreshDir("mnt");
    const std::string d_home = d + "/home/user", d_tmp = d + "/tmp", nested = d + "/nested";
    const std::string bound = kt::FreshDir("bound"), other = kt::FreshDir("other");
    const std::string link = kt::TempDir() + "/home-link";
    for (const std::string& dir : {d_home, d_tmp, nested + "/home", bound + "/home"}) {
        ASSERT_EQ(system(("mkdir -p '" + dir + "'").c_str()), 0);
    }
    ASSERT_EQ(symlink(d_home.c_str(), link.c_str()), 0);
    kt::FixtureMounts mounts;
    mounts.Add("8:1", "/", "ext4", "/dev/sda1")
        .Add("8:2", d, "ext4", "/dev/sda2")
        .Add("8:3", nested, "ext4", "/dev/sda3")
        .Raw("40 1 8:2 /srv " + bound + " rw,relatime - ext4 /dev/sda2 rw");

    struct Case {
        const char* name;
        std::string drive;     // the drive's root
        bool drive_writable;   // this user may create files in the mount point
        std::string home;      // empty: not set
        std::string tmpdir;    // empty: not set
        std::string expected;  // the folder of the test file; empty: none fits
    };
    const Case cases[] = {
        {"a mount point the user may write is taken first", d + "/", true, d_home, d_tmp, d + "/"},
        {"the home directory on the drive", d + "/", false, d_home, d_tmp, d_home + "/"},
        {"home elsewhere: the temporary directory on the drive", d + "/", false, other, d_tmp, d_tmp + "/"},
        {"home unset: the temporary directory", d + "/", false, "", d_tmp, d_tmp + "/"},
        {"home through a link into the drive", d + "/", false, link, other, link + "/"},
        {"home on the drive's device bound elsewhere", d + "/", false, bound + "/home", other, bound + "/home/"},
        {"home below the mount point but on a file system mounted there", d + "/", false, nested + "/home", other, ""},
        {"home missing on the drive", d + "/", false, d + "/gone", other, ""},
        {"neither on the drive", d + "/", false, other, other, ""},
        {"the root drive: home on it", "/", false, other, d_tmp, other + "/"},
        {"the root drive: TMPDIR unset means /tmp", "/", false, d_home, "", "/tmp/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetOrUnset("HOME", c.home);
        SetOrUnset("TMPDIR", c.tmpdir);
        std::vector<std::string> asked;
        SetWritableCheck([&](const std::string& dir) {
            asked.push_back(dir);
            return c.drive_writable && dir == c.drive;
        });
        EXPECT_EQ(DriveRootDirectory(c.drive), c.expected);
        EXPECT_EQ(asked, std::vector<std::string>{c.drive});
    }

    // The test file follows the choice; when nothing fits, the open fails as it does on a
    // folder that refuses the file, and nothing is created.
    SetWritableCheck([](const std::string&) { return false; });
    disk.thedrive = d + "/";
    disk.count = 0;
    setenv("HOME", d_home.c_str(), 1);
    ASSERT_EQ(diskio0(1, 0), 0);
    EXPECT_EQ(disk.filename_disktest, d_home + "/tkesA0.tmp");
    endtest();
    setenv("HOME", other.c_str(), 1);
    setenv("TMPDIR", other.c_str(), 1);
    EXPECT_EQ(diskio0(1, 0), 1);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Error opening file for read/write!");
    EXPECT_EQ(boxes.boxes()[0].caption, "File Exception!");
    EXPECT_EQ(boxes.boxes()[0].icon, kp::Icon::Stop);
    EXPECT_EQ(disk.filerror, 2);
    EXPECT_EQ(disk.filehandle, -1);
    EXPECT_EQ(kt::DirEntries(d).size(), 3u);  // home, tmp and nested: nothing left at the mount point
    for (const std::string& dir : {d_home, d_tmp, other}) EXPECT_TRUE(kt::DirEntries(dir).empty()) << dir;
}

TEST_F(DiskIo, SpaceAbove4GiBIsCountedWhole) {
    SetDiskSpaceReader([](const std::string&, DiskSpace* s) {
        s->total = int64_t(8) << 30;
        s->free = (int64_t(4) << 30) + (1 << 20);  // 1 MiB once cut to 32 bits
        s->cluster = 4096;
        return true;
    });
    int64_t total = 0, free = 0;
    EXPECT_EQ(GetDiskData(&total, &free, drive_), 1);
    EXPECT_EQ(total, int64_t(8) << 30);
    EXPECT_EQ(free, (int64_t(4) << 30) + (1 << 20));
    disk.filesize = 18 * 280;  // the largest file: 20 MB
    EXPECT_EQ(diskio0(1, 0), 0);
    EXPECT_EQ(disk.clust_size, 4096);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(DiskIo, NotEnoughSpaceShowsBothBoxesAndCreatesNoFile) {
    SetDiskSpaceReader([](const std::string&, DiskSpace* s) {
        s->total = int64_t(8) << 30;
        s->free = 1000000;
        s->cluster = 4096;
        return true;
    });
    disk.filesize = 18 * 280;
    EXPECT_EQ(diskio0(0, 0), 1);
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0].text, "Not enough disk space to complete test!");
    EXPECT_EQ(boxes.boxes()[0].caption, "Disk Exception!");
    EXPECT_EQ(boxes.boxes()[0].icon, kp::Icon::Stop);
    EXPECT_EQ(boxes.boxes()[1].text, "Space needed 20643 KBs, space available 1000.0 KBs");
    EXPECT_EQ(boxes.boxes()[1].icon, kp::Icon::Information);
    EXPECT_EQ(host.beeps, 1);
    EXPECT_EQ(disk.count, 0);
    EXPECT_TRUE(kt::DirEntries(drive_).empty());

    boxes.Clear();
    SetDiskSpaceReader([](const std::string&, DiskSpace*) { return false; });
    EXPECT_EQ(diskio0(0, 0), 1);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Error Accessing Drive " + drive_ + "!");
    EXPECT_EQ(boxes.boxes()[0].caption, "Disk Exception!");
    EXPECT_EQ(disk.filerror, 12);
    int64_t total = 1, free = 1;
    EXPECT_EQ(GetDiskData(&total, &free, drive_), 0);
    EXPECT_EQ(total, 0);
    EXPECT_EQ(free, 0);
}

// The refusal: the open's box, one report line with the reason, no file, no buffered stand-in.
void ExpectRefused(const kp::BoxRecorder& boxes, const std::string& dir, const std::string& line) {
    EXPECT_EQ(report.szGreeting, std::vector<std::string>{line});
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Error opening file for read/write!");
    EXPECT_EQ(boxes.boxes()[0].caption, "File Exception!");
    EXPECT_EQ(disk.filerror, 2);
    EXPECT_EQ(disk.filehandle, -1);
    EXPECT_TRUE(kt::DirEntries(dir).empty());
}

TEST_F(DiskIo, RefusedDirectIoTakesTheOpenFailureWithItsReason) {
    kp::RefuseDirectIo(true);
    EXPECT_EQ(diskionocache(0), 1);
    ExpectRefused(boxes, drive_,
                  "Uncached I/O refused on drive " + drive_ + ": the file system does not accept direct I/O (Invalid argument)");
    EXPECT_EQ(diskio2(), -1.0);  // nothing runs buffered in its place
}

TEST_F(DiskIo, RamFileSystemRefusesDirectIo) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a RAM file system needs root";
    const std::string mnt = kt::FreshDir("ramfs");
    if (mount("none", mnt.c_str(), "ramfs", 0, nullptr) != 0) GTEST_SKIP() << "ramfs cannot be mounted here";
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{mnt};
    // A RAM file system reports no free space; the space check is not what is tested here.
    SetDiskSpaceReader([](const std::string&, DiskSpace* s) {
        s->total = s->free = int64_t(1) << 30;
        return true;
    });
    disk.thedrive = mnt + "/";
    ASSERT_EQ(diskio0(1, 0), 0);  // cached files work there
    diskio1(1, 0);
    endtest();

    EXPECT_EQ(diskionocache(0), 1);
    ExpectRefused(boxes, mnt,
                  "Uncached I/O refused on drive " + mnt + "/: the file system does not accept direct I/O (Invalid argument)");
    report = ReportText{};
    boxes.Clear();
    disk.blocksize = 512;
    EXPECT_EQ(diskionocache(1), 1);
    ExpectRefused(boxes, mnt,
                  "Uncached I/O refused on drive " + mnt + "/: block size 512 Bytes is below the direct I/O alignment of 4096 Bytes");
}

TEST_F(DiskIo, FailedOverlappedRequestsStopThePass) {
    ASSERT_EQ(diskio0(0, 1), 0);
    {
        kt::FileSizeLimit limit(16 * kBlock);
        EXPECT_GE(diskio1(0, 1), 0.0);
    }
    EXPECT_EQ(disk.flag, 0);
    EXPECT_EQ(disk.filerror, 3);
    EXPECT_EQ(report.szGreeting, std::vector<std::string>{kStopping});
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Error reading/writing data asynchronous sequential!");
    EXPECT_EQ(boxes.boxes()[0].caption, "File Exception!");
    // The next pass of the test issues nothing and says nothing more.
    EXPECT_GE(diskio3(0, 0), 0.0);
    EXPECT_EQ(boxes.boxes().size(), 1u);
}

TEST_F(DiskIo, FailedSynchronousRequestsSetTheirCodes) {
    struct Case {
        int open_mode;
        int pattern;
        std::function<double()> pass;
        const char* text;
        int code;
    };
    const Case cases[] = {
        {1, 0, [] { return diskio1(1, 0); }, "Error reading/writing data synchronous direct!", 3},
        {1, 1, [] { return diskio1(1, 1); }, "Error reading/writing data synchronous sequential!", 3},
        {1, 0, [] { return diskio3(1, 0); }, "Error reading/writing data random synchronous!", 7},
        {0, 0, [] { return diskio3(0, 0); }, "Error reading/writing data random asynchronous!", 7},
        {-1, 0, [] { return diskio2(); }, "Error reading data uncached direct!", 5},
        {-1, 1, [] { return diskio4(); }, "Error writing data uncached sequential!", 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        report = ReportText{};
        boxes.Clear();
        disk.flag = 1;
        ASSERT_EQ(c.open_mode < 0 ? diskionocache(c.pattern) : diskio0(c.open_mode, c.pattern), 0);
        {
            kt::FileSizeLimit limit(8 * kBlock);
            EXPECT_GE(c.pass(), 0.0);
        }
        EXPECT_EQ(disk.flag, 0);
        EXPECT_EQ(disk.filerror, c.code);
        EXPECT_EQ(report.szGreeting, std::vector<std::string>{kStopping});
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, c.text);
        if (c.open_mode < 0) {
            EXPECT_EQ(c.pass(), -1.0);  // an uncached pass after a failure is not timed
        }
        endtest();
    }
    EXPECT_TRUE(kt::DirEntries(drive_).empty());
}

TEST_F(DiskIo, OffsetTableWithoutMemoryFailsThePass) {
    ASSERT_EQ(diskio0(1, 0), 0);
    kp::FailNextPageAllocations(1);
    EXPECT_EQ(diskio3(1, 0), -1.0);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Allocation Error!");
    EXPECT_EQ(boxes.boxes()[0].caption, "Memory Exception");
    EXPECT_EQ(boxes.boxes()[0].owner, kp::Owner::Progress);
    EXPECT_EQ(report.szGreeting, std::vector<std::string>{"Out of Memory"});
}

TEST_F(DiskIo, AFileThatCannotBeDeletedIsReported) {
    ASSERT_EQ(diskio0(1, 0), 0);
    ASSERT_EQ(unlink(disk.filename_disktest.c_str()), 0);
    endtest();
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Error deleting file!");
    EXPECT_EQ(boxes.boxes()[0].caption, "File Exception");
    endtest();  // nothing left to close or delete
    EXPECT_EQ(boxes.boxes().size(), 1u);
}

TEST_F(DiskIo, BuffersAreFilledAndAllOrNothing) {
    for (int k = 0; k < kDiskBuffers; ++k) {
        ASSERT_NE(disk.buf2[k], nullptr);
        EXPECT_EQ(disk.buf2[k][kBlock - 1], fillchar);
        EXPECT_EQ(disk.buf3[k][0], fillchar);
    }
    FreeDiskBuffers();
    const size_t live = kp::LivePageBlocks();
    kp::FailNextPageAllocations(1);
    EXPECT_EQ(AllocateDiskBuffers(), -1);
    EXPECT_EQ(kp::LivePageBlocks(), live);
    EXPECT_EQ(disk.buf2[0], nullptr);
}

TEST(GeneratedOffsets, FormulaModulusAndWrap) {
    // 512-byte blocks: the modulus is 800 - 512 = 288.
    std::vector<uint32_t> t = GeneratedOffsets(800, 512);
    ASSERT_EQ(t.size(), 800u);
    EXPECT_EQ(t[0], 0u);
    EXPECT_EQ(t[1], (512u - 20u) % 288u);
    EXPECT_EQ(t[2], (8u + 4u * 512u) % 288u);
    EXPECT_TRUE(std::all_of(t.begin(), t.end(), [](uint32_t v) { return v < 288; }));
    // Blocks fewer than bytes: the unsigned modulus is huge and leaves the values as they are.
    t = GeneratedOffsets(180, 4096);
    EXPECT_EQ(t[1], 4096u - 20u);
    EXPECT_EQ(t[2], 8u + 4u * 4096u);
    EXPECT_EQ(t[3], 3u * 4096u - 60u);
    // A zero modulus leaves the value unreduced.
    t = GeneratedOffsets(512, 512);
    EXPECT_EQ(t[1], 492u);
    EXPECT_TRUE(GeneratedOffsets(0, 512).empty());
}

}  // namespace

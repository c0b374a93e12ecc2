#include "kestrel/engine/disk/disk_io.h"
#include "kestrel/engine/processor/pass_clock.h"
#include "shared/strformat.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "kestrel/engine/disk/disk_drives.h"
#include "kestrel/engine/run/host.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/settings.h"
#include "platform/clock.h"
#include "platform/disk_file.h"
#include "platform/msgbox.h"
#include "shared/helpers.h"

DiskTestState disk;

namespace {

constexpr const char* kStopping = "DiskTest Error!  Stopping ...";
// Names tried when the first one belongs to a link or to another user.
constexpr int kNameTries = 100;

bool StatvfsSpace(const std::string& root, DiskSpace* space) {
    struct statvfs vfs{};
    if (statvfs(root.c_str(), &vfs) != 0) return false;
    space->total = int64_t(vfs.f_blocks) * int64_t(vfs.f_frsize);
    space->free = int64_t(vfs.f_bavail) * int64_t(vfs.f_frsize);
    space->cluster = int64_t(vfs.f_bsize);
    return true;
}

DiskSpaceReader g_space_reader = &StatvfsSpace;

bool MayCreateFiles(const std::string& dir) { return faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0; }

WritableCheck g_writable = &MayCreateFiles;

// An environment variable's value; empty when it is not set.
std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

std::string TempBase() {
    const std::string tmp = Env("TMPDIR");
    return tmp.empty() ? "/tmp" : tmp;
}

std::string WithSlash(std::string s) {
    if (s.empty() || s.back() != '/') s += '/';
    return s;
}

void Box(kp::Owner owner, const std::string& text, const char* caption, kp::Icon icon) {
    kp::MessageBox(owner, text, caption, icon);
}

bool WriteBlock(int fd, const char* data, int size) {
    ssize_t r;
    do r = write(fd, data, size_t(size));
    while (r < 0 && errno == EINTR);
    return r == size;  // a short write is a failure
}

bool ReadBlock(int fd, char* data, int size) {
    ssize_t r;
    do r = read(fd, data, size_t(size));
    while (r < 0 && errno == EINTR);
    return r >= 0;  // at the end of the file nothing is read, and that is no failure
}

void Seek(off_t offset) { lseek(disk.filehandle, offset, SEEK_SET); }

// After a request of a pass failed: the pass's box, the report line and the failure code.
void PassFailed(const char* text, kp::Owner owner, int code) {
    Box(owner, text, "File Exception!", kp::Icon::Exclamation);
    passtring(kStopping);
    disk.filerror = code;
}

// mkdir -p: every missing folder of path; true when path is a folder afterwards.
bool MakeDirectories(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            const std::string part = path.substr(0, i);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    struct stat st{};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder of the test file by the directory preference; false after the failure's box. Under
// "root" the folder is empty when the drive offers none to this user.
bool TestDirectory(const std::string& root, std::string* dir) {
    if (prefs.defdirnumber != 1 && prefs.defdirnumber != 2) {
        *dir = DriveRootDirectory(root);
        return true;
    }
    std::string base;
    if (prefs.defdirnumber == 1) {
        base = TempBase();
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || *home == '\0') {
            Box(kp::Owner::Main, "Error retrieving the %HOMEPATH% environmental variable", "Kestrel Disk Exception",
                kp::Icon::None);
            disk.filerror = 1;
            return false;
        }
        base = home;
    }
    *dir = ReRootDirectory(ReadMountTable(), base, root);
    if (!MakeDirectories(*dir)) {
        Box(kp::Owner::Main, "Cannot create directory " + *dir + ".", "File Exception", kp::Icon::Stop);
        return false;
    }
    return true;
}

// diskio0 and diskionocache.
int CreateTestFile(bool uncached, int mode, int pattern) {
    disk.filerror = 0;
    if (!uncached) disk.flag = 1;
    const std::string root = disk.thedrive;
    DiskSpace space;
    if (!g_space_reader(root, &space)) {
        Host().Beep();
        Box(kp::Owner::Main, "Error Accessing Drive " + root + "!", "Disk Exception!", kp::Icon::Exclamation);
        disk.filerror = 12;
        return 1;
    }
    if (!uncached) disk.clust_size = long(space.cluster);
    const int64_t needed = int64_t(disk.blocksize) * disk.filesize;
    if (space.free < needed) {
        Host().Beep();
        Box(kp::Owner::Main, "Not enough disk space to complete test!", "Disk Exception!", kp::Icon::Stop);
        Box(kp::Owner::Main,
            StrPrintf("Space needed %ld KBs, space available %.1f KBs", long(needed / 1000), double(space.free) * 0.001),
            "Disk Exception!", kp::Icon::Information);
        return 1;
    }
    std::string name = StrPrintf("tkesA%ld.tmp", disk.count++);
    std::string dir;
    if (!TestDirectory(root, &dir)) return 1;

    kp::DiskFileMode fm;
    fm.direct = uncached;
    fm.write_through = !uncached && mode == 2;
    fm.sequential = pattern == 1;
    kp::CreatedFile file;  // no folder for the file: the open fails
    if (!dir.empty()) file = kp::CreateDiskFile(dir + name, fm, size_t(disk.blocksize));
    for (int tries = 1; file.status == kp::CreateStatus::NameTaken && tries < kNameTries; ++tries) {
        name = StrPrintf("tkesA%ld.tmp", disk.count++);
        file = kp::CreateDiskFile(dir + name, fm, size_t(disk.blocksize));
    }
    if (file.status == kp::CreateStatus::DirectRefused) {
        passtring("Uncached I/O refused on drive " + root + ": " + file.reason);
    }
    if (file.status != kp::CreateStatus::Created) {
        Box(kp::Owner::Main, "Error opening file for read/write!", "File Exception!", kp::Icon::Stop);
        disk.filerror = 2;
        return 1;
    }
    disk.filename_disktest = dir + name;
    disk.filehandle = file.fd;
    return 0;
}

void FillOffsets(uint32_t* table, int filesize, int blocksize) {
    const int32_t modulus = filesize - blocksize;  // blocks less bytes, as the reference scores had it
    int32_t j = 0;
    for (int32_t i = 0; i < filesize; ++i) {
        const int64_t v = i % 2 != 0 ? int64_t(i) * blocksize - 10 * int64_t(j) : 4 * int64_t(i) + int64_t(j) * blocksize;
        const uint32_t u = uint32_t(v < 0 ? -v : v);
        table[i] = modulus != 0 ? u % uint32_t(modulus) : u;
        ++j;
        if (j == modulus) j = 0;
        ++j;
    }
}

enum class Placement { AllAtZero, Sequential, Table };

// An overlapped pass: a write of buf2 and a read into buf3 per block, all at the block's
// offset, issued back to back; then the flush and the wait for every request.
double OverlappedPass(Placement placement, const uint32_t* table, const char* failure, int code) {
    const int n = disk.filesize;
    const int bs = disk.blocksize;
    const int fd = disk.filehandle;
    kp::AioBatch batch(size_t(n > 0 ? n : 0) * 2);
    if (!batch.ok()) {
        Box(kp::Owner::Progress, "Allocation Error!", "Memory Exception", kp::Icon::Exclamation);
        return -1.0;
    }
    PassClock watch(disk.timer);
    if (!watch.Start()) return -1.0;
    bool issued = true;
    for (int i = 0; i < n && disk.flag && issued; ++i) {
        const off_t offset = placement == Placement::Table        ? off_t(table[i])
                             : placement == Placement::Sequential ? off_t(i) * bs
                                                                  : 0;
        issued = batch.Write(fd, disk.buf2[i % kDiskBuffers], size_t(bs), offset) &&
                 batch.Read(fd, disk.buf3[i % kDiskBuffers], size_t(bs), offset);
    }
    fsync(fd);
    int error = 0;
    const bool ok = batch.WaitAll(&error);
    double elapsed = 0;
    const bool timed = watch.Stop(&elapsed);
    if (!ok) {
        disk.flag = 0;
        PassFailed(failure, kp::Owner::Main, code);
    }
    return timed ? elapsed : -1.0;
}

}  // namespace

WritableCheck SetWritableCheck(WritableCheck check) {
    WritableCheck old = g_writable;
    g_writable = check ? std::move(check) : WritableCheck(&MayCreateFiles);
    return old;
}

std::string DriveRootDirectory(const std::string& root) {
    if (g_writable(root)) return root;
    const MountTable table = ReadMountTable();
    for (const std::string& dir : {Env("HOME"), TempBase()}) {
        if (OnDriveFileSystem(table, dir, root)) return WithSlash(dir);
    }
    return "";
}

DiskSpaceReader SetDiskSpaceReader(DiskSpaceReader reader) {
    DiskSpaceReader old = g_space_reader;
    g_space_reader = reader != nullptr ? reader : &StatvfsSpace;
    return old;
}

int GetDiskData(int64_t* total, int64_t* free, const std::string& root) {
    DiskSpace space;
    if (!g_space_reader(root, &space)) {
        *total = 0;
        *free = 0;
        return 0;
    }
    *total = space.total;
    *free = space.free;
    return 1;
}

int diskio0(int mode, int pattern) { return CreateTestFile(false, mode, pattern); }

int diskionocache(int pattern) { return CreateTestFile(true, 1, pattern); }

double diskio1(int mode, int pattern) {
    if (mode == 0) {
        return pattern == 0 ? OverlappedPass(Placement::AllAtZero, nullptr, "Error reading/writing data asynchronous direct!", 3)
                            : OverlappedPass(Placement::Sequential, nullptr,
                                             "Error reading/writing data asynchronous sequential!", 3);
    }
    const int bs = disk.blocksize;
    PassClock watch(disk.timer);
    if (!watch.Start()) return -1.0;
    bool failed = false;
    Seek(0);
    for (int i = 0; i < disk.filesize && disk.flag; ++i) {
        if (pattern == 1) Seek(off_t(i) * bs);
        disk.flag = WriteBlock(disk.filehandle, disk.buf, bs) && ReadBlock(disk.filehandle, disk.buf, bs);
        failed = disk.flag == 0;
    }
    if (mode == 1) fsync(disk.filehandle);
    double elapsed = 0;
    if (!watch.Stop(&elapsed)) return -1.0;
    if (failed) {
        if (pattern == 0) {
            PassFailed("Error reading/writing data synchronous direct!", kp::Owner::Progress, 3);
        } else {
            PassFailed("Error reading/writing data synchronous sequential!", kp::Owner::Main, 3);
        }
    }
    return elapsed;
}

double diskio3(int mode, int pattern) {
    if (pattern == 1) return diskio1(mode, 1);
    const int n = disk.filesize > 0 ? disk.filesize : 0;
    int error = 0;
    auto* table = static_cast<uint32_t*>(AllocateMemory(size_t(n) * sizeof(uint32_t), &error));
    if (table == nullptr) {
        Box(kp::Owner::Progress, "Allocation Error!", "Memory Exception", kp::Icon::Exclamation);
        return -1.0;
    }
    FillOffsets(table, n, disk.blocksize);
    double result = -1.0;
    if (mode == 0) {
        result = OverlappedPass(Placement::Table, table, "Error reading/writing data random asynchronous!", 7);
    } else {
        PassClock watch(disk.timer);
        if (watch.Start()) {
            bool failed = false;
            for (int i = 0; i < n && disk.flag; ++i) {
                Seek(off_t(table[i]));
                disk.flag = WriteBlock(disk.filehandle, disk.buf, disk.blocksize) &&
                            ReadBlock(disk.filehandle, disk.buf, disk.blocksize);
                failed = disk.flag == 0;
            }
            if (mode == 1) fsync(disk.filehandle);
            double elapsed = 0;
            if (watch.Stop(&elapsed)) result = elapsed;
            if (failed) PassFailed("Error reading/writing data random synchronous!", kp::Owner::Main, 7);
        }
    }
    FreeMemory(table, &error);
    return result;
}

double diskio2() {
    if (disk.filerror != 0) return -1.0;
    PassClock watch(disk.timer);
    if (!watch.Start()) return -1.0;
    bool failed = false;
    Seek(0);
    for (int i = 0; i < disk.filesize && disk.flag; ++i) {
        disk.flag = WriteBlock(disk.filehandle, disk.buf, disk.blocksize) &&
                    ReadBlock(disk.filehandle, disk.buf, disk.blocksize);
        failed = disk.flag == 0;
    }
    double elapsed = 0;
    if (!watch.Stop(&elapsed)) return -1.0;
    if (failed) PassFailed("Error reading data uncached direct!", kp::Owner::Main, 5);
    return elapsed;
}

double diskio4() {
    if (disk.filerror != 0) return -1.0;
    const int bs = disk.blocksize;
    PassClock watch(disk.timer);
    if (!watch.Start()) return -1.0;
    bool failed = false;
    Seek(0);
    for (int i = 0; i < disk.filesize && disk.flag; ++i) {
        Seek(off_t(i) * bs);
        disk.flag = WriteBlock(disk.filehandle, disk.buf, bs) && ReadBlock(disk.filehandle, disk.buf, bs);
        failed = disk.flag == 0;
    }
    fsync(disk.filehandle);
    double elapsed = 0;
    if (!watch.Stop(&elapsed)) return -1.0;
    if (failed) PassFailed("Error writing data uncached sequential!", kp::Owner::Main, 9);
    return elapsed;
}

void endtest() {
    if (disk.filehandle >= 0) close(disk.filehandle);
    disk.filehandle = -1;
    if (disk.filename_disktest.empty()) return;
    if (unlink(disk.filename_disktest.c_str()) != 0) {
        Box(kp::Owner::Main, "Error deleting file!", "File Exception", kp::Icon::Exclamation);
    }
    disk.filename_disktest.clear();
}

int AllocateDiskBuffers() {
    const size_t size = size_t(disk.blocksize > 0 ? disk.blocksize : 0);
    int error = 0;
    for (int k = 0; k < kDiskBuffers; ++k) {
        disk.buf2[k] = static_cast<char*>(AllocateMemory(size, &error));
        disk.buf3[k] = disk.buf2[k] != nullptr ? static_cast<char*>(AllocateMemory(size, &error)) : nullptr;
        if (disk.buf3[k] == nullptr) {
            FreeDiskBuffers();
            return -1;
        }
        std::memset(disk.buf2[k], fillchar, size);
        std::memset(disk.buf3[k], fillchar, size);
    }
    return 0;
}

void FreeDiskBuffers() {
    int error = 0;
    for (int k = 0; k < kDiskBuffers; ++k) {
        if (disk.buf2[k] != nullptr) FreeMemory(disk.buf2[k], &error);
        if (disk.buf3[k] != nullptr) FreeMemory(disk.buf3[k], &error);
        disk.buf2[k] = nullptr;
        disk.buf3[k] = nullptr;
    }
}

std::vector<uint32_t> GeneratedOffsets(int filesize, int blocksize) {
    std::vector<uint32_t> table(size_t(filesize > 0 ? filesize : 0));
    FillOffsets(table.data(), int(table.size()), blocksize);
    return table;
}

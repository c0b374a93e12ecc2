// The disk test's file layer: exclusive creation, cache flags, direct-I/O refusal, asynchronous
// batches; and a file written whole where it stands.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/file_size_limit.h"
#include "platform/disk_file.h"
#include "platform/whole_file.h"
#include "tests/support/isolation.h"

namespace {

// The open flags of a descriptor as the kernel shows them.
int OpenFlags(int fd) {
    std::ifstream in("/proc/self/fdinfo/" + std::to_string(fd));
    std::string key, value;
    while (in >> key >> value) {
        if (key == "flags:") return int(std::strtol(value.c_str(), nullptr, 8));
    }
    return -1;
}

bool Exists(const std::string& path) {
    struct stat st{};
    return lstat(path.c_str(), &st) == 0;
}

using kt::FileSizeLimit;

TEST(DiskFile, CreatesExclusivelyWithTheCacheFlags) {
    const std::string dir = kt::FreshDir("create");
    kp::DiskFileMode mode;
    mode.write_through = true;
    kp::CreatedFile f = kp::CreateDiskFile(dir + "/a.tmp", mode, 4096);
    ASSERT_EQ(f.status, kp::CreateStatus::Created);
    EXPECT_NE(OpenFlags(f.fd) & O_DSYNC, 0);
    EXPECT_EQ(OpenFlags(f.fd) & O_DIRECT, 0);
    EXPECT_EQ(OpenFlags(f.fd) & O_ACCMODE, O_RDWR);
    struct stat st{};
    ASSERT_EQ(fstat(f.fd, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    close(f.fd);

    // An existing regular file of this user (a crashed run's) is replaced by a new, empty file.
    kt::WriteFile(dir + "/b.tmp", "left over");
    f = kp::CreateDiskFile(dir + "/b.tmp", {}, 4096);
    ASSERT_EQ(f.status, kp::CreateStatus::Created);
    ASSERT_EQ(fstat(f.fd, &st), 0);
    EXPECT_EQ(st.st_size, 0);
    close(f.fd);
}

TEST(DiskFile, NeverFollowsALinkNorTakesAnotherUsersFile) {
    const std::string dir = kt::FreshDir("links");
    const std::string victim = kt::WriteFile(dir + "/victim", "precious");
    ASSERT_EQ(symlink(victim.c_str(), (dir + "/a.tmp").c_str()), 0);
    kp::CreatedFile f = kp::CreateDiskFile(dir + "/a.tmp", {}, 4096);
    EXPECT_EQ(f.status, kp::CreateStatus::NameTaken);
    EXPECT_EQ(f.fd, -1);
    EXPECT_EQ(kt::ReadFile(victim), "precious");
    struct stat st{};
    ASSERT_EQ(lstat((dir + "/a.tmp").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));  // the link is left alone

    if (geteuid() == 0) {
        const std::string other = kt::WriteFile(dir + "/b.tmp", "theirs");
        ASSERT_EQ(chown(other.c_str(), 12345, 12345), 0);
        EXPECT_EQ(kp::CreateDiskFile(other, {}, 4096).status, kp::CreateStatus::NameTaken);
        EXPECT_EQ(kt::ReadFile(other), "theirs");
    }
    EXPECT_EQ(kp::CreateDiskFile(dir + "/missing/c.tmp", {}, 4096).status, kp::CreateStatus::Failed);
}

TEST(DiskFile, DirectFileIsOpenWithODirectWhereTheFileSystemTakesIt) {
    const std::string dir = kt::FreshDir("direct");
    kp::DiskFileMode mode;
    mode.direct = true;
    mode.sequential = true;
    kp::CreatedFile f = kp::CreateDiskFile(dir + "/d.tmp", mode, 16384);
    if (f.status == kp::CreateStatus::DirectRefused) GTEST_SKIP() << "no direct I/O here: " << f.reason;
    ASSERT_EQ(f.status, kp::CreateStatus::Created);
    EXPECT_NE(OpenFlags(f.fd) & O_DIRECT, 0);
    struct stat st{};
    ASSERT_EQ(fstat(f.fd, &st), 0);
    EXPECT_EQ(st.st_size, 0);  // the trial transfer left nothing behind
    kp::DirectIoAlignment a = kp::DirectIoAlignmentOf(f.fd);
    EXPECT_GT(a.offset, 0u);
    EXPECT_EQ(16384 % a.offset, 0u);
    close(f.fd);
}

TEST(DiskFile, BlockSizeBelowTheAlignmentIsRefused) {
    const std::string dir = kt::FreshDir("align");
    kp::DiskFileMode mode;
    mode.direct = true;
    kp::CreatedFile f = kp::CreateDiskFile(dir + "/d.tmp", mode, 100);  // below every alignment
    EXPECT_EQ(f.status, kp::CreateStatus::DirectRefused);
    EXPECT_NE(f.reason.find("block size 100 Bytes is below the direct I/O alignment of "), std::string::npos)
        << f.reason;
    EXPECT_FALSE(Exists(dir + "/d.tmp"));
}

TEST(AioBatch, EveryRequestIsWaitedForAndChecked) {
    const std::string dir = kt::FreshDir("aio");
    kp::CreatedFile f = kp::CreateDiskFile(dir + "/a.tmp", {}, 512);
    ASSERT_EQ(f.status, kp::CreateStatus::Created);
    constexpr int kBlocks = 64;
    std::vector<std::vector<char>> out(kBlocks, std::vector<char>(512));
    std::vector<std::vector<char>> in(kBlocks, std::vector<char>(512, 0));
    for (int i = 0; i < kBlocks; ++i) std::memset(out[i].data(), 'a' + i % 26, 512);
    {
        kp::AioBatch batch(kBlocks);
        ASSERT_TRUE(batch.ok());
        for (int i = 0; i < kBlocks; ++i) ASSERT_TRUE(batch.Write(f.fd, out[i].data(), 512, off_t(i) * 512));
        EXPECT_FALSE(batch.Write(f.fd, out[0].data(), 512, 0));  // full
        int error = 0;
        EXPECT_FALSE(batch.WaitAll(&error));  // the refused request counts
        EXPECT_EQ(error, ENOMEM);
        struct stat st{};
        ASSERT_EQ(fstat(f.fd, &st), 0);
        EXPECT_EQ(st.st_size, kBlocks * 512);  // every issued write had ended when the wait returned
    }
    kp::AioBatch reads(kBlocks);
    for (int i = 0; i < kBlocks; ++i) ASSERT_TRUE(reads.Read(f.fd, in[i].data(), 512, off_t(i) * 512));
    int error = 0;
    ASSERT_TRUE(reads.WaitAll(&error));
    EXPECT_EQ(in, out);
    close(f.fd);
}

TEST(AioBatch, AFailedRequestIsReported) {
    const std::string dir = kt::FreshDir("aiofail");
    kp::CreatedFile f = kp::CreateDiskFile(dir + "/a.tmp", {}, 4096);
    ASSERT_EQ(f.status, kp::CreateStatus::Created);
    std::vector<char> block(4096, 'x');
    FileSizeLimit limit(8192);
    kp::AioBatch batch(8);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(batch.Write(f.fd, block.data(), 4096, off_t(i) * 4096));
    int error = 0;
    EXPECT_FALSE(batch.WaitAll(&error));
    EXPECT_EQ(error, EFBIG);
    close(f.fd);
}

// A report written where it stands (its folder takes no new file: a read-only folder with the
// report mounted in it from a small disk of its own), in a mount space of its own. On a full disk
// the new bytes' space is not to be had and the old report stays whole; where the new bytes fit
// in the space the old ones took, or the disk has room, they are written and the old tail cut.
TEST(WholeFile, WrittenWhereItStandsOnAFullDiskTheOldFileStaysWhole) {
    std::string shorter, longer;
    for (int i = 0; shorter.size() < 12000; ++i) shorter += "new report line " + std::to_string(i) + "\r\n";
    for (int i = 0; longer.size() < 20000; ++i) longer += "old report line " + std::to_string(i) + "\r\n";
    const struct {
        const char* what;
        std::string old_bytes, new_bytes;
        bool full;
        kp::WholeFile result;
    } rows[] = {
        {"room on the disk", "old report\r\n", shorter, false, kp::WholeFile::Written},
        {"a full disk", "old report\r\n", shorter, true, kp::WholeFile::WriteFailed},
        {"a full disk, the new bytes within the old ones' space", longer, shorter, true, kp::WholeFile::Written},
    };
    constexpr int kNoMountSpace = 100;
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string dir = kt::FreshDir("in-place");
        const std::string disk = dir + "/disk", folder = dir + "/folder", seen = dir + "/seen";
        ASSERT_EQ(mkdir(disk.c_str(), 0700), 0);
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Without root, a user space of its own gives the rights to mount in it.
            const auto write_to = [](const std::string& path, const std::string& text) {
                std::ofstream out(path);
                return bool(out << text << std::flush);
            };
            const bool own = uid == 0 ? unshare(CLONE_NEWNS) == 0
                                      : unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 &&
                                            write_to("/proc/self/setgroups", "deny") &&
                                            write_to("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
                                            write_to("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
            if (!own || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount("small", disk.c_str(), "tmpfs", 0, "size=64k,mode=0700") != 0 ||
                mount("folder", folder.c_str(), "tmpfs", 0, "size=16k,mode=0700") != 0) {
                _exit(kNoMountSpace);
            }
            const std::string stored = kt::WriteFile(disk + "/report", row.old_bytes);
            const std::string report = kt::WriteFile(folder + "/report", "");
            if (mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=16k,mode=0700") != 0 ||
                mount(stored.c_str(), report.c_str(), nullptr, MS_BIND, nullptr) != 0) {
                _exit(kNoMountSpace);
            }
            if (row.full) {
                const int fill = open((disk + "/fill").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
                const std::string block(4096, 'f');
                while (fill >= 0 && write(fill, block.data(), block.size()) > 0) {
                }
                if (fill >= 0) close(fill);
            }
            const kp::WholeFile result = kp::WriteWholeFile(report, true, row.new_bytes);
            kt::WriteFile(seen, kt::ReadFile(stored));
            _exit(int(result));
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        if (WEXITSTATUS(status) == kNoMountSpace) GTEST_SKIP() << "no mount space of its own";
        EXPECT_EQ(WEXITSTATUS(status), int(row.result));
        EXPECT_TRUE(kt::ReadFile(seen) == (row.result == kp::WholeFile::Written ? row.new_bytes : row.old_bytes));
    }
}

}  // namespace

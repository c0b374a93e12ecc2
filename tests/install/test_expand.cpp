// The expander: round trips through the program, agreement with the system's gzip in both
// directions, and its exit codes with nothing left behind on failure.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "install/expand_file.h"
#include "platform/process.h"
#include "tests/support/isolation.h"

namespace fs = std::filesystem;

namespace {

int RunExpand(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {KESTREL_EXPAND_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    auto child = kp::ChildProcess::Spawn(KESTREL_EXPAND_PROGRAM, argv);
    if (!child) return -1;
    child->WaitFor(-1);
    return child->exit_code();
}

std::string Bytes(size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        s[i] = char(i % 3 == 0 ? (seed >> 16) : 'a' + i % 7);  // partly compressible
    }
    return s;
}

void SetTime(const std::string& path, time_t seconds, long ns) {
    const struct timespec t[2] = {{seconds, ns}, {seconds, ns}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), t, 0), 0);
}

struct stat Stat(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st;
}

// The names in a folder.
std::set<std::string> Listing(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

bool HasTool(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// The installed file's mode is the one asked for (permission bits only, less the umask), never
// the compressed file's: a distribution on a medium that shows every file as 0600 or 0644
// still installs runnable programs.
TEST(Expand, RoundTripKeepsBytesAndTimeAndGivesTheAskedMode) {
    struct Case {
        const char* name;
        size_t size;
        mode_t packedMode;   // as the medium shows the compressed file
        const char* asked;   // -m, or nullptr
        mode_t mask;
        mode_t mode;         // the installed file's
    } cases[] = {
        {"empty", 0, 0600, nullptr, 022, 0644},
        {"program", 300000, 0644, "755", 022, 0755},  // several 64 KB blocks in and out
        {"text", 1234, 0755, "644", 022, 0644},
        {"setuid asked", 1000, 0644, "4755", 022, 0755},
        {"private umask", 1000, 0644, "755", 077, 0700},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const mode_t previous = umask(c.mask);
        const std::string dir = kt::FreshDir("roundtrip");
        const std::string original = kt::WriteFile(dir + "/" + c.name, Bytes(c.size, unsigned(c.size)));
        SetTime(original, 1700000000, 123456789);
        const std::string packed = dir + "/" + c.name + "_";
        ASSERT_EQ(RunExpand({"--compress", original, packed}), 0);
        EXPECT_EQ(Stat(packed).st_mtim.tv_sec, 1700000000);
        chmod(packed.c_str(), c.packedMode);

        const std::string out = dir + "/out";
        std::vector<std::string> args = {packed, out};
        if (c.asked) args.insert(args.begin(), {"-m", c.asked});
        ASSERT_EQ(RunExpand(args), 0);
        umask(previous);
        EXPECT_EQ(kt::ReadFile(out), kt::ReadFile(original));
        EXPECT_EQ(Stat(out).st_mode & 07777, c.mode);
        EXPECT_EQ(Stat(out).st_mtim.tv_sec, Stat(packed).st_mtim.tv_sec);
        EXPECT_EQ(Stat(out).st_mtim.tv_nsec, Stat(packed).st_mtim.tv_nsec);
        EXPECT_EQ(Listing(dir), (std::set<std::string>{c.name, std::string(c.name) + "_", "out"}));
    }
}

// The temporary file is always a new one: a symbolic link (or another expansion's file) under
// the old fixed name is neither followed nor written.
TEST(Expand, TheTemporaryFileIsNeverOneAlreadyThere) {
    const std::string dir = kt::FreshDir("temporary");
    const std::string original = kt::WriteFile(dir + "/file", Bytes(5000, 5));
    ASSERT_EQ(CompressFile(original, dir + "/file_"), kExpandOk);
    const std::string victim = kt::WriteFile(kt::FreshDir("elsewhere") + "/victim", "not to be written");
    const std::string out = dir + "/out";
    ASSERT_EQ(symlink(victim.c_str(), (out + ".tmp").c_str()), 0);

    EXPECT_EQ(RunExpand({dir + "/file_", out}), 0);
    EXPECT_EQ(kt::ReadFile(out), kt::ReadFile(original));
    EXPECT_FALSE(fs::is_symlink(out));
    EXPECT_EQ(kt::ReadFile(victim), "not to be written");
    EXPECT_TRUE(fs::is_symlink(out + ".tmp"));
    EXPECT_EQ(Listing(dir), (std::set<std::string>{"file", "file_", "out", "out.tmp"}));
}

// The members are plain gzip: the system's gzip reads ours, and we read its own.
TEST(Expand, AgreesWithGzip) {
    if (!HasTool("gzip")) GTEST_SKIP() << "gzip is not installed";
    const std::string dir = kt::FreshDir("gzip");
    const std::string original = kt::WriteFile(dir + "/file", Bytes(200000, 7));
    SetTime(original, 1600000000, 0);
    ASSERT_EQ(RunExpand({"--compress", original, dir + "/ours_"}), 0);
    ASSERT_EQ(std::system(("gzip -dc '" + dir + "/ours_' > '" + dir + "/by-gzip'").c_str()), 0);
    EXPECT_EQ(kt::ReadFile(dir + "/by-gzip"), kt::ReadFile(original));

    ASSERT_EQ(std::system(("gzip -nc '" + original + "' > '" + dir + "/theirs_'").c_str()), 0);
    ASSERT_EQ(RunExpand({dir + "/theirs_", dir + "/by-us"}), 0);
    EXPECT_EQ(kt::ReadFile(dir + "/by-us"), kt::ReadFile(original));

    // The header: gzip magic, deflate, no name, and the file's own time.
    const std::string member = kt::ReadFile(dir + "/ours_");
    ASSERT_GE(member.size(), 10u);
    EXPECT_EQ(member.substr(0, 4), std::string("\x1f\x8b\x08\x00", 4));
    const uint32_t mtime = uint8_t(member[4]) | uint8_t(member[5]) << 8 | uint8_t(member[6]) << 16 |
                           uint32_t(uint8_t(member[7])) << 24;
    EXPECT_EQ(mtime, 1600000000u);
    // The same file gives the same member: the header depends only on the file.
    ASSERT_EQ(RunExpand({"--compress", original, dir + "/again_"}), 0);
    EXPECT_EQ(kt::ReadFile(dir + "/again_"), kt::ReadFile(dir + "/ours_"));
}

TEST(Expand, FailuresExitWithTheirCodeAndLeaveNothing) {
    const std::string dir = kt::FreshDir("failures");
    const std::string original = kt::WriteFile(dir + "/file", Bytes(100000, 3));
    const std::string good = dir + "/good_";
    ASSERT_EQ(CompressFile(original, good), kExpandOk);
    const std::string member = kt::ReadFile(good);
    const auto variant = [&](const std::string& name, std::string bytes) { return kt::WriteFile(dir + "/" + name, bytes); };
    std::string flipped = member;
    flipped[member.size() / 2] ^= 0x20;
    std::string badCrc = member;
    badCrc[member.size() - 6] ^= 1;  // the CRC-32 of the trailer
    std::string badLength = member;
    badLength[member.size() - 1] ^= 1;  // the length of the trailer
    std::string badMagic = member;
    badMagic[0] = 0x1e;
    kt::WriteFile(dir + "/plain", "no gzip here");
    fs::create_directory(dir + "/a-directory");

    struct Case {
        const char* name;
        std::string source;
        std::string destination;
        int code;
    } cases[] = {
        {"flipped data", variant("flipped_", flipped), dir + "/out", kExpandCorrupt},
        {"wrong CRC", variant("crc_", badCrc), dir + "/out", kExpandCorrupt},
        {"wrong length", variant("length_", badLength), dir + "/out", kExpandCorrupt},
        {"wrong magic", variant("magic_", badMagic), dir + "/out", kExpandCorrupt},
        {"truncated", variant("short_", member.substr(0, member.size() - 9)), dir + "/out", kExpandCorrupt},
        {"trailing bytes", variant("long_", member + "xyz"), dir + "/out", kExpandCorrupt},
        {"empty", variant("empty_", ""), dir + "/out", kExpandCorrupt},
        {"missing source", dir + "/missing_", dir + "/out", kExpandNoSource},
        {"missing directory", good, dir + "/no-such-dir/out", kExpandNoDirectory},
        // A directory below a regular file cannot exist, whoever runs the test.
        {"directory under a file", good, dir + "/plain/out", kExpandNoDirectory},
        {"destination is a directory", good, dir + "/a-directory", kExpandFailed},
    };
    const std::set<std::string> before = Listing(dir);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RunExpand({c.source, c.destination}), c.code);
        EXPECT_EQ(Listing(dir), before);  // no destination, no temporary file
    }
    EXPECT_TRUE(fs::is_directory(dir + "/a-directory"));
    EXPECT_EQ(RunExpand({good}), kExpandFailed);  // usage
}

}  // namespace

// The setup launcher run as the user runs it (the program copied into a test distribution, a
// stand-in companion that records its launch), and the companion's rules that need no window:
// the launch line, the disk check, the directory naming, the version refusal, the chooser's disks.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <array>
#include <functional>
#include <set>

#include "install/expand_file.h"
#include "install/launch.h"
#include "install/registration.h"
#include "install/setup_launcher.h"
#include "install/setup_rules.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "tests/install/test_distribution.h"
#include "tests/support/isolation.h"

namespace fs = std::filesystem;

namespace {

std::set<std::string> Listing(const std::string& dir) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) names.insert(e.path().filename().string());
    return names;
}

// A distribution folder (with a blank in its path) holding the launcher, the expander, the
// socket library, a stand-in companion as "setupkes_" and the real expander as "expand_".
class Launcher : public ::testing::Test {
public:
    void SetUp() override {
        umask(022);
        fs::remove_all(PrivateSetupDirectory());
        fs::remove_all(std::string(getenv("XDG_CONFIG_HOME")));
        fs::create_directories(std::string(getenv("XDG_CONFIG_HOME")));
        records = kt::FreshDir("records");
        log = kt::TempDir() + "/boxes.log";
        fs::remove(log);
        MakeIn(kt::FreshDir("Setup Disk") + "/kestrel dist");
    }

    void MakeIn(const std::string& directory) {
        dist = MakeTestDistribution(directory, 2, 2);  // the main program's row, and the expander
        fs::copy_file(KESTREL_SETUP_PROGRAM, dist.directory + "/setup", fs::copy_options::overwrite_existing);
        const std::string scratch = kt::FreshDir("scratch");
        WriteStandIn(scratch + "/setupkes", records, "setupkes", true);
        ASSERT_EQ(CompressFile(scratch + "/setupkes", dist.directory + "/setupkes_"), kExpandOk);
        ASSERT_EQ(CompressFile(KESTREL_EXPAND_PROGRAM, dist.directory + "/expand_"), kExpandOk);
        kt::WriteFile(dist.directory + "/libkestrel.so", "the socket library");
    }

    // Runs the launcher as a user would (from anywhere: it finds its own folder); its exit code.
    int RunSetup(std::vector<std::string> arguments = {}) {
        setenv("KESTREL_TEST_MSGBOX_LOG", log.c_str(), 1);
        std::vector<std::string> argv = {dist.directory + "/setup"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        kp::SpawnOptions options;
        options.workingDirectory = "/";
        auto child = kp::ChildProcess::Spawn(argv[0], argv, options);
        unsetenv("KESTREL_TEST_MSGBOX_LOG");
        if (!child) return -1;
        child->WaitFor(-1);
        return child->exit_code();
    }

    std::string Boxes() { return fs::exists(log) ? kt::ReadFile(log) : ""; }

    TestDistribution dist;
    std::string records, log;
};

TEST_F(Launcher, InstallModeExpandsIntoThePrivateFolderAndHandsOnTheLaunchLine) {
    struct Case {
        const char* name;
        bool installedBefore;
    } cases[] = {{"first installation", false}, {"installed before", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        const std::string installed = kt::FreshDir("Old Place") + "/kestrel";
        fs::create_directories(installed);
        if (c.installedBefore) {
            auto key = kp::reg::Key::Create(kp::reg::Root::CurrentUser, kUserKey);
            ASSERT_TRUE(key && key->SetString("Kestrel directory", installed));
        }
        EXPECT_EQ(RunSetup(), 0);
        const std::string record = WaitForRecord(records + "/setupkes");
        EXPECT_EQ(record, "3\n[-d]\n[0x7c14e9dRq305]\n[" + dist.directory + "]\n" + dist.directory +
                              "\nstdin:-d 0x7c14e9dRq305 " + dist.directory);
        EXPECT_EQ(Boxes(), "");
        const std::string temp = PrivateSetupDirectory();
        EXPECT_EQ(Listing(temp), (std::set<std::string>{"expand", "libkestrel.so", "setupkes"}));
        struct stat st {};
        ASSERT_EQ(lstat(temp.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u);
        EXPECT_EQ(kt::ReadFile(temp + "/expand"), kt::ReadFile(KESTREL_EXPAND_PROGRAM));
        EXPECT_EQ(kt::ReadFile(temp + "/libkestrel.so"), "the socket library");
        EXPECT_EQ(fs::exists(installed + "/kestrel"), c.installedBefore);
        if (c.installedBefore) {
            EXPECT_EQ(kt::ReadFile(installed + "/kestrel"), dist.originals["kestrel"]);
        }
    }
}

// Every failure before the companion runs shows its box; a companion that did not start leaves
// no copies behind, unless the distribution is the private folder itself.
TEST_F(Launcher, FailuresStopBeforeTheCompanionWithTheirBox) {
    const std::string elsewhere = kt::FreshDir("elsewhere");
    struct Case {
        const char* name;
        std::function<void(Launcher&)> arrange;
        std::string boxes;  // "{dist}": the distribution folder
        bool started;
        std::set<std::string> left;  // in the private folder afterwards
    } cases[] = {
        {"corrupt companion",
         [](Launcher& t) {
             std::string bytes = kt::ReadFile(t.dist.directory + "/setupkes_");
             bytes[bytes.size() / 2] ^= 0x40;
             kt::WriteFile(t.dist.directory + "/setupkes_", bytes);
         },
         "[File Error] (stop) Executable file is corrupt.  Setup failed! -> ok\n", false, {}},
        {"no expander to expand", [](Launcher& t) { fs::remove(t.dist.directory + "/expand_"); },
         "[File Error] (stop) File not found.  Setup failed! -> ok\n", false, {"setupkes"}},
        {"no socket library", [](Launcher& t) { fs::remove(t.dist.directory + "/libkestrel.so"); },
         "[Operation Failed in Setup] (exclamation) No such file or directory ({dist}/libkestrel.so) -> ok\n", true,
         {"expand", "setupkes"}},
        {"companion of a foreign format",
         [](Launcher& t) {
             const std::string junk = kt::WriteFile(kt::TempDir() + "/junk", "no program at all");
             ASSERT_EQ(CompressFile(junk, t.dist.directory + "/setupkes_"), kExpandOk);
         },
         "[Kestrel Setup] (stop) Cannot run Setupkes -> ok\n"
         "[Operation Failed in Setup] (exclamation) Exec format error -> ok\n",
         false, {}},
        {"companion of a foreign format, run from the private folder",
         [](Launcher& t) {
             t.MakeIn(PrivateSetupDirectory());
             const std::string junk = kt::WriteFile(kt::TempDir() + "/junk", "no program at all");
             ASSERT_EQ(CompressFile(junk, t.dist.directory + "/setupkes_"), kExpandOk);
         },
         "[Kestrel Setup] (stop) Cannot run Setupkes -> ok\n"
         "[Operation Failed in Setup] (exclamation) Exec format error -> ok\n",
         false, {}},
        {"private folder is a symbolic link",
         [&](Launcher&) { ASSERT_EQ(symlink(elsewhere.c_str(), PrivateSetupDirectory().c_str()), 0); },
         "[File Error] (stop) Setup cannot use its folder " + PrivateSetupDirectory() +
             " (Not a directory).  Setup failed! -> ok\n",
         false, {}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        c.arrange(*this);
        const bool fromPrivate = dist.directory == PrivateSetupDirectory();
        const std::set<std::string> before = fromPrivate ? Listing(dist.directory) : std::set<std::string>{};
        EXPECT_EQ(RunSetup(), c.started ? 0 : 1);
        std::string boxes = c.boxes;
        if (boxes.find("{dist}") != std::string::npos) boxes.replace(boxes.find("{dist}"), 6, dist.directory);
        EXPECT_EQ(Boxes(), boxes);
        if (c.started) {
            EXPECT_NE(WaitForRecord(records + "/setupkes"), "");
        } else {
            EXPECT_FALSE(fs::exists(records + "/setupkes"));
        }
        if (fromPrivate) {
            std::set<std::string> expected = before;
            expected.insert({"setupkes", "expand"});  // the copies stay beside the distribution
            EXPECT_EQ(Listing(dist.directory), expected);
        } else if (!fs::is_symlink(PrivateSetupDirectory())) {
            EXPECT_EQ(Listing(PrivateSetupDirectory()), c.left);
        }
        EXPECT_TRUE(Listing(elsewhere).empty());
    }
}

// "-r" alone cleans up; "-r" with anything else installs.
TEST_F(Launcher, CleanUpOnlyWithTheSingleArgument) {
    struct Case {
        std::vector<std::string> arguments;
        bool otherFile;
        bool installs;
        bool folderLeft;
    } cases[] = {
        {{"-r"}, false, false, false},
        {{"-r"}, true, false, true},  // a file not the launcher's keeps the folder
        {{"-r", "x"}, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.size());
        SetUp();
        const std::string temp = PrivateSetupDirectory();
        int error = 0;
        ASSERT_TRUE(PreparePrivateDirectory(temp, &error));
        for (const char* f : {"setupkes", "expand", "libkestrel.so"}) kt::WriteFile(temp + "/" + f, "old copy");
        if (c.otherFile) kt::WriteFile(temp + "/other", "someone else's");
        EXPECT_EQ(RunSetup(c.arguments), 0);
        if (c.installs) {
            EXPECT_NE(WaitForRecord(records + "/setupkes"), "");
        } else {
            EXPECT_FALSE(fs::exists(records + "/setupkes"));  // clean-up mode starts nothing
        }
        EXPECT_EQ(fs::exists(temp), c.folderLeft);
        if (c.otherFile) {
            EXPECT_EQ(Listing(temp), std::set<std::string>{"other"});
        }
        EXPECT_EQ(Boxes(), "");
    }
}

TEST(LaunchLine, TheCommandLineOrAValidLineFromThePipe) {
    const std::string token = kLaunchToken;
    struct Case {
        std::vector<std::string> arguments;
        InputRead read;
        std::string input;
        bool valid;
        bool floppy;
        std::string source;
    } cases[] = {
        {{"-d", token, "/media/My Disk"}, InputRead::Read, "wrong line", true, false, "/media/My Disk"},
        {{"-d", token, "/media/disk"}, InputRead::Failed, "", true, false, "/media/disk"},
        {{"-d", token, "/media/My", "Disk"}, InputRead::Read, "-d " + token + " /media/My Disk", true, false,
         "/media/My Disk"},
        {{}, InputRead::Read, "-d " + token + " a b c d e", true, false, "a b c d e"},
        {{}, InputRead::Read, "-f " + token + " a b c d e f g", true, true, "a b c d e"},  // words 3..7
        {{}, InputRead::Read, "-x " + token + " /media/disk", true, false, "/media/disk"},
        {{}, InputRead::Read, "-d 0X7C14E9DRQ305 /media/disk", false, false, ""},  // case counts
        {{}, InputRead::Read, "-d " + token, false, false, ""},
        {{}, InputRead::Read, "", false, false, ""},
        {{"-d", "wrong", "/media/disk"}, InputRead::Failed, "", false, false, ""},  // a failed read never accepts
        {{}, InputRead::Failed, "-d " + token + " /media/disk", false, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const LaunchLine l = AcceptLaunch(ParseLaunchArguments(c.arguments), c.read, c.input);
        EXPECT_EQ(l.valid, c.valid);
        if (c.valid) {
            EXPECT_EQ(l.floppyMode, c.floppy);
            EXPECT_EQ(l.sourceDirectory, c.source);
        }
    }
    EXPECT_EQ(LaunchLineText("/media/My Disk"), "-d " + token + " /media/My Disk");
}

// Standard input is read only from a pipe or socket and never waited on past the deadline.
TEST(LaunchLine, ReadingStandardInputNeverHangs) {
    int full[2], empty[2], open[2];
    ASSERT_EQ(pipe(full), 0);
    ASSERT_EQ(pipe(empty), 0);
    ASSERT_EQ(pipe(open), 0);
    ASSERT_EQ(write(full[1], "-d token /x", 11), 11);
    close(full[1]);
    close(empty[1]);
    const int devNull = ::open("/dev/null", O_RDONLY);
    // A terminal: a pseudo-terminal with nothing typed.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int terminal = ::open(ptsname(master), O_RDONLY | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    const int file = ::open(kt::WriteFile(kt::TempDir() + "/line", "-d token /x").c_str(), O_RDONLY);
    struct Case {
        const char* name;
        int fd;
        InputRead read;
        int error;
        std::string line;
    } cases[] = {
        {"pipe with a line", full[0], InputRead::Read, 0, "-d token /x"},
        {"pipe at its end", empty[0], InputRead::Failed, EPIPE, ""},
        {"pipe with nothing yet", open[0], InputRead::Failed, ETIMEDOUT, ""},
        {"a terminal", terminal, InputRead::Failed, EPIPE, ""},
        {"a device", devNull, InputRead::Failed, EPIPE, ""},
        {"a file", file, InputRead::Failed, EPIPE, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string line;
        int error = -1;
        EXPECT_EQ(ReadLaunchInput(c.fd, 0, &line, &error), c.read);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(line, c.line);
    }
    for (int fd : {full[0], empty[0], open[0], open[1], devNull, file, terminal, master}) close(fd);
}

TEST(DiskCheck, NeedsTwelveMillionBytesAndMakesTheDirectory) {
    const std::string plain = kt::WriteFile(kt::TempDir() + "/plain-file", "x");
    struct Case {
        const char* name;
        std::optional<uint64_t> free;
        std::string chosen;
        DiskCheck result;
        std::vector<std::string> boxes;
    } cases[] = {
        {"exactly enough", 12000000, kt::FreshDir("a") + "/kestrel", DiskCheck::Passed, {}},
        {"more than 4 GB", 5000000000ull, kt::FreshDir("b") + "/kestrel", DiskCheck::Passed, {}},
        {"an existing directory", 12000000, kt::FreshDir("c"), DiskCheck::Passed, {}},
        {"one byte short", 11999999, kt::FreshDir("d") + "/kestrel", DiskCheck::Shortage,
         {"Disk Exception!|stop|Not enough disk space on drive /mnt/disk to complete setup!",
          "Disk Exception!|information|Space needed:  12000 KBs, space available:  12000.0 KBs."}},
        {"little", 1500, kt::FreshDir("e") + "/kestrel", DiskCheck::Shortage,
         {"Disk Exception!|stop|Not enough disk space on drive /mnt/disk to complete setup!",
          "Disk Exception!|information|Space needed:  12000 KBs, space available:  1.5 KBs."}},
        {"disk not readable", std::nullopt, "/nowhere/kestrel", DiskCheck::Failed,
         {"Disk Exception!|exclamation|Error Accessing Drive /mnt/disk!"}},
        {"under a regular file", 12000000, plain + "/kestrel", DiskCheck::Failed, {}},
    };
    const auto icon = [](kp::Icon i) {
        return i == kp::Icon::Stop ? "stop" : i == kp::Icon::Information ? "information" : "exclamation";
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kp::BoxRecorder recorder;
        std::string source = "/the/distribution";
        const auto provider = [&](const std::string&) { return FreeSpace{"/mnt/disk", c.free}; };
        EXPECT_EQ(CheckDiskSpace(c.chosen, "/not/the/default", true, &source, provider), c.result);
        std::vector<std::string> boxes;
        for (const kp::BoxRequest& b : recorder.boxes()) boxes.push_back(b.caption + "|" + icon(b.icon) + "|" + b.text);
        EXPECT_EQ(boxes, c.boxes);
        EXPECT_EQ(fs::is_directory(c.chosen), c.result == DiskCheck::Passed);
        EXPECT_EQ(source, "/the/distribution");  // floppy mode keeps the source folder
    }
    // In normal mode the source folder becomes the current directory; the default directory's
    // parents are made.
    const std::string base = kt::FreshDir("default");
    std::string source;
    const auto plenty = [](const std::string&) { return FreeSpace{"/", 1ull << 40}; };
    EXPECT_EQ(CheckDiskSpace(base + "/share/kestrel", base + "/share/kestrel", false, &source, plenty),
              DiskCheck::Passed);
    EXPECT_TRUE(fs::is_directory(base + "/share/kestrel"));
    EXPECT_EQ(source, fs::current_path().string());
}

TEST(SetupRules, DirectoryNameVersionAndPalette) {
    struct Naming {
        const char* chosen;
        const char* install;
    } names[] = {
        {"/", "/kestrel"},
        {"/home/Ann/Tools", "/home/Ann/Tools/kestrel"},  // the case stays
        {"/data/KestrelOld", "/data/KestrelOld"},
        {"/opt/my KESTREL", "/opt/my KESTREL"},
    };
    for (const Naming& n : names) EXPECT_EQ(InstallDirectoryFor(n.chosen), n.install) << n.chosen;

    struct Version {
        const char* installed;
        bool newer;
    } versions[] = {{"1.3", true}, {"1.22", true}, {"1.21", false}, {"1.07b", false}, {"", false}, {"1.21a", true}};
    for (const Version& v : versions) EXPECT_EQ(IsNewerVersionInstalled(v.installed), v.newer) << v.installed;

    // The launcher's window and font follow the screen.
    const LauncherGeometry big = LauncherWindowGeometry(1280, 1024, 30), small = LauncherWindowGeometry(800, 600, 20);
    EXPECT_EQ(std::vector<int>({big.x, big.y, big.width, big.height}), std::vector<int>({417, 462, 436, 100}));
    EXPECT_EQ(std::vector<int>({small.x, small.y, small.width, small.height}), std::vector<int>({257, 268, 276, 60}));
    for (auto [cx, height, width, weight] : {std::array<int, 4>{640, 16, 8, 600}, {800, 14, 6, 400},
                                             {1024, 15, 7, 500}, {1152, 16, 8, 600}}) {
        const LauncherFont f = LauncherFontFor(cx);
        EXPECT_EQ(std::vector<int>({f.height, f.width, f.weight}), std::vector<int>({height, width, weight})) << cx;
    }

    const auto greys = CreateGreyPalette();
    EXPECT_EQ(greys[0], 0xFF000000u);
    EXPECT_EQ(greys[1], 0xFF040404u);
    EXPECT_EQ(greys[63], 0xFFFCFCFCu);
    EXPECT_EQ(PercentText(0.0), "0 %");
    EXPECT_EQ(PercentText(0.996), "99 %");
    EXPECT_EQ(PercentText(1.0), "100 %");
}

TEST(SetupRules, TheChoosersDisksAreTheLocalFileSystems) {
    const std::string mountinfo =
        "22 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw\n"
        "23 22 0:21 / /proc rw shared:12 - proc proc rw\n"
        "24 22 259:1 / /boot/efi rw shared:2 - vfat /dev/nvme0n1p1 rw\n"
        "25 22 0:30 / /tmp rw shared:3 - tmpfs tmpfs rw\n"
        "26 22 8:17 / /media/ann/My\\040Disk rw shared:4 - exfat /dev/sdb1 rw\n"
        "27 22 0:45 / /mnt/net rw shared:5 - nfs4 server:/export rw\n"
        "28 22 259:3 / /home rw shared:6 - xfs /dev/nvme0n1p3 rw\n"
        "29 22 7:0 / /snap/core rw shared:7 - squashfs /dev/loop0 ro\n";
    EXPECT_EQ(LocalDisks(mountinfo, "/home/ann"),
              (std::vector<std::string>{"/home/ann", "/", "/boot/efi", "/media/ann/My Disk", "/home"}));
    const std::string dir = kt::FreshDir("listing");
    for (const char* d : {"b", "A", ".hidden"}) fs::create_directory(dir + "/" + d);
    kt::WriteFile(dir + "/file", "x");
    EXPECT_EQ(DirectoryList(dir), (std::vector<std::string>{"[..]", "A", "b"}));
    const std::vector<std::string> root = DirectoryList("/");
    EXPECT_EQ(std::count(root.begin(), root.end(), "[..]"), 0);  // nothing above the root
    EXPECT_TRUE(SamePlace(dir + "/A/..", dir));
    EXPECT_FALSE(SamePlace(dir + "/A", dir + "/a"));
    // A trailing "/" names the same place, whether the directory is there yet or not.
    EXPECT_TRUE(SamePlace(dir + "/A/", dir + "/A"));
    EXPECT_TRUE(SamePlace(dir + "/new/kestrel/", dir + "/new/kestrel"));
    EXPECT_FALSE(SamePlace(dir + "/new/kestrel/", dir + "/new"));
}

}  // namespace

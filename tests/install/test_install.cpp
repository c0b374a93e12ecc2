// An installation from a test distribution into the test's private HOME and XDG folders: the
// file copy with its questions and failures, then the registry entries, the .bmf association
// and the program group, as the setup companion runs them.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include "install/bmf_association.h"
#include "install/file_copy.h"
#include "install/file_table.h"
#include "install/progman.h"
#include "install/program_icons.h"
#include "install/registration.h"
#include "platform/msgbox.h"
#include "platform/registry.h"
#include "shared/places.h"
#include "tests/install/test_distribution.h"
#include "tests/support/isolation.h"

namespace fs = std::filesystem;
using kp::reg::Key;
using kp::reg::Root;

namespace {

// The companion's side: records what the copy shows, and finishes as the companion does.
class RecordingSetupHost : public SetupHost {
public:
    explicit RecordingSetupHost(SetupState& setup) : setup_(setup) {}
    void StatusChanged() override { statuses.push_back(setup_.statusText); }
    void ProgressChanged() override { fractions.push_back(setup_.progressFraction); }
    void FinishInstall() override {
        ++finished;
        registryResult = SetRegistryEntries(setup_);
        CreateProgramGroup(setup_);
    }
    void EndSetup() override { ++ended; }

    std::vector<std::string> statuses;
    std::vector<double> fractions;
    int finished = 0;
    int ended = 0;
    int registryResult = -1;

private:
    SetupState& setup_;
};

struct stat Stat(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st;
}

void SetTime(const std::string& path, time_t seconds) {
    const struct timespec t[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), t, 0), 0);
}

std::string Box(const kp::BoxRequest& b) { return b.caption + ": " + b.text; }

bool HasTool(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

class Install : public ::testing::Test {
protected:
    void SetUp() override {
        umask(022);
        // Every case starts from an empty home, also when the cases share one process.
        for (const std::string& dir : {ConfigHome(), DataHome(), std::string(getenv("HOME")) + "/.local"})
            fs::remove_all(dir);
        fs::create_directories(ConfigHome());
        fs::create_directories(DataHome());
        dist = MakeTestDistribution(kt::FreshDir("dist"));
        setup.sourceDirectory = dist.directory;
        setup.temporaryDirectory = kt::FreshDir("setup-temp");
        setup.installDirectory = kt::FreshDir("Program Files") + "/kestrel";  // a blank in the path
        fs::create_directories(setup.installDirectory);
        setup.userName = "Ann Example";
        setup.company = "Example Ltd";
    }

    // One installation run; the boxes it showed.
    std::vector<kp::BoxRequest> Run(RecordingSetupHost& host, std::vector<kp::Answer> answers = {}) {
        kp::BoxRecorder boxes;
        boxes.Script(std::move(answers));
        setup.progressFraction = 0.0;
        CopyDistributionFilesNT(setup, host);
        return boxes.boxes();
    }

    std::string Installed(const DistributionFile& f) { return TargetDirectory(f, setup) + "/" + f.target; }

    TestDistribution dist;
    SetupState setup;
};

TEST_F(Install, PutsEveryFileInPlaceAndRegistersIt) {
    const std::string mimeapps =
        "[Default Applications]\n"
        "text/plain=editor.desktop\n"
        "\n"
        "[Added Associations]\n"
        "image/png=viewer.desktop;\n";
    kt::WriteFile(MimeAppsFile(), mimeapps);

    RecordingSetupHost host(setup);
    EXPECT_TRUE(Run(host).empty());
    EXPECT_EQ(host.finished, 1);
    EXPECT_EQ(host.ended, 0);
    EXPECT_EQ(host.registryResult, kRegistryOk);

    const auto& files = DistributionFiles();
    ASSERT_EQ(host.fractions.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) EXPECT_DOUBLE_EQ(host.fractions[i], double(i + 1) / files.size());

    for (const DistributionFile& f : files) {
        SCOPED_TRACE(f.target);
        const std::string path = Installed(f);
        EXPECT_EQ(kt::ReadFile(path), dist.originals[f.target]);
        EXPECT_EQ(Stat(path).st_mode & 07777, dist.modes[f.target]);
        EXPECT_EQ(ToInt64(Stat(path).st_mtim), ToInt64(Stat(dist.directory + "/" + f.source).st_mtim));
        EXPECT_EQ(std::count(host.statuses.begin(), host.statuses.end(),
                             "Copying: " + std::string(f.target) + " to " + path),
                  1);
    }
    EXPECT_TRUE(fs::exists(std::string(getenv("HOME")) + "/.local/bin/unkes"));
    EXPECT_TRUE(fs::exists(std::string(getenv("XDG_DATA_HOME")) + "/kestrel/userfile.dbf"));

    // The registry, value by value.
    const std::string dir = setup.installDirectory;
    struct Entry {
        Root root;
        const char* key;
        const char* value;
        std::string data;
    } entries[] = {
        {Root::CurrentUser, "Software\\Kestrel 1.21\\Kestrel", "Kestrel directory", dir},
        {Root::CurrentUser, "Software\\Kestrel 1.21\\Kestrel", "Your Name", "Ann Example"},
        {Root::LocalMachine, "SOFTWARE\\Kestrel_121\\Kestrel", "Version", "1.21"},
        {Root::LocalMachine, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Uninstall\\UninstallKestrel",
         "Kestrel Install Directory", dir},
        {Root::ClassesRoot, ".bmf", "", "kestrel.exe"},
        {Root::ClassesRoot, "kestrel.exe", "", "kestrel"},
        {Root::ClassesRoot, "kestrel.exe\\shell", "", "kestrel"},
        {Root::ClassesRoot, "kestrel.exe\\shell\\open", "", "kestrel"},
        {Root::ClassesRoot, "kestrel.exe\\shell\\open\\command", "", "\"" + dir + "/kestrel\" %1"},
    };
    for (const Entry& e : entries) {
        SCOPED_TRACE(std::string(e.key) + " " + e.value);
        auto key = Key::Open(e.root, e.key);
        ASSERT_TRUE(key);
        EXPECT_EQ(key->QueryString(e.value).value_or("(missing)"), e.data);
        EXPECT_EQ(key->ValueNames().size(), e.root == Root::CurrentUser ? 2u : 1u);  // no "Sender"
    }

    // The program group, file by file.
    const std::string home = getenv("HOME");
    const std::string app = ApplicationsDirectory() + "/";
    // A document: the desktop's opener runs on it, from an application entry as every menu shows.
    const auto link = [&](const std::string& name, const std::string& file, const char* icon) {
        return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=xdg-open \"" + dir + "/" + file +
               "\"\nIcon=" + icon + "\nTerminal=false\nCategories=X-Kestrel-1.21;\n";
    };
    const auto program = [&](const std::string& name, const std::string& exec, const std::string& path,
                             const std::string& icon) {
        return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\n" +
               (path.empty() ? "" : "Path=" + path + "\n") + "Icon=" + icon +
               "\nTerminal=false\nCategories=X-Kestrel-1.21;\n";
    };
    const std::map<std::string, std::string> items = {
        {app + "kestrel-1.21-example-signature-file.desktop", link("Example Signature File", "example.sig", "text-x-generic")},
        {app + "kestrel-1.21-glance-for-kestrel.desktop", program("Glance for Kestrel", "\"" + dir + "/glance\"", dir, "glance")},
        {app + "kestrel-1.21-kestrel-1.21.desktop",
         program("Kestrel 1.21", "\"" + dir + "/kestrel\" %f", dir, "kestrel") + "MimeType=application/x-kestrel-bmf;\n"},
        {app + "kestrel-1.21-kestrel-help-file.desktop", link("Kestrel Help File", "kestrel-help.html", "text-html")},
        {app + "kestrel-1.21-kestrel-readme-file.desktop", link("Kestrel Readme File", "kestrel.txt", "text-x-generic")},
        {app + "kestrel-1.21-readme-first.desktop", link("Readme First", "readme.1st", "text-x-generic")},
        {app + "kestrel-1.21-uninstall-kestrel.desktop", program("Uninstall Kestrel", home + "/.local/bin/unkes", "", "unkes")},
    };
    const std::vector<std::string> groupFiles = GroupItemFiles("Kestrel 1.21");
    ASSERT_EQ(groupFiles.size(), items.size());
    for (const std::string& f : groupFiles) {
        ASSERT_TRUE(items.count(f)) << f;
        EXPECT_EQ(kt::ReadFile(f), items.at(f)) << f;
    }
    EXPECT_EQ(kt::ReadFile(GroupDirectoryFile("Kestrel 1.21")), "[Desktop Entry]\nType=Directory\nName=Kestrel 1.21\n");
    EXPECT_EQ(kt::ReadFile(std::string(getenv("XDG_CONFIG_HOME")) + "/menus/applications-merged/kestrel-1.21.menu"),
              "<!DOCTYPE Menu PUBLIC \"-//freedesktop//DTD Menu 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/menu-spec/1.0/menu.dtd\">\n"
              "<Menu>\n"
              "  <Name>Applications</Name>\n"
              "  <Menu>\n"
              "    <Name>Kestrel 1.21</Name>\n"
              "    <Directory>kestrel-1.21.directory</Directory>\n"
              "    <Include>\n"
              "      <Category>X-Kestrel-1.21</Category>\n"
              "    </Include>\n"
              "  </Menu>\n"
              "</Menu>\n");

    // The icons the programs' items name, in the user's icon theme.
    const std::vector<std::string> icons = ProgramIconFiles();
    ASSERT_EQ(icons.size(), 3u);
    for (const char* name : {"kestrel", "glance", "unkes"}) {
        const std::string icon = std::string(getenv("XDG_DATA_HOME")) + "/icons/hicolor/scalable/apps/" + name + ".svg";
        EXPECT_EQ(std::count(icons.begin(), icons.end(), icon), 1) << icon;
        EXPECT_EQ(kt::ReadFile(icon).rfind("<svg xmlns=\"http://www.w3.org/2000/svg\"", 0), 0u) << icon;
    }

    // The desktop's own checker accepts every entry (desktop-file-utils, from scripts/deps).
    ASSERT_TRUE(HasTool("desktop-file-validate")) << "desktop-file-utils is missing: run scripts/deps";
    std::vector<std::string> checked = groupFiles;
    checked.push_back(GroupDirectoryFile("Kestrel 1.21"));
    for (const std::string& f : checked) {
        const std::string out = kt::TempDir() + "/validate.txt";
        const int rc = std::system(("desktop-file-validate '" + f + "' > '" + out + "' 2>&1").c_str());
        EXPECT_EQ(rc, 0) << f << ":\n" << kt::ReadFile(out);
    }

    // The association: the MIME package, and the default beside the user's other entries.
    EXPECT_NE(kt::ReadFile(BmfMimePackageFile()).find("<glob pattern=\"*.bmf\"/>"), std::string::npos);
    EXPECT_EQ(kt::ReadFile(MimeAppsFile()),
              "[Default Applications]\n"
              "text/plain=editor.desktop\n"
              "application/x-kestrel-bmf=kestrel-1.21-kestrel-1.21.desktop\n"
              "\n"
              "[Added Associations]\n"
              "image/png=viewer.desktop;\n");
    // The desktop's caches, made by its own tools (shared-mime-info and desktop-file-utils, from
    // scripts/deps).
    ASSERT_TRUE(HasTool("update-mime-database")) << "shared-mime-info is missing: run scripts/deps";
    ASSERT_TRUE(HasTool("update-desktop-database")) << "desktop-file-utils is missing: run scripts/deps";
    EXPECT_NE(kt::ReadFile(DataHome() + "/mime/globs2").find("application/x-kestrel-bmf:*.bmf"), std::string::npos);
    EXPECT_NE(kt::ReadFile(ApplicationsDirectory() + "/mimeinfo.cache")
                  .find("application/x-kestrel-bmf=kestrel-1.21-kestrel-1.21.desktop;"),
              std::string::npos);
}

TEST_F(Install, ReinstallAsksNothingDuplicatesNothingAndKeepsTheAddressBook) {
    RecordingSetupHost first(setup);
    ASSERT_TRUE(Run(first).empty());
    const std::string book = DefaultInstallDirectory() + "/userfile.dbf";
    kt::WriteFile(book, "the user's own address book");

    RecordingSetupHost second(setup);
    EXPECT_TRUE(Run(second).empty());
    EXPECT_EQ(second.finished, 1);
    EXPECT_EQ(second.statuses.size(), DistributionFiles().size() - 1);  // every file but the address book
    for (const std::string& s : second.statuses) EXPECT_EQ(s.rfind("Copying: ", 0), 0u) << s;
    EXPECT_EQ(kt::ReadFile(book), "the user's own address book");
    EXPECT_EQ(GroupItemFiles("Kestrel 1.21").size(), 7u);
    const std::string list = kt::ReadFile(MimeAppsFile());
    EXPECT_EQ(list, "[Default Applications]\napplication/x-kestrel-bmf=kestrel-1.21-kestrel-1.21.desktop\n");
}

TEST_F(Install, ANewerInstalledFileIsOverwrittenOnlyWhenTheUserSaysSo) {
    struct Case {
        kp::Answer answer;
        bool kept;
    } cases[] = {{kp::Answer::No, true}, {kp::Answer::Yes, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kept ? "No" : "Yes");
        SetUp();
        RecordingSetupHost first(setup);
        ASSERT_TRUE(Run(first).empty());
        const std::string program = setup.installDirectory + "/kestrel";
        kt::WriteFile(program, "a newer build");
        SetTime(program, 2000000000);

        RecordingSetupHost host(setup);
        const auto boxes = Run(host, {c.answer});
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text,
                  "Installation File:  kestrel is older than destination file:  " + program + ".\r\nOverwrite?");
        EXPECT_EQ(boxes[0].caption, "Kestrel 1.21 Setup");
        EXPECT_EQ(boxes[0].owner, kp::Owner::Progress);
        EXPECT_EQ(boxes[0].buttons, kp::Buttons::YesNo);
        EXPECT_EQ(boxes[0].icon, kp::Icon::None);
        EXPECT_EQ(kt::ReadFile(program), c.kept ? "a newer build" : dist.originals["kestrel"]);
        const std::string refused = "Cannot copy: kestrel to " + program + ".  Destination files are newer.";
        EXPECT_EQ(std::count(host.statuses.begin(), host.statuses.end(), refused), c.kept ? 1 : 0);
        EXPECT_DOUBLE_EQ(host.fractions.back(), 1.0);  // the bar goes on either way
        EXPECT_EQ(host.finished, 1);
    }
}

// Every failure shows its box and ends the installation before anything is registered; an
// expansion that did not write its file is such a failure.
TEST_F(Install, FailuresEndTheInstallationWithTheirBox) {
    const std::string plainFile = kt::WriteFile(kt::TempDir() + "/plain-file", "x");
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::string box;
        const char* notInstalled;  // the failing row's file
    } cases[] = {
        {"missing source", [&] { fs::remove(dist.directory + "/glance_"); },
         "File Error: File {dist}/glance_ not found.  Setup failed!", "glance"},
        {"corrupt member",
         [&] {
             std::string bytes = kt::ReadFile(dist.directory + "/kestrel_");
             bytes[bytes.size() / 2] ^= 0x55;
             kt::WriteFile(dist.directory + "/kestrel_", bytes);
         },
         "File Error: Executable file is corrupt.  Setup failed!", "kestrel"},
        {"missing install directory", [&] { setup.installDirectory = kt::TempDir() + "/none/kestrel"; },
         "File Error: Path not found.  Setup failed!", "kestrel"},
        // Nothing can be made below a regular file, whoever runs the test.
        {"install directory under a file", [&] { setup.installDirectory = plainFile + "/kestrel"; },
         "File Error: Path not found.  Setup failed!", "kestrel"},
        {"destination is a directory",
         [&] {
             fs::create_directories(setup.installDirectory + "/kestrel/sub");
             SetTime(setup.installDirectory + "/kestrel", 1600000000);  // older: no question
         },
         "File Error: Error expanding {dist}/kestrel_.  Setup failed!", nullptr},
        {"no expander", [&] { fs::remove(dist.directory + "/expand"); },
         "File Error: File not found.  Setup failed!", "libkestest.so"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        c.arrange();
        RecordingSetupHost host(setup);
        const auto boxes = Run(host);
        ASSERT_EQ(boxes.size(), 1u);
        std::string box = c.box;
        if (box.find("{dist}") != std::string::npos) box.replace(box.find("{dist}"), 6, dist.directory);
        EXPECT_EQ(Box(boxes[0]), box);
        EXPECT_EQ(boxes[0].icon, kp::Icon::Stop);
        EXPECT_EQ(host.ended, 1);
        EXPECT_EQ(host.finished, 0);
        if (c.notInstalled) {
            EXPECT_FALSE(fs::exists(setup.installDirectory + "/" + c.notInstalled));
        }
        EXPECT_FALSE(kp::reg::KeyExists(Root::CurrentUser, kUserKey));
        EXPECT_FALSE(kp::reg::KeyExists(Root::ClassesRoot, kBmfClass));
        EXPECT_TRUE(GroupItemFiles("Kestrel 1.21").empty());
    }
}

// Floppy mode: the media are mounted in turn at the same place; each missing file asks for the
// next one, and after the first change the expander comes from the launcher's copy.
TEST_F(Install, FloppyModeAsksForEachNextDisk) {
    struct Case {
        std::vector<kp::Answer> answers;
        std::vector<std::string> prompts;
        bool finished;
    } cases[] = {
        {{kp::Answer::Ok, kp::Answer::Ok},
         {"Put in Disk Labelled kesdisk2, or press cancel to end setup.",
          "Put in Disk Labelled kesdisk3, or press cancel to end setup."},
         true},
        {{kp::Answer::Cancel}, {"Put in Disk Labelled kesdisk2, or press cancel to end setup."}, false},
    };
    for (const Case& c : cases) {
        SetUp();
        const std::string disks[] = {"", "", kt::FreshDir("disk2"), kt::FreshDir("disk3")};
        MakeTestDistribution(disks[2], 4, 8, false);
        MakeTestDistribution(disks[3], 9, 99, false);
        const std::string mount = kt::FreshDir("media");
        MakeTestDistribution(mount, 0, 3, true);
        CopyExpander(setup.temporaryDirectory);
        setup.sourceDirectory = mount;
        setup.floppyMode = true;

        std::vector<std::string> prompts;
        size_t next = 0;
        kp::BoxBackend previous = kp::SetMessageBoxBackend([&](const kp::BoxRequest& b) {
            prompts.push_back(b.text);
            const kp::Answer a = next < c.answers.size() ? c.answers[next++] : kp::Answer::Cancel;
            if (a == kp::Answer::Ok) {  // the next medium replaces the last one
                fs::remove_all(mount);
                fs::copy(disks[prompts.size() + 1], mount);
            }
            return a;
        });
        RecordingSetupHost host(setup);
        CopyDistributionFilesNT(setup, host);
        kp::SetMessageBoxBackend(previous);

        EXPECT_EQ(prompts, c.prompts);
        EXPECT_EQ(host.finished, c.finished ? 1 : 0);
        EXPECT_EQ(host.ended, c.finished ? 0 : 1);
        EXPECT_TRUE(fs::exists(setup.installDirectory + "/kestrel"));  // from the first disk
        EXPECT_EQ(fs::exists(setup.installDirectory + "/lumen"), c.finished);
    }
}

// The desktop's cache tools run when the machine has them; a machine without them installs too.
TEST_F(Install, CacheToolsRunWhenPresent) {
    const std::string log = kt::TempDir() + "/tools.log";
    struct Case {
        bool present;
        std::string calls;
    } cases[] = {
        {true, "update-mime-database " + DataHome() + "/mime\nupdate-desktop-database " + ApplicationsDirectory() + "\n"},
        {false, ""},
    };
    const std::string path = getenv("PATH");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.present ? "present" : "absent");
        SetUp();
        fs::remove(log);
        const std::string tools = kt::FreshDir("tools");
        if (c.present) {
            for (const char* tool : {"update-mime-database", "update-desktop-database"}) {
                const std::string script = kt::WriteFile(tools + "/" + tool,
                                                         "#!/bin/sh\necho \"${0##*/} $*\" >> '" + log + "'\n");
                chmod(script.c_str(), 0755);
            }
        }
        setenv("PATH", tools.c_str(), 1);
        RecordingSetupHost host(setup);
        const auto boxes = Run(host);
        setenv("PATH", path.c_str(), 1);
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(host.registryResult, kRegistryOk);
        EXPECT_EQ(GroupItemFiles("Kestrel 1.21").size(), 7u);
        EXPECT_EQ(kt::ReadFile(log), c.calls);
    }
}

// The distribution rows the build makes (as configuring wrote them down): every row of the file
// table and the launcher's own files, each once; the data files always, a program's row only
// when the program is built in this tree.
TEST(Distribution, TheBuildMakesEveryRowsFile) {
    const std::string list = kt::ReadFile(KESTREL_DIST_ROWS);
    ASSERT_FALSE(list.empty()) << KESTREL_DIST_ROWS;
    std::map<std::string, std::string> rows;  // name -> made / skipped
    std::istringstream lines(list);
    for (std::string how, name; lines >> how >> name;) {
        EXPECT_TRUE(rows.emplace(name, how).second) << name << " twice";
        EXPECT_TRUE(how == "made" || how == "skipped") << how;
    }
    std::map<std::string, std::string> expected = {  // the launcher's files: built here
        {"setup", "made"}, {"expand", "made"}, {"setupkes_", "made"}, {"expand_", "made"}};
    for (const DistributionFile& f : DistributionFiles()) {
        if (f.kind == FileKind::Data) expected[f.source] = "made";
        else expected[f.source] = rows.count(f.source) ? rows[f.source] : "(missing)";
    }
    expected["libkestrel.so"] = rows.count("libkestrel.so") ? rows["libkestrel.so"] : "(missing)";
    EXPECT_EQ(rows, expected);
    // A program row is left out only when its program is not built: the ones built here are in.
    for (const char* built : {"kestrel_", "libkestest.so_", "libkeschk.so_", "loadmeter_", "lumen_"})
        EXPECT_EQ(rows[built], "made") << built;
}

}  // namespace

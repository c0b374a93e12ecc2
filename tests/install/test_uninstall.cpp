// The uninstaller's run after an installation from a test distribution into the test's private
// HOME (with kestrel's and the viewer's settings stored as the programs store them): what it
// removes, what it keeps, and how a failed run stops and can be repeated.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "glance/settings.h"
#include "install/bmf_association.h"
#include "install/carry_over.h"
#include "install/file_copy.h"
#include "install/file_table.h"
#include "install/progman.h"
#include "install/program_icons.h"
#include "install/registration.h"
#include "install/uninstall.h"
#include "kestrel/engine/run/settings.h"
#include "platform/msgbox.h"
#include "platform/registry.h"
#include "shared/logfont_values.h"
#include "shared/places.h"
#include "tests/install/test_distribution.h"
#include "tests/support/isolation.h"

namespace fs = std::filesystem;
using kp::reg::Key;
using kp::reg::Root;

namespace {

class InstallingHost : public SetupHost {
public:
    explicit InstallingHost(SetupState& s) : s_(s) {}
    void FinishInstall() override {
        SetRegistryEntries(s_);
        CreateProgramGroup(s_);
    }

private:
    SetupState& s_;
};

class RecordingHost : public UninstallHost {
public:
    void Status(const std::string& line) override { lines.push_back(line); }
    void Progress(double fraction) override { fractions.push_back(fraction); }
    std::vector<std::string> lines;
    std::vector<double> fractions;
};

const char* const kMimeApps =
    "[Default Applications]\n"
    "text/plain=editor.desktop\n"
    "\n"
    "[Added Associations]\n"
    "image/png=viewer.desktop;\n";

std::string Box(const kp::BoxRequest& b) { return b.caption + ": " + b.text; }

class Uninstall : public ::testing::Test {
protected:
    void Install(const std::string& installDirectory) {
        umask(022);
        for (const std::string& dir : {ConfigHome(), DataHome(), HomeDirectory() + "/.local", ResultsFolder()})
            fs::remove_all(dir);
        fs::create_directories(ConfigHome());
        kt::WriteFile(MimeAppsFile(), kMimeApps);
        fs::create_directories(ResultsFolder());
        kt::WriteFile(ResultsFolder() + "/run.bmf", "a result");
        const TestDistribution dist = MakeTestDistribution(kt::FreshDir("dist"));
        setup = SetupState{};
        setup.sourceDirectory = dist.directory;
        setup.temporaryDirectory = kt::FreshDir("setup-temp");
        setup.installDirectory = installDirectory;
        setup.userName = "Ann Example";
        fs::create_directories(installDirectory);
        InstallingHost host(setup);
        CopyDistributionFilesNT(setup, host);
        ASSERT_TRUE(fs::exists(UserBinDirectory() + "/unkes"));
        ASSERT_FALSE(GroupItemFiles(kProductName).empty());

        // kestrel's and the viewer's settings, as they store them after a first start.
        prefs = Preferences{};
        machine = MachineDescription{};
        globaldrives = 3;
        ASSERT_EQ(CreateRegEntry(), 0);
        ASSERT_EQ(CreateRegEntry2(), 0);
        auto viewer = Key::Create(Root::CurrentUser, glance::kViewerKey);
        for (const auto& v : glance::kViewerRectValues) viewer->SetDword(v.name, 300);
        auto viewerFonts = Key::Create(Root::CurrentUser, glance::kViewerFontsKey);
        for (const LogFontValue& f : LogFontValues()) WriteLogFontValue(*viewerFonts, LogFont{}, f);
    }

    std::string Installed(const DistributionFile& f) const { return TargetDirectory(f, setup) + "/" + f.target; }

    // Everything the installation made is there (or, with `gone`, none of it but the uninstaller).
    void ExpectInstallation(bool present) const {
        for (const DistributionFile& f : DistributionFiles())
            EXPECT_EQ(fs::exists(Installed(f)), present || f.place == TargetPlace::UserBin) << f.target;
        for (const auto& [root, path] : std::vector<std::pair<Root, std::string>>{
                 {Root::CurrentUser, "Software\\Kestrel 1.21"},
                 {Root::LocalMachine, "SOFTWARE\\Kestrel_121"},
                 {Root::LocalMachine, kUninstallKey},
                 {Root::ClassesRoot, kBmfClass},
                 {Root::ClassesRoot, kBmfProgId}})
            EXPECT_EQ(kp::reg::KeyExists(root, path), present) << path;
        if (!present) {  // not even the keys above ours
            for (Root root : {Root::CurrentUser, Root::LocalMachine, Root::ClassesRoot})
                EXPECT_EQ(kt::ReadFile(kp::reg::RootFile(root)).find('['), std::string::npos)
                    << kt::ReadFile(kp::reg::RootFile(root));
        }
        EXPECT_EQ(GroupItemFiles(kProductName).empty(), !present);
        for (const std::string& icon : ProgramIconFiles()) EXPECT_EQ(fs::exists(icon), present) << icon;
        EXPECT_EQ(fs::exists(GroupMenuFile(kProductName)), present);
        EXPECT_EQ(fs::exists(GroupDirectoryFile(kProductName)), present);
        EXPECT_EQ(fs::exists(BmfMimePackageFile()), present);
        EXPECT_EQ(kt::ReadFile(MimeAppsFile()) == kMimeApps, !present);
        EXPECT_EQ(kt::ReadFile(ResultsFolder() + "/run.bmf"), "a result");  // never the user's results
    }

    SetupState setup;
};

}  // namespace

// A run after an installation leaves none of it but the uninstaller itself and the results
// folder; a file of the user's keeps the install directory. The status lines come in order.
TEST_F(Uninstall, RemovesWhatTheInstallationMade) {
    struct Case {
        const char* name;
        std::string directory;
        const char* userFile = nullptr;
        bool removedByHand = false;  // the install directory, before the run
        bool earliestKeys = false;   // an earliest version's per-user key with its machine description
    } cases[] = {
        {"an install directory of its own", kt::FreshDir("Program Files") + "/kestrel"},
        {"a file of the user's in it", kt::FreshDir("Program Files") + "/kestrel", "my notes.txt"},
        {"the default install directory", DefaultInstallDirectory()},
        // Nothing to delete there: the run goes on to the group and the uninstall key.
        {"the install directory removed by hand", kt::FreshDir("Program Files") + "/kestrel", nullptr, true},
        {"an earliest version's keys left", kt::FreshDir("Program Files") + "/kestrel", nullptr, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Install(c.directory);
        if (c.userFile) kt::WriteFile(c.directory + "/" + c.userFile, "mine");
        ExpectInstallation(true);
        if (c.removedByHand) fs::remove_all(c.directory);
        if (c.earliestKeys) {
            Key::Create(Root::CurrentUser, kOldUserKey)->SetString("Your Name", "earliest");
            Key::Create(Root::CurrentUser, kOldUserConfigKey)->SetString("Manufacturer", "earliest");
        }

        kp::BoxRecorder boxes;
        RecordingHost host;
        EXPECT_TRUE(RunUninstall(host));
        EXPECT_TRUE(boxes.boxes().empty());
        ExpectInstallation(false);
        EXPECT_EQ(fs::exists(c.directory), c.userFile != nullptr);
        EXPECT_FALSE(fs::exists(DefaultInstallDirectory()) && c.userFile == nullptr);
        if (c.userFile) {
            EXPECT_EQ(kt::ReadFile(c.directory + "/" + c.userFile), "mine");
        }

        std::vector<std::string> steps;
        for (const std::string& line : host.lines)
            if (line.rfind("Deleting Registry Value:  ", 0) != 0) steps.push_back(line);
        std::vector<std::string> expected = {
            "Uninstalling the Old Kestrel Registry Entries...",
            "Uninstalling the New Kestrel Registry Entries...",
            "Deleting Registry Key:  HKEY_CURRENT_USER:Software\\Kestrel 1.21\\Kestrel\\Glance\\fonts",
            "Deleting Registry Key:  HKEY_CURRENT_USER:Software\\Kestrel 1.21\\Kestrel\\Glance",
            "Deleting Registry Key:  HKEY_CURRENT_USER:Software\\Kestrel 1.21\\Kestrel\\fonts",
            "Deleting Registry Key:  HKEY_CURRENT_USER:Software\\Kestrel 1.21\\Kestrel",
            "Deleting Registry Key:  HKEY_LOCAL_MACHINE:SOFTWARE\\Kestrel_121\\Kestrel\\Configuration\\DiskData",
            "Deleting Registry Key:  HKEY_LOCAL_MACHINE:SOFTWARE\\Kestrel_121\\Kestrel\\Configuration",
            "Deleting Registry Key:  HKEY_LOCAL_MACHINE:SOFTWARE\\Kestrel_121\\Kestrel",
            "Deleting Registry Key:  HKEY_LOCAL_MACHINE:SOFTWARE\\Kestrel_121",
            "Deleting Registry Key:  HKEY_CURRENT_USER:Software\\Kestrel 1.21",
            "Uninstalling the Disk Files...",
            "Deleting File:  libkestest.so",
            "Deleting File:  libkestrel.so",
            "Deleting File:  kestrel",
            "Deleting File:  kestrel-help.html",
            "Deleting File:  kestrel.txt",
            "Deleting File:  libkeschk.so",
            "Deleting File:  glance",
            "Deleting File:  example.sig",
            "Deleting File:  loadmeter",
            "Deleting File:  readme.1st",
            "Deleting File:  userfile.dbf",
            "Deleting File:  lumen",
            "Deleting Directory:  " + c.directory,
            "Uninstalling the Program Groups...",
            "Removing Item:  readme.1st",
            "Removing Item:  loadmeter",
            "Removing Item:  example.sig",
            "Removing Item:  glance",
            "Removing Item:  libkeschk.so",
            "Removing Item:  kestrel.txt",
            "Removing Item:  kestrel-help.html",
            "Removing Item:  kestrel",
            "Removing Group Kestrel 1.21",
            "All Components Uninstalled...",
        };
        EXPECT_EQ(steps, expected);
        const auto count = [&](const std::string& value) {
            return std::count(host.lines.begin(), host.lines.end(), "Deleting Registry Value:  " + value);
        };
        EXPECT_EQ(host.lines[2], "Deleting Registry Value:  LogFont Underline");
        EXPECT_EQ(count("LogFont FaceName"), 2);  // the two fonts keys
        EXPECT_EQ(count("Main Window Rect Right"), 2);
        EXPECT_EQ(count("Drive #"), 3);
        EXPECT_EQ(count("Counter #"), 6);
        EXPECT_EQ(count("Logical Disk #"), 3);
        EXPECT_EQ(count("SMTP server"), 1);
        EXPECT_EQ(count("Video Ram"), 1);
        ASSERT_FALSE(host.fractions.empty());
        EXPECT_TRUE(std::is_sorted(host.fractions.begin(), host.fractions.end()));
        EXPECT_DOUBLE_EQ(host.fractions.back(), 1.0);
    }
}

// Without the uninstall key's directory the run shows the registry box and deletes nothing; a
// directory that is not an absolute path (it would be taken from the working directory) is none.
TEST_F(Uninstall, WithoutItsKeyNothingIsDeleted) {
    struct Case {
        const char* name;
        bool relative;  // else no value
    } cases[] = {
        {"no install directory", false},
        {"an install directory that is not absolute", true},
    };
    const fs::path workingDirectory = fs::current_path();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string parent = kt::FreshDir("Program Files");
        Install(parent + "/kestrel");
        auto uninstall = Key::Open(Root::LocalMachine, kUninstallKey);
        if (c.relative) {
            uninstall->SetString(kInstallDirectoryValue, "kestrel");
            fs::current_path(parent);  // where the installation is
        } else {
            uninstall->DeleteValue(kInstallDirectoryValue);
        }
        kp::BoxRecorder boxes;
        RecordingHost host;
        EXPECT_FALSE(RunUninstall(host));
        fs::current_path(workingDirectory);
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(Box(boxes.boxes()[0]),
                  "Registry Exception: Error retrieving uninstall information from the registry");
        EXPECT_EQ(boxes.boxes()[0].icon, kp::Icon::Exclamation);
        for (const DistributionFile& f : DistributionFiles()) EXPECT_TRUE(fs::exists(Installed(f))) << f.target;
        EXPECT_TRUE(kp::reg::KeyExists(Root::CurrentUser, kMainKey));
        EXPECT_TRUE(kp::reg::KeyExists(Root::ClassesRoot, kBmfClass));
        EXPECT_FALSE(GroupItemFiles(kProductName).empty());
        EXPECT_TRUE(fs::exists(BmfMimePackageFile()));
    }
}

// A run that cannot enter the install directory stops with its box and keeps the uninstall key,
// so that a second run, once the directory is there again, removes the rest.
TEST_F(Uninstall, AFailedFileStepKeepsTheKeyForASecondRun) {
    const std::string directory = kt::FreshDir("Program Files") + "/kestrel";
    Install(directory);
    const std::string aside = directory + ".aside";
    fs::rename(directory, aside);
    kt::WriteFile(directory, "not a directory");  // nobody, root included, enters it

    {
        kp::BoxRecorder boxes;
        RecordingHost host;
        EXPECT_FALSE(RunUninstall(host));
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(Box(boxes.boxes()[0]),
                  "Kestrel Uninstall Error: Uninstall failed to complete the uninstallation process");
        EXPECT_EQ(boxes.boxes()[0].icon, kp::Icon::Stop);
        EXPECT_EQ(host.lines.back(), "Uninstalling the Disk Files...");
    }
    EXPECT_EQ(OlderInstallDirectory(), directory);
    EXPECT_FALSE(GroupItemFiles(kProductName).empty());
    EXPECT_EQ(kt::ReadFile(directory), "not a directory");

    fs::remove(directory);
    fs::rename(aside, directory);
    kp::BoxRecorder boxes;
    RecordingHost host;
    EXPECT_TRUE(RunUninstall(host));
    EXPECT_TRUE(boxes.boxes().empty());
    ExpectInstallation(false);
    EXPECT_FALSE(fs::exists(directory));
}

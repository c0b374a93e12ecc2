// The setup companion's dialog chain, walked with scripted answers (offscreen) into the test's
// private HOME: the whole installation ending in the start of kestrel and of "setup -r" (both
// stand-ins that record their start), the ways out of the chain, and the refusals.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <chrono>
#include <filesystem>
#include <thread>

#include "install/expand_file.h"
#include "install/file_table.h"
#include "install/progman.h"
#include "install/registration.h"
#include "install/setup_companion.h"
#include "install/setup_launcher.h"
#include "platform/msgbox.h"
#include "platform/registry.h"
#include "shared/places.h"
#include "tests/install/test_distribution.h"
#include "tests/support/isolation.h"
#include "tests/support/qt_test_main.h"
#include "tests/support/window_manager.h"

namespace fs = std::filesystem;
using kp::reg::Key;
using kp::reg::Root;

namespace {

std::string Box(const kp::BoxRequest& b) { return "[" + b.caption + "] " + b.text; }
std::string Boxes(const kp::BoxRecorder& r) {
    std::string all;
    for (const kp::BoxRequest& b : r.boxes()) all += Box(b) + "\n";
    return all;
}

class Companion : public ::testing::Test {
protected:
    void SetUp() override {
        umask(022);
        for (const std::string& dir : {ConfigHome(), DataHome(), HomeDirectory() + "/.local"}) fs::remove_all(dir);
        fs::create_directories(ConfigHome());
        fs::create_directories(DataHome());
        records = kt::FreshDir("records");
        dist = MakeTestDistribution(kt::FreshDir("Setup Disk") + "/dist");
        // The main program and the launcher are stand-ins that record their start.
        const std::string scratch = kt::FreshDir("scratch");
        WriteStandIn(scratch + "/kestrel", records, "kestrel");
        ASSERT_EQ(CompressFile(scratch + "/kestrel", dist.directory + "/kestrel_"), kExpandOk);
        WriteStandIn(dist.directory + "/setup", records, "setup");
        mountinfo = kt::WriteFile(kt::TempDir() + "/mountinfo",
                                  "22 1 259:2 / / rw - ext4 /dev/sda2 rw\n24 22 259:1 / /boot rw - vfat /dev/sda1 rw\n");
    }

    // A companion started as the launcher starts it: in the distribution folder, with the launch
    // line on the command line and in the pipe of its standard input.
    std::unique_ptr<SetupCompanion> Launch(const std::string& source, std::vector<std::string> arguments = {}) {
        fs::current_path(source);
        if (arguments.empty()) arguments = {"-d", kLaunchToken, source};
        auto c = std::make_unique<SetupCompanion>(ParseLaunchArguments(arguments));
        c->mountinfoPath = mountinfo;
        c->freeSpace = [this](const std::string&) { return FreeSpace{"/", freeBytes}; };
        c->onEnd = [this](int code) { endCode = code; };
        int input[2];
        pipe(input);
        const std::string line = LaunchLineText(source);
        EXPECT_EQ(write(input[1], line.data(), line.size()), ssize_t(line.size()));
        close(input[1]);
        if (c->Start()) c->CheckLaunch(input[0], 0);
        close(input[0]);
        return c;
    }

    // Clicks a button of an open dialog; false when either is not there.
    bool Click(SetupCompanion& c, const char* dialog, const char* button) {
        QDialog* d = c.OpenDialog(dialog);
        if (d == nullptr) return false;
        QPushButton* b = d->findChild<QPushButton*>(button);
        if (b == nullptr) return false;
        b->click();
        QApplication::processEvents();
        return true;
    }

    std::vector<std::string> OpenDialogs(SetupCompanion& c) {
        std::vector<std::string> open;
        for (const char* name : {"ENTERAD2", "LICENSE", "ENTERUSER", "ENTERSTR", "DIRLIST", "HELPMESSAGE", "EXITKES",
                                 "TRANSFORMREG", "ENTERPROG", "ENTERAD3"})
            if (c.OpenDialog(name)) open.push_back(name);
        return open;
    }

    TestDistribution dist;
    std::string records, mountinfo;
    uint64_t freeBytes = 1ull << 40;
    int endCode = -1;
};

TEST_F(Companion, TheChainInstallsTheSuiteAndStartsIt) {
    kp::BoxRecorder boxes;
    auto c = Launch(dist.directory);
    EXPECT_EQ(OpenDialogs(*c), std::vector<std::string>{"ENTERAD2"});
    EXPECT_EQ(c->OpenDialog("ENTERAD2")->windowTitle(), "Kestrel 1.21 Setup Information");
    ASSERT_TRUE(Click(*c, "ENTERAD2", "yes"));
    ASSERT_TRUE(c->OpenDialog("LICENSE"));
    EXPECT_EQ(c->OpenDialog("LICENSE")->findChild<QPlainTextEdit*>("agreement")->toPlainText(),
              QString(kLicenceText).replace("\r\n", "\n"));
    ASSERT_TRUE(Click(*c, "LICENSE", "accept"));
    QDialog* user = c->OpenDialog("ENTERUSER");
    ASSERT_TRUE(user);
    ASSERT_TRUE(Click(*c, "ENTERUSER", "help"));
    EXPECT_TRUE(c->OpenDialog("HELPMESSAGE")->findChild<QPlainTextEdit*>()->toPlainText().startsWith("Your name:"));
    ASSERT_TRUE(Click(*c, "HELPMESSAGE", "ok"));
    user->findChild<QLineEdit*>("name")->setText("Ann Example");
    user->findChild<QLineEdit*>("company")->setText("Example Ltd");
    ASSERT_TRUE(Click(*c, "ENTERUSER", "ok"));
    EXPECT_EQ(OpenDialogs(*c), std::vector<std::string>{"ENTERSTR"});
    QLineEdit* directory = c->OpenDialog("ENTERSTR")->findChild<QLineEdit*>("directory");
    EXPECT_EQ(directory->text().toStdString(), DefaultInstallDirectory());
    EXPECT_TRUE(directory->isReadOnly());

    // The chooser: home first, then the local disks; a directory entered by activating it.
    const std::string tools = HomeDirectory() + "/Tools";
    fs::create_directories(tools + "/Bench");
    ASSERT_TRUE(Click(*c, "ENTERSTR", "change"));
    QDialog* chooser = c->OpenDialog("DIRLIST");
    ASSERT_TRUE(chooser);
    QComboBox* drives = chooser->findChild<QComboBox*>("drives");
    ASSERT_EQ(drives->count(), 3);
    EXPECT_EQ(drives->itemText(0).toStdString(), "Local Disk Drive - " + HomeDirectory());
    EXPECT_EQ(drives->itemText(2).toStdString(), "Local Disk Drive - /boot");
    QListWidget* list = chooser->findChild<QListWidget*>("directories");
    const auto enter = [&](const char* name) {
        const auto found = list->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << name;
        emit list->itemActivated(found[0]);
    };
    enter("Tools");
    enter("Bench");
    enter("[..]");
    EXPECT_EQ(chooser->windowTitle().toStdString(), tools);
    ASSERT_TRUE(Click(*c, "DIRLIST", "ok"));
    const std::string install = InstallDirectoryFor(tools);
    EXPECT_EQ(directory->text().toStdString(), install);

    // OK: the check, the copy, the entries and the group; then the completion dialog.
    ASSERT_TRUE(Click(*c, "ENTERSTR", "ok"));
    EXPECT_EQ(OpenDialogs(*c), std::vector<std::string>{"ENTERAD3"});
    EXPECT_EQ(Boxes(boxes), "");
    EXPECT_EQ(c->state().installDirectory, install);
    for (const DistributionFile& f : DistributionFiles()) {
        if (f.place == TargetPlace::Install) {
            EXPECT_TRUE(fs::exists(install + "/" + f.target)) << f.target;
        }
    }
    EXPECT_EQ(c->state().statusText, "Configuring the Start Menu");
    auto key = Key::Open(Root::CurrentUser, kUserKey);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->QueryString("Your Name").value_or(""), "Ann Example");
    EXPECT_EQ(key->QueryString("Kestrel directory").value_or(""), install);
    EXPECT_EQ(GroupItemFiles("Kestrel 1.21").size(), 7u);

    // OK of the completion: "setup -r" from the distribution, then kestrel in its directory.
    ASSERT_TRUE(Click(*c, "ENTERAD3", "ok"));
    EXPECT_TRUE(c->ended());
    EXPECT_EQ(endCode, 0);
    EXPECT_TRUE(OpenDialogs(*c).empty());
    EXPECT_EQ(WaitForRecord(records + "/setup"), "1\n[-r]\n" + dist.directory + "\n");
    EXPECT_EQ(WaitForRecord(records + "/kestrel"), "0\n" + install + "\n");
    EXPECT_EQ(Boxes(boxes), "");
}

// An older installation is carried over before the copy: its settings go under this version's
// keys (the user dialog's name over the old one), its result files into ~/Kestrel Files, and the
// uninstall key names the new install directory.
TEST_F(Companion, AnOlderInstallationIsCarriedOverBeforeTheCopy) {
    auto old = Key::Create(Root::CurrentUser, "Software\\Kestrel 1.20\\Kestrel");
    old->SetString("SMTP server", "mail.example.org");
    old->SetString("Your Name", "Old Name");
    const std::string older = kt::FreshDir("Old Programs") + "/Kestrel";
    fs::create_directories(older);
    kt::WriteFile(older + "/kestrel", "old program");
    kt::WriteFile(older + "/Old Run.BMF", "old result");
    Key::Create(Root::LocalMachine, kUninstallKey)->SetString("Kestrel Install Directory", older);
    fs::remove_all(HomeDirectory() + "/Kestrel Files");

    kp::BoxRecorder boxes;
    auto c = Launch(dist.directory);
    ASSERT_TRUE(Click(*c, "ENTERAD2", "yes"));
    ASSERT_TRUE(Click(*c, "LICENSE", "accept"));
    c->OpenDialog("ENTERUSER")->findChild<QLineEdit*>("name")->setText("Ann Example");
    ASSERT_TRUE(Click(*c, "ENTERUSER", "ok"));
    ASSERT_TRUE(Click(*c, "ENTERSTR", "ok"));
    EXPECT_EQ(OpenDialogs(*c), std::vector<std::string>{"ENTERAD3"});
    EXPECT_EQ(Boxes(boxes), "");

    auto key = Key::Open(Root::CurrentUser, kUserKey);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->QueryString("SMTP server").value_or(""), "mail.example.org");
    EXPECT_EQ(key->QueryString("Your Name").value_or(""), "Ann Example");
    EXPECT_FALSE(kp::reg::KeyExists(Root::CurrentUser, "Software\\Kestrel 1.20"));
    EXPECT_EQ(Key::Open(Root::LocalMachine, kUninstallKey)->QueryString("Kestrel Install Directory").value_or(""),
              DefaultInstallDirectory());
    EXPECT_EQ(kt::ReadFile(HomeDirectory() + "/Kestrel Files/Old Run.BMF"), "old result");
    EXPECT_EQ(kt::ReadFile(older + "/Old Run.BMF"), "old result");
    EXPECT_FALSE(fs::exists(older + "/kestrel"));
    EXPECT_TRUE(fs::exists(DefaultInstallDirectory() + "/kestrel"));
    ASSERT_TRUE(Click(*c, "ENTERAD3", "ok"));
}

// The ways out: each restarts "setup -r" from the distribution, never from the private folder.
TEST_F(Companion, LeavingTheChainRestartsTheLauncherOnlyFromElsewhere) {
    struct Case {
        const char* name;
        bool fromPrivateFolder;
        std::vector<std::pair<const char*, const char*>> clicks;  // dialog, button
        bool ends;
        std::vector<std::string> open;
    } cases[] = {
        {"No, then Yes", false, {{"ENTERAD2", "no"}, {"EXITKES", "yes"}}, true, {}},
        {"No, then Yes, from the private folder", true, {{"ENTERAD2", "no"}, {"EXITKES", "yes"}}, true, {}},
        {"No, then No", false, {{"ENTERAD2", "no"}, {"EXITKES", "no"}}, false, {"ENTERAD2"}},
        {"Do Not Accept", false, {{"ENTERAD2", "yes"}, {"LICENSE", "decline"}}, true, {}},
        {"Cancel of the user dialog", false,
         {{"ENTERAD2", "yes"}, {"LICENSE", "accept"}, {"ENTERUSER", "cancel"}, {"EXITKES", "yes"}}, true, {}},
        {"Cancel of the directory dialog", false,
         {{"ENTERAD2", "yes"}, {"LICENSE", "accept"}, {"ENTERUSER", "ok"}, {"ENTERSTR", "cancel"}, {"EXITKES", "yes"}},
         true, {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        SetUp();
        std::string source = dist.directory;
        if (k.fromPrivateFolder) {  // no launcher there: an attempt to start one would show its box
            fs::remove_all(PrivateSetupDirectory());
            fs::copy(dist.directory, PrivateSetupDirectory());
            fs::remove(PrivateSetupDirectory() + "/setup");
            source = PrivateSetupDirectory() + "/.";  // the same place under another spelling
        }
        kp::BoxRecorder boxes;
        auto c = Launch(source);
        for (const auto& [dialog, button] : k.clicks) ASSERT_TRUE(Click(*c, dialog, button)) << dialog << " " << button;
        EXPECT_EQ(c->ended(), k.ends);
        EXPECT_EQ(OpenDialogs(*c), k.open);
        if (k.ends && !k.fromPrivateFolder) {
            EXPECT_EQ(WaitForRecord(records + "/setup"), "1\n[-r]\n" + dist.directory + "\n");
        }
        EXPECT_EQ(Boxes(boxes), "");
        EXPECT_FALSE(fs::exists(DefaultInstallDirectory() + "/kestrel"));
    }
}

// Escape and the window manager's close answer every dialog with a cancel-type button as that
// button, with what follows it; the dialog never goes without an answer. At the end the real
// "setup -r" takes the launcher's private folder away: nothing is left behind.
TEST_F(Companion, EscapeAndTheWindowManagersCloseAnswerAsTheCancelButton) {
    using Clicks = std::vector<std::pair<const char*, const char*>>;  // dialog, button
    const Clicks toUser = {{"ENTERAD2", "yes"}, {"LICENSE", "accept"}};
    Clicks toDirectory = toUser;
    toDirectory.push_back({"ENTERUSER", "ok"});
    Clicks toChooser = toDirectory;
    toChooser.push_back({"ENTERSTR", "change"});
    const struct Row {
        const char* dialog;
        Clicks reach;                   // the clicks that open it
        std::vector<std::string> open;  // the dialogs open after its answer
        Clicks then;                    // the clicks after, to the end (empty: the answer ended it)
    } rows[] = {
        {"ENTERAD2", {}, {"ENTERAD2", "EXITKES"}, {{"EXITKES", "yes"}}},
        {"LICENSE", {{"ENTERAD2", "yes"}}, {}, {}},
        {"ENTERUSER", toUser, {"ENTERUSER", "EXITKES"}, {{"EXITKES", "yes"}}},
        {"ENTERSTR", toDirectory, {"ENTERSTR", "EXITKES"}, {{"EXITKES", "yes"}}},
        {"DIRLIST", toChooser, {"ENTERSTR"}, {{"ENTERSTR", "cancel"}, {"EXITKES", "yes"}}},
        {"EXITKES", {{"ENTERAD2", "no"}}, {"ENTERAD2"}, {{"ENTERAD2", "no"}, {"EXITKES", "yes"}}},
    };
    const std::string privateFolder = PrivateSetupDirectory();
    for (const Row& row : rows) {
        for (const bool escape : {true, false}) {
            SCOPED_TRACE(std::string(row.dialog) + (escape ? ", Escape" : ", the window manager's close"));
            SetUp();
            // The launcher's copies in its private folder, and the launcher itself beside the
            // distribution, as a user's installation has them.
            fs::remove_all(privateFolder);
            fs::create_directories(privateFolder);
            for (const char* name : {kCompanionProgram, kExpandProgram, kSocketLibrary})
                kt::WriteFile(privateFolder + "/" + name, "copy");
            fs::remove(dist.directory + "/setup");
            fs::create_symlink(KESTREL_SETUP_PROGRAM, dist.directory + "/setup");
            kp::BoxRecorder boxes;
            auto c = Launch(dist.directory);
            for (const auto& [dialog, button] : row.reach) ASSERT_TRUE(Click(*c, dialog, button)) << dialog;
            QDialog* d = c->OpenDialog(row.dialog);
            ASSERT_TRUE(d);
            const std::string chosen = c->state().chosenDirectory;
            fs::current_path("/");
            if (escape) QTest::keyClick(d, Qt::Key_Escape);
            else kt::CloseFromWindowManager(d);
            QApplication::processEvents();
            EXPECT_EQ(OpenDialogs(*c), row.open);
            EXPECT_EQ(c->ended(), row.then.empty());
            EXPECT_EQ(c->state().chosenDirectory, chosen);
            if (row.dialog == std::string("ENTERSTR")) {
                EXPECT_EQ(fs::current_path(), fs::path(dist.directory));
            }
            // Asked again, the exit question is not asked twice.
            if (c->OpenDialog("EXITKES") && d->isVisible()) {
                if (escape) QTest::keyClick(d, Qt::Key_Escape);
                else kt::CloseFromWindowManager(d);
                QApplication::processEvents();
                EXPECT_EQ(OpenDialogs(*c), row.open);
                EXPECT_EQ(d->findChildren<QDialog*>("EXITKES").size(), 1u);
            }
            for (const auto& [dialog, button] : row.then) ASSERT_TRUE(Click(*c, dialog, button)) << dialog;
            EXPECT_TRUE(c->ended());
            EXPECT_TRUE(OpenDialogs(*c).empty());
            for (int waited = 0; fs::exists(privateFolder) && waited < 600; ++waited)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            EXPECT_FALSE(fs::exists(privateFolder));
            EXPECT_FALSE(fs::exists(DefaultInstallDirectory() + "/kestrel"));
            EXPECT_EQ(Boxes(boxes), "");
        }
    }
}

// The carrying-over and progress dialogs have no button to answer with: Escape and the window
// manager's close leave them standing until their step is done.
TEST_F(Companion, TheProgressDialogsStandThroughEscapeAndTheClose) {
    kp::BoxRecorder boxes;
    auto c = Launch(dist.directory);
    c->state().olderInstallationFound = true;
    std::vector<std::string> seen;
    c->transformRegistry = [&](CompanionState&, SetupHost&) {
        QPointer<QDialog> d = c->OpenDialog("TRANSFORMREG");
        ASSERT_TRUE(d);
        QTest::keyClick(d, Qt::Key_Escape);
        QApplication::processEvents();
        seen.push_back(d && d->isVisible() ? "after Escape: open" : "after Escape: gone");
        if (d) kt::CloseFromWindowManager(d);
        QApplication::processEvents();
        seen.push_back(d && d->isVisible() ? "after the close: open" : "after the close: gone");
    };
    for (auto [dialog, button] : {std::pair{"ENTERAD2", "yes"}, {"LICENSE", "accept"}, {"ENTERUSER", "ok"},
                                  {"ENTERSTR", "ok"}})
        ASSERT_TRUE(Click(*c, dialog, button)) << dialog;
    EXPECT_EQ(seen, (std::vector<std::string>{"after Escape: open", "after the close: open"}));
    EXPECT_EQ(OpenDialogs(*c), std::vector<std::string>{"ENTERAD3"});
    EXPECT_EQ(Boxes(boxes), "");
    ASSERT_TRUE(Click(*c, "ENTERAD3", "ok"));
}

TEST_F(Companion, RefusalsEndItWithTheirBox) {
    struct Case {
        const char* name;
        std::vector<std::string> arguments;  // empty: the launcher's
        const char* version;                 // installed before
        std::vector<std::string> boxes;
    } cases[] = {
        {"a newer version is installed", {}, "1.3",
         {"[Kestrel 1.21 Setup] Cannot install older version of Kestrel over the newer version.  Uninstall the newer "
          "version first."}},
        {"an older version is installed", {}, "1.20", {}},
        {"a wrong token", {"-d", "0x7c14e9dRq306", "/media/disk"}, nullptr, {"[Kestrel 1.21 Setup] Cannot run setupkes!"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        SetUp();
        if (k.version) {
            ASSERT_TRUE(Key::Create(Root::LocalMachine, kProductMachineKey)->SetString("Version", k.version));
        }
        kp::BoxRecorder boxes;
        auto c = std::make_unique<SetupCompanion>(ParseLaunchArguments(
            k.arguments.empty() ? std::vector<std::string>{"-d", kLaunchToken, dist.directory} : k.arguments));
        c->onEnd = [this](int code) { endCode = code; };
        // The test's input is no launcher's pipe: a wrong token on the command line is not
        // rescued by it, and the failed read shows the system's text.
        int empty[2];
        pipe(empty);
        close(empty[1]);
        if (c->Start()) c->CheckLaunch(empty[0], 0);
        close(empty[0]);
        std::vector<std::string> shown;
        for (const kp::BoxRequest& b : boxes.boxes()) shown.push_back(Box(b));
        std::vector<std::string> expected;
        if (std::string(k.name) != "a newer version is installed") expected.push_back("[Operation Failed in Setupkes] Broken pipe");
        expected.insert(expected.end(), k.boxes.begin(), k.boxes.end());
        EXPECT_EQ(shown, expected);
        EXPECT_EQ(c->ended(), !k.boxes.empty());
        EXPECT_EQ(OpenDialogs(*c), k.boxes.empty() ? std::vector<std::string>{"ENTERAD2"} : std::vector<std::string>{});
    }
}

// Too little space: with other disks to choose from the chooser opens; with one, the end.
TEST_F(Companion, TooLittleSpaceOpensTheChooserOrEnds) {
    struct Case {
        const char* mounts;
        std::string warning;
        bool ends;
    } cases[] = {
        {"22 1 259:2 / / rw - ext4 /dev/sda2 rw\n",
         "Error Setting Target Directory. Choose a different drive or free up space on the current drive.", false},
        {"", "Free up space before installing Kestrel.", true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.warning);
        SetUp();
        kt::WriteFile(mountinfo, k.mounts);
        freeBytes = 11999999;
        kp::BoxRecorder boxes;
        auto c = Launch(dist.directory);
        for (auto [dialog, button] : {std::pair{"ENTERAD2", "yes"}, {"LICENSE", "accept"}, {"ENTERUSER", "ok"},
                                      {"ENTERSTR", "ok"}})
            ASSERT_TRUE(Click(*c, dialog, button)) << dialog;
        ASSERT_EQ(boxes.boxes().size(), 3u);
        EXPECT_EQ(Box(boxes.boxes()[2]), "[Kestrel Setup Warning] " + k.warning);
        EXPECT_EQ(c->ended(), k.ends);
        const std::vector<std::string> open = k.ends ? std::vector<std::string>{}
                                                     : std::vector<std::string>{"ENTERSTR", "DIRLIST"};
        EXPECT_EQ(OpenDialogs(*c), open);
        EXPECT_FALSE(fs::exists(DefaultInstallDirectory()));
    }
}

}  // namespace

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }

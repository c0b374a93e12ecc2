// The uninstaller's windows, offscreen, after an installation from a test distribution into the
// test's private HOME: the confirmation and its way out, the progress dialog and the completion.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <functional>

#include "install/file_copy.h"
#include "install/file_table.h"
#include "install/progman.h"
#include "install/registration.h"
#include "install/uninstaller.h"
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

std::string Box(const kp::BoxRequest& b) { return "[" + b.caption + "] " + b.text; }

bool Click(Uninstaller& u, const char* dialog, const char* button) {
    QDialog* d = u.OpenDialog(dialog);
    if (d == nullptr) return false;
    QPushButton* b = d->findChild<QPushButton*>(button);
    if (b == nullptr) return false;
    b->click();
    QApplication::processEvents();
    return true;
}

std::vector<std::string> OpenDialogs(Uninstaller& u) {
    std::vector<std::string> open;
    for (const char* name : {"ENTERAD2", "ENTERPROG", "ENTERAD3"})
        if (u.OpenDialog(name)) open.push_back(name);
    return open;
}

// A fresh installation of the test distribution, for the uninstaller to remove.
SetupState FreshInstallation() {
    for (const std::string& dir : {ConfigHome(), DataHome(), HomeDirectory() + "/.local"}) fs::remove_all(dir);
    SetupState setup;
    setup.sourceDirectory = MakeTestDistribution(kt::FreshDir("dist")).directory;
    setup.temporaryDirectory = kt::FreshDir("setup-temp");
    setup.installDirectory = kt::FreshDir("Program Files") + "/kestrel";
    fs::create_directories(setup.installDirectory);
    InstallingHost host(setup);
    CopyDistributionFilesNT(setup, host);
    return setup;
}

}  // namespace

TEST(UninstallWindow, ConfirmationProgressAndCompletion) {
    const std::string question = "[Kestrel 1.21 Uninstall] Would you like to exit Unistall of Kestrel 1.21?";
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::vector<std::pair<const char*, const char*>> clicks;  // dialog, button
        std::vector<kp::Answer> answers;
        std::vector<std::string> boxes;
        std::vector<std::string> open;  // afterwards
        bool removed;
    } cases[] = {
        {"Yes", nullptr, {{"ENTERAD2", "yes"}}, {}, {}, {"ENTERAD3"}, true},
        {"No, then No", nullptr, {{"ENTERAD2", "no"}}, {kp::Answer::No}, {question}, {"ENTERAD2"}, false},
        {"No, then Yes", nullptr, {{"ENTERAD2", "no"}}, {kp::Answer::Yes}, {question}, {}, false},
        {"no uninstall information",
         [] { Key::Open(Root::LocalMachine, kUninstallKey)->DeleteSelf(); },
         {{"ENTERAD2", "yes"}},
         {},
         {"[Registry Exception] Error retrieving uninstall information from the registry"},
         {},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        umask(022);
        const SetupState setup = FreshInstallation();
        if (c.arrange) c.arrange();

        kp::BoxRecorder boxes;
        boxes.Script(c.answers);
        Uninstaller u;
        bool ended = false;
        u.onEnd = [&] { ended = true; };
        u.Start();
        EXPECT_EQ(u.backdrop()->objectName(), "kesuninstall");
        QDialog* confirmation = u.OpenDialog("ENTERAD2");
        ASSERT_TRUE(confirmation);
        EXPECT_EQ(confirmation->windowTitle(), "Kestrel 1.20 Uninstall Information");
        EXPECT_EQ(confirmation->findChild<QLabel*>("text")->text(),
                  "Remove Kestrel from your system now?  This includes any and all files in the Kestrel directory.");
        for (const auto& [dialog, button] : c.clicks) ASSERT_TRUE(Click(u, dialog, button)) << dialog << " " << button;
        std::vector<std::string> shown;
        for (const kp::BoxRequest& b : boxes.boxes()) shown.push_back(Box(b));
        EXPECT_EQ(shown, c.boxes);
        EXPECT_EQ(OpenDialogs(u), c.open);
        EXPECT_EQ(fs::exists(setup.installDirectory), !c.removed);
        EXPECT_EQ(GroupItemFiles(kProductName).empty(), c.removed);
        if (c.removed) {
            EXPECT_EQ(u.statusLines().front(), "Uninstalling the Old Kestrel Registry Entries...");
            EXPECT_EQ(u.statusLines().back(), "All Components Uninstalled...");
            QDialog* done = u.OpenDialog("ENTERAD3");
            EXPECT_EQ(done->windowTitle(), "Kestrel 1.20 Uninstall");
            EXPECT_EQ(done->findChild<QLabel*>("text")->text(), "Uninstall has Completed the Removal Process.  ");
            EXPECT_FALSE(ended);
            ASSERT_TRUE(Click(u, "ENTERAD3", "ok"));
        }
        EXPECT_EQ(ended, c.open.empty() || c.removed);
        EXPECT_TRUE(fs::exists(UserBinDirectory() + "/unkes"));
    }
}

// Escape and the window manager's close answer the confirmation as its No: the exit question,
// then the end (Yes) with nothing removed, or the confirmation again (No), asked once however
// often the close comes. It never goes without an answer.
TEST(UninstallWindow, EscapeAndTheWindowManagersCloseAnswerAsNo) {
    const std::string question = "[Kestrel 1.21 Uninstall] Would you like to exit Unistall of Kestrel 1.21?";
    for (const bool escape : {true, false}) {
        for (const kp::Answer answer : {kp::Answer::Yes, kp::Answer::No}) {
            SCOPED_TRACE(std::string(escape ? "Escape" : "the window manager's close") +
                         (answer == kp::Answer::Yes ? ", then Yes" : ", then No"));
            const SetupState setup = FreshInstallation();

            kp::BoxRecorder boxes;
            boxes.Script({answer});
            Uninstaller u;
            bool ended = false;
            u.onEnd = [&] { ended = true; };
            u.Start();
            QDialog* confirmation = u.OpenDialog("ENTERAD2");
            ASSERT_TRUE(confirmation);
            if (escape) {
                QTest::keyClick(confirmation, Qt::Key_Escape);
            } else {
                // A second close before the first is answered (a close button pressed twice)
                // asks nothing more.
                kt::CloseFromWindowManager(confirmation);
                kt::CloseFromWindowManager(confirmation);
            }
            QApplication::processEvents();
            std::vector<std::string> shown;
            for (const kp::BoxRequest& b : boxes.boxes()) shown.push_back(Box(b));
            EXPECT_EQ(shown, std::vector<std::string>{question});
            EXPECT_EQ(ended, answer == kp::Answer::Yes);
            EXPECT_EQ(OpenDialogs(u), answer == kp::Answer::Yes ? std::vector<std::string>{}
                                                                : std::vector<std::string>{"ENTERAD2"});
            EXPECT_EQ(u.backdrop()->isVisible(), answer == kp::Answer::No);
            EXPECT_TRUE(fs::exists(setup.installDirectory + "/kestrel"));
            EXPECT_TRUE(Key::Open(Root::LocalMachine, kUninstallKey));
            EXPECT_FALSE(GroupItemFiles(kProductName).empty());
        }
    }
}

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }

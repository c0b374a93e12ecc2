// The setup companion (the program `setupkes`): the full-screen backdrop, the chain of modeless
// dialogs (welcome, licence, user and company, install directory with its chooser, exit
// confirmation, help, carrying-over, progress, completion), and the run: the disk check, the
// file copy, the registry entries and program group, the restart of `setup -r`, and the start of
// kestrel. One instance; everything on the user-interface thread.
#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <string>

#include "install/launch.h"
#include "install/setup_rules.h"
#include "install/setup_state.h"

class QDialog;
class QLabel;
class QWidget;

// The companion's state beside the installation steps' SetupState.
struct CompanionState : SetupState {
    std::string chosenDirectory;  // shown in the directory dialog
    std::string startDirectory;   // current directory when the directory dialog opened
    bool olderInstallationFound = false;
    bool spaceShortage = false;
    int driveCount = 0;           // the chooser's disks
};

class SetupCompanion : public SetupHost {
public:
    // `arguments`: the launch line of the command line (ParseLaunchArguments).
    explicit SetupCompanion(const LaunchLine& arguments);
    ~SetupCompanion() override;

    // Opens the backdrop; refuses to install over a newer version, else opens the welcome
    // dialog. False when the companion ended already.
    bool Start();
    // The launch line check once the first dialog is open: the command line, else a line read
    // from `inputFd` (a pipe) within the deadline; refused: "Cannot run setupkes!" and the end.
    bool CheckLaunch(int inputFd, int deadlineMs);

    // The end: every window closed; `onEnd` is called once with the exit code.
    std::function<void(int code)> onEnd;
    bool ended() const { return ended_; }
    // The carrying-over of an older installation (TransformRegistry), run with the transformation
    // dialog open.
    std::function<void(CompanionState&, SetupHost&)> transformRegistry;
    // Where the disk check reads the free space, and the mount table the chooser lists.
    FreeSpaceProvider freeSpace = FreeSpaceOf;
    std::string mountinfoPath = "/proc/self/mountinfo";

    CompanionState& state() { return state_; }
    QWidget* backdrop() const;
    // The open dialog with this object name ("ENTERAD2", "LICENSE", "ENTERUSER", "ENTERSTR",
    // "DIRLIST", "HELPMESSAGE", "EXITKES", "TRANSFORMREG", "ENTERPROG", "ENTERAD3"), or nullptr.
    QDialog* OpenDialog(const QString& name) const;

    // SetupHost
    void StatusChanged() override;
    void ProgressChanged() override;
    void FinishInstall() override;
    void EndSetup() override;

private:
    struct Windows;
    void OpenWelcome();
    void OpenLicence();
    void OpenUser();
    void OpenDirectory();
    void OpenChooser();
    void OpenHelp(QWidget* owner, const QString& text);
    void OpenExit(QWidget* owner, std::function<void()> onNo);
    void RunInstallation();
    void RunBenchmark();
    void RestartLauncher();
    void ShowLastError(int error);
    void End(int code);

    LaunchLine arguments_;
    CompanionState state_;
    std::unique_ptr<Windows> w_;
    bool ended_ = false;
};

// The texts of our own that the dialogs show.
extern const char* const kLicenceText;
extern const char* const kDirectoryHelpText;
extern const char* const kChooserHelpText;

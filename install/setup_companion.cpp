#include "install/setup_companion.h"

#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QEventLoop>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "install/carry_over.h"
#include "install/file_copy.h"
#include "install/installer_windows.h"
#include "install/registration.h"
#include "install/setup_launcher.h"
#include "install/setup_pictures.h"
#include "platform/clock.h"
#include "platform/error_text.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "shared/places.h"

namespace {

const char* const kCaption = "Kestrel 1.21 Setup";

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::string CurrentDirectory() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

const char* const kLicenceText =
    "Kestrel 1.21 licence\r\n\r\n"
    "1. You may install Kestrel on any number of computers and use it to measure them.\r\n"
    "2. You may give the distribution folder to others, whole and unchanged.\r\n"
    "3. Kestrel comes as it is, without warranty of any kind. Its results depend on the machine, "
    "its load and its settings; no result is promised to be exact or fit for any purpose.\r\n"
    "4. The disk test writes and deletes large temporary files on the drives you choose. The "
    "maker is not liable for any loss or damage that comes from installing or using Kestrel.\r\n"
    "5. You may remove Kestrel at any time with \"Uninstall Kestrel\" in its menu group.\r\n";

const char* const kDirectoryHelpText =
    "Install Directory:  Kestrel is installed into the directory shown here.\r\n"
    "Change Directory:  Push this button to choose another disk and directory.  Unless the name of "
    "the directory you choose already holds \"kestrel\", a directory \"kestrel\" is made in it for "
    "the installation.\r\n"
    "Click OK to install into the directory shown, or Cancel to exit the installation.\r\n";

const char* const kChooserHelpText =
    "Disk:  Choose the disk to install on; your home folder comes first.\r\n"
    "Directories:  Double-click a directory to open it, or [..] to go up one level.  The title "
    "shows the directory you are in.\r\n"
    "Click OK to install into that directory (\"kestrel\" is added unless its name already holds "
    "it), or Cancel to keep the directory shown before.\r\n";

struct SetupCompanion::Windows {
    std::unique_ptr<Backdrop> backdrop;
    QPointer<QDialog> directory;  // ENTERSTR, repainted when the chooser ends
    QPointer<QLineEdit> directoryEdit;
    QPointer<QDialog> progress;   // ENTERPROG or TRANSFORMREG, whichever is open
    QPointer<QLabel> status;
    QPointer<QWidget> bar;
    DialogList dialogs;
};

SetupCompanion::SetupCompanion(const LaunchLine& arguments)
    : arguments_(arguments), w_(std::make_unique<Windows>()) {
    state_.floppyMode = arguments.floppyMode;
    state_.sourceDirectory = arguments.sourceDirectory;
    state_.temporaryDirectory = PrivateSetupDirectory();
    state_.chosenDirectory = DefaultInstallDirectory();
    transformRegistry = [](CompanionState& state, SetupHost& host) { TransformRegistry(state, host); };
}

SetupCompanion::~SetupCompanion() = default;

QWidget* SetupCompanion::backdrop() const { return w_->backdrop.get(); }

QDialog* SetupCompanion::OpenDialog(const QString& name) const { return w_->dialogs.Open(name); }

bool SetupCompanion::Start() {
    w_->backdrop = std::make_unique<Backdrop>("Kestrel Setup");
    w_->backdrop->onClose = [this] { End(0); };  // closing the backdrop ends without the restart
    w_->backdrop->show();
    state_.olderInstallationFound = OlderInstallationFound();
    if (IsNewerVersionInstalled(InstalledVersion())) {
        kp::MessageBox(kp::Owner::Main,
                       "Cannot install older version of Kestrel over the newer version.  Uninstall the newer "
                       "version first.",
                       kCaption, kp::Icon::Stop);
        End(0);
        return false;
    }
    OpenWelcome();
    return true;
}

bool SetupCompanion::CheckLaunch(int inputFd, int deadlineMs) {
    if (ended_) return false;
    std::string line;
    int error = 0;
    const InputRead read = ReadLaunchInput(inputFd, deadlineMs, &line, &error);
    if (read == InputRead::Failed) ShowLastError(error);
    const LaunchLine accepted = AcceptLaunch(arguments_, read, line);
    if (!accepted.valid) {
        kp::MessageBox(kp::Owner::Active, "Cannot run setupkes!", kCaption, kp::Icon::Stop);
        End(0);
        return false;
    }
    state_.floppyMode = accepted.floppyMode;
    state_.sourceDirectory = accepted.sourceDirectory;
    return true;
}

void SetupCompanion::ShowLastError(int error) {
    kp::MessageBox(kp::Owner::Active, kp::ErrorText(error), "Operation Failed in Setupkes", kp::Icon::Exclamation);
}

void SetupCompanion::OpenWelcome() {
    InstallerDialog* d = NewDialog(w_->backdrop.get(), "ENTERAD2", "Kestrel 1.21 Setup Information",
                                   "Install Kestrel onto your system now?");
    QHBoxLayout* row = ButtonRow(d);
    AddButton(row, "&Yes", "yes", [this, d] {
        d->close();
        OpenLicence();
    });
    AddCancelButton(d, row, "&No", "no", [this, d] { OpenExit(d, nullptr); });
    w_->dialogs.Add(d);
    Centre(d);
    d->show();
}

void SetupCompanion::OpenLicence() {
    InstallerDialog* d = NewDialog(w_->backdrop.get(), "LICENSE", "License Agreement",
                                   "Kestrel is licensed software with use that is restricted to the License "
                                   "below.  Please Read Carefully.");
    auto* text = new QPlainTextEdit(kLicenceText);
    text->setObjectName("agreement");
    text->setReadOnly(true);
    text->setMinimumSize(460, 220);
    d->layout()->addWidget(text);
    auto* accept = new QLabel(
        "If you accept the terms of this license agreement, press Accept.   Otherwise press Do Not Accept.");
    accept->setWordWrap(true);
    d->layout()->addWidget(accept);
    QHBoxLayout* row = ButtonRow(d);
    AddButton(row, "&Accept", "accept", [this, d] {
        d->close();
        OpenUser();
    });
    AddCancelButton(d, row, "&Do Not Accept", "decline", [this] {
        RestartLauncher();
        End(0);
    });
    w_->dialogs.Add(d);
    Centre(d);
    d->show();
}

void SetupCompanion::OpenUser() {
    InstallerDialog* d = NewDialog(w_->backdrop.get(), "ENTERUSER", "User Information",
                                   "Below is the user information for this installation of Kestrel.");
    auto* grid = new QGridLayout;
    auto* name = new QLineEdit(Q(state_.userName));
    name->setObjectName("name");
    name->setMaxLength(255);
    auto* company = new QLineEdit(Q(state_.company));
    company->setObjectName("company");
    company->setMaxLength(255);
    grid->addWidget(new QLabel("Your name:"), 0, 0);
    grid->addWidget(name, 0, 1);
    grid->addWidget(new QLabel("Company name:"), 1, 0);
    grid->addWidget(company, 1, 1);
    static_cast<QVBoxLayout*>(d->layout())->addLayout(grid);
    QHBoxLayout* row = ButtonRow(d);
    AddButton(row, "OK", "ok", [this, d, name, company] {
        state_.userName = name->text().toStdString();
        state_.company = company->text().toStdString();
        OpenDirectory();
        d->close();
    })->setDefault(true);
    AddCancelButton(d, row, "Cancel", "cancel", [this, d] { OpenExit(d, nullptr); });
    AddButton(row, "&Help", "help", [this, d] {
        OpenHelp(d,
                 "Your name:  Put your name in here if it isn't already showing. \r\nCompany name:  Put your company "
                 "name here if it isn't already showing.  \r\nClick OK to continue with the installation or Cancel "
                 "to Exit the installation.\r\n");
    });
    w_->dialogs.Add(d);
    Centre(d);
    d->show();
}

void SetupCompanion::OpenDirectory() {
    InstallerDialog* d = NewDialog(w_->backdrop.get(), "ENTERSTR", "Install Directory",
                                   "Push the Change Directory button if you do not want to install Kestrel into "
                                   "the default directory shown below.  ");
    state_.driveCount = int(LocalDisks(ReadAll(mountinfoPath), HomeDirectory()).size());
    state_.startDirectory = CurrentDirectory();
    state_.chosenDirectory = DefaultInstallDirectory();
    auto* line = new QHBoxLayout;
    line->addWidget(new QLabel("Install Directory:"));
    auto* edit = new QLineEdit(Q(state_.chosenDirectory));
    edit->setObjectName("directory");
    edit->setReadOnly(true);  // the directory is chosen with Change Directory only
    edit->setMinimumWidth(360);
    line->addWidget(edit);
    static_cast<QVBoxLayout*>(d->layout())->addLayout(line);
    QHBoxLayout* row = ButtonRow(d);
    AddButton(row, "OK", "ok", [this] { RunInstallation(); })->setDefault(true);
    AddCancelButton(d, row, "Cancel", "cancel", [this, d] {
        (void)!chdir(state_.startDirectory.c_str());
        OpenExit(d, nullptr);
    });
    AddButton(row, "&Help", "help", [this, d] { OpenHelp(d, kDirectoryHelpText); });
    AddButton(row, "&Change Directory", "change", [this] { OpenChooser(); });
    w_->directory = d;
    w_->directoryEdit = edit;
    w_->dialogs.Add(d);
    Centre(d);
    d->show();
}

void SetupCompanion::OpenChooser() {
    InstallerDialog* d = NewDialog(w_->directory, "DIRLIST", "Installation Directory", QString());
    auto* drives = new QComboBox;
    drives->setObjectName("drives");
    auto* list = new QListWidget;
    list->setObjectName("directories");
    list->setMinimumSize(360, 220);
    d->layout()->addWidget(drives);
    d->layout()->addWidget(list);
    const std::vector<std::string> disks = LocalDisks(ReadAll(mountinfoPath), HomeDirectory());
    for (const std::string& disk : disks) drives->addItem(Q("Local Disk Drive - " + disk), Q(disk));
    auto current = std::make_shared<std::string>();
    const auto listDirectory = [d, list, current](const std::string& dir) {
        std::error_code ec;
        const std::string canonical = std::filesystem::weakly_canonical(dir, ec).string();
        *current = ec ? dir : canonical;
        list->clear();
        for (const std::string& name : DirectoryList(*current)) list->addItem(Q(name));
        d->setWindowTitle(Q(*current));
    };
    QObject::connect(drives, &QComboBox::currentIndexChanged, d, [drives, listDirectory](int) {
        listDirectory(drives->currentData().toString().toStdString());
    });
    QObject::connect(list, &QListWidget::itemActivated, d, [current, listDirectory](QListWidgetItem* item) {
        const std::string name = item->text().toStdString();
        listDirectory(name == "[..]" ? std::filesystem::path(*current).parent_path().string()
                                     : (*current == "/" ? "/" : *current + "/") + name);
    });
    if (!disks.empty()) listDirectory(disks.front());
    QHBoxLayout* row = ButtonRow(d);
    AddButton(row, "OK", "ok", [this, d, current] {
        if (!current->empty()) state_.chosenDirectory = InstallDirectoryFor(*current);
        if (w_->directoryEdit) w_->directoryEdit->setText(Q(state_.chosenDirectory));
        d->close();
    })->setDefault(true);
    AddCancelButton(d, row, "Cancel", "cancel", [d] { d->close(); });
    AddButton(row, "&Help", "help", [this, d] { OpenHelp(d, kChooserHelpText); });
    w_->dialogs.Add(d);
    Centre(d);
    d->show();
}

void SetupCompanion::OpenHelp(QWidget* owner, const QString& text) {
    QDialog* d = NewDialog(owner, "HELPMESSAGE", "Help", QString());
    auto* edit = new QPlainTextEdit(text);
    edit->setObjectName("helptext");
    edit->setReadOnly(true);
    edit->setMinimumSize(420, 160);
    d->layout()->addWidget(edit);
    AddButton(ButtonRow(d), "OK", "ok", [d] { d->close(); })->setDefault(true);
    w_->dialogs.Add(d);
    Centre(d);
    d->show();
}

void SetupCompanion::OpenExit(QWidget* owner, std::function<void()> onNo) {
    // One question over a dialog: asked again (a second Escape or close), the open one comes up.
    for (QDialog* open : owner->findChildren<QDialog*>("EXITKES", Qt::FindDirectChildrenOnly)) {
        if (!open->isVisible()) continue;
        open->raise();
        open->activateWindow();
        return;
    }
    InstallerDialog* d = NewDialog(owner, "EXITKES", "Kestrel Setup", "Exit Setup of Kestrel?");
    QHBoxLayout* row = ButtonRow(d);
    AddButton(row, "&Yes", "yes", [this] {
        RestartLauncher();
        End(0);
    });
    AddCancelButton(d, row, "&No", "no", [d, onNo] {
        d->close();
        if (onNo) onNo();
    });
    w_->dialogs.Add(d);
    Centre(d);
    d->show();
}

// OK of the directory dialog: the disk check, the carrying-over, the copy, and (through
// FinishInstall) the entries, the group and the completion dialog.
void SetupCompanion::RunInstallation() {
    (void)!chdir(state_.startDirectory.c_str());
    const DiskCheck check = CheckDiskSpace(state_.chosenDirectory, DefaultInstallDirectory(), state_.floppyMode,
                                           &state_.sourceDirectory, freeSpace);
    state_.spaceShortage = check == DiskCheck::Shortage;
    if (check == DiskCheck::Shortage) {
        if (state_.driveCount > 1) {
            kp::MessageBox(kp::Owner::Active,
                           "Error Setting Target Directory. Choose a different drive or free up space on the current "
                           "drive.",
                           "Kestrel Setup Warning", kp::Icon::Exclamation);
            OpenChooser();
        } else {
            kp::MessageBox(kp::Owner::Active, "Free up space before installing Kestrel.", "Kestrel Setup Warning",
                           kp::Icon::Exclamation);
            End(0);
        }
        return;
    }
    if (check == DiskCheck::Failed) {
        kp::MessageBox(kp::Owner::Active, "Setup Failed to complete.", "Kestrel Setup Error", kp::Icon::Exclamation);
        End(0);
        return;
    }
    state_.spaceShortage = false;
    state_.installDirectory = state_.chosenDirectory;
    if (w_->directory) w_->directory->close();

    const auto progressDialog = [this](const char* name, const char* caption, const QString& text) {
        InstallerDialog* d = NewDialog(w_->backdrop.get(), name, caption, text);
        d->stands = true;  // no button: it goes when its step is done
        auto* status = new QLabel;
        status->setObjectName("status");
        status->setWordWrap(true);  // "Copying: <file> to <path>" may be long
        status->setMinimumSize(480, 3 * status->fontMetrics().lineSpacing());
        status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        d->layout()->addWidget(status);
        auto* bar = new ProgressBar(&state_.progressFraction);
        d->layout()->addWidget(bar);
        state_.progressFraction = 0.0;
        w_->progress = d;
        w_->status = status;
        w_->bar = bar;
        w_->dialogs.Add(d);
        Centre(d);
        d->show();
        ShowNow(d);
        return d;
    };
    if (state_.olderInstallationFound && transformRegistry) {
        QDialog* t = progressDialog("TRANSFORMREG", "Transforming Registry",
                                    "Kestrel 1.21 has found an older version of Kestrel installed on this system and "
                                    "is in the process of transforming data from the old format to the new format.  "
                                    "\r\n  Please wait while processing ...");
        transformRegistry(state_, *this);
        t->close();
    }
    progressDialog("ENTERPROG", "Progress", QString());
    CopyDistributionFilesNT(state_, *this);
}

void SetupCompanion::StatusChanged() {
    if (w_->status) w_->status->setText(Q(state_.statusText));
    ShowNow(w_->progress);
}

void SetupCompanion::ProgressChanged() {
    if (w_->bar) w_->bar->update();
    ShowNow(w_->progress);
}

void SetupCompanion::FinishInstall() {
    state_.statusText = "Setting Registry Entries";
    StatusChanged();
    SetRegistryEntries(state_);  // a failure has shown its box; the group and the end follow
    kp::Sleep(500);
    state_.statusText = "Configuring the Start Menu";
    StatusChanged();
    kp::Sleep(500);
    CreateProgramGroup(state_);
    kp::Sleep(500);
    if (w_->progress) w_->progress->close();

    QDialog* d = NewDialog(w_->backdrop.get(), "ENTERAD3", kCaption,
                           "Setup has Completed the Installation.  See the Readme.1st file for more information on "
                           "Kestrel.");
    auto done = std::make_shared<bool>(false);
    const auto finish = [this, done] {
        if (*done) return;
        *done = true;
        RunBenchmark();
    };
    AddButton(ButtonRow(d), "OK", "ok", [d] { d->close(); })->setDefault(true);
    QObject::connect(d, &QDialog::finished, d, [finish](int) { finish(); });  // OK or closing
    w_->dialogs.Add(d);
    Centre(d);
    d->show();
}

void SetupCompanion::EndSetup() { End(0); }

void SetupCompanion::RestartLauncher() {
    if (SamePlace(state_.sourceDirectory, state_.temporaryDirectory)) return;
    kp::Sleep(1000);
    kp::SpawnOptions options;
    options.detached = true;
    const std::string setup = state_.sourceDirectory + "/setup";
    int error = 0;
    if (!kp::ChildProcess::Spawn(setup, {setup, "-r"}, options, &error)) ShowLastError(error);
}

void SetupCompanion::RunBenchmark() {
    if (ended_) return;
    kp::Sleep(1000);
    RestartLauncher();
    kp::SpawnOptions options;
    options.detached = true;
    options.workingDirectory = state_.installDirectory;
    const std::string program = state_.installDirectory + "/kestrel";
    int error = 0;
    if (!kp::ChildProcess::Spawn(program, {program}, options, &error)) {
        std::string text = "File not found.  Cannot run Kestrel!", caption = "Kestrel File Error";
        if (error == ENOMEM || error == EAGAIN) {
            text = "Out of Memory.  Cannot run Kestrel!";
            caption = "Kestrel Allocation Error";
        } else if (error == ENOEXEC || error == EACCES) {
            text = "Executable file is corrupt.  Cannot run Kestrel!";
        } else if (error == ENOTDIR) {
            text = "Path not found.  Cannot run Kestrel!";
        }
        kp::MessageBox(kp::Owner::Active, text, caption, kp::Icon::Stop);
        kp::Sleep(2000);
    }
    End(0);
}

void SetupCompanion::End(int code) {
    if (ended_) return;
    ended_ = true;
    w_->dialogs.HideAll();
    if (w_->backdrop) {
        w_->backdrop->onClose = nullptr;
        w_->backdrop->hide();
    }
    if (onEnd) onEnd(code);
}

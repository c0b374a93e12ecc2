#include "install/uninstaller.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>

#include "install/installer_windows.h"
#include "install/setup_state.h"
#include "platform/msgbox.h"

const char* const kUninstallInformationCaption = "Kestrel 1.20 Uninstall Information";
const char* const kUninstallQuestion =
    "Remove Kestrel from your system now?  This includes any and all files in the Kestrel directory.";

struct Uninstaller::Windows {
    std::unique_ptr<Backdrop> backdrop;
    QPointer<QDialog> progress;
    QPointer<QLabel> status;
    QPointer<QWidget> bar;
    DialogList dialogs;
};

Uninstaller::Uninstaller() : w_(std::make_unique<Windows>()) {}

Uninstaller::~Uninstaller() = default;

QWidget* Uninstaller::backdrop() const { return w_->backdrop.get(); }

QDialog* Uninstaller::OpenDialog(const QString& name) const { return w_->dialogs.Open(name); }

void Uninstaller::Start() {
    w_->backdrop = std::make_unique<Backdrop>("Kestrel 1.21 Uninstall");
    w_->backdrop->setObjectName("kesuninstall");
    w_->backdrop->onClose = [this] { End(); };
    w_->backdrop->show();
    OpenConfirmation();
}

void Uninstaller::OpenConfirmation() {
    InstallerDialog* d = NewDialog(w_->backdrop.get(), "ENTERAD2", kUninstallInformationCaption, kUninstallQuestion);
    QHBoxLayout* row = ButtonRow(d);
    AddButton(row, "&Yes", "yes", [this, d] {
        d->close();
        Run();
    });
    AddCancelButton(d, row, "&No", "no", [this] {
        const std::string question = std::string("Would you like to exit Unistall of ") + kProductName + "?";
        if (kp::MessageBox(kp::Owner::Active, question, "Kestrel 1.21 Uninstall", kp::Icon::Question,
                           kp::Buttons::YesNo) == kp::Answer::Yes)
            End();
    });
    w_->dialogs.Add(d);
    Centre(d);
    d->show();
}

void Uninstaller::Run() {
    InstallerDialog* d = NewDialog(w_->backdrop.get(), "ENTERPROG", "Progress", QString());
    auto* status = new QLabel;
    status->setObjectName("status");
    status->setWordWrap(true);  // "Deleting Directory:  <path>" may be long
    status->setMinimumSize(480, 3 * status->fontMetrics().lineSpacing());
    status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    d->layout()->addWidget(status);
    fraction_ = 0.0;
    auto* bar = new ProgressBar(&fraction_);
    d->layout()->addWidget(bar);
    AddCancelButton(d, ButtonRow(d), "Cancel", "cancel", [d] { d->close(); });
    w_->progress = d;
    w_->status = status;
    w_->bar = bar;
    w_->dialogs.Add(d);
    Centre(d);
    d->show();
    ShowNow(d);
    const bool done = RunUninstall(*this);
    if (w_->progress) w_->progress->close();
    if (!done) {
        End();  // a failed step ends the run; what was done stays done
        return;
    }
    OpenDone();
}

void Uninstaller::OpenDone() {
    QDialog* d = NewDialog(w_->backdrop.get(), "ENTERAD3", "Kestrel 1.20 Uninstall",
                           "Uninstall has Completed the Removal Process.  ");
    AddButton(ButtonRow(d), "OK", "ok", [d] { d->close(); })->setDefault(true);
    QObject::connect(d, &QDialog::finished, d, [this](int) { End(); });  // OK or closing
    w_->dialogs.Add(d);
    Centre(d);
    d->show();
}

void Uninstaller::Status(const std::string& line) {
    statusLines_.push_back(line);
    if (w_->status) w_->status->setText(QString::fromStdString(line));
    ShowNow(w_->progress);
}

void Uninstaller::Progress(double fraction) {
    fraction_ = fraction;
    if (w_->bar) w_->bar->update();
    ShowNow(w_->progress);
}

void Uninstaller::End() {
    if (ended_) return;
    ended_ = true;
    w_->dialogs.HideAll();
    if (w_->backdrop) {
        w_->backdrop->onClose = nullptr;
        w_->backdrop->hide();
    }
    if (onEnd) onEnd();
}

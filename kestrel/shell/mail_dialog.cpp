#include "kestrel/shell/mail_dialog.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/run/commands.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/shell/main_window.h"
#include "kestrel/shell/panes.h"
#include "kestrel/shell/qt_host.h"
#include "kestrel/shell/shell_rules.h"
#include "platform/msgbox.h"
#include "shared/mail/compose.h"
#include "shared/ui/address_book_dialog.h"
#include "shared/ui/help.h"
#include "shared/ui/mail_form.h"

namespace {

constexpr int kMailHelp = 262;



QPointer<MailDialog>& Current() {
    static QPointer<MailDialog> dialog;
    return dialog;
}

}  // namespace

MailDialog* MailDialog::Open(MainWindow& main) {
    if (Current()) {
        Current()->raise();
        Current()->activateWindow();
        return Current();
    }
    const int code = GetRegEntry();
    if (code == 1 || code == 2 || code == 3) {
        kp::MessageBox(kp::Owner::Main, "Must set SMTP server value and your Sender address before using mail!",
                       "Mail Exception", kp::Icon::Stop);
        main.PostCommand(CMD_PREFERENCES);
        return nullptr;
    }
    auto* dialog = new MailDialog(main);
    Current() = dialog;
    dialog->show();
    return dialog;
}

MailDialog::MailDialog(MainWindow& main) : QDialog(&main), main_(main) {
    setObjectName(QStringLiteral("MAILDLG"));
    setWindowTitle(QStringLiteral("Mail File"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    const MailForm form = BuildMailForm(this, 620, 0);
    to_ = form.to;
    from_ = form.from;
    cc_ = form.cc;
    subject_ = form.subject;
    attachments_ = form.attachments;
    body_ = form.body;
    tcp_ = form.tcp;
    composer_ = form.composer;
    QPushButton* send = form.send;
    cancel_ = form.cancel;
    QPushButton* help = form.help;
    QPushButton* book = form.book;
    QPushButton* attach = form.attach;

    // The body: the report lines, then the signature file.
    sendtext_ = mail::ReportBody(report.szGreeting);
    if (!prefs.endmailfile.empty()) mail::AppendSignature(prefs.endmailfile, &sendtext_);
    cc_->clear();
    subject_->clear();
    body_->setPlainText(MailForEdit(sendtext_));
    from_->setText(MailFromUtf8(prefs.Sender));
    to_->setText(MailFromUtf8(prefs.lastselection));
    tcp_->setChecked(true);
    filling_ = false;

    // An edit of the body replaces the text to send.
    connect(body_, &QPlainTextEdit::textChanged, this, [this] {
        if (!filling_) sendtext_ = MailWithCrLf(body_->toPlainText());
    });
    connect(send, &QPushButton::clicked, this, [this] { SendNow(); });
    // Cancel during a send ends the send; otherwise it closes the dialog.
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (sending_) sending_->Cancel();
        else close();
    });
    connect(help, &QPushButton::clicked, this, [] { ShowHelpContext(kMailHelp); });
    connect(attach, &QPushButton::clicked, this, [this] { AttachFiles(); });
    connect(book, &QPushButton::clicked, this, [this] {
        if (book_) {
            book_->raise();
            return;
        }
        book_ = new AddressBookDialog(this, [this](const std::string& to) { to_->setText(MailFromUtf8(to)); });
        book_->show();
    });
    connect(composer_, &QRadioButton::clicked, this, [this] { SendByComposer(); });
}

QLineEdit* MailDialog::field(int id) const { return findChild<QLineEdit*>(QString::number(id)); }

void MailDialog::AttachFiles() {
    QFileDialog dialog(this, QStringLiteral("Attach Files"), MailPathText(prefs.files_directory));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters({QString::fromLatin1(kBenchmarkFilter), QString::fromLatin1(kAllFilesFilter)});
    dialog.setFileMode(QFileDialog::ExistingFiles);
    if (dialog.exec() != QDialog::Accepted) return;
    AddMailAttachments(attachments_, dialog.selectedFiles());
    attach_used_ = true;
}

mail::Message MailDialog::ReadFields() {
    mail::Message m;
    m.to = MailUtf8(to_->text(), kMailToMax);
    prefs.lastselection = m.to;
    m.from = MailUtf8(from_->text(), kMailFieldMax);
    m.cc = MailUtf8(cc_->text(), kMailFieldMax);
    m.subject = MailUtf8(subject_->text(), kMailFieldMax);
    m.body = sendtext_;
    CreateRegEntry();
    return m;
}

// The paths are taken from the Attachments field as it is at sending, also after Attach BMF (the
// user may have edited the list since). Only a typed list is capped.
bool MailDialog::WithAttachments(mail::Message* m, mail::AttachHeader header) {
    return AttachMailFiles(attachments_, !attach_used_, header, mail::DocumentText(), m);
}

mail::MailHost MailDialog::Host() {
    mail::MailHost host;
    host.mailer = "Kestrel";
    host.version = "1.21";
    host.library_folder = SuiteProgramDirectory();
    host.read_settings = [] {
        prefs.Sender.clear();
        prefs.SMTPHost.clear();
        const int code = GetRegEntry();
        return mail::MailSettings{code, prefs.SMTPHost, prefs.Sender};
    };
    host.store_sender = [](const std::string& sender) {
        prefs.Sender = sender;
        CreateRegEntry();
    };
    MainWindow* main = &main_;
    host.open_preferences = [main] { main->PostCommand(CMD_PREFERENCES); };
    QPointer<MailDialog> self(this);
    host.set_title = [self](const std::string& title) {
        if (!self) return;
        self->setWindowTitle(MailFromUtf8(title));
        self->repaint();
    };
    host.set_status = [main](const std::string& text) { main->Status()->SetText(MailFromUtf8(text)); };
    host.open_progress = [main](const std::string& caption) { main->host().OpenProgress(caption); };
    host.set_progress = [main](double f) {
        main->host().SetProgress(f);
        if (main->Progress() != nullptr) main->Progress()->repaint();
    };
    host.close_progress = [main] { main->host().CloseProgress(); };
    host.pump = [] { QCoreApplication::processEvents(); };
    return host;
}

void MailDialog::SendNow() {
    mail::Message m = ReadFields();
    if (m.to.empty()) {
        kp::MessageBox(kp::Owner::Active, "Set To field before sending mail.", "Mail Exception", kp::Icon::Exclamation);
        return;
    }
    if (m.from.empty()) {
        kp::MessageBox(kp::Owner::Active, "Set From field before sending mail.", "Mail Exception", kp::Icon::Exclamation);
        return;
    }
    if (!WithAttachments(&m, mail::AttachHeader::Smtp)) return;
    const int sent = SendMail(this, cancel_, &sending_, m, Host());
    if (sent == 0) {
        close();
        return;
    }
    setWindowTitle(QStringLiteral("Mail File"));
}

void MailDialog::SendByComposer() {
    composer_->setChecked(true);
    tcp_->setChecked(false);
    mail::Message m = ReadFields();
    if (!WithAttachments(&m, mail::AttachHeader::Desktop)) return;
    mail::MailHost host = Host();
    host.set_title = nullptr;
    close();
    mail::DoMapiMail(m, host);
}

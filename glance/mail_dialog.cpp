#include "glance/mail_dialog.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

#include "glance/frame.h"
#include "glance/reference.h"
#include "glance/settings.h"
#include "platform/process.h"
#include "platform/msgbox.h"
#include "shared/strformat.h"
#include "shared/ui/help.h"
#include "shared/ui/mail_form.h"

namespace glance {

namespace {

constexpr int kLastUserMax = 1023;
constexpr const char* kMailException = "Mail Exception";



}  // namespace

MailDialog* MailDialog::Open(Frame& frame) {
    DocWindow* top = frame.TopDocument();
    if (top == nullptr) {
        kp::MessageBox(kp::Owner::Main, "No opened file(s)", kMailException, kp::Icon::Information);
        return nullptr;
    }
    const int code = ReadMailPreferences(frame.MailSettings());
    if (code == 1 || code == 2 || code == 3) {
        kp::MessageBox(kp::Owner::Main,
                       "Must set SMTP server value and your Sender address before using mail (SMTP server found in "
                       "the Kestrel preferences)!",
                       kMailException, kp::Icon::Stop);
        return nullptr;
    }
    // The message text: every line of the top document, the first included.
    std::string text;
    if (const Document* doc = frame.Store().Find(top->Id()))
        for (const std::string& line : doc->lines) text += line + "\r\n";
    auto* dialog = new MailDialog(frame, text);
    dialog->show();
    return dialog;
}

MailDialog::MailDialog(Frame& frame, const std::string& text) : QDialog(&frame), frame_(frame) {
    setObjectName(QStringLiteral("MAILDLG"));
    setWindowTitle(QStringLiteral("Mail File"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    const MailForm form = BuildMailForm(this, 640, 15000);
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

    // The signature file's lines follow, each with its line feed (the last one too). A file that
    // cannot be read is reported, and the message goes on without it.
    sendtext_ = text;
    MailPreferences& prefs = frame_.MailSettings();
    if (!prefs.SignatureFile.empty()) {
        const size_t before = sendtext_.size();
        if (mail::AppendSignature(prefs.SignatureFile, &sendtext_) && sendtext_.size() > before &&
            sendtext_.back() != '\n')
            sendtext_ += '\n';
    }
    cc_->clear();
    subject_->clear();
    body_->setPlainText(MailForEdit(sendtext_));
    from_->setText(MailFromUtf8(prefs.Sender));
    to_->setText(MailFromUtf8(prefs.LastUser));
    tcp_->setChecked(true);
    composer_->setChecked(false);
    filling_ = false;

    attach_dialog = [this](const QString& dir) {
        return QFileDialog::getOpenFileNames(this, QStringLiteral("Attach Files"), dir,
                                             QStringLiteral("Benchmark Files (*.BMF *.bmf)"));
    };

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
    connect(help, &QPushButton::clicked, this, [] { ShowHelpContext(kMailHelpContext); });
    connect(attach, &QPushButton::clicked, this, [this] { AttachFiles(); });
    connect(book, &QPushButton::clicked, this, [this] {
        if (book_) {
            book_->raise();
            return;
        }
        book_ = new AddressBookDialog(this, [this](const std::string& to) { to_->setText(MailFromUtf8(to)); });
        book_->show();
    });
    connect(tcp_, &QRadioButton::clicked, this, [this] {
        tcp_->setChecked(true);
        composer_->setChecked(false);
    });
    connect(composer_, &QRadioButton::clicked, this, [this] { SendByComposer(); });
}

QLineEdit* MailDialog::field(int id) const { return findChild<QLineEdit*>(QString::number(id)); }

void MailDialog::AddAttachment(const QString& name) { AddMailAttachments(attachments_, {name}); }

void MailDialog::AttachFiles() {
    AddMailAttachments(attachments_, attach_dialog(MailPathText(frame_.MailSettings().KesFilesDirectory)));
}

mail::Message MailDialog::ReadFields() {
    mail::Message m;
    m.to = MailUtf8(to_->text(), kMailToMax);
    m.from = MailUtf8(from_->text(), kMailFieldMax);
    m.cc = MailUtf8(cc_->text(), kMailFieldMax);
    m.subject = MailUtf8(subject_->text(), kMailFieldMax);
    m.body = sendtext_;
    MailPreferences& prefs = frame_.MailSettings();
    prefs.LastUser = Utf8Head(m.to, kLastUserMax);
    WriteMailPreferences(prefs);
    return m;
}

bool MailDialog::WithAttachments(mail::Message* m, mail::AttachHeader header) {
    // A reference system's title names the open documents of that title, on either gateway.
    Frame* frame = &frame_;
    const mail::DocumentText reference = [frame](const std::string& name) -> std::optional<std::string> {
        if (!IsReferenceTitle(name)) return std::nullopt;
        std::string text;
        for (DocWindow* w : frame->Documents()) {
            if (w->windowTitle().toStdString() != name) continue;
            if (const Document* doc = frame->Store().Find(w->Id()))
                for (const std::string& line : doc->lines) text += line + "\r\n";
        }
        return text;
    };
    // The list holds at most 25 names, however they came into it.
    return AttachMailFiles(attachments_, true, header, reference, m);
}

mail::MailHost MailDialog::Host() {
    mail::MailHost host;
    host.mailer = "Glance for Kestrel";
    host.version = "1.21";
    host.library_folder = frame_.program_directory.empty() ? kp::ProgramDirectory() : frame_.program_directory;
    host.from_replaces_sender = true;
    Frame* frame = &frame_;
    host.read_settings = [frame] {
        MailPreferences& prefs = frame->MailSettings();
        const int code = ReadMailPreferences(prefs);
        return mail::MailSettings{code, prefs.SMTPServer, prefs.Sender};
    };
    QPointer<MailDialog> self(this);
    host.set_title = [self](const std::string& title) {
        if (!self) return;
        self->setWindowTitle(MailFromUtf8(title));
        self->repaint();
    };
    host.set_status = [frame](const std::string& text) { frame->Status()->SetText(MailFromUtf8(text)); };
    host.open_progress = [frame](const std::string& caption) { frame->OpenProgress(MailFromUtf8(caption)); };
    host.set_progress = [frame](double f) { frame->SetProgress(f); };
    host.close_progress = [frame] { frame->CloseProgress(); };
    host.pump = [] { QCoreApplication::processEvents(); };
    return host;
}

void MailDialog::SendNow() {
    mail::Message m = ReadFields();
    if (m.to.empty()) {
        kp::MessageBox(kp::Owner::Active, "Set To field before sending mail.", kMailException, kp::Icon::Exclamation);
        return;
    }
    if (m.from.empty()) {
        kp::MessageBox(kp::Owner::Active, "Set From field before sending mail.", kMailException, kp::Icon::Exclamation);
        return;
    }
    if (!WithAttachments(&m, mail::AttachHeader::Smtp)) return;
    // The progress window lets events through: a close of the frame waits for the send.
    frame_.SetBusy(true);
    const int sent = SendMail(this, cancel_, &sending_, m, Host());
    if (sent == 0) close();
    else setWindowTitle(QStringLiteral("Mail File"));
    frame_.SetBusy(false);
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

}  // namespace glance

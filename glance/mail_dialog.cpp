#include "glance/mail_dialog.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "glance/frame.h"
#include "glance/reference.h"
#include "glance/settings.h"
#include "platform/process.h"
#include "platform/msgbox.h"
#include "shared/ui/help.h"

namespace glance {

namespace {

constexpr int kToMax = 35000;
constexpr int kFieldMax = 1500;
constexpr int kLastUserMax = 1023;
constexpr const char* kMailException = "Mail Exception";

std::string Latin1(const QString& text, int max) { return text.left(max).toLatin1().toStdString(); }
QString FromLatin1(const std::string& text) { return QString::fromLatin1(text.c_str(), int(text.size())); }

// The body edit's text with CR LF line ends.
std::string WithCrLf(const QString& text) {
    std::string out;
    for (char c : text.toLatin1().toStdString()) {
        if (c == '\n') out += "\r\n";
        else out += c;
    }
    return out;
}

// The edit shows line ends without their CR.
QString ForEdit(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return FromLatin1(out);
}

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
    const auto edit = [this](int id, int max) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::number(id));
        e->setMaxLength(max);
        return e;
    };
    to_ = edit(10, kToMax);
    from_ = edit(11, kFieldMax);
    cc_ = edit(12, kFieldMax);
    subject_ = edit(14, kFieldMax);
    attachments_ = edit(18, 15000);
    body_ = new QPlainTextEdit(this);
    body_->setObjectName(QStringLiteral("13"));
    body_->setLineWrapMode(QPlainTextEdit::NoWrap);
    tcp_ = new QRadioButton(QStringLiteral("TCP/IP - Internet Mail Gateway"), this);
    tcp_->setObjectName(QStringLiteral("16"));
    composer_ = new QRadioButton(QStringLiteral("MAPI Mail Gateway"), this);
    composer_->setObjectName(QStringLiteral("17"));
    const auto button = [this](int id, const char* label) {
        auto* b = new QPushButton(QString::fromLatin1(label), this);
        b->setObjectName(QString::number(id));
        b->setAutoDefault(false);
        return b;
    };
    QPushButton* send = button(1, "Send Now");
    QPushButton* cancel = button(2, "Cancel");
    QPushButton* help = button(9, "Help");
    QPushButton* book = button(15, "Address Book");
    QPushButton* attach = button(19, "Attach BMF");

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("To:"), to_);
    form->addRow(QStringLiteral("From:"), from_);
    form->addRow(QStringLiteral("Cc:"), cc_);
    form->addRow(QStringLiteral("Subject:"), subject_);
    form->addRow(QStringLiteral("Attachments:"), attachments_);
    auto* side = new QVBoxLayout;
    for (QPushButton* b : {send, cancel, book, attach, help}) side->addWidget(b);
    side->addStretch();
    auto* top = new QHBoxLayout;
    top->addLayout(form, 1);
    top->addLayout(side);
    auto* gateways = new QHBoxLayout;
    gateways->addWidget(tcp_);
    gateways->addWidget(composer_);
    gateways->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(gateways);
    layout->addWidget(body_, 1);
    resize(640, 520);

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
    body_->setPlainText(ForEdit(sendtext_));
    from_->setText(FromLatin1(prefs.Sender));
    to_->setText(FromLatin1(prefs.LastUser));
    tcp_->setChecked(true);
    composer_->setChecked(false);
    filling_ = false;

    attach_dialog = [this](const QString& dir) {
        return QFileDialog::getOpenFileNames(this, QStringLiteral("Attach Files"), dir,
                                             QStringLiteral("Benchmark Files (*.BMF *.bmf)"));
    };

    // An edit of the body replaces the text to send.
    connect(body_, &QPlainTextEdit::textChanged, this, [this] {
        if (!filling_) sendtext_ = WithCrLf(body_->toPlainText());
    });
    connect(send, &QPushButton::clicked, this, [this] { SendNow(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::close);
    connect(help, &QPushButton::clicked, this, [] { ShowHelpContext(kMailHelpContext); });
    connect(attach, &QPushButton::clicked, this, [this] { AttachFiles(); });
    connect(book, &QPushButton::clicked, this, [this] {
        if (book_) {
            book_->raise();
            return;
        }
        book_ = new AddressBookDialog(this, [this](const std::string& to) { to_->setText(FromLatin1(to)); });
        book_->show();
    });
    connect(tcp_, &QRadioButton::clicked, this, [this] {
        tcp_->setChecked(true);
        composer_->setChecked(false);
    });
    connect(composer_, &QRadioButton::clicked, this, [this] { SendByComposer(); });
}

QLineEdit* MailDialog::field(int id) const { return findChild<QLineEdit*>(QString::number(id)); }

void MailDialog::AddAttachment(const QString& name) {
    QString list = attachments_->text();
    if (!list.isEmpty()) list += QStringLiteral("; ");
    attachments_->setText(list + name);
}

void MailDialog::AttachFiles() {
    // Paths are the file system's bytes, as Open and Save as take them.
    const QStringList names = attach_dialog(QString::fromStdString(frame_.MailSettings().KesFilesDirectory));
    for (const QString& name : names) AddAttachment(name);
}

mail::Message MailDialog::ReadFields() {
    mail::Message m;
    m.to = Latin1(to_->text(), kToMax);
    m.from = Latin1(from_->text(), kFieldMax);
    m.cc = Latin1(cc_->text(), kFieldMax);
    m.subject = Latin1(subject_->text(), kFieldMax);
    m.body = sendtext_;
    MailPreferences& prefs = frame_.MailSettings();
    prefs.LastUser = m.to.substr(0, kLastUserMax);
    WriteMailPreferences(prefs);
    return m;
}

bool MailDialog::WithAttachments(mail::Message* m, mail::AttachHeader header) {
    // The list holds paths: the file system's bytes, not Latin-1.
    m->attached_files = QFile::encodeName(attachments_->text()).toStdString();
    const std::vector<std::string> names = mail::SplitAttachments(m->attached_files);
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
    // A file's last line goes with it also when it has no line feed.
    if (!mail::AppendAttachments(names, header, true, reference, &m->body)) return false;
    m->fileIsAttached = !names.empty();
    return true;
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
        self->setWindowTitle(FromLatin1(title));
        self->repaint();
    };
    host.set_status = [frame](const std::string& text) { frame->Status()->SetText(FromLatin1(text)); };
    host.open_progress = [frame](const std::string& caption) { frame->OpenProgress(FromLatin1(caption)); };
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
    const int sent = mail::mainmail(m, Host());
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

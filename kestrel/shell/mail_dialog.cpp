#include "kestrel/shell/mail_dialog.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

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

namespace {

constexpr int kMailHelp = 262;
constexpr int kToMax = 35000;
constexpr int kFieldMax = 1500;

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
    const auto edit = [this](int id) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::number(id));
        return e;
    };
    to_ = edit(10);
    to_->setMaxLength(kToMax);
    from_ = edit(11);
    cc_ = edit(12);
    subject_ = edit(14);
    attachments_ = edit(18);
    for (QLineEdit* e : {from_, cc_, subject_}) e->setMaxLength(kFieldMax);
    body_ = new QPlainTextEdit(this);
    body_->setObjectName(QStringLiteral("13"));
    body_->setLineWrapMode(QPlainTextEdit::NoWrap);
    tcp_ = new QRadioButton(QStringLiteral("TCP/IP - Internet Mail Gateway"), this);
    tcp_->setObjectName(QStringLiteral("16"));
    composer_ = new QRadioButton(QStringLiteral("MAPI Mail Gateway"), this);
    composer_->setObjectName(QStringLiteral("17"));
    const auto button = [this](int id, const char* text) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
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
    resize(620, 520);

    // The body: the report lines, then the signature file.
    sendtext_ = mail::ReportBody(report.szGreeting);
    if (!prefs.endmailfile.empty()) mail::AppendSignature(prefs.endmailfile, &sendtext_);
    cc_->clear();
    subject_->clear();
    body_->setPlainText(ForEdit(sendtext_));
    from_->setText(FromLatin1(prefs.Sender));
    to_->setText(FromLatin1(prefs.lastselection));
    tcp_->setChecked(true);
    filling_ = false;

    // An edit of the body replaces the text to send.
    connect(body_, &QPlainTextEdit::textChanged, this, [this] {
        if (!filling_) sendtext_ = WithCrLf(body_->toPlainText());
    });
    connect(send, &QPushButton::clicked, this, [this] { SendNow(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::close);
    connect(help, &QPushButton::clicked, this, [] { ShowHelpContext(kMailHelp); });
    connect(attach, &QPushButton::clicked, this, [this] { AttachFiles(); });
    connect(book, &QPushButton::clicked, this, [this] {
        if (book_) {
            book_->raise();
            return;
        }
        book_ = new AddressBookDialog(this, [this](const std::string& to) { to_->setText(FromLatin1(to)); });
        book_->show();
    });
    connect(composer_, &QRadioButton::clicked, this, [this] { SendByComposer(); });
}

QLineEdit* MailDialog::field(int id) const { return findChild<QLineEdit*>(QString::number(id)); }

void MailDialog::AttachFiles() {
    QFileDialog dialog(this, QStringLiteral("Attach Files"), FromLatin1(prefs.files_directory));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters({QString::fromLatin1(kBenchmarkFilter), QString::fromLatin1(kAllFilesFilter)});
    dialog.setFileMode(QFileDialog::ExistingFiles);
    if (dialog.exec() != QDialog::Accepted) return;
    QString text = attachments_->text();
    for (const QString& path : dialog.selectedFiles()) {
        if (!text.isEmpty()) text += QStringLiteral("; ");
        text += path;
    }
    attachments_->setText(text);
}

mail::Message MailDialog::ReadFields() {
    mail::Message m;
    m.to = Latin1(to_->text(), kToMax);
    prefs.lastselection = m.to;
    m.from = Latin1(from_->text(), kFieldMax);
    m.cc = Latin1(cc_->text(), kFieldMax);
    m.subject = Latin1(subject_->text(), kFieldMax);
    m.body = sendtext_;
    CreateRegEntry();
    return m;
}

// The paths are taken from the Attachments field as it is at sending, also after Attach BMF (the
// user may have edited the list since).
bool MailDialog::WithAttachments(mail::Message* m, mail::AttachHeader header) {
    m->attached_files = attachments_->text().toLatin1().toStdString();
    const std::vector<std::string> paths = mail::SplitAttachments(m->attached_files);
    if (!mail::AppendAttachments(paths, header, true, &m->body)) return false;
    m->fileIsAttached = !paths.empty();
    return true;
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
        self->setWindowTitle(FromLatin1(title));
        self->repaint();
    };
    host.set_status = [main](const std::string& text) { main->Status()->SetText(FromLatin1(text)); };
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
    if (mail::mainmail(m, Host()) == 0) {
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

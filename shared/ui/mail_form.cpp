#include "shared/ui/mail_form.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QTimer>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStringDecoder>
#include <QVBoxLayout>

#include "shared/strformat.h"

MailForm BuildMailForm(QDialog* dialog, int width, int attachments_max) {
    MailForm f;
    const auto edit = [dialog](int id, int max) {
        auto* e = new QLineEdit(dialog);
        e->setObjectName(QString::number(id));
        if (max > 0) e->setMaxLength(max);
        return e;
    };
    f.to = edit(10, kMailToMax);
    f.from = edit(11, kMailFieldMax);
    f.cc = edit(12, kMailFieldMax);
    f.subject = edit(14, kMailFieldMax);
    f.attachments = edit(18, attachments_max);
    f.body = new QPlainTextEdit(dialog);
    f.body->setObjectName(QStringLiteral("13"));
    f.body->setLineWrapMode(QPlainTextEdit::NoWrap);
    f.tcp = new QRadioButton(QStringLiteral("TCP/IP - Internet Mail Gateway"), dialog);
    f.tcp->setObjectName(QStringLiteral("16"));
    f.composer = new QRadioButton(QStringLiteral("MAPI Mail Gateway"), dialog);
    f.composer->setObjectName(QStringLiteral("17"));
    const auto button = [dialog](int id, const char* label) {
        auto* b = new QPushButton(QString::fromLatin1(label), dialog);
        b->setObjectName(QString::number(id));
        b->setAutoDefault(false);
        return b;
    };
    f.send = button(1, "Send Now");
    f.cancel = button(2, "Cancel");
    f.help = button(9, "Help");
    f.book = button(15, "Address Book");
    f.attach = button(19, "Attach BMF");

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("To:"), f.to);
    form->addRow(QStringLiteral("From:"), f.from);
    form->addRow(QStringLiteral("Cc:"), f.cc);
    form->addRow(QStringLiteral("Subject:"), f.subject);
    form->addRow(QStringLiteral("Attachments:"), f.attachments);
    auto* side = new QVBoxLayout;
    for (QPushButton* b : {f.send, f.cancel, f.book, f.attach, f.help}) side->addWidget(b);
    side->addStretch();
    auto* top = new QHBoxLayout;
    top->addLayout(form, 1);
    top->addLayout(side);
    auto* gateways = new QHBoxLayout;
    gateways->addWidget(f.tcp);
    gateways->addWidget(f.composer);
    gateways->addStretch();
    auto* layout = new QVBoxLayout(dialog);
    layout->addLayout(top);
    layout->addLayout(gateways);
    layout->addWidget(f.body, 1);
    dialog->resize(width, 520);
    return f;
}

std::string MailUtf8(const QString& text, int max) { return text.left(max).toUtf8().toStdString(); }

QString MailFromUtf8(const std::string& text) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString decoded = utf8(QByteArrayView(text.data(), qsizetype(text.size())));
    // A text written by the earlier dialogs, in Latin-1, is no UTF-8: its bytes are its characters.
    return utf8.hasError() ? QString::fromLatin1(text.data(), qsizetype(text.size())) : decoded;
}

std::string MailWithCrLf(const QString& text) {
    std::string out;
    for (char c : text.toUtf8().toStdString()) {
        if (c == '\n') out += "\r\n";
        else out += c;
    }
    return out;
}

QString MailForEdit(const std::string& text) { return MailFromUtf8(WithLfLineEnds(text)); }

std::string MailPathBytes(const QString& text) { return QFile::encodeName(text).toStdString(); }

QString MailPathText(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

void AddMailAttachments(QLineEdit* list, const QStringList& paths) {
    QString text = list->text();
    for (const QString& path : paths) {
        if (!text.isEmpty()) text += QStringLiteral("; ");
        text += path;
    }
    list->setText(text);
}

bool AttachMailFiles(const QLineEdit* list, bool capped, mail::AttachHeader header,
                     const mail::DocumentText& document, mail::Message* m) {
    const mail::Attachments files = mail::SplitAttachments(MailPathBytes(list->text()), capped);
    mail::SayLeftOut(files.left_out);
    if (!mail::AppendAttachments(files.paths, header, true, document, &m->body, &m->attached_files)) return false;
    m->fileIsAttached = !m->attached_files.empty();
    return true;
}

MailSending::MailSending(QDialog* dialog, QPushButton* cancel, mail::MailHost* host)
    : dialog_(dialog), cancel_(cancel) {
    host->pump = [this] { Pump(); };
    host->cancelled = [this] { return cancelled_; };
    QCoreApplication::instance()->installEventFilter(this);
}

MailSending::~MailSending() {
    QCoreApplication::instance()->removeEventFilter(this);
    for (const QPointer<QWidget>& w : closes_)
        if (w) QTimer::singleShot(0, w, [w] { if (w) w->close(); });
}

void MailSending::Pump() {
    pumping_ = true;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    pumping_ = false;
}

bool MailSending::eventFilter(QObject* watched, QEvent* event) {
    // Outside the waits (a box of the client, say) every event goes its way; a shortcut never
    // does while the client waits.
    if (!pumping_) return false;
    const QEvent::Type type = event->type();
    if (type == QEvent::Shortcut || type == QEvent::ShortcutOverride) return true;
    // Input reaches a window first and then its widgets: the widgets decide.
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr) return false;
    switch (type) {
        case QEvent::Close:
            if (widget == dialog_) cancelled_ = true;
            else if (widget->isWindow()) closes_.emplace_back(widget);
            else return false;
            event->ignore();
            return true;
        case QEvent::KeyPress:
            if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && widget->window() == dialog_) {
                cancelled_ = true;
                return true;
            }
            return widget != cancel_;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyRelease:
            return widget != cancel_;
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonRelease:
        case QEvent::NonClientAreaMouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
            return true;
        default:
            return false;
    }
}

int SendMail(QDialog* dialog, QPushButton* cancel, MailSending** sending, const mail::Message& m, mail::MailHost host) {
    MailSending send(dialog, cancel, &host);
    *sending = &send;
    const int sent = mail::mainmail(m, host);
    *sending = nullptr;
    return sent;
}

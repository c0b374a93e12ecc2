#include "shared/ui/mail_form.h"

#include <QDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

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

std::string MailLatin1(const QString& text, int max) { return text.left(max).toLatin1().toStdString(); }

QString MailFromLatin1(const std::string& text) { return QString::fromLatin1(text.c_str(), int(text.size())); }

std::string MailWithCrLf(const QString& text) {
    std::string out;
    for (char c : text.toLatin1().toStdString()) {
        if (c == '\n') out += "\r\n";
        else out += c;
    }
    return out;
}

QString MailForEdit(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return MailFromLatin1(out);
}

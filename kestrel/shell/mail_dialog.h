// The mail dialog (MAILDLG, "Mail File"): the report as the body of a message, further benchmark
// files attached as text blocks, recipients from the address book, and the message sent by SMTP
// (Send Now) or handed to the desktop's mail composer (the second gateway). Modeless; one at a
// time. Controls are named by their numbers ("10" To, "11" From, ...).
#pragma once

#include <QDialog>
#include <QPointer>
#include <string>

#include "shared/mail/compose.h"
#include "shared/mail/transport.h"
#include "shared/ui/address_book_dialog.h"
#include "shared/ui/mail_form.h"

class MainWindow;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

class MailDialog : public QDialog {
public:
    // Opens the dialog when the mail preferences allow it; else shows why, asks for the
    // Preferences, and gives nullptr.
    static MailDialog* Open(MainWindow& main);

    QLineEdit* field(int id) const;
    QPlainTextEdit* body() const { return body_; }
    // The text the body holds for sending.
    const std::string& sendtext() const { return sendtext_; }
    AddressBookDialog* addressBook() const { return book_; }
    // Control 19: adds benchmark files to the Attachments text.
    void AttachFiles();

private:
    explicit MailDialog(MainWindow& main);
    void SendNow();
    void SendByComposer();
    // Steps 1 and 2 of both ways of sending: the fields read, "Last User" stored.
    mail::Message ReadFields();
    // The body with the attachment blocks; false when an attachment could not be opened.
    bool WithAttachments(mail::Message* m, mail::AttachHeader header);
    mail::MailHost Host();

    MainWindow& main_;
    QLineEdit* to_;
    QLineEdit* from_;
    QLineEdit* cc_;
    QLineEdit* subject_;
    QLineEdit* attachments_;
    QPlainTextEdit* body_;
    QRadioButton* tcp_;
    QRadioButton* composer_;
    QPushButton* cancel_;
    MailSending* sending_ = nullptr;  // the send under way
    QPointer<AddressBookDialog> book_;
    std::string sendtext_;
    bool filling_ = true;
    bool attach_used_ = false;  // Attach BMF added files: the list is not capped
};

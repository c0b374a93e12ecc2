// The viewer's mail dialog (MAILDLG, "Mail File"): the top document as the message text, further
// documents and files attached as text blocks (a reference document by its title), recipients from
// the shared address book, and the message sent by SMTP (Send Now) or handed to the desktop's mail
// composer (the second gateway). Modeless; one at a time. Controls are named by their numbers
// ("10" To, "11" From, ...).
#pragma once

#include <QDialog>
#include <QPointer>
#include <functional>
#include <string>

#include "shared/mail/compose.h"
#include "shared/mail/transport.h"
#include "shared/ui/address_book_dialog.h"
#include "shared/ui/mail_form.h"

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace glance {

class Frame;

inline constexpr int kMailHelpContext = 261;

class MailDialog : public QDialog {
public:
    // Opens the dialog on the top document when the mail settings allow it; else shows why and
    // gives nullptr.
    static MailDialog* Open(Frame& frame);

    QLineEdit* field(int id) const;
    QPlainTextEdit* body() const { return body_; }
    // The message text as it will be sent.
    const std::string& sendtext() const { return sendtext_; }
    AddressBookDialog* addressBook() const { return book_; }
    // Command 20: a name added to the attachment list.
    void AddAttachment(const QString& name);
    // Button 19: benchmark files chosen in the result folder are added to the list.
    void AttachFiles();

    // The file choice of Attach BMF; tests replace it.
    std::function<QStringList(const QString& dir)> attach_dialog;

private:
    MailDialog(Frame& frame, const std::string& text);
    void SendNow();
    void SendByComposer();
    // Step 1 of both ways of sending: the fields read, the settings written with "Last User".
    mail::Message ReadFields();
    // The text with the attachment blocks; false when an attachment could not be opened.
    bool WithAttachments(mail::Message* m, mail::AttachHeader header);
    mail::MailHost Host();

    Frame& frame_;
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
};

}  // namespace glance

// The mail dialog's form, the same in kestrel and the viewer: the fields To (10), From (11),
// Cc (12), Subject (14) and Attachments (18), the message body (13), the two gateways (16, 17)
// and the buttons Send Now (1), Cancel (2), Help (9), Address Book (15) and Attach BMF (19), each
// control named by its number. Also the text helpers of the fields and the body.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <vector>
#include <string>

#include "shared/mail/compose.h"
#include "shared/mail/transport.h"

class QDialog;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

inline constexpr int kMailToMax = 35000;
inline constexpr int kMailFieldMax = 1500;

struct MailForm {
    QLineEdit* to = nullptr;
    QLineEdit* from = nullptr;
    QLineEdit* cc = nullptr;
    QLineEdit* subject = nullptr;
    QLineEdit* attachments = nullptr;
    QPlainTextEdit* body = nullptr;
    QRadioButton* tcp = nullptr;
    QRadioButton* composer = nullptr;
    QPushButton* send = nullptr;
    QPushButton* cancel = nullptr;
    QPushButton* help = nullptr;
    QPushButton* book = nullptr;
    QPushButton* attach = nullptr;
};

// Builds the form in `dialog` (laid out, `width` x 520); the Attachments field holds at most
// `attachments_max` characters (0: the edit's own limit).
MailForm BuildMailForm(QDialog* dialog, int width, int attachments_max);

// A field's text as the message's bytes: at most `max` characters, UTF-8 like every text of the
// suite (the report lines, the settings, the signature file).
std::string MailUtf8(const QString& text, int max);
// Stored bytes as a field shows them: UTF-8, or Latin-1 where they are no UTF-8 (a sender, a last
// recipient or an address book entry kept by the earlier dialogs).
QString MailFromUtf8(const std::string& text);
// The body edit's text with CR LF line ends.
std::string MailWithCrLf(const QString& text);
// The body as the edit shows it: line ends without their CR.
QString MailForEdit(const std::string& text);

// Paths in the Attachments field and a start folder are the file system's bytes, as Open and
// Save as take them.
std::string MailPathBytes(const QString& text);
QString MailPathText(const std::string& bytes);
// Adds chosen files to the Attachments field, "; " between paths.
void AddMailAttachments(QLineEdit* list, const QStringList& paths);
// Appends the attachment blocks of the Attachments field to the message: the paths a capped list
// leaves out are named in a box first, and the message's attachment list (the X-Attachment
// header) names only the files attached. False: an attachment stopped the send.
bool AttachMailFiles(const QLineEdit* list, bool capped, mail::AttachHeader header,
                     const mail::DocumentText& document, mail::Message* m);

// One message being sent by SMTP from a mail dialog: while the client waits for the server, the
// pending events are handled (the windows repaint), the dialog's Cancel, its close box and Esc
// cancel the send, and other input is put aside: clicks and keys elsewhere are dropped, a window
// closed meanwhile closes once the send has ended.
class MailSending : public QObject {
public:
    // Sets the host's pump and cancelled for this send.
    MailSending(QDialog* dialog, QPushButton* cancel, mail::MailHost* host);
    ~MailSending() override;
    void Cancel() { cancelled_ = true; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Pump();

    QDialog* dialog_;
    QPushButton* cancel_;
    bool cancelled_ = false;
    bool pumping_ = false;
    std::vector<QPointer<QWidget>> closes_;
};

// Sends the message by SMTP (mainmail) with a MailSending in place; *sending names it meanwhile.
int SendMail(QDialog* dialog, QPushButton* cancel, MailSending** sending, const mail::Message& m, mail::MailHost host);

// The mail dialog's form, the same in kestrel and the viewer: the fields To (10), From (11),
// Cc (12), Subject (14) and Attachments (18), the message body (13), the two gateways (16, 17)
// and the buttons Send Now (1), Cancel (2), Help (9), Address Book (15) and Attach BMF (19), each
// control named by its number. Also the text helpers of the fields and the body.
#pragma once

#include <QString>
#include <string>

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

// A field's text as the message's bytes: at most `max` characters, Latin-1.
std::string MailLatin1(const QString& text, int max);
QString MailFromLatin1(const std::string& text);
// The body edit's text with CR LF line ends.
std::string MailWithCrLf(const QString& text);
// The body as the edit shows it: line ends without their CR.
QString MailForEdit(const std::string& text);

// The mail dialog offscreen, as a user works it: opened by Ctrl+M's command with the report and
// the signature as the body, addresses picked and removed in the address book, a benchmark file
// attached, and Send Now to a mail sink on 127.0.0.1.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTest>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/run/commands.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/shell/mail_dialog.h"
#include "kestrel/shell/main_window.h"
#include "kestrel/shell/panes.h"
#include "platform/msgbox.h"
#include "shared/places.h"
#include "tests/kestrel/shell/shell_test_support.h"
#include "tests/shared/mail/smtp_sink.h"
#include "tests/support/isolation.h"
#include "tests/support/qt_test_main.h"

namespace {

MailDialog* OpenMail(MainWindow& w) {
    w.Command(CMD_MAIL);
    return QApplication::activeModalWidget() == nullptr ? w.findChild<MailDialog*>() : nullptr;
}

// Mail goes to the sink from a plain sender without a signature; the settings are stored (0).
int StoreSinkSettings(const kt::SmtpSink& sink) {
    prefs.SMTPHost = sink.server();
    prefs.Sender = "me@here.test";
    prefs.endmailfile.clear();
    return CreateRegEntry();
}

void Click(QWidget* parent, int id) {
    auto* b = parent->findChild<QPushButton*>(QString::number(id));
    ASSERT_NE(b, nullptr) << id;
    b->click();
}

TEST(MailDialog, WithoutServerAndSenderThePreferencesOpen) {
    kp::BoxRecorder boxes;
    perflink.program_directory = KESTREL_BIN_DIR;
    MainWindow w;
    EXPECT_EQ(OpenMail(w), nullptr);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Must set SMTP server value and your Sender address before using mail!");
    EXPECT_EQ(boxes.boxes()[0].caption, "Mail Exception");
    EXPECT_TRUE(kt::Until([&] { return w.TabWindow() != nullptr; }));
}

TEST(MailDialog, ComposePickAddressesAttachAndSend) {
    kt::SmtpSink sink(kt::SinkScript{});
    kp::BoxRecorder boxes;
    perflink.program_directory = KESTREL_BIN_DIR;
    MainWindow w;
    prefs.SMTPHost = sink.server();
    // The suite's texts are UTF-8: a real name and a report line beyond ASCII show as they are.
    prefs.Sender = "me@here.test (J\xc3\xb6rg M\xc3\xbcller)";
    prefs.lastselection = "old@x.test";
    prefs.endmailfile = kt::WriteFile(kt::TempDir() + "/sig.txt", "-- \nsigned");
    // A folder and a file whose names are not ASCII: the file system's bytes throughout.
    prefs.files_directory = kt::FreshDir("donn\xc3\xa9""es");
    ASSERT_EQ(CreateRegEntry(), 0);
    report.szGreeting = {"Kestrel version 1.21", "M\xc3\xbcller GmbH"};
    report.num = 2;
    const std::string attached = kt::WriteFile(prefs.files_directory + "/r\xc3\xa9sultat.bmf", "Score: 1\r\nlast");
    MakeDirectories(DefaultInstallDirectory());
    kt::WriteFile(AddressBookPath(), "eve@x.test (Eve)\r\nbob@x.test (Bob)\r\nAmy@x.test ()\r\n"
                                     "dan@x.test (D\xc3\xa4n)\r\ncat@x.test (Cat)\r\n");

    MailDialog* mail = OpenMail(w);
    ASSERT_NE(mail, nullptr);
    EXPECT_EQ(mail->sendtext(), "Kestrel version 1.21\r\nM\xc3\xbcller GmbH\r\n-- \nsigned");
    EXPECT_EQ(mail->field(10)->text(), "old@x.test");
    EXPECT_EQ(mail->field(11)->text(), QString::fromUtf8("me@here.test (J\xc3\xb6rg M\xc3\xbcller)"));
    EXPECT_EQ(mail->findChild<QPlainTextEdit*>(QStringLiteral("13"))->toPlainText(),
              QString::fromUtf8("Kestrel version 1.21\nM\xc3\xbcller GmbH\n-- \nsigned"));

    // The book, sorted without regard to case; the 2nd and 3rd removed in one pass.
    Click(mail, 15);
    AddressBookDialog* book = mail->addressBook();
    ASSERT_NE(book, nullptr);
    ASSERT_EQ(book->list()->count(), 5);
    EXPECT_EQ(book->list()->item(0)->text(), "Amy@x.test ()");
    EXPECT_EQ(book->list()->item(3)->text(), QString::fromUtf8("dan@x.test (D\xc3\xa4n)"));
    book->list()->item(1)->setSelected(true);
    book->list()->item(2)->setSelected(true);
    boxes.Script({kp::Answer::Yes, kp::Answer::Yes});
    Click(book, 11);
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0].text, "Remove user:  bob@x.test (Bob) from the address book?");
    EXPECT_EQ(boxes.boxes()[1].text, "Remove user:  cat@x.test (Cat) from the address book?");
    EXPECT_EQ(kt::ReadFile(AddressBookPath()), "Amy@x.test ()\r\ndan@x.test (D\xc3\xa4n)\r\neve@x.test (Eve)\r\n");
    // Add User, then every entry chosen: their addresses replace To.
    Click(book, 10);
    auto* add = book->findChild<AddUserDialog*>();
    ASSERT_NE(add, nullptr);
    add->address()->setText("fay@x.test");
    add->nick()->setText(QString::fromUtf8("F\xc3\xa9" "e"));
    Click(add, 1);
    Click(book, 13);
    Click(book, 1);
    EXPECT_EQ(mail->field(10)->text(), "Amy@x.test, dan@x.test, eve@x.test, fay@x.test");
    EXPECT_EQ(kt::ReadFile(AddressBookPath()),
              "Amy@x.test ()\r\ndan@x.test (D\xc3\xa4n)\r\neve@x.test (Eve)\r\nfay@x.test (F\xc3\xa9" "e)\r\n");

    mail->field(10)->setText("amy@x.test");
    mail->field(14)->setText(QString::fromUtf8("Lauf f\xc3\xbcr M\xc3\xbcller"));
    // A line typed into the body goes out as UTF-8 too.
    auto* body = mail->findChild<QPlainTextEdit*>(QStringLiteral("13"));
    body->moveCursor(QTextCursor::Start);
    body->insertPlainText(QString::fromUtf8("Gr\xc3\xbc\xc3\x9f" "e\n"));
    QString start;
    kt::AnswerFileDialog(QString::fromStdString(attached), {}, &start);
    Click(mail, 19);
    EXPECT_EQ(start.toStdString(), prefs.files_directory);
    EXPECT_EQ(mail->field(18)->text().toStdString(), attached);
    boxes.Clear();
    QPointer<MailDialog> open(mail);
    Click(mail, 1);
    EXPECT_TRUE(boxes.boxes().empty()) << boxes.boxes()[0].text;
    EXPECT_TRUE(kt::Until([&] { return open.isNull(); }));
    const std::string got = sink.Received();
    EXPECT_NE(got.find("MAIL From:<me@here.test>\r\nRCPT To: <amy@x.test>\r\nDATA\r\n"), std::string::npos) << got;
    // Name and subject as UTF-8 encoded words; the body's 8-bit text is declared UTF-8.
    EXPECT_NE(got.find("\r\nFrom: =?UTF-8?B?SsO2cmcgTcO8bGxlcg==?= <me@here.test>\r\n"), std::string::npos) << got;
    EXPECT_NE(got.find("Subject: =?UTF-8?B?TGF1ZiBmw7xyIE3DvGxsZXI=?=\r\nTo: amy@x.test\r\nX-Attachment:  " + attached +
                       "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                       "Content-Transfer-Encoding: 8bit\r\nX-Info:"),
              std::string::npos);
    EXPECT_NE(got.find("\r\n\r\nGr\xc3\xbc\xc3\x9f" "e\r\nKestrel version 1.21\r\nM\xc3\xbcller GmbH\r\n-- \r\nsigned"
                       "******************** Attachment(s) Follow ******************\r\n\r\n"
                       "\r\nX-Attachment:  " + attached + "\r\nBegin File 1:\r\n\r\nScore: 1\r\nlast"
                       "\r\n\r\n******************** Attachment(s) End ******************\r\n.\r\nQUIT\r\n"),
              std::string::npos)
        << got;
    // "Last User" keeps the To text.
    prefs.lastselection.clear();
    GetRegEntry();
    EXPECT_EQ(prefs.lastselection, "amy@x.test");
}

// Names beyond ASCII kept in the settings and the address book show as written: UTF-8 as it is,
// and the Latin-1 bytes the earlier dialogs kept (no UTF-8) as Latin-1, never as a stand-in mark.
TEST(MailDialog, StoredNamesShowAsUtf8OrElseAsLatin1) {
    kp::BoxRecorder boxes;
    perflink.program_directory = KESTREL_BIN_DIR;
    MainWindow w;
    report.szGreeting = {"Kestrel version 1.21"};
    report.num = 1;
    const struct {
        const char* what;
        std::string stored;
        const char* shown;  // UTF-8
    } rows[] = {
        {"UTF-8", "J\xc3\xb6rg", "J\xc3\xb6rg"},
        {"Latin-1", "J\xf6rg", "J\xc3\xb6rg"},
        {"Latin-1 ending in a byte that would begin a UTF-8 sequence", "Ren\xe9", "Ren\xc3\xa9"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string shown = row.shown;
        prefs.SMTPHost = "127.0.0.1";
        prefs.Sender = "me@x.test (" + row.stored + ")";
        prefs.lastselection = "to@x.test (" + row.stored + ")";
        ASSERT_EQ(CreateRegEntry(), 0);
        MakeDirectories(DefaultInstallDirectory());
        kt::WriteFile(AddressBookPath(), "book@x.test (" + row.stored + ")\r\n");
        QPointer<MailDialog> mail(OpenMail(w));
        ASSERT_NE(mail, nullptr);
        EXPECT_EQ(mail->field(11)->text().toStdString(), "me@x.test (" + shown + ")");
        EXPECT_EQ(mail->field(10)->text().toStdString(), "to@x.test (" + shown + ")");
        Click(mail, 15);
        AddressBookDialog* book = mail->addressBook();
        ASSERT_NE(book, nullptr);
        ASSERT_EQ(book->list()->count(), 1);
        EXPECT_EQ(book->list()->item(0)->text().toStdString(), "book@x.test (" + shown + ")");
        Click(mail, 2);
        ASSERT_TRUE(kt::Until([&] { return mail.isNull(); }));
    }
    EXPECT_TRUE(boxes.boxes().empty());
}

// A typed list of 27 paths is capped at 25: the two past the cap are named in one box before the
// send, and the message (its X-Attachment header and its blocks) holds only the 25 attached.
TEST(MailDialog, ATypedListOf27PathsSendsTheFirst25AndNamesTheRest) {
    kt::SmtpSink sink(kt::SinkScript{});
    kp::BoxRecorder boxes;
    perflink.program_directory = KESTREL_BIN_DIR;
    MainWindow w;
    ASSERT_EQ(StoreSinkSettings(sink), 0);
    const std::string folder = kt::FreshDir("typed");
    std::vector<std::string> paths;
    std::string typed;
    for (int i = 1; i <= 27; ++i) {
        paths.push_back(kt::WriteFile(folder + "/run" + std::to_string(i) + ".bmf", "Score: " + std::to_string(i)));
        typed += (i > 1 ? "; " : "") + paths.back();
    }
    MailDialog* mail = OpenMail(w);
    ASSERT_NE(mail, nullptr);
    mail->field(10)->setText("amy@x.test");
    QTest::keyClicks(mail->field(18), QString::fromStdString(typed));
    QPointer<MailDialog> open(mail);
    Click(mail, 1);
    EXPECT_TRUE(kt::Until([&] { return open.isNull(); }));
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, "Mail Exception");
    EXPECT_EQ(boxes.boxes()[0].text, "Not attached (at most 25 files within the first 15000 characters of the list):\n" +
                                         paths[25] + "\n" + paths[26]);
    const std::string got = sink.Received();
    std::string attached;
    for (size_t i = 0; i < 25; ++i) attached += (i > 0 ? ";\r\n " : "") + paths[i];
    EXPECT_NE(got.find("\r\nX-Attachment:  " + attached + "\r\nX-Info:"), std::string::npos) << got;
    EXPECT_NE(got.find("\r\nX-Attachment:  " + paths[24] + "\r\nBegin File 25:\r\n\r\nScore: 25\r\n\r\n"
                       "******************** Attachment(s) End"),
              std::string::npos);
    for (size_t i = 25; i < 27; ++i) EXPECT_EQ(got.find(paths[i]), std::string::npos) << paths[i];
}

// Cancel during a send. Against a server that accepts and never answers it ends the send:
// nothing is sent, the dialog stays with its caption back and the status line says so. Once the
// whole message is out (the server's reply still awaited) it does not call a message the server
// may deliver "not sent": the reply is awaited and the send ends as it would without.
TEST(MailDialog, CancelDuringASendEndsItUnlessTheMessageIsOut) {
    for (const bool whole_message_out : {false, true}) {
        SCOPED_TRACE(whole_message_out ? "cancel after the message's end" : "cancel while connecting");
        // Without Cancel the silent server's send would end only when this wait runs out.
        setenv("KESTREL_TEST_SOCKET_WAIT_MS", "20000", 1);
        kt::SinkScript script;
        script.silent = !whole_message_out;
        script.hold_end_of_data = whole_message_out;
        kt::SmtpSink sink(script);
        kp::BoxRecorder boxes;
        perflink.program_directory = KESTREL_BIN_DIR;
        MainWindow w;
        ASSERT_EQ(StoreSinkSettings(sink), 0);
        MailDialog* mail = OpenMail(w);
        ASSERT_NE(mail, nullptr);
        mail->field(10)->setText("amy@x.test");
        QPointer<MailDialog> open(mail);
        auto* cancel = mail->findChild<QPushButton*>(QStringLiteral("2"));
        auto* send = mail->findChild<QPushButton*>(QStringLiteral("1"));
        // Once the client waits for the server (the connection accepted, or the message's end
        // held): a second Send Now goes nowhere, then Cancel.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, mail, [&] {
            if (whole_message_out ? !sink.holding() : !sink.connected()) return;
            poll.stop();
            QTest::mouseClick(send, Qt::LeftButton);
            QTest::mouseClick(cancel, Qt::LeftButton);
            sink.Release();
        });
        poll.start(5);
        Click(mail, 1);
        EXPECT_TRUE(boxes.boxes().empty()) << boxes.boxes()[0].text;
        // A cancelled send has closed its connection when it ends: the server reads the close
        // at once, not when the client's or its own time limit runs out.
        if (!whole_message_out) {
            EXPECT_TRUE(kt::Until([&] { return sink.saw_client_close(); }));
        }
        const std::string received = sink.Received();
        if (whole_message_out) {
            EXPECT_NE(w.Status()->Text().toStdString(), mail::kSendCancelled);
            EXPECT_NE(received.find("amy@x.test"), std::string::npos);
            EXPECT_NE(received.find("QUIT"), std::string::npos);
        } else {
            ASSERT_FALSE(open.isNull());
            EXPECT_TRUE(mail->isVisible());
            EXPECT_EQ(mail->windowTitle(), QStringLiteral("Mail File"));
            EXPECT_EQ(w.Status()->Text().toStdString(), mail::kSendCancelled);
            EXPECT_TRUE(sink.client_closed_first());
            EXPECT_EQ(received, "");
        }
        unsetenv("KESTREL_TEST_SOCKET_WAIT_MS");
    }
}

}  // namespace

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }

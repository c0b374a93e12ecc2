// The SMTP client against a sink on 127.0.0.1: the dialogue and the message as the server gets
// them (the date and the local names masked), and the failures with their boxes.
#include <gtest/gtest.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>
#include <regex>

#include "platform/msgbox.h"
#include "shared/mail/transport.h"
#include "tests/shared/mail/smtp_sink.h"
#include "tests/support/isolation.h"

namespace {

struct Sent {
    int result = 0;
    std::vector<std::string> boxes;  // "caption: text"
    std::vector<std::string> titles;
    bool preferences = false;
};

mail::Message Basic() {
    mail::Message m;
    m.to = "a@x.test";
    m.from = "typed@x.test";
    m.subject = "Results";
    m.body = "line one\r\n";
    return m;
}

Sent Send(const mail::Message& m, const std::string& server, bool network_up = true,
          const std::string& folder = KESTREL_SOCKET_DIR) {
    kp::BoxRecorder boxes;
    Sent s;
    mail::MailHost host;
    host.library_folder = folder;
    host.read_settings = [&] { return mail::MailSettings{0, server, "me@here.test (Me Myself)"}; };
    host.open_preferences = [&] { s.preferences = true; };
    host.set_title = [&](const std::string& t) { s.titles.push_back(t); };
    host.network_up = [&] { return network_up; };
    s.result = mail::mainmail(m, host);
    for (const auto& b : boxes.boxes()) s.boxes.push_back(b.caption + ": " + b.text);
    return s;
}

// The sink's record with the parts that differ between machines and runs masked.
std::string Masked(std::string text) {
    text = std::regex_replace(text, std::regex("HELO [^\r]*\r\n"), "HELO <host>\r\n");
    text = std::regex_replace(text, std::regex("Date: [A-Z][a-z]{2}, \\d\\d [A-Z][a-z]{2} \\d{4} \\d\\d:\\d\\d:\\d\\d [+-]\\d{4}\r\n"),
                              "Date: <date>\r\n");
    text = std::regex_replace(text, std::regex("Sender: [^@\r]*@[^\r]*\r\n"), "Sender: <user>@<host>\r\n");
    text = std::regex_replace(text, std::regex("Message-ID: <\\d+\\.[0-9a-f]{16}@[^>\r]+>\r\n"), "Message-ID: <id>\r\n");
    return text;
}

// A port on 127.0.0.1 where nothing listens.
std::string RefusingServer() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
}

class Smtp : public ::testing::Test {
protected:
    void SetUp() override {
        kt::IsolateEnvironment();
        // No wait of the socket library lasts longer than this in these tests.
        setenv("KESTREL_TEST_SOCKET_WAIT_MS", "3000", 1);
        // A zone whose name is no valid Date zone.
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
    }
};

TEST_F(Smtp, DialogueHeadersBodyAndAttachmentAsTheServerGetsThem) {
    kt::SinkScript script;
    script.helo = "250-sink greets you\r\n250 HELP\r\n";             // one reply of two lines
    script.mail = "250 " + std::string(400, 'x') + "\r\n";           // longer than a reply line may be
    script.rcpt = {"250 ok\r\n", "251 will forward\r\n", "250 ok\r\n", "250 ok\r\n"};
    kt::SmtpSink sink(script);
    mail::Message m;
    m.to = " a@x.test, b@x.test\tc@x.test\r\n";
    m.cc = "d@x.test";
    m.from = "typed@x.test";
    m.subject = "Results\r\nBcc: hidden@x.test";
    m.body = "line one\r\n.starts with a stop\r\nbare line feed\ncarriage returns\r\r\n"
             "******************** Attachment(s) Follow ******************\r\n\r\n"
             "\r\nX-Attachment:  /tmp/a.bmf\r\nBegin File 1:\r\n\r\nlast line without end";
    m.fileIsAttached = true;
    m.attached_files = "/tmp/a.bmf";
    const Sent s = Send(m, sink.server());
    EXPECT_EQ(s.result, 0);
    EXPECT_TRUE(s.boxes.empty()) << s.boxes.front();
    EXPECT_EQ(s.titles, (std::vector<std::string>{"Trying...", "Trying... ... ...", "Connecting...",
                                                  "Sending Inquiry... ", "Sending Address Information... ",
                                                  "Sending Message... ", "Sending... ... ... Done"}));
    EXPECT_EQ(Masked(sink.Received()),
              "HELO <host>\r\n"
              "MAIL From:<me@here.test>\r\n"
              "RCPT To: <a@x.test>\r\n"
              "RCPT To: <b@x.test>\r\n"
              "RCPT To: <c@x.test>\r\n"
              "RCPT To: <d@x.test>\r\n"
              "DATA\r\n"
              "Date: <date>\r\n"
              "From: me@here.test (Me Myself)\r\n"
              "Sender: <user>@<host>\r\n"
              "Message-ID: <id>\r\n"
              "Subject: ResultsBcc: hidden@x.test\r\n"
              "To:  a@x.test, b@x.test\tc@x.test\r\n"
              "Cc: d@x.test\r\n"
              "X-Attachment:  /tmp/a.bmf\r\n"
              "X-Info:  Kestrel version 1.21 Mailer Daemon\r\n"
              "X-Mailer: <Kestrel version 1.21> \r\n"
              "\r\n"
              "line one\r\n"
              "..starts with a stop\r\n"
              "bare line feed\r\n"
              "carriage returns\r\n"
              "******************** Attachment(s) Follow ******************\r\n\r\n"
              "\r\nX-Attachment:  /tmp/a.bmf\r\nBegin File 1:\r\n\r\nlast line without end"
              "\r\n.\r\n"
              "QUIT\r\n");
}

// The header part of what the sink received, masked.
std::string Headers(const std::string& received) {
    const std::string text = Masked(received);
    const size_t start = text.find("DATA\r\n") + 6;
    return text.substr(start, text.find("\r\n\r\n", start) + 2 - start);
}

// Values beyond ASCII: names and subjects as UTF-8 encoded words on lines of at most 76 octets,
// a body of 8-bit text announced as such; ASCII goes out as it always did.
TEST_F(Smtp, HeaderValuesBeyondAsciiGoAsEncodedWords) {
    struct Case {
        const char* name;
        std::string sender;
        std::string subject;
        std::string body;
        std::string from;     // the From and Subject lines that go out
        std::string subject_lines;
        bool mime;
    };
    const std::string mime = "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                             "Content-Transfer-Encoding: 8bit\r\n";
    const std::vector<Case> cases = {
        {"ASCII as it is", "me@here.test (Me Myself)", "Results", "line one\r\n", "me@here.test (Me Myself)",
         "Results", false},
        {"a name in a comment", "jm@x.test (J\xc3\xb6rg M\xc3\xbcller)", "Results", "line one\r\n",
         "=?UTF-8?B?SsO2cmcgTcO8bGxlcg==?= <jm@x.test>", "Results", false},
        {"a name before the address", "J\xc3\xb6rg M\xc3\xbcller <jm@x.test>", "Results", "line one\r\n",
         "=?UTF-8?B?SsO2cmcgTcO8bGxlcg==?= <jm@x.test>", "Results", false},
        {"subject and body", "me@here.test", "Ergebnisse f\xc3\xbcr M\xc3\xbcller GmbH", "M\xc3\xbcller GmbH\r\n",
         "me@here.test", "=?UTF-8?B?RXJnZWJuaXNzZSBmw7xyIE3DvGxsZXIgR21iSA==?=", true},
        {"a long subject in several words",
         "me@here.test",
         "Kestrel-Ergebnisse f\xc3\xbcr die B\xc3\xbcros in K\xc3\xb6ln, D\xc3\xbcsseldorf und L\xc3\xbc"
         "beck: Prozessor, Grafik und Festplatte \xe2\x80\x93 M\xc3\xa4rz",
         "line one\r\n", "me@here.test",
         "=?UTF-8?B?S2VzdHJlbC1FcmdlYm5pc3NlIGbDvHIgZGllIELDvHJvcyBpbiBL?=\r\n"
         " =?UTF-8?B?w7ZsbiwgRMO8c3NlbGRvcmYgdW5kIEzDvGJlY2s6IFByb3plc3Nv?=\r\n"
         " =?UTF-8?B?ciwgR3JhZmlrIHVuZCBGZXN0cGxhdHRlIOKAkyBNw6Ryeg==?=",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::SmtpSink sink(kt::SinkScript{});
        kp::BoxRecorder boxes;
        mail::MailHost host;
        host.library_folder = KESTREL_SOCKET_DIR;
        host.read_settings = [&] { return mail::MailSettings{0, sink.server(), c.sender}; };
        mail::Message m = Basic();
        m.subject = c.subject;
        m.body = c.body;
        ASSERT_EQ(mail::mainmail(m, host), 0);
        const std::string headers = Headers(sink.Received());
        EXPECT_EQ(headers, "Date: <date>\r\nFrom: " + c.from + "\r\nSender: <user>@<host>\r\nMessage-ID: <id>\r\n"
                           "Subject: " + c.subject_lines + "\r\nTo: a@x.test\r\n" + (c.mime ? mime : "") +
                           "X-Info:  Kestrel version 1.21 Mailer Daemon\r\nX-Mailer: <Kestrel version 1.21> \r\n");
        for (size_t start = 0, end; (end = headers.find("\r\n", start)) != std::string::npos; start = end + 2)
            EXPECT_LE(end - start, 76u) << headers.substr(start, end - start);
    }
}

// Twenty long paths fold to a line each, every line well within the 998 octets a server takes,
// and the unfolded header is the list again. A path too long for any line is named by its file.
TEST_F(Smtp, ALongAttachmentListIsFoldedOnePathALine) {
    std::string twenty;
    for (int i = 0; i < 20; ++i)
        twenty += std::string(i > 0 ? "; " : "") + "/home/user/benchmarks/" + std::string(150, char('a' + i)) + "/run.bmf";
    const std::string deep = "/" + std::string(1200, 'd') + "/deep run.bmf";
    struct Case {
        const char* name;
        std::string list;
        std::string unfolded;
    };
    const std::vector<Case> cases = {
        {"twenty paths", twenty, twenty},
        {"one path too long for a line", deep + "; /tmp/b.bmf", ".../deep run.bmf; /tmp/b.bmf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::SmtpSink sink(kt::SinkScript{});
        mail::Message m = Basic();
        m.fileIsAttached = true;
        m.attached_files = c.list;
        ASSERT_EQ(Send(m, sink.server()).result, 0);
        const std::string headers = Headers(sink.Received());
        size_t lines = 0;
        for (size_t start = 0, end; (end = headers.find("\r\n", start)) != std::string::npos; start = end + 2, ++lines)
            EXPECT_LT(end - start, 300u);
        const size_t at = headers.find("X-Attachment:  ");
        ASSERT_NE(at, std::string::npos) << headers;
        const size_t value = at + 15;
        const std::string folded = headers.substr(value, headers.find("\r\nX-Info:") - value);
        EXPECT_EQ(std::regex_replace(folded, std::regex("\r\n"), ""), c.unfolded);
        EXPECT_EQ(std::count(folded.begin(), folded.end(), '\n'), std::count(c.unfolded.begin(), c.unfolded.end(), ';'));
    }
}

// The Date header's zone is a number, whatever the zone's name; the names are English.
TEST_F(Smtp, TheDateHasANumericZone) {
    struct Case {
        const char* tz;
        time_t when;
        const char* date;
    };
    const std::vector<Case> cases = {
        {"Europe/Berlin", 1796837439, "Wed, 09 Dec 2026 18:30:39 +0100"},
        {"Europe/Berlin", 1782923439, "Wed, 01 Jul 2026 18:30:39 +0200"},
        {"America/New_York", 1768478400, "Thu, 15 Jan 2026 07:00:00 -0500"},
        {"Asia/Kolkata", 1768478400, "Thu, 15 Jan 2026 17:30:00 +0530"},
        {"UTC", 1768478400, "Thu, 15 Jan 2026 12:00:00 +0000"},
    };
    for (const Case& c : cases) {
        setenv("TZ", c.tz, 1);
        tzset();
        EXPECT_EQ(mail::MailDate(c.when), c.date) << c.tz;
    }
}

TEST_F(Smtp, FailuresShowTheirBoxesAndEndTheSession) {
    struct Case {
        const char* name;
        kt::SinkScript script;
        bool network_up;
        std::vector<std::string> boxes;
        const char* sent_tail;  // how the client's part of the dialogue ends ("" for none at all)
    };
    kt::SinkScript refused_rcpt;
    refused_rcpt.rcpt = {"550 no such user\r\n"};
    kt::SinkScript bad_banner;
    bad_banner.banner = "554 go away\r\n";
    kt::SinkScript stalls;
    stalls.stall_after_banner = true;
    kt::SinkScript rejects;
    rejects.end_of_data = "552 too big\r\n";
    const std::vector<Case> cases = {
        {"recipient refused", refused_rcpt, true,
         {"SMTP Exception: SMTP error:  Error in senderID for 'To:' field name 'a@x.test'."}, "RCPT To: <a@x.test>\r\nQUIT\r\n"},
        {"banner refused", bad_banner, true,
         {"SMTP Exception: SMTP server error:  cannot maintain socket connection"}, "QUIT\r\n"},
        {"server stalls", stalls, true,
         {"Sockets Exception: Kestrel TCP Error module: Kestrel tcp get text ",
          "SMTP Exception: SMTP server error:  inquiry not handled"},
         "QUIT\r\n"},
        {"message rejected", rejects, true,
         {"SMTP Exception: SMTP Server Error:  The e-mail message was rejected by the server!"}, "\r\n.\r\nQUIT\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::SmtpSink sink(c.script);
        const Sent s = Send(Basic(), sink.server(), c.network_up);
        EXPECT_EQ(s.result, -1);
        EXPECT_EQ(s.boxes, c.boxes);
        const std::string got = sink.Received();
        EXPECT_TRUE(got.ends_with(c.sent_tail)) << got;
        // The client ended the connection; the sink never had to give up on it.
        EXPECT_TRUE(sink.client_closed_first());
    }
}

TEST_F(Smtp, ATransferCutByTheServerEndsWithOneBoxAndNoReplyRead) {
    kt::SinkScript script;
    script.reset_after_354 = true;
    kt::SmtpSink sink(script);
    mail::Message m = Basic();
    m.body = std::string(4 << 20, 'x');
    const Sent s = Send(m, sink.server());
    EXPECT_EQ(s.result, -1);
    EXPECT_EQ(s.boxes, (std::vector<std::string>{"SMTP Exception: Could not transfer the entire message",
                                                 "Sockets Exception: Kestrel TCP Error module: Kestrel tcp transfer data "}));
}

TEST_F(Smtp, ARefusedConnectNamesTheLocalCause) {
    for (bool up : {false, true}) {
        const Sent s = Send(Basic(), RefusingServer(), up);
        EXPECT_EQ(s.result, -1);
        EXPECT_EQ(s.boxes, std::vector<std::string>{std::string("Sockets Exception: Kestrel TCP Error module: kestrel tcp "
                                                                "connect.  Possible cause:  ") +
                                                    (up ? "incorrect SMTP server " : "Lost or Unfound network connection ")});
    }
}

// A resolver that never answers: the lookup of the server's name ends within the connect wait,
// with the failure box of a connect, and nothing reaches the server.
TEST_F(Smtp, ANameLookupThatNeverAnswersEndsTheSend) {
    kt::SmtpSink sink(kt::SinkScript{});
    setenv("KESTREL_TEST_NAME_LOOKUP_STALLS", "1", 1);
    // Only so that a lookup without an end fails the test rather than holding it: a watchdog far
    // beyond the library's wait.
    std::promise<void> done;
    std::thread watchdog([ended = done.get_future()] {
        if (ended.wait_for(std::chrono::seconds(120)) == std::future_status::ready) return;
        ADD_FAILURE() << "the send still waits for the name lookup";
        std::_Exit(1);
    });
    const Sent s = Send(Basic(), sink.server());
    done.set_value();
    watchdog.join();
    unsetenv("KESTREL_TEST_NAME_LOOKUP_STALLS");
    EXPECT_EQ(s.result, -1);
    EXPECT_EQ(s.boxes, std::vector<std::string>{"Sockets Exception: Kestrel TCP Error module: kestrel tcp connect.  "
                                                "Possible cause:  incorrect SMTP server "});
    EXPECT_FALSE(sink.accepted());
}

TEST_F(Smtp, WithoutTheSocketLibraryNothingIsSent) {
    kt::SmtpSink sink(kt::SinkScript{});
    const Sent s = Send(Basic(), sink.server(), true, kt::FreshDir("nolib"));
    EXPECT_EQ(s.result, -1);
    EXPECT_EQ(s.boxes, std::vector<std::string>{"Library Exception: Error loading libkestrel.so"});
    EXPECT_FALSE(sink.accepted());
}

TEST_F(Smtp, MissingSettingsOpenThePreferences) {
    kp::BoxRecorder boxes;
    bool preferences = false;
    mail::MailHost host;
    host.library_folder = KESTREL_SOCKET_DIR;
    host.read_settings = [] { return mail::MailSettings{2, "", "me@here.test"}; };
    host.open_preferences = [&] { preferences = true; };
    EXPECT_EQ(mail::mainmail(Basic(), host), -1);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "SMTP server value is not set.  Check the Preferences dialog.");
    EXPECT_TRUE(preferences);
}

// The library's host-name lookup may outlive the call that started it (on a thread the call stops
// waiting for); the client closes the library after every message, so it must stay mapped.
TEST(SocketLibrary, StaysMappedAfterTheClientsLastClose) {
    const std::string path = std::string(KESTREL_SOCKET_DIR) + "/libkestrel.so";
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    dlclose(lib);
    void* still = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    EXPECT_NE(still, nullptr);
    if (still != nullptr) dlclose(still);
}

}  // namespace

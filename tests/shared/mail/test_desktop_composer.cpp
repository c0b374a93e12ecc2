// The hand-over to the desktop's mail composer, with a fake xdg-email first in PATH that writes
// its arguments to a file and ends with a chosen code.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/msgbox.h"
#include "shared/mail/transport.h"
#include "tests/support/isolation.h"

namespace {

// The arguments the fake tool got (one per line of its record) and, for an attached file, the
// file's text as it was while the tool ran.
std::vector<std::string> Arguments(const std::string& record) {
    std::vector<std::string> args;
    std::string text = kt::ReadFile(record);
    size_t start = 0;
    for (size_t nul = text.find('\0'); nul != std::string::npos; nul = text.find('\0', start)) {
        args.push_back(text.substr(start, nul - start));
        start = nul + 1;
    }
    return args;
}

TEST(DesktopComposer, ArgumentsAndExitCodesGiveTheResults) {
    kt::IsolateEnvironment();
    const std::string bin = kt::FreshDir("bin");
    const std::string record = kt::TempDir() + "/args";
    kt::WriteFile(bin + "/xdg-email",
                  "#!/bin/sh\n"
                  "PATH=/usr/bin:/bin\n"
                  "exec >/dev/null 2>&1\n"  // a composer left open holds no output of the test's
                  ": > \"$FAKE_RECORD\"\n"
                  "for a in \"$@\"; do printf '%s\\0' \"$a\" >> \"$FAKE_RECORD\"; done\n"
                  "prev=\nfor a in \"$@\"; do [ \"$prev\" = --attach ] && cp \"$a\" \"$FAKE_RECORD.attached\"; prev=$a; done\n"
                  "echo $$ > \"$FAKE_RECORD.pid\"\n"
                  // Held open until the test writes to the pipe.
                  "[ -n \"$FAKE_HOLD\" ] && read x < \"$FAKE_HOLD\" && : > \"$FAKE_RECORD.ended\"\n"
                  "exit $FAKE_EXIT\n");
    chmod((bin + "/xdg-email").c_str(), 0755);
    const std::string empty = kt::FreshDir("empty");
    setenv("FAKE_RECORD", record.c_str(), 1);

    mail::Message m;
    m.to = "a@x.test";
    m.subject = "Results";
    m.body = "line one\r\n\r\nNT-Attachment:  /tmp/a.bmf\r\nBegin File 1:\r\n\r\n";
    mail::Message long_one = m;
    long_one.body = std::string(150000, 'y') + "\r\nlast\r\n";
    // The composer gets LF line ends: it makes CR LF of each LF itself.
    const std::vector<std::string> short_args = {"--utf8", "--subject", "Results", "--body",
                                                 "line one\n\nNT-Attachment:  /tmp/a.bmf\nBegin File 1:\n\n"};
    const std::string hold = kt::TempDir() + "/hold";
    ASSERT_EQ(mkfifo(hold.c_str(), 0600), 0);

    struct Case {
        const char* name;
        std::string path;
        const char* exit;
        const mail::Message* message;
        int result;
        bool box;  // "Message Not Sent!"
        bool held = false;  // the composer stays open until the test lets it end
    };
    const std::vector<Case> cases = {
        {"handed over", bin, "0", &m, 0, false},
        {"composer failed", bin, "4", &m, 0, true},
        {"no composer", empty, "0", &m, 2, true},
        {"long body", bin, "0", &long_one, 0, false},
        // The composer is waited for a bounded time (60 s, scaled down here), then left open.
        {"composer left open", bin, "0", &m, 0, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::WriteFile(record, "");
        setenv("PATH", c.path.c_str(), 1);
        setenv("FAKE_EXIT", c.exit, 1);
        setenv("FAKE_HOLD", c.held ? hold.c_str() : "", 1);
        if (c.held) setenv("KESTREL_TEST_SLEEP_SCALE", "0.001", 1);
        else unsetenv("KESTREL_TEST_SLEEP_SCALE");
        unlink((record + ".ended").c_str());
        unlink((record + ".pid").c_str());
        kp::BoxRecorder boxes;
        mail::MailHost host;
        EXPECT_EQ(mail::DoMapiMail(*c.message, host), c.result);
        if (c.box) {
            ASSERT_EQ(boxes.boxes().size(), 1u);
            EXPECT_EQ(boxes.boxes()[0].text, "Message Not Sent!");
            EXPECT_EQ(boxes.boxes()[0].caption, "Mail Exception");
        } else {
            EXPECT_TRUE(boxes.boxes().empty());
        }
        const std::vector<std::string> args = Arguments(record);
        if (c.held) {
            // The call came back while the composer was still open (how far it got is its own).
            struct stat st{};
            EXPECT_NE(stat((record + ".ended").c_str(), &st), 0);
            // Once it ends it is reaped at once: no zombie is left until the next mail.
            // The composer's read has the pipe open once a writer can open it without waiting.
            const auto given_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            int fd = -1;
            while ((fd = open(hold.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0 && errno == ENXIO &&
                   std::chrono::steady_clock::now() < given_up) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            ASSERT_GE(fd, 0) << "the composer never came to its read";
            close(fd);
            const pid_t pid = std::stoi(kt::ReadFile(record + ".pid"));
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (kill(pid, 0) == 0 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            EXPECT_NE(kill(pid, 0), 0) << "the ended composer is still a child of the program";
        } else if (c.path == empty) {
            EXPECT_TRUE(args.empty());
        } else if (c.message == &long_one) {
            // Too long for one argument: the body goes as a file, removed once the tool has ended.
            ASSERT_EQ(args.size(), 7u);
            EXPECT_EQ(args[4], "The message text is in the attached file.");
            EXPECT_EQ(args[5], "--attach");
            EXPECT_TRUE(kt::ReadFile(record + ".attached") == std::string(150000, 'y') + "\nlast\n");
            struct stat st{};
            EXPECT_NE(stat(args[6].c_str(), &st), 0);
        } else {
            EXPECT_EQ(args, short_args);
        }
    }
}

}  // namespace

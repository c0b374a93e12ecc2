// The message text: report lines, signature and attachment blocks.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/msgbox.h"
#include "shared/mail/compose.h"
#include "tests/support/isolation.h"

namespace {

TEST(Compose, BodySignatureAndAttachmentBlocks) {
    kt::IsolateEnvironment();
    kp::BoxRecorder boxes;
    std::string body = mail::ReportBody({"one", "two", "three"});
    ASSERT_TRUE(mail::AppendSignature(kt::WriteFile(kt::TempDir() + "/sig", "-- \r\nme\n"), &body));
    EXPECT_EQ(body, "one\r\ntwo\r\nthree\r\n-- \r\nme\n");
    EXPECT_FALSE(mail::AppendSignature(kt::TempDir() + "/none", &body));
    // A pipe (no writer) or a device is no signature: said, and the text stays as it is.
    const std::string pipe = kt::TempDir() + "/pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& odd : {pipe, std::string("/dev/zero")}) {
        boxes.Clear();
        EXPECT_TRUE(mail::AppendSignature(odd, &body)) << odd;
        EXPECT_EQ(body, "one\r\ntwo\r\nthree\r\n-- \r\nme\n");
        ASSERT_EQ(boxes.boxes().size(), 1u) << odd;
        EXPECT_EQ(boxes.boxes()[0].text, "Error reading data from signature file");
    }
    boxes.Clear();

    const std::string a = kt::WriteFile(kt::TempDir() + "/a.bmf", "A1\r\nA2");
    const std::string b = kt::WriteFile(kt::TempDir() + "/b.bmf", "B1\r\n");
    // A folder or a pipe opens but cannot be read: skipped with its box, the rest goes.
    const std::string folder = kt::FreshDir("folder");
    const std::vector<std::string> paths = mail::SplitAttachments(a + "; " + folder + "; " + pipe + "; " + b);
    ASSERT_EQ(paths, (std::vector<std::string>{a, folder, pipe, b}));
    struct Case {
        mail::AttachHeader header;
        bool keep_last;
        std::string blocks;
    };
    const std::string follow = "******************** Attachment(s) Follow ******************\r\n\r\n";
    const std::string end = "\r\n\r\n******************** Attachment(s) End ******************\r\n";
    const std::vector<Case> cases = {
        {mail::AttachHeader::Smtp, true,
         follow + "\r\nX-Attachment:  " + a + "\r\nBegin File 1:\r\n\r\nA1\r\nA2" + "\r\nX-Attachment:  " + b +
             "\r\nBegin File 4:\r\n\r\nB1\r\n" + end},
        {mail::AttachHeader::Desktop, false,
         follow + "\r\nNT-Attachment:  " + a + "\r\nBegin File 1:\r\n\r\nA1\r\n" + "\r\nNT-Attachment:  " + b +
             "\r\nBegin File 4:\r\n\r\nB1\r\n" + end},
    };
    for (const Case& c : cases) {
        boxes.Clear();
        std::string text = "body\r\n";
        ASSERT_TRUE(mail::AppendAttachments(paths, c.header, c.keep_last, &text));
        EXPECT_EQ(text, "body\r\n" + c.blocks);
        ASSERT_EQ(boxes.boxes().size(), 2u);
        EXPECT_EQ(boxes.boxes()[0].text, "Cannot read file '" + folder + "', file being skipped");
        EXPECT_EQ(boxes.boxes()[1].text, "Cannot read file '" + pipe + "', file being skipped");
    }
    // A file that cannot be opened stops the send.
    boxes.Clear();
    std::string text = "body";
    EXPECT_FALSE(mail::AppendAttachments({a, kt::TempDir() + "/gone.bmf"}, mail::AttachHeader::Smtp, true, &text));
    EXPECT_EQ(text, "body");
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Could not open the file '" + kt::TempDir() + "/gone.bmf'.");
    // At most 25 paths.
    std::string many;
    for (int i = 0; i < 30; ++i) many += (i ? "; p" : "p") + std::to_string(i);
    EXPECT_EQ(mail::SplitAttachments(many).size(), 25u);
}

}  // namespace

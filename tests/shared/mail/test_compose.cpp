// The message text: report lines, signature and attachment blocks.
#include <gtest/gtest.h>

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

    const std::string a = kt::WriteFile(kt::TempDir() + "/a.bmf", "A1\r\nA2");
    const std::string b = kt::WriteFile(kt::TempDir() + "/b.bmf", "B1\r\n");
    // A folder opens for reading but cannot be read: skipped with its box, the rest goes.
    const std::string folder = kt::FreshDir("folder");
    const std::vector<std::string> paths = mail::SplitAttachments(a + "; " + folder + "; " + b);
    ASSERT_EQ(paths, (std::vector<std::string>{a, folder, b}));
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
             "\r\nBegin File 3:\r\n\r\nB1\r\n" + end},
        {mail::AttachHeader::Desktop, false,
         follow + "\r\nNT-Attachment:  " + a + "\r\nBegin File 1:\r\n\r\nA1\r\n" + "\r\nNT-Attachment:  " + b +
             "\r\nBegin File 3:\r\n\r\nB1\r\n" + end},
    };
    for (const Case& c : cases) {
        boxes.Clear();
        std::string text = "body\r\n";
        ASSERT_TRUE(mail::AppendAttachments(paths, c.header, c.keep_last, &text));
        EXPECT_EQ(text, "body\r\n" + c.blocks);
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, "Cannot read file '" + folder + "', file being skipped");
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

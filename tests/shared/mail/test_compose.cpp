// The message text: report lines, signature and attachment blocks.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/msgbox.h"
#include "shared/mail/compose.h"
#include "tests/support/data_size_limit.h"
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
    const std::vector<std::string> paths = mail::SplitAttachments(a + "; " + folder + "; " + pipe + "; " + b, true).paths;
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
        std::string attached;
        ASSERT_TRUE(mail::AppendAttachments(paths, c.header, c.keep_last, &text, &attached));
        EXPECT_EQ(text, "body\r\n" + c.blocks);
        // The list for the header names the files attached, not the ones skipped.
        EXPECT_EQ(attached, a + "; " + b);
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
}

// A typed list is capped: 25 paths that end within its first 15000 characters. What is past the
// caps is left out whole (never a path cut short), named in one box before anything is sent.
TEST(Compose, ATypedListIsCappedAndWhatIsLeftOutIsSaid) {
    std::vector<std::string> many;
    std::string list;
    for (int i = 0; i < 30; ++i) {
        many.push_back("/r/p" + std::to_string(i));
        list += (i ? "; " : "") + many.back();
    }
    const std::string long_path = "/r/" + std::string(15000, 'x');  // ends past the 15000th character
    struct Case {
        const char* name;
        std::string text;
        bool capped;
        std::vector<std::string> paths;
        std::vector<std::string> left_out;
    };
    const std::vector<Case> cases = {
        {"30 typed", list, true, {many.begin(), many.begin() + 25}, {many.begin() + 25, many.end()}},
        {"30 chosen", list, false, many, {}},
        {"cut inside a path", "/r/a; " + long_path + "; /r/b", true, {"/r/a"}, {long_path, "/r/b"}},
        {"empty pieces", "; /r/a; ; /r/b", true, {"/r/a", "/r/b"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const mail::Attachments got = mail::SplitAttachments(c.text, c.capped);
        EXPECT_EQ(got.paths, c.paths);
        EXPECT_EQ(got.left_out, c.left_out);
    }
    kp::BoxRecorder boxes;
    mail::SayLeftOut({});
    EXPECT_TRUE(boxes.boxes().empty());
    mail::SayLeftOut({"/r/p25", "/r/p26"});
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, "Mail Exception");
    EXPECT_EQ(boxes.boxes()[0].text,
              "Not attached (at most 25 files within the first 15000 characters of the list):\n/r/p25\n/r/p26");
}

// A signature or an attachment too large to be held in memory is said in its box and ends only
// that step: the message text stays as it was.
TEST(Compose, AFileTooLargeToHoldIsSaid) {
    kt::IsolateEnvironment();
    kp::BoxRecorder boxes;
    const std::string huge = kt::TempDir() + "/huge.bmf";
    ASSERT_EQ(truncate(kt::WriteFile(huge, "").c_str(), off_t(1) << 30), 0);  // sparse: no disk used
    const kt::DataSizeLimit limit(rlim_t(64) << 20);
    std::string body = "body\r\n";
    EXPECT_TRUE(mail::AppendSignature(huge, &body));
    EXPECT_FALSE(mail::AppendAttachments({huge}, mail::AttachHeader::Smtp, true, &body));
    EXPECT_EQ(body, "body\r\n");
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0].caption + ": " + boxes.boxes()[0].text, "Memory Exception: Allocation Error");
    EXPECT_EQ(boxes.boxes()[1].caption + ": " + boxes.boxes()[1].text, "Memory Exception: Allocation Error!");
}

}  // namespace

// The viewer's reference results, printing and mail, offscreen: reference rows opened from the
// dialog, Print All to a PDF file read back with pdftotext, and mail to a sink on 127.0.0.1 or a
// stand-in desktop composer.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QPageLayout>
#include <QPageSize>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "glance/commands.h"
#include "glance/frame.h"
#include "glance/mail_dialog.h"
#include "glance/reference.h"
#include "glance/settings.h"
#include "platform/msgbox.h"
#include "platform/registry.h"
#include "shared/print_layout.h"
#include "shared/ui/help.h"
#include "shared/ui/print_job.h"
#include "tests/shared/mail/smtp_sink.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/isolation.h"
#include "tests/support/qt_test_main.h"

using namespace glance;

namespace {

using Lines = std::vector<std::string>;

bool Until(const std::function<bool()>& condition, int ms = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

std::string Output(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    pclose(pipe);
    return out;
}

std::string Folded(const std::string& s) {
    std::string out = std::regex_replace(s, std::regex(R"(\s+)"), " ");
    if (!out.empty() && out.front() == ' ') out.erase(0, 1);
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// The text read back with the font's ligatures ("fi", "fl", ...) spelt out: a random folder name
// can hold such a pair.
std::string Plain(std::string text) {
    static const std::pair<const char*, const char*> ligatures[] = {
        {"\xEF\xAC\x80", "ff"}, {"\xEF\xAC\x81", "fi"}, {"\xEF\xAC\x82", "fl"}, {"\xEF\xAC\x83", "ffi"}, {"\xEF\xAC\x84", "ffl"}};
    for (const auto& [from, to] : ligatures)
        for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, 3, to);
    return text;
}

// The text of each page: its lines with blanks folded and the date masked.
std::vector<Lines> PdfPages(const std::string& path) {
    const std::string text = Plain(Output("pdftotext -layout '" + path + "' - 2>/dev/null"));
    const std::regex date(R"([A-Z][a-z]{2} [A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \d{4})");
    std::vector<Lines> pages(1);
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) {
        for (size_t f; (f = line.find('\f')) != std::string::npos;) {
            pages.emplace_back();
            line.erase(f, 1);
        }
        line = Folded(std::regex_replace(line, date, "DATE"));
        if (!line.empty()) pages.back().push_back(line);
    }
    while (!pages.empty() && pages.back().empty()) pages.pop_back();
    return pages;
}

// The words that reach past the edges of their page.
std::vector<std::string> WordsOffThePage(const std::string& path) {
    const std::string text = Output("pdftotext -bbox '" + path + "' - 2>/dev/null");
    const std::regex page(R"re(<page width="([\d.]+)" height="([\d.]+)">)re");
    const std::regex word(
        R"re(<word xMin="([\d.-]+)" yMin="([\d.-]+)" xMax="([\d.-]+)" yMax="([\d.-]+)">([^<]*)</word>)re");
    std::vector<std::string> off;
    double width = 0, height = 0;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) {
        std::smatch m;
        if (std::regex_search(line, m, page)) {
            width = std::stod(m[1]);
            height = std::stod(m[2]);
        } else if (std::regex_search(line, m, word)) {
            // Half a point of rounding allowed.
            if (std::stod(m[1]) < -0.5 || std::stod(m[2]) < -0.5 || std::stod(m[3]) > width + 0.5 ||
                std::stod(m[4]) > height + 0.5)
                off.push_back(std::string(m[5]) + " at " + std::string(m[1]) + "," + std::string(m[2]) + "," +
                              std::string(m[3]) + "," + std::string(m[4]));
        }
    }
    return off;
}

// A page of 8 by 11 inches at 600 dots per inch, printed to its edges: 4800 by 6600 pixels.
void ChoosePdf(QPrinter& printer, const std::string& path) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(path));
    printer.setResolution(600);
    printer.setFullPage(true);
    printer.setPageLayout(QPageLayout(QPageSize(QSizeF(8, 11), QPageSize::Inch), QPageLayout::Portrait, QMarginsF()));
}

void Click(QWidget* parent, int id) {
    auto* b = parent->findChild<QPushButton*>(QString::number(id));
    ASSERT_NE(b, nullptr) << id;
    b->click();
}

class GlanceOutput : public ::testing::Test {
protected:
    void SetUp() override {
        kp::reg::DeleteTree(kp::reg::Root::CurrentUser, kViewerKey);
        dir = kt::FreshDir("docs");
    }
    void TearDown() override {
        frame.reset();
        SetPrinterChooser({});
        SetStandInPrinter({});
        SetSpoolerAnswerSource({});
    }
    Frame& Start() {
        frame = std::make_unique<Frame>();
        frame->program_directory = KESTREL_BIN_DIR;
        frame->Start("");
        return *frame;
    }
    // A result file opened in a new window; its lines.
    Lines OpenFile(const std::string& name, const Lines& lines) {
        std::string bytes;
        for (const std::string& l : lines) bytes += l + "\r\n";
        const std::string path = kt::WriteFile(dir + "/" + name, bytes);
        EXPECT_TRUE(frame->OpenResultFile(path));
        return lines;
    }
    // Double-clicks a row of the reference results dialog, as a person does.
    void DoubleClickRow(int row) {
        ReferenceDialog* dialog = frame->References();
        ASSERT_NE(dialog, nullptr);
        QListWidget* list = dialog->list();
        list->scrollToItem(list->item(row));
        const QPoint at = list->visualItemRect(list->item(row)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    }
    static void SetMailValues(const std::vector<std::pair<const char*, std::string>>& values) {
        kp::reg::DeleteTree(kp::reg::Root::CurrentUser, kKestrelKey);
        auto key = kp::reg::Key::Create(kp::reg::Root::CurrentUser, kKestrelKey);
        for (const auto& [name, text] : values) key->SetString(name, text);
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> t;
        for (const kp::BoxRequest& b : boxes.boxes()) t.push_back(b.caption + ": " + b.text);
        return t;
    }

    kp::BoxRecorder boxes;
    std::unique_ptr<Frame> frame;
    std::string dir;
};

TEST_F(GlanceOutput, ReferenceRowsOpenTheirReportsAndTheHeadingRowsNothing) {
    Frame& f = Start();
    f.Command(CMD_OPEN_REFERENCE);
    ReferenceDialog* dialog = f.References();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "Double-Click on an Item");
    ASSERT_EQ(dialog->list()->count(), 22);
    EXPECT_EQ(dialog->list()->currentRow(), 2);
    EXPECT_EQ(dialog->list()->item(1)->text(), QString(68, QChar('-')));

    DoubleClickRow(0);
    DoubleClickRow(1);
    EXPECT_EQ(f.Store().Count(), 0);

    // Shown lines (after the hidden first line) by row.
    const std::vector<std::pair<int, size_t>> rows = {{16, 85}, {14, 122}, {2, 128}, {13, 128}, {15, 94}, {21, 94}};
    for (const auto& [row, count] : rows) {
        DoubleClickRow(row);
        DocWindow* w = f.NewestDocument();
        ASSERT_NE(w, nullptr) << row;
        EXPECT_EQ(w->windowTitle().toStdString(), kReferenceTitles[row]);
        const Lines& lines = f.Store().Find(w->Id())->lines;
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], "Kestrel Results for the database of");
        EXPECT_EQ(lines.size() - 1, count) << "row " << row;
    }
    // The same row twice: two documents.
    DoubleClickRow(16);
    EXPECT_EQ(f.Store().Count(), int(rows.size()) + 1);
    EXPECT_EQ(f.Store().Find(f.Documents()[0]->Id())->lines, f.Store().Find(f.NewestDocument()->Id())->lines);

    // With twenty documents open nothing more opens.
    while (f.Store().Count() < kMaxDocuments) f.Command(CMD_NEW_DOCUMENT);
    DoubleClickRow(20);
    EXPECT_EQ(f.Store().Count(), kMaxDocuments);
    EXPECT_EQ(Texts(), Lines{"File Exception: Too many windows open!  Close one to view this benchmark data."});
}

TEST_F(GlanceOutput, PrintAllHeadsEachDocumentsPagesWithItsTitleAndItsOwnPageNumbers) {
    Frame& f = Start();
    const std::string pdf = kt::FreshDir("print") + "/glance.pdf";
    std::vector<PrinterDialog> kinds;
    // Printer setup picks the printer; the print dialog then leaves it as it is.
    SetPrinterChooser([&](QPrinter& printer, PrinterDialog kind, QWidget*) {
        kinds.push_back(kind);
        if (kind == PrinterDialog::Setup) ChoosePdf(printer, pdf);
        return true;
    });
    f.Command(CMD_PRINT_ALL);
    EXPECT_EQ(Texts(), Lines{"Print Queue Exception: No opened files to print"});
    EXPECT_TRUE(kinds.empty());
    boxes.Clear();

    f.OpenReferenceRow(20);
    const std::string reference = kReferenceTitles[20];
    const Lines b = OpenFile("b.bmf", {"Kestrel B", "b one", "b two"});
    // A: its first page filled so that a long line (at least 400 characters, over three printed
    // lines) starts in the page's last slot, then lines beyond it; a line longer than the printed
    // line.
    const DocView* view = f.Documents()[0]->View();
    const int per_page = LinesPerPage(6600, view->line_height, 6.0f);
    const int room = CharsPerLine(4800, double(view->char_width) * 6.0);
    Lines a;
    for (int i = 0; i < per_page - 3; ++i) a.push_back("a" + std::to_string(i) + " Score: " + std::to_string(i * 7));
    std::string wrapped = "wrapped";
    while (int(wrapped.size()) < std::max(400, 3 * room + room / 2)) wrapped += " w" + std::to_string(wrapped.size());
    const size_t pieces = CutForPrint(wrapped, room).size();
    ASSERT_GE(pieces, 4u);
    a.push_back(wrapped);
    a.push_back("after the wrapped line");
    a.push_back("a\tlast\tline");
    a = OpenFile("a.bmf", a);
    const Lines& ref_lines = f.Store().Find(f.Documents()[0]->Id())->lines;

    f.Command(CMD_PRINTER_SETUP);
    f.Command(CMD_PRINT_ALL);
    EXPECT_EQ(kinds, (std::vector<PrinterDialog>{PrinterDialog::Setup, PrinterDialog::Print}));
    EXPECT_TRUE(boxes.boxes().empty()) << Texts()[0];
    EXPECT_EQ(f.Progress(), nullptr);
    EXPECT_TRUE(f.isEnabled());
    EXPECT_EQ(f.Status()->Text(), QString());
    EXPECT_EQ(print_state.PageNumber, 0);

    // The documents top down: A, B, then the reference document; each document's pages carry its
    // title and count from 1; their lines follow in order, none lost.
    const std::vector<Lines> pages = PdfPages(pdf);
    struct Printed {
        std::string title;
        const Lines* lines;
        size_t pages;
    };
    const std::vector<Printed> order = {{dir + "/a.bmf", &a, 2}, {dir + "/b.bmf", &b, 1}, {reference, &ref_lines, 0}};
    size_t k = 0;
    for (const Printed& doc : order) {
        // Compared without their blanks: a cut line's pieces are two printed lines.
        const auto unblanked = [](const std::string& l) { return std::regex_replace(l, std::regex(R"(\s+)"), ""); };
        std::string printed, expected;
        for (const std::string& l : *doc.lines) expected += unblanked(l);
        size_t n = 0;
        for (; k < pages.size() && !pages[k].empty() && pages[k][0].rfind(Folded(doc.title + "; DATE"), 0) == 0; ++k) {
            ++n;
            EXPECT_EQ(pages[k][0], Folded(doc.title + "; DATE Page " + std::to_string(n))) << "page " << k + 1;
            for (size_t i = 1; i < pages[k].size(); ++i) printed += unblanked(pages[k][i]);
        }
        EXPECT_GE(n, 1u) << doc.title;
        if (doc.pages > 0) {
            EXPECT_EQ(n, doc.pages) << doc.title;
        }
        EXPECT_EQ(printed, expected) << doc.title;
    }
    EXPECT_EQ(k, pages.size()) << (pages.empty() || pages[0].empty() ? std::string() : pages[0][0]);
    // A's first page ends with the first piece of the long line, each further piece a line of
    // page 2; nothing is drawn beyond a page's edges.
    EXPECT_EQ(WordsOffThePage(pdf), Lines{});
    ASSERT_GE(pages.size(), 2u);
    EXPECT_EQ(pages[0].size(), size_t(per_page - 1));
    ASSERT_GT(pages[1].size(), pieces);
    EXPECT_EQ(pages[1][pieces], "after the wrapped line");

    // Print, later in the same run, goes to the same printer: the top document alone, into a file
    // of its own name in the folder chosen.
    const std::string folder = pdf.substr(0, pdf.rfind('/'));
    const std::string b_pdf = folder + "/b.pdf";
    f.Mdi()->setActiveSubWindow(f.Documents()[1]);
    f.Command(CMD_PRINT);
    EXPECT_EQ(Printer().outputFileName().toStdString(), b_pdf);
    const std::vector<Lines> again = PdfPages(b_pdf);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0], (Lines{Folded(dir + "/b.bmf; DATE Page 1"), "Kestrel B", "b one", "b two"}));

    // A file that cannot be written whole (as on a full disk) is not passed off as printed: the
    // box says so and no part of it is left.
    boxes.Clear();
    {
        kt::FileSizeLimit limit(2000);
        f.Command(CMD_PRINT);
    }
    EXPECT_EQ(Texts(), Lines{"Printer Exception: The document could not be written to " + b_pdf + "."});
    EXPECT_FALSE(QFile::exists(QString::fromStdString(b_pdf)));
    EXPECT_TRUE(f.isEnabled());

    // A job the printer system did not take (a stand-in printer whose jobs go to the file) gets
    // the box with its reason; one it took, none.
    SetStandInPrinter("PDF");
    for (const int status : {0x0506, 0x0000}) {
        boxes.Clear();
        SetSpoolerAnswerSource([&] { return std::optional<kp::SpoolerAnswer>(kp::SpoolerAnswer{status, "not accepting jobs"}); });
        f.Command(CMD_PRINT);
        EXPECT_EQ(Texts(), status == 0 ? Lines{} : Lines{"Printer Exception: The document could not be sent to the printer PDF.\nnot accepting jobs"});
        EXPECT_TRUE(f.isEnabled());
    }
    SetStandInPrinter({});
    SetSpoolerAnswerSource({});
    QFile::remove(QString::fromStdString(b_pdf));
    boxes.Clear();

    // A document without lines prints no page: printed alone, no job starts and no file is made.
    f.Command(CMD_NEW_DOCUMENT);
    f.Command(CMD_PRINT);
    struct stat st {};
    EXPECT_EQ(Printer().outputFileName().toStdString().rfind(folder + "/", 0), 0u);
    EXPECT_NE(stat(Printer().outputFileName().toLocal8Bit().constData(), &st), 0);

    // The print dialog holds the program: the document on top after it is the one printed.
    std::string next_top;
    SetPrinterChooser([&](QPrinter&, PrinterDialog kind, QWidget*) {
        if (kind != PrinterDialog::Print) return true;
        f.TopDocument()->close();
        next_top = f.TopDocument()->windowTitle().toStdString();
        return true;
    });
    f.Command(CMD_PRINT);
    const std::vector<Lines> after_dialog = PdfPages(Printer().outputFileName().toStdString());
    ASSERT_GE(after_dialog.size(), 1u);
    EXPECT_EQ(after_dialog[0][0], Folded(next_top + "; DATE Page 1"));

    // A close of the frame while it prints (the session ending) waits for the job to end.
    SetPrinterChooser([&](QPrinter&, PrinterDialog, QWidget*) {
        QCoreApplication::postEvent(&f, new QCloseEvent);
        return true;
    });
    f.Command(CMD_PRINT_ALL);
    EXPECT_EQ(PdfPages(Printer().outputFileName().toStdString()).size(), pages.size());
    EXPECT_TRUE(Until([&] { return f.Documents().empty(); }));
}

// The print dialog offers to print to a file named after the top document, not after the last
// job ("Glance - " and a whole path).
TEST_F(GlanceOutput, PrintToFileOffersTheTopDocumentsBaseName) {
    Frame& f = Start();
    const std::string pdf = kt::FreshDir("print") + "/glance.pdf";
    std::vector<std::string> offered;
    SetPrinterChooser([&](QPrinter& printer, PrinterDialog kind, QWidget*) {
        offered.push_back(printer.docName().toStdString());
        if (kind == PrinterDialog::Print) ChoosePdf(printer, pdf);
        return true;
    });
    OpenFile("first.run.bmf", {"Kestrel A", "a one"});
    f.Command(CMD_PRINT);
    OpenFile("second.bmf", {"Kestrel B", "b one"});
    f.Command(CMD_PRINT);
    f.Command(CMD_PRINT_ALL);
    EXPECT_EQ(offered, (std::vector<std::string>{"first.run.pdf", "second.pdf", "second.pdf"}));
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(Printer().docName().toStdString(), "Glance - Print All");
}

// The viewer's print to a pipe: nothing reading, and a reader that goes away after the first
// bytes, give the "Printer Exception" box and not the viewer's end (SIGPIPE) nor a hold.
TEST_F(GlanceOutput, APrintToAPipeWithoutItsReaderGivesTheBox) {
    Frame& f = Start();
    const std::string fifo = kt::FreshDir("fifo") + "/p.pdf";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    SetPrinterChooser([&](QPrinter& printer, PrinterDialog, QWidget*) {
        ChoosePdf(printer, fifo);
        return true;
    });
    // More than a pipe holds: lines that hardly compress.
    Lines lines;
    unsigned seed = 7;
    for (int i = 0; i < 3000; ++i) {
        std::string l;
        for (int k = 0; k < 60; ++k) {
            seed = seed * 1103515245u + 12345u;
            l += "0123456789abcdef"[(seed >> 16) & 15];
        }
        lines.push_back(l);
    }
    OpenFile("piped.bmf", lines);
    const std::string failed = "Printer Exception: The document could not be written to " + fifo + ".\n";
    for (const bool reader_comes : {false, true}) {
        SCOPED_TRACE(reader_comes ? "a reader that quits after the first bytes" : "no reader");
        boxes.Clear();
        std::thread reader;
        if (reader_comes) {
            // The read end is there before the job, without waiting for it; the reader takes the
            // first bytes and goes.
            const int fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            reader = std::thread([fd] {
                pollfd ready{fd, POLLIN, 0};
                char buf[100];
                while (poll(&ready, 1, -1) < 0 && errno == EINTR) {
                }
                (void)!read(fd, buf, sizeof buf);
                close(fd);
            });
        }
        // A job held in an open of the pipe (no reader) is let go after a while: the row fails.
        std::atomic<bool> done{false};
        std::thread watchdog([&] {
            for (int k = 0; k < 200 && !done; ++k) std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (done) return;
            if (const int r = open(fifo.c_str(), O_RDONLY | O_NONBLOCK); r >= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                close(r);
            }
        });
        f.Command(CMD_PRINT);
        done = true;
        watchdog.join();
        if (reader.joinable()) reader.join();
        EXPECT_EQ(Texts(), Lines{failed + (reader_comes ? "Its reader went away before the end of the document." : "Nothing reads from it.")});
        EXPECT_TRUE(f.isEnabled());
        EXPECT_EQ(f.Progress(), nullptr);
    }
}

TEST_F(GlanceOutput, MailAllSendsTheTopDocumentWithAReferenceDocumentAttachedUnderItsTitle) {
    kt::SmtpSink sink(kt::SinkScript{});
    const std::string signature = dir + "/no such signature.txt";
    const std::string files = dir + "/donn\xC3\xA9" "es";
    mkdir(files.c_str(), 0755);
    SetMailValues({{"SMTP server", sink.server()},
                   {"Sender", "me@here.test (J\xC3\xB6rg M\xC3\xBCller)"},
                   {"Last User", "you@x.test"},
                   {"Your Name", "Me"},
                   {"Kestrel directory", dir},
                   {"Kes Files Directory", files},
                   {"Signiature File", signature}});
    Frame& f = Start();
    f.OpenReferenceRow(20);
    const std::string reference = kReferenceTitles[20];
    std::string reference_text;
    for (const std::string& l : f.Store().Find(f.Documents()[0]->Id())->lines) reference_text += l + "\r\n";
    // A document whose path is not plain ASCII is attached by that path.
    OpenFile("r\xC3\xA9sultat.bmf", {"r one"});
    const std::string accented = dir + "/r\xC3\xA9sultat.bmf";
    OpenFile("a.bmf", {"Kestrel A", "Score: 1"});
    const std::string attached = kt::WriteFile(dir + "/c.bmf", "c one\r\nc last");

    // The signature file is missing: said once, and the message is there all the same.
    f.Command(CMD_MAIL_ALL);
    EXPECT_EQ(Texts(), Lines{"Mail Exception: Could not open file " + signature + " for read"});
    MailDialog* mail = f.Mail();
    ASSERT_NE(mail, nullptr);
    EXPECT_EQ(mail->windowTitle(), "Mail File");
    EXPECT_EQ(mail->sendtext(), "Kestrel A\r\nScore: 1\r\n");
    EXPECT_EQ(mail->field(10)->text(), "you@x.test");
    EXPECT_EQ(mail->field(11)->text(), QString::fromUtf8("me@here.test (J\xC3\xB6rg M\xC3\xBCller)"));
    EXPECT_EQ(mail->field(18)->text().toStdString(), reference + "; " + accented);
    EXPECT_TRUE(mail->findChild<QRadioButton*>("16")->isChecked());
    boxes.Clear();

    // Help: the mail page in the shared help window.
    Click(mail, 9);
    ASSERT_NE(HelpWindow::Current(), nullptr);
    EXPECT_EQ(HelpWindow::Current()->Page(), HelpPageOfContext(kMailHelpContext));
    EXPECT_EQ(HelpWindow::Current()->Page(), "glance.html#mail");

    mail->attach_dialog = [&](const QString& from) {
        EXPECT_EQ(from.toStdString(), files);
        return QStringList{QString::fromStdString(attached)};
    };
    Click(mail, 19);
    mail->field(10)->clear();
    Click(mail, 1);
    EXPECT_EQ(Texts(), Lines{"Mail Exception: Set To field before sending mail."});
    ASSERT_NE(f.Mail(), nullptr);

    // The viewer's From field is the sender of this message.
    boxes.Clear();
    mail->field(10)->setText("amy@x.test");
    mail->field(11)->setText(QString::fromUtf8("other@x.test (J\xC3\xB6rg)"));
    mail->field(14)->setText(QString::fromUtf8("R\xC3\xA9" "f\xC3\xA9rence"));
    Click(mail, 1);
    EXPECT_TRUE(boxes.boxes().empty()) << Texts()[0];
    EXPECT_TRUE(Until([&] { return f.Mail() == nullptr; }));
    const std::string got = sink.Received();
    EXPECT_NE(got.find("MAIL From:<other@x.test>\r\nRCPT To: <amy@x.test>\r\nDATA\r\n"), std::string::npos) << got;
    // Name and subject as UTF-8 encoded words, the attachment list one name a line, and the
    // 8-bit text (a path in a block) declared UTF-8.
    EXPECT_NE(got.find("\r\nFrom: =?UTF-8?B?SsO2cmc=?= <other@x.test>\r\n"), std::string::npos) << got;
    EXPECT_NE(got.find("Subject: =?UTF-8?B?UsOpZsOpcmVuY2U=?=\r\nTo: amy@x.test\r\nX-Attachment:  " + reference + ";\r\n " +
                       accented + ";\r\n " + attached +
                       "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                       "Content-Transfer-Encoding: 8bit\r\n"
                       "X-Info:  Glance for Kestrel version 1.21 Mailer Daemon\r\n"
                       "X-Mailer: <Glance for Kestrel version 1.21> \r\n\r\n"
                       "Kestrel A\r\nScore: 1\r\n"
                       "******************** Attachment(s) Follow ******************\r\n\r\n"
                       "\r\nX-Attachment:  " + reference + "\r\nBegin File 1:\r\n\r\n" + reference_text +
                       "\r\nX-Attachment:  " + accented + "\r\nBegin File 2:\r\n\r\nr one\r\n" +
                       "\r\nX-Attachment:  " + attached + "\r\nBegin File 3:\r\n\r\nc one\r\nc last"
                       "\r\n\r\n******************** Attachment(s) End ******************\r\n.\r\nQUIT\r\n"),
              std::string::npos)
        << got;
    // "Last User" keeps the To text; the stored Sender stays.
    MailPreferences stored;
    EXPECT_EQ(ReadMailPreferences(stored), 0);
    EXPECT_EQ(stored.LastUser, "amy@x.test");
    EXPECT_EQ(stored.Sender, "me@here.test (J\xC3\xB6rg M\xC3\xBCller)");
}

TEST_F(GlanceOutput, TheDesktopComposerGetsReferenceDocumentsAttachedToo) {
    const std::string bin = kt::FreshDir("bin");
    const std::string record = kt::TempDir() + "/args";
    kt::WriteFile(bin + "/xdg-email",
                  "#!/bin/sh\n"
                  ": > \"$FAKE_RECORD\"\n"
                  "for a in \"$@\"; do printf '%s\\0' \"$a\" >> \"$FAKE_RECORD\"; done\n"
                  "exit 0\n");
    chmod((bin + "/xdg-email").c_str(), 0755);
    setenv("FAKE_RECORD", record.c_str(), 1);
    setenv("PATH", (bin + ":" + std::getenv("PATH")).c_str(), 1);
    SetMailValues({{"SMTP server", "127.0.0.1:1"}, {"Sender", "me@here.test"}, {"Kes Files Directory", dir}});

    Frame& f = Start();
    f.OpenReferenceRow(16);
    const std::string reference = kReferenceTitles[16];
    std::string reference_text;
    for (const std::string& l : f.Store().Find(f.Documents()[0]->Id())->lines) reference_text += l + "\r\n";
    OpenFile("a.bmf", {"Kestrel A"});
    f.Command(CMD_MAIL_ALL);
    MailDialog* mail = f.Mail();
    ASSERT_NE(mail, nullptr);
    mail->field(14)->setText("Acer");
    mail->findChild<QRadioButton*>("17")->click();
    EXPECT_TRUE(boxes.boxes().empty()) << Texts()[0];
    EXPECT_TRUE(Until([&] { return f.Mail() == nullptr; }));
    const std::string args = kt::ReadFile(record);
    // LF line ends: the composer makes CR LF of each LF itself.
    std::string lines = reference_text;
    for (size_t cr; (cr = lines.find("\r\n")) != std::string::npos;) lines.erase(cr, 1);
    const std::string body = "Kestrel A\n"
                             "******************** Attachment(s) Follow ******************\n\n"
                             "\nNT-Attachment:  " + reference + "\nBegin File 1:\n\n" + lines +
                             "\n\n******************** Attachment(s) End ******************\n";
    EXPECT_EQ(args, std::string("--utf8\0--subject\0Acer\0--body\0", 29) + body + std::string(1, '\0'));
}

// The To list is kept to 1023 bytes, cut where a character ends: a character across the cut is
// left out whole, so the list reads back as the characters it had, whether the viewer stored it
// on sending or kestrel stored a longer one.
TEST_F(GlanceOutput, TheStoredToListIsCutWhereACharacterEnds) {
    const struct Row {
        size_t before;          // bytes in front of the character
        const char* character;  // UTF-8
    } rows[] = {
        {1022, "\xC3\xA9"},          // é across the cut
        {1021, "\xE2\x82\xAC"},      // € across the cut, two bytes in
        {1022, "\xE2\x82\xAC"},      // € with one byte in
        {1020, "\xF0\x9F\x98\x80"},  // a four-byte character three bytes in
        {1021, "\xF0\x9F\x98\x80"},  // and two bytes in
        {1023, "\xC3\xA9"},          // é just after the cut
        {1020, "\xE2\x82\xAC"},      // € that ends at the cut: kept
        {1019, "\xF0\x9F\x98\x80"},  // a four-byte character that ends at the cut: kept
    };
    for (const Row& row : rows) {
        const std::string character = row.character;
        SCOPED_TRACE(testing::Message() << row.before << " bytes, then " << character.size());
        const std::string full = "to@x.test (" + std::string(row.before - 11, 'a') + character + ") b@x.test";
        const std::string kept = full.substr(0, row.before + character.size() <= 1023 ? 1023 : row.before);
        // Kept longer by kestrel: read whole characters into the To field.
        SetMailValues({{"SMTP server", "127.0.0.1:1"}, {"Sender", "me@here.test"}, {"Last User", full}});
        frame.reset();
        Frame& f = Start();
        OpenFile("a.bmf", {"Kestrel A"});
        boxes.Clear();
        f.Command(CMD_MAIL);
        MailDialog* mail = f.Mail();
        ASSERT_NE(mail, nullptr);
        EXPECT_EQ(mail->field(10)->text(), QString::fromUtf8(kept.data(), qsizetype(kept.size())));
        // Stored on sending (the settings are written before the fields are checked).
        mail->field(10)->setText(QString::fromUtf8(full.data(), qsizetype(full.size())));
        mail->field(11)->clear();
        Click(mail, 1);
        EXPECT_EQ(Texts(), Lines{"Mail Exception: Set From field before sending mail."});
        MailPreferences stored;
        ReadMailPreferences(stored);
        EXPECT_EQ(stored.LastUser, kept);
        EXPECT_EQ(kp::reg::Key::Open(kp::reg::Root::CurrentUser, kKestrelKey)->QueryString("Last User").value_or(""),
                  kept);
    }
}

TEST(GlanceMailSettings, TheFirstMissingValueGivesTheCode) {
    const std::vector<const char*> all = {"Last User",         "SMTP server",     "Sender",
                                          "Your Name",         "Kestrel directory", "Signiature File",
                                          "Kes Files Directory"};
    struct Case {
        std::vector<const char*> missing;
        int code;
    };
    const std::vector<Case> cases = {
        {{}, 0},
        {{"Last User", "Your Name"}, 0},
        {{"SMTP server", "Sender", "Kes Files Directory"}, 2},
        {{"Sender", "Kes Files Directory", "Signiature File"}, 3},
        {{"Kes Files Directory", "Signiature File", "Kestrel directory"}, 7},
        {{"Signiature File", "Kestrel directory"}, 6},
        {{"Kestrel directory"}, 7},
    };
    for (const Case& c : cases) {
        kp::reg::DeleteTree(kp::reg::Root::CurrentUser, kKestrelKey);
        auto key = kp::reg::Key::Create(kp::reg::Root::CurrentUser, kKestrelKey);
        for (const char* name : all)
            if (std::find(c.missing.begin(), c.missing.end(), std::string_view(name)) == c.missing.end())
                key->SetString(name, name);
        MailPreferences prefs;
        prefs.LastUser = "before";
        EXPECT_EQ(ReadMailPreferences(prefs), c.code) << c.missing.size();
        // A missing value reads as empty.
        EXPECT_EQ(prefs.LastUser, c.missing.empty() ? "Last User" : (c.missing[0] == std::string("Last User") ? "" : "Last User"));
    }
    kp::reg::DeleteTree(kp::reg::Root::CurrentUser, kKestrelKey);
    MailPreferences prefs;
    EXPECT_EQ(ReadMailPreferences(prefs), 1);
}

}  // namespace

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }

// Printing the report: to a PDF file through the printer chooser (no dialog), read back with
// pdftotext; the abort dialog's Cancel; the boxes; Printer setup's printer used by Print.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPrintDialog>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPageLayout>
#include <QPageSize>
#include <QPushButton>
#include <QTimer>
#include <fcntl.h>
#include <signal.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/run/commands.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/shell/graph_windows.h"
#include "kestrel/shell/main_window.h"
#include "kestrel/shell/panes.h"
#include "platform/msgbox.h"
#include "shared/print_layout.h"
#include "shared/ui/print_job.h"
#include "tests/kestrel/graphs/graph_fixtures.h"
#include "tests/kestrel/shell/shell_test_support.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/isolation.h"
#include "tests/support/qt_test_main.h"

namespace {

using Lines = std::vector<std::string>;

// A page of 8 by 11 inches at 600 dots per inch, printed to its edges: 4800 by 6600 pixels.
void ChoosePdf(QPrinter& printer, const std::string& path) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(path));
    printer.setResolution(600);
    printer.setFullPage(true);
    printer.setPageLayout(QPageLayout(QPageSize(QSizeF(8, 11), QPageSize::Inch), QPageLayout::Portrait, QMarginsF()));
}

// The output of a command.
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

// The text read back with the font's ligatures ("fi", "fl", ...) spelt out: a random folder name
// can hold such a pair.
std::string Plain(std::string text) {
    static const std::pair<const char*, const char*> ligatures[] = {
        {"\xEF\xAC\x80", "ff"}, {"\xEF\xAC\x81", "fi"}, {"\xEF\xAC\x82", "fl"}, {"\xEF\xAC\x83", "ffi"}, {"\xEF\xAC\x84", "ffl"}};
    for (const auto& [from, to] : ligatures)
        for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, 3, to);
    return text;
}

// The text of each page, its lines with blanks and tabs folded to one blank and the date masked.
std::vector<Lines> PdfPages(const std::string& path) {
    const std::string text = Plain(Output("pdftotext -layout '" + path + "' - 2>/dev/null"));
    const std::regex date(R"([A-Z][a-z]{2} [A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \d{4})");
    const std::regex blanks(R"(\s+)");
    std::vector<Lines> pages(1);
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) {
        for (size_t f; (f = line.find('\f')) != std::string::npos;) {
            pages.emplace_back();
            line.erase(f, 1);
        }
        line = std::regex_replace(std::regex_replace(line, date, "DATE"), blanks, " ");
        if (!line.empty() && line.front() == ' ') line.erase(0, 1);
        if (!line.empty() && line.back() == ' ') line.pop_back();
        if (!line.empty()) pages.back().push_back(line);
    }
    while (!pages.empty() && pages.back().empty()) pages.pop_back();
    return pages;
}

std::string Folded(const std::string& s) {
    std::string out = std::regex_replace(s, std::regex(R"(\s+)"), " ");
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// The read end of a pipe, opened at once without waiting for a writer: a writer that opens the
// pipe without waiting finds its reader there.
int OpenReadEnd(const std::string& fifo) { return open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); }

// What comes through the read end until its writer closes it, `limit` bytes at most.
std::string ReadUntilEnd(int fd, size_t limit = size_t(-1)) {
    std::string got;
    char buf[4096];
    while (fd >= 0 && got.size() < limit) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, -1) < 0 && errno != EINTR) break;
        const ssize_t n = read(fd, buf, std::min(sizeof buf, limit - got.size()));
        if (n > 0) got.append(buf, size_t(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR)) break;
    }
    return got;
}

class PrintTest : public ::testing::Test {
protected:
    void SetUp() override {
        perflink.program_directory = KESTREL_BIN_DIR;
        pdf = kt::FreshDir("print") + "/report.pdf";
        SetPrinterChooser([this](QPrinter& printer, PrinterDialog kind, QWidget*) {
            kinds.push_back(kind);
            if (kind == PrinterDialog::Print) ChoosePdf(printer, pdf);
            return answer;
        });
        w = std::make_unique<MainWindow>();
        w->Init("");
        ASSERT_TRUE(kt::Until([&] { return w->StartupDone(); }));
        CloseOtherWindows();
    }
    void TearDown() override {
        w.reset();
        SetPrinterChooser({});
        SetStandInPrinter({});
        SetSpoolerAnswerSource({});
    }
    void CloseOtherWindows() {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top != w.get() && top->isVisible()) top->close();
        }
        kt::Settle(50);
    }
    // The report as these lines, named `name`.
    void Report(const Lines& lines, const std::string& name) {
        ClearReportLines();
        for (const std::string& l : lines) output_string(l);
        report.CurrentFile = name;
    }
    // Acts once, as the user would, when the abort dialog of a running job is up.
    static void OnceTheAbortDialogIsUp(const std::function<void(AbortDialog*)>& act) {
        auto* timer = new QTimer;
        timer->setInterval(0);
        QObject::connect(timer, &QTimer::timeout, [act, timer] {
            AbortDialog* dialog = print_state.hAbortDlgWnd;
            if (dialog == nullptr || !dialog->isVisible()) return;
            timer->stop();
            timer->deleteLater();
            act(dialog);
        });
        timer->start();
    }
    // Presses the button bar's Print button and waits for the job to end.
    void PressPrint() {
        w->Bar()->Button(5)->click();
        ASSERT_TRUE(kt::Until([&] { return printed_or_refused(); }));
    }
    bool printed_or_refused() const { return QFile::exists(QString::fromStdString(pdf)) || !boxes.boxes().empty() || ended; }

    kp::BoxRecorder boxes;
    std::unique_ptr<MainWindow> w;
    std::string pdf;
    std::vector<PrinterDialog> kinds;
    bool answer = true;
    bool ended = false;
};

TEST_F(PrintTest, TheReportGoesToPdfPageByPageWithItsHeaders) {
    // Three pages and more: short lines, lines with tabs, lines long enough to be wrapped once.
    const int room = CharsPerLine(4800, double(w->Report()->nXChar) * 6.0);
    Lines lines;
    for (int i = 0; i < 200; ++i) {
        char head[32];
        std::snprintf(head, sizeof head, "L%03d", i);
        if (i % 17 == 5) {
            std::string l = std::string(head) + " long";
            while (int(l.size()) < room + room / 2) l += " w" + std::to_string(l.size());
            lines.push_back(l);
        } else if (i % 7 == 3) {
            lines.push_back(std::string(head) + "\tScore:\t" + std::to_string(i * 3));
        } else {
            lines.push_back(std::string(head) + " Memory Score: " + std::to_string(i));
        }
    }
    const std::string name = kt::TempDir() + "/run.bmf";
    Report(lines, name);
    PressPrint();
    EXPECT_EQ(kinds, std::vector<PrinterDialog>{PrinterDialog::Print});
    EXPECT_TRUE(boxes.boxes().empty());
    // A 4800-pixel page: six times the screen's layout.
    EXPECT_EQ(Printer().width(), 4800);
    EXPECT_EQ(print_state.printscale, 6.0f);
    EXPECT_EQ(print_state.LinesPerPage, LinesPerPage(6600, w->Report()->nYChar, 6.0f));
    // Between jobs the counters are 0; the window is usable, the abort dialog gone.
    EXPECT_EQ(print_state.LineNumber, 0);
    EXPECT_EQ(print_state.PageNumber, 0);
    EXPECT_TRUE(w->isEnabled());
    EXPECT_TRUE(print_state.hAbortDlgWnd.isNull());

    // Page by page: the header, then the page's lines in order, a wrapped line in two pieces.
    const std::vector<LinePlacement> plan = PaginateLines(lines, room, print_state.LinesPerPage);
    std::vector<Lines> expected;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (plan[i].starts_page) {
            expected.push_back({Folded(name + "; DATE Page " + std::to_string(plan[i].page))});
        }
        const PrintPieces p = SplitForPrint(BlankTabs(lines[i]), room);
        expected.back().push_back(Folded(p.first));
        if (p.wrapped) expected.back().push_back(Folded(p.rest));
    }
    ASSERT_GE(expected.size(), 3u);
    const std::vector<Lines> pages = PdfPages(pdf);
    ASSERT_EQ(pages.size(), expected.size());
    for (size_t k = 0; k < pages.size(); ++k) EXPECT_EQ(pages[k], expected[k]) << "page " << k + 1;
}

TEST_F(PrintTest, PrintingLeavesTheReportLinesAsTheyWere) {
    // After a run the header names no file: with its date 59 characters, two tabs before "Page".
    const Lines lines = {"Kes MemoryMarks\t1234", "a\tb\tc", "plain"};
    Report(lines, "Kestrel - System Level Benchmark");
    PressPrint();
    EXPECT_EQ(report.szGreeting, lines);
    const std::vector<Lines> pages = PdfPages(pdf);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0], (Lines{"Kestrel - System Level Benchmark; DATE Page 1", "Kes MemoryMarks 1234", "a b c", "plain"}));
}

TEST_F(PrintTest, CancelInTheAbortDialogStopsTheJobAndDropsTheFile) {
    Lines lines(3000, "Score: 1");
    Report(lines, "/tmp/long run.bmf");
    // Cancel, as the user presses it, once the abort dialog is up.
    QString shown;
    bool owner_disabled = false;
    OnceTheAbortDialogIsUp([&](AbortDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Print File");
        shown = dialog->findChild<QLineEdit*>("99")->text();
        owner_disabled = !w->isEnabled();
        dialog->findChild<QPushButton*>("2")->click();
    });
    w->Command(CMD_PRINT);
    EXPECT_EQ(shown, "/tmp/long run.bmf");
    EXPECT_TRUE(owner_disabled);
    EXPECT_EQ(print_state.Abort, 1);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(pdf)));
    EXPECT_TRUE(w->isEnabled());
    EXPECT_TRUE(print_state.hAbortDlgWnd.isNull());
    EXPECT_EQ(print_state.PageNumber, 0);
}

// A PDF file that cannot be written whole (as on a full disk: nothing at all, or cut short) is not
// passed off as printed, from the report or from a graph window: the box says so, no part of the
// file is left and the window is usable again. A file written whole is no failure.
TEST_F(PrintTest, APdfFileThatCannotBeWrittenWholeIsReportedAndRemoved) {
    kt::ScalingStore(true);
    Report(Lines(200, "Score: 1"), "full.bmf");
    OpenTotalsWindow();
    ASSERT_NE(TotalsGraphWindow(), nullptr);
    const auto print_report = [&] { w->Command(CMD_PRINT); };
    const auto print_graph = [&] { TotalsGraphWindow()->Button("Print Graph")->click(); };
    const struct {
        const char* what;
        rlim_t room;  // bytes a file may have
        std::function<void()> print;
        QWidget* owner;
    } rows[] = {
        {"the report, nothing written", 0, print_report, w.get()},
        {"the report, cut short", 4000, print_report, w.get()},
        {"a graph, cut short", 4000, print_graph, TotalsGraphWindow()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        boxes.Clear();
        {
            kt::FileSizeLimit limit(row.room);
            row.print();
        }
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, "The document could not be written to " + pdf + ".");
        EXPECT_EQ(boxes.boxes()[0].caption, "Printer Exception");
        EXPECT_EQ(boxes.boxes()[0].icon, kp::Icon::Stop);
        // The box belongs to the window that printed.
        EXPECT_EQ(boxes.boxes()[0].owner, kp::Owner::Active);
        EXPECT_EQ(QApplication::activeWindow(), row.owner);
        EXPECT_FALSE(QFile::exists(QString::fromStdString(pdf)));
        EXPECT_TRUE(row.owner->isEnabled());
        EXPECT_TRUE(print_state.hAbortDlgWnd.isNull());
    }
    boxes.Clear();
    print_report();
    EXPECT_TRUE(boxes.boxes().empty());
    const std::vector<Lines> pages = PdfPages(pdf);
    ASSERT_FALSE(pages.empty());
    EXPECT_EQ(pages[0].front(), "full.bmf; DATE Page 1");
}

// A pipe or a device named as the output file is written and taken as written, whether the job
// ends or is cancelled: nothing is read back from it (a pipe opened to be read would hold the
// program until some writer came), it stays, and the printer object is not made anew.
TEST_F(PrintTest, APipeOrADeviceNamedAsTheOutputIsNoFailure) {
    Report(Lines(50, "Score: 1"), "piped.bmf");
    const std::string fifo = kt::FreshDir("fifo") + "/out";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const bool cancel : {false, true}) {
        for (const std::string& output : {std::string("/dev/null"), fifo}) {
            SCOPED_TRACE(output + (cancel ? ", cancelled" : ""));
            boxes.Clear();
            pdf = output;
            // A reader drains the pipe; after that, a reader that opens the pipe is seen (a writer
            // can then open it without waiting) and let go, so that it cannot wait for ever.
            std::string drained;
            std::atomic<bool> done{false};
            std::atomic<bool> read_back{false};
            std::thread reader;
            if (output == fifo) {
                // The read end is there before the job opens the pipe.
                const int fd = OpenReadEnd(fifo);
                ASSERT_GE(fd, 0);
                reader = std::thread([&, fd] {
                    drained = ReadUntilEnd(fd);
                    close(fd);
                    while (!done) {
                        const int w = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
                        if (w >= 0) {
                            read_back = true;
                            close(w);
                        }
                        std::this_thread::yield();
                    }
                });
            }
            if (cancel) OnceTheAbortDialogIsUp([](AbortDialog* dialog) { dialog->findChild<QPushButton*>("2")->click(); });
            const QPrinter* printer = &Printer();
            w->Command(CMD_PRINT);
            done = true;
            // A reader still waiting for the job's writer (a job that never started) is let go.
            if (const int w = open(fifo.c_str(), O_WRONLY | O_NONBLOCK); w >= 0) close(w);
            if (reader.joinable()) reader.join();
            EXPECT_EQ(print_state.Abort, cancel ? 1 : 0);
            EXPECT_FALSE(read_back);
            EXPECT_TRUE(boxes.boxes().empty()) << boxes.boxes()[0].text;
            EXPECT_EQ(&Printer(), printer);
            EXPECT_TRUE(w->isEnabled());
            struct stat st {};
            ASSERT_EQ(stat(output.c_str(), &st), 0);
            EXPECT_FALSE(S_ISREG(st.st_mode));
            if (output == fifo) {
                ASSERT_GE(drained.size(), 8u);
                EXPECT_NE(drained.find("%%EOF", drained.size() - 8), std::string::npos);
            }
        }
    }
}

// The write opens and closes of a file, seen through inotify (a pipe's too).
class WriteCloses {
public:
    explicit WriteCloses(const std::string& path) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (fd_ >= 0) inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_CLOSE_WRITE);
    }
    ~WriteCloses() {
        if (fd_ >= 0) close(fd_);
    }
    bool Watching() const { return fd_ >= 0; }
    // The writers closed since the last call.
    int Take() {
        int closes = 0;
        alignas(inotify_event) char buf[4096];
        for (ssize_t n; (n = read(fd_, buf, sizeof buf)) > 0;) {
            for (char* p = buf; p < buf + n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(p);
                if (e->mask & IN_CLOSE_WRITE) ++closes;
                p += sizeof(inotify_event) + e->len;
            }
        }
        return closes;
    }

private:
    int fd_;
};

// A print to a pipe: the pipe is opened once, never waited for; where nothing reads, where the
// reader goes away after the first bytes and where it stops taking any, the "Printer Exception"
// box says so and the program stays (no SIGPIPE, no hold); TERM or INT ends the program after
// the job, and during a job that waits for its reader.
TEST_F(PrintTest, APrintToAPipeNeverHoldsNorEndsTheProgram) {
    for (int s : {SIGTERM, SIGINT}) ::signal(s, SIG_DFL);
    // More than a pipe holds (64 KiB): lines that hardly compress.
    Lines lines;
    unsigned seed = 12345;
    for (int i = 0; i < 3000; ++i) {
        std::string l = "L" + std::to_string(i) + " ";
        for (int k = 0; k < 60; ++k) {
            seed = seed * 1103515245u + 12345u;
            l += "0123456789abcdef"[(seed >> 16) & 15];
        }
        lines.push_back(l);
    }
    const std::string fifo = kt::FreshDir("fifo") + "/out.pdf";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string failed = "The document could not be written to " + fifo + ".\n";
    enum class Reader { ReadsAll, QuitsAfterFirstBytes, None, StopsReading, StopsReadingTillTheSignal };
    const struct {
        const char* what;
        Reader reader;
        int signal;
        std::optional<std::string> box;
    } rows[] = {
        {"a reader that reads all", Reader::ReadsAll, SIGTERM, std::nullopt},
        {"a reader that quits after the first bytes", Reader::QuitsAfterFirstBytes, SIGINT,
         failed + "Its reader went away before the end of the document."},
        {"no reader", Reader::None, SIGTERM, failed + "Nothing reads from it."},
        {"a reader that stops reading", Reader::StopsReading, SIGINT, failed + "Nothing was read from it for 1 second."},
        {"a signal while the job waits for its reader", Reader::StopsReadingTillTheSignal, SIGTERM, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        // The printer system's library has the process ignore SIGPIPE once a print used it; the
        // job does not count on that.
        ::signal(SIGPIPE, SIG_DFL);
        w.reset();
        run.ending = 0;
        w = std::make_unique<MainWindow>();
        w->Init("");
        ASSERT_TRUE(kt::Until([&] { return w->StartupDone(); }));
        CloseOtherWindows();
        w->WatchEndRequests();
        Report(lines, "piped.bmf");
        pdf = fifo;
        boxes.Clear();
        WriteCloses closes(fifo);
        ASSERT_TRUE(closes.Watching());
        SetOutputStallLimit(row.reader == Reader::StopsReading ? 1000 : 0);
        std::string drained;
        std::atomic<bool> let_go{false};
        std::thread reader;
        if (row.reader != Reader::None) {
            const int fd = OpenReadEnd(fifo);
            ASSERT_GE(fd, 0);
            reader = std::thread([&, fd] {
                if (row.reader == Reader::ReadsAll) {
                    drained = ReadUntilEnd(fd);
                } else if (row.reader == Reader::QuitsAfterFirstBytes) {
                    drained = ReadUntilEnd(fd, 100);
                } else {
                    // Takes nothing: the job fills the pipe and waits; the signal comes then.
                    const int room = fcntl(fd, F_GETPIPE_SZ);
                    int held = 0;
                    while (!let_go && ioctl(fd, FIONREAD, &held) == 0 && held < room) std::this_thread::yield();
                    if (row.reader == Reader::StopsReadingTillTheSignal && !let_go) kill(getpid(), row.signal);
                    while (!let_go) std::this_thread::yield();
                }
                if (fd >= 0) close(fd);
            });
        }
        // A job held in an open of the pipe (no reader) is let go after a while: the row fails.
        std::thread watchdog([&] {
            for (int k = 0; k < 200 && !let_go; ++k) std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (const int r = open(fifo.c_str(), O_RDONLY | O_NONBLOCK); !let_go && r >= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                close(r);
            } else if (r >= 0) {
                close(r);
            }
        });
        w->Command(CMD_PRINT);
        let_go = true;
        if (reader.joinable()) reader.join();
        watchdog.join();
        SetOutputStallLimit(0);

        // The program stays, with its window usable; the box is the row's.
        std::vector<std::string> shown;
        for (const kp::BoxRequest& b : boxes.boxes()) shown.push_back(b.text + "|" + b.caption);
        std::vector<std::string> expected;
        if (row.box) expected.push_back(*row.box + "|Printer Exception");
        EXPECT_EQ(shown, expected);
        EXPECT_TRUE(print_state.hAbortDlgWnd.isNull());
        // The pipe was opened for writing once (not at all where nothing read from it).
        EXPECT_EQ(closes.Take(), row.reader == Reader::None ? 0 : 1);
        if (row.reader == Reader::ReadsAll) {
            ASSERT_GT(drained.size(), 128u * 1024);
            EXPECT_EQ(drained.compare(0, 5, "%PDF-"), 0);
            EXPECT_NE(drained.find("%%EOF", drained.size() - 8), std::string::npos);
        }
        struct stat st {};
        ASSERT_EQ(stat(fifo.c_str(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
        if (row.reader == Reader::StopsReadingTillTheSignal) {
            // Taken during the job: the job stopped and the program ends.
            EXPECT_TRUE(kt::Until([&] { return !w->isVisible(); }));
            continue;
        }
        EXPECT_TRUE(w->isVisible());
        EXPECT_TRUE(w->isEnabled());
        // Then the signal ends the program.
        raise(row.signal);
        EXPECT_TRUE(kt::Until([&] { return !w->isVisible(); }));
    }
    w.reset();
    run.ending = 0;
}

// Acts once on the real print dialog, as the user would, when it is up; answers the questions it
// asks (their texts noted) with Yes.
struct PrintDialogUser {
    explicit PrintDialogUser(std::function<void(QPrintDialog*)> act) {
        timer.setInterval(0);
        QObject::connect(&timer, &QTimer::timeout, [this, act] {
            QWidget* top = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(top); box != nullptr && box->isVisible()) {
                questions.push_back(box->text().toStdString());
                box->button(QMessageBox::Yes)->click();
                return;
            }
            auto* dialog = qobject_cast<QPrintDialog*>(top);
            if (dialog == nullptr || !dialog->isVisible() || acted) return;
            acted = true;
            // Outside this timer's call, so that the timer still answers the questions it asks.
            QTimer::singleShot(0, dialog, [act, dialog] { act(dialog); });
        });
        timer.start();
    }
    // Picks "Print to File (PDF)" with the file, and presses Print.
    static void PrintToFile(QPrintDialog* dialog, const std::string& file) {
        auto* printers = dialog->findChild<QComboBox*>("printers");
        ASSERT_NE(printers, nullptr);
        printers->setCurrentIndex(printers->count() - 1);
        dialog->findChild<QLineEdit*>("filename")->setText(QString::fromStdString(file));
        dialog->findChild<QDialogButtonBox*>(QString(), Qt::FindDirectChildrenOnly)->button(QDialogButtonBox::Ok)->click();
    }
    QTimer timer;
    bool acted = false;
    std::vector<std::string> questions;
};

// A pipe chosen in the print dialog is asked about as a file is, and opened once, by the job: the
// dialog's check does not open it (a reader would get an end before the document, and with no
// reader the check would wait for one).
TEST_F(PrintTest, APipeChosenInThePrintDialogIsOpenedOnceByTheJob) {
    SetPrinterChooser({});
    const std::string fifo = kt::FreshDir("fifo") + "/p.pdf";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    WriteCloses closes(fifo);
    ASSERT_TRUE(closes.Watching());
    Report(Lines(50, "Score: 1"), "piped.bmf");
    std::string drained;
    std::atomic<bool> done{false};
    const int read_end = OpenReadEnd(fifo);
    ASSERT_GE(read_end, 0);
    std::thread reader([&] {
        drained = ReadUntilEnd(read_end);
        close(read_end);
    });
    // A job held in an open of the pipe (its reader gone) is let go after a while: the test fails.
    std::thread watchdog([&] {
        for (int k = 0; k < 200 && !done; ++k) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (const int r = open(fifo.c_str(), O_RDONLY | O_NONBLOCK); r >= 0) {
            if (!done) std::this_thread::sleep_for(std::chrono::milliseconds(500));
            close(r);
        }
    });
    PrintDialogUser user([&](QPrintDialog* dialog) { PrintDialogUser::PrintToFile(dialog, fifo); });
    w->Command(CMD_PRINT);
    done = true;
    watchdog.join();
    if (const int r = open(fifo.c_str(), O_WRONLY | O_NONBLOCK); r >= 0) close(r);  // a reader still waiting
    reader.join();
    EXPECT_TRUE(user.acted);
    EXPECT_EQ(user.questions, std::vector<std::string>{fifo + " already exists.\nDo you want to overwrite it?"});
    EXPECT_TRUE(boxes.boxes().empty()) << boxes.boxes()[0].text;
    EXPECT_EQ(closes.Take(), 1);
    ASSERT_GE(drained.size(), 8u);
    EXPECT_EQ(drained.compare(0, 5, "%PDF-"), 0);
    EXPECT_NE(drained.find("%%EOF", drained.size() - 8), std::string::npos);
}

// The print dialog starts on the printer chosen last, "Print to File (PDF)" included, and offers
// the document's own name in the folder chosen last, not the name typed for the document before;
// a cancelled dialog leaves the printer chosen last as it was.
TEST_F(PrintTest, ThePrintDialogStartsOnThePrinterAndFolderChosenLast) {
    const std::string folder = kt::FreshDir("chosen");
    // The user printed the last document to a file of a name of their own.
    SetPrinterChooser([&](QPrinter& printer, PrinterDialog, QWidget*) {
        ChoosePdf(printer, folder + "/mine.pdf");
        return true;
    });
    Report(Lines(5, "Score: 1"), "/elsewhere/first.bmf");
    w->Command(CMD_PRINT);
    ASSERT_TRUE(QFile::exists(QString::fromStdString(folder + "/mine.pdf")));
    SetPrinterChooser({});
    Report(Lines(5, "Score: 1"), "/elsewhere/second.bmf");
    const std::string offered = folder + "/second.pdf";
    for (const bool cancel : {true, false}) {
        SCOPED_TRACE(cancel ? "cancelled" : "printed");
        QString printer_shown, file_shown;
        PrintDialogUser user([&](QPrintDialog* dialog) {
            auto* printers = dialog->findChild<QComboBox*>("printers");
            printer_shown = printers->currentText();
            file_shown = dialog->findChild<QLineEdit*>("filename")->text();
            if (cancel) dialog->reject();
            else dialog->findChild<QDialogButtonBox*>(QString(), Qt::FindDirectChildrenOnly)->button(QDialogButtonBox::Ok)->click();
        });
        w->Command(CMD_PRINT);
        EXPECT_TRUE(user.acted);
        EXPECT_EQ(printer_shown, QPrintDialog::tr("Print to File (PDF)"));
        EXPECT_EQ(file_shown.toStdString(), offered);
        EXPECT_EQ(Printer().outputFormat(), QPrinter::PdfFormat);
        EXPECT_EQ(Printer().outputFileName().toStdString(), offered);
        EXPECT_EQ(QFile::exists(QString::fromStdString(offered)), !cancel);
        EXPECT_TRUE(boxes.boxes().empty());
    }
}

// A printer system of the test's own: cupsd on a socket in a fresh folder (no network), with two
// queues that print to /dev/null, the first the default; this process's CUPS client is pointed
// at it. Started before the first use of a printer in the process.
class OwnPrinterSystem {
public:
    OwnPrinterSystem() {
        dir_ = kt::FreshDir("cups");
        for (const char* sub : {"spool", "tmp", "cache", "state", "ppd"}) std::filesystem::create_directory(dir_ + "/" + sub);
        socket_ = dir_ + "/cups.sock";
        Write("cupsd.conf", "Listen " + socket_ + "\nLogLevel warn\nBrowsing Off\nWebInterface No\nPrintcap " + dir_ +
                                "/printcap\n<Location />\nOrder allow,deny\nAllow all\n</Location>\n"
                                "<Policy default>\n<Limit All>\nOrder deny,allow\n</Limit>\n</Policy>\n");
        Write("cups-files.conf", "ServerRoot " + dir_ + "\nRequestRoot " + dir_ + "/spool\nTempDir " + dir_ +
                                     "/tmp\nCacheDir " + dir_ + "/cache\nStateDir " + dir_ + "/state\nAccessLog " + dir_ +
                                     "/access_log\nErrorLog " + dir_ + "/error_log\nPageLog " + dir_ +
                                     "/page_log\nServerBin /usr/lib/cups\nDataDir /usr/share/cups\nFileDevice Yes\n" +
                                     (geteuid() == 0 ? "SystemGroup root\n" : ""));
        std::string printers;
        for (const char* q : {"KestrelQueueA", "KestrelQueueB"}) {
            printers += std::string(q == std::string("KestrelQueueA") ? "<DefaultPrinter " : "<Printer ") + q +
                        ">\nDeviceURI file:///dev/null\nState Idle\nAccepting Yes\nShared No\n" +
                        (q == std::string("KestrelQueueA") ? "</DefaultPrinter>\n" : "</Printer>\n");
        }
        Write("printers.conf", printers);
        if (access("/usr/sbin/cupsd", X_OK) != 0) return;
        installed_ = true;
        pid_ = fork();
        if (pid_ == 0) {
            // It never outlives the test, however the test ends.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            const std::string conf = dir_ + "/cupsd.conf", files = dir_ + "/cups-files.conf";
            execl("/usr/sbin/cupsd", "cupsd", "-f", "-c", conf.c_str(), "-s", files.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        setenv("CUPS_SERVER", socket_.c_str(), 1);
        // Up once its socket takes a connection; a cupsd that ends (it could not start) is not
        // waited for, and one that neither listens nor ends is given up after a minute.
        for (int k = 0; pid_ > 0 && k < 3000 && !ready_; ++k) {
            const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un at{};
            at.sun_family = AF_UNIX;
            std::snprintf(at.sun_path, sizeof at.sun_path, "%s", socket_.c_str());
            ready_ = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
            if (fd >= 0) close(fd);
            if (ready_) break;
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~OwnPrinterSystem() {
        unsetenv("CUPS_SERVER");
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    // False where no cupsd is installed (the test is skipped then).
    bool Installed() const { return installed_; }
    bool Ready() const { return ready_; }
    std::string Log() const { return kt::ReadFile(dir_ + "/error_log"); }

private:
    void Write(const std::string& name, const std::string& text) {
        kt::WriteFile(dir_ + "/" + name, text);
        chmod((dir_ + "/" + name).c_str(), 0644);
    }
    std::string dir_, socket_;
    pid_t pid_ = -1;
    bool installed_ = false;
    bool ready_ = false;
};

// With the printer system's queues in the dialog: it starts on the printer chosen last, a queue
// or "Print to File (PDF)", not on the default queue; a cancelled dialog leaves the choice as it
// was.
TEST_F(PrintTest, ThePrintDialogStartsOnThePrinterChosenLastAmongTheQueues) {
    OwnPrinterSystem cups;
    if (!cups.Installed()) GTEST_SKIP() << "no cupsd (package cups-daemon) installed";
    ASSERT_TRUE(cups.Ready()) << cups.Log();
    SetPrinterChooser({});
    const std::string folder = kt::FreshDir("chosen");
    const QString to_file = QPrintDialog::tr("Print to File (PDF)");
    const struct {
        const char* what;
        QString choose;  // the printer the user picks and prints to
        bool cancel;     // the user cancels the next dialog
        QString shown;   // the printer the next dialog starts on
    } rows[] = {
        {"a file", to_file, false, to_file},
        {"a file, then a cancelled dialog", to_file, true, to_file},
        {"the other queue", "KestrelQueueB", false, "KestrelQueueB"},
        {"the other queue, then a cancelled dialog", "KestrelQueueB", true, "KestrelQueueB"},
        {"a file again", to_file, false, to_file},
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Report(Lines(5, "Score: 1"), folder + "/run" + std::to_string(++n) + ".bmf");
        QStringList queues;
        {
            PrintDialogUser user([&](QPrintDialog* dialog) {
                auto* printers = dialog->findChild<QComboBox*>("printers");
                for (int k = 0; k < printers->count(); ++k) queues << printers->itemText(k);
                printers->setCurrentIndex(printers->findText(row.choose));
                dialog->findChild<QLineEdit*>("filename")->setText(QString::fromStdString(folder + "/out.pdf"));
                dialog->findChild<QDialogButtonBox*>(QString(), Qt::FindDirectChildrenOnly)->button(QDialogButtonBox::Ok)->click();
            });
            w->Command(CMD_PRINT);
            ASSERT_TRUE(user.acted);
        }
        ASSERT_TRUE(queues.contains("KestrelQueueA") && queues.contains("KestrelQueueB")) << queues.join(", ").toStdString();
        EXPECT_TRUE(boxes.boxes().empty()) << boxes.boxes()[0].text;
        if (row.cancel) {
            // The user picks another printer there, then cancels: the choice stays as it was.
            PrintDialogUser user([&](QPrintDialog* dialog) {
                auto* printers = dialog->findChild<QComboBox*>("printers");
                printers->setCurrentIndex(printers->findText(row.choose == to_file ? QString("KestrelQueueA") : to_file));
                dialog->reject();
            });
            w->Command(CMD_PRINT);
            ASSERT_TRUE(user.acted);
        }
        QString shown;
        PrintDialogUser user([&](QPrintDialog* dialog) {
            shown = dialog->findChild<QComboBox*>("printers")->currentText();
            dialog->reject();
        });
        w->Command(CMD_PRINT);
        EXPECT_TRUE(user.acted);
        EXPECT_EQ(shown, row.shown);
    }
}

// What the printer system answers to a job sent to a printer decides the box: none when it took
// the job, "Printer Exception" with its reason when it refused it or could not be reached; from
// the report and from a graph window alike, the box over the window that printed.
TEST_F(PrintTest, AJobThePrinterSystemDidNotTakeGetsABoxWithItsReason) {
    const struct {
        std::optional<kp::SpoolerAnswer> answer;
        std::optional<std::string> box;
    } rows[] = {
        {std::nullopt, std::nullopt},
        {kp::SpoolerAnswer{0x0000, "successful-ok"}, std::nullopt},
        {kp::SpoolerAnswer{0x0001, "successful-ok-ignored-or-substituted-attributes"}, std::nullopt},
        {kp::SpoolerAnswer{0x0506, "Destination \"PDF\" is not accepting jobs."},
         "The document could not be sent to the printer PDF.\nDestination \"PDF\" is not accepting jobs."},
        {kp::SpoolerAnswer{0x0500, "No such file or directory"},
         "The document could not be sent to the printer PDF.\nNo such file or directory"},
        {kp::SpoolerAnswer{0x0400, ""}, "The document could not be sent to the printer PDF."},
        {kp::SpoolerAnswer{0x1000, "Canceled by user"}, "The document could not be sent to the printer PDF.\nCanceled by user"},
        {kp::SpoolerAnswer{-1, "Internal error"}, "The document could not be sent to the printer PDF.\nInternal error"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.answer ? row.answer->status : -2);
        EXPECT_EQ(RefusedJobText("PDF", row.answer), row.box);
    }
    // A document printed to a file asks the printer system nothing: its own check holds.
    int asked = 0;
    SetSpoolerAnswerSource([&] {
        ++asked;
        return std::optional<kp::SpoolerAnswer>(kp::SpoolerAnswer{0x0506, "refused"});
    });
    Report({"one line"}, "x.bmf");
    w->Command(CMD_PRINT);
    SetSpoolerAnswerSource({});
    EXPECT_EQ(asked, 0);
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_FALSE(PdfPages(pdf).empty());

    // Jobs sent to a printer: a stand-in printer whose jobs go to the file.
    OpenTotalsWindow();
    ASSERT_NE(TotalsGraphWindow(), nullptr);
    const std::pair<std::function<void()>, QWidget*> places[] = {
        {[&] { w->Command(CMD_PRINT); }, w.get()},
        {[&] { TotalsGraphWindow()->Button("Print Graph")->click(); }, TotalsGraphWindow()},
    };
    std::optional<kp::SpoolerAnswer> answered;
    SetSpoolerAnswerSource([&] { return answered; });
    SetStandInPrinter("PDF");
    for (const auto& [print, owner] : places) {
        for (const auto& row : rows) {
            SCOPED_TRACE(owner == w.get() ? "the report" : "a graph");
            SCOPED_TRACE(row.answer ? row.answer->status : -2);
            boxes.Clear();
            answered = row.answer;
            print();
            EXPECT_TRUE(owner->isEnabled());
            if (!row.box) {
                EXPECT_TRUE(boxes.boxes().empty()) << boxes.boxes()[0].text;
                continue;
            }
            ASSERT_EQ(boxes.boxes().size(), 1u);
            EXPECT_EQ(boxes.boxes()[0].text, *row.box);
            EXPECT_EQ(boxes.boxes()[0].caption, "Printer Exception");
            EXPECT_EQ(boxes.boxes()[0].icon, kp::Icon::Stop);
            EXPECT_EQ(boxes.boxes()[0].owner, kp::Owner::Active);
            EXPECT_EQ(QApplication::activeWindow(), owner);
        }
    }
}

// The print dialog offers to print to a file named after the document, not after the last job,
// whose name holds a whole path ("Print File - /home/.../run1.bmf"): from the report and from a
// graph window alike. The next document's name is offered in the folder printed to last, also
// after a file the user named for another document; a folder that is gone gives way to the home
// folder.
TEST_F(PrintTest, PrintToFileOffersTheDocumentsBaseName) {
    const std::string folder = kt::FreshDir("runs");
    const std::string other = kt::FreshDir("other");
    const std::string home = getenv("HOME");
    std::string typed;  // the file the user types in place of the one offered
    std::vector<std::string> offered;
    SetPrinterChooser([&](QPrinter& printer, PrinterDialog, QWidget*) {
        offered.push_back(printer.docName().toStdString());
        offered.push_back(printer.outputFileName().toStdString());
        // Printing to a file: the one offered, or the one typed; with none yet, the dialog's
        // own choice from the job's name, here in `folder`.
        if (!typed.empty()) printer.setOutputFileName(QString::fromStdString(typed));
        else if (printer.outputFileName().isEmpty()) printer.setOutputFileName(QString::fromStdString(folder) + "/" + printer.docName());
        return true;
    });
    Report(Lines(5, "Score: 1"), folder + "/run1.bmf");
    OpenTotalsWindow();
    ASSERT_NE(TotalsGraphWindow(), nullptr);
    const auto print_report = [&] { w->Command(CMD_PRINT); };
    const auto print_graph = [&] { TotalsGraphWindow()->Button("Print Graph")->click(); };
    const struct {
        const char* what;
        std::string file;
        std::function<void()> print;
        std::string typed;
        std::vector<std::string> offered;  // the job's name and the file
    } rows[] = {
        {"the report", folder + "/run1.bmf", print_report, "", {"run1.pdf", ""}},
        {"the report again", folder + "/run1.bmf", print_report, "", {"run1.pdf", folder + "/run1.pdf"}},
        {"a graph", folder + "/run.2.bmf", print_graph, "", {"run.2.pdf", folder + "/run.2.pdf"}},
        {"a run not saved", "Kestrel - System Level Benchmark", print_report, other + "/mine.pdf",
         {"Kestrel - System Level Benchmark.pdf", folder + "/Kestrel - System Level Benchmark.pdf"}},
        {"after a file the user named", folder + "/run3.bmf", print_report, "", {"run3.pdf", other + "/run3.pdf"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        offered.clear();
        typed = row.typed;
        report.CurrentFile = row.file;
        row.print();
        EXPECT_EQ(offered, row.offered);
        // The job itself keeps its name.
        EXPECT_EQ(Printer().docName().toStdString().rfind("Print ", 0), 0u) << Printer().docName().toStdString();
    }
    // A folder that is gone: the home folder.
    Report(Lines(5, "Score: 1"), folder + "/run4.bmf");
    typed = folder + "/run4.pdf";
    w->Command(CMD_PRINT);
    std::filesystem::remove_all(folder);
    offered.clear();
    typed.clear();
    Report(Lines(5, "Score: 1"), "/elsewhere/run5.bmf");
    w->Command(CMD_PRINT);
    EXPECT_EQ(offered, (std::vector<std::string>{"run5.pdf", home + "/run5.pdf"}));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(home + "/run5.pdf")));
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(PrintTest, EmptyReportCancelledDialogAndAPrinterThatCannotStart) {
    ClearReportLines();
    w->Command(CMD_PRINT);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "No benchmark data.");
    EXPECT_EQ(boxes.boxes()[0].caption, "File Exception");
    EXPECT_TRUE(kinds.empty());

    Report({"one line"}, "x.bmf");
    answer = false;
    w->Command(CMD_PRINT);
    EXPECT_EQ(boxes.boxes().size(), 1u);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(pdf)));

    // A file in a folder that does not exist: the document cannot start.
    answer = true;
    pdf = kt::TempDir() + "/no such folder/x.pdf";
    w->Command(CMD_PRINT);
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[1].text, "Unable to Access printer");
    EXPECT_EQ(boxes.boxes()[1].caption, "Printer Exception");
    EXPECT_EQ(boxes.boxes()[1].icon, kp::Icon::Stop);
    EXPECT_TRUE(w->isEnabled());
    EXPECT_TRUE(print_state.hAbortDlgWnd.isNull());

    // The totals graph window closes with it.
    OpenTotalsWindow();
    ASSERT_NE(TotalsGraphWindow(), nullptr);
    w->Command(CMD_PRINT);
    ASSERT_EQ(boxes.boxes().size(), 3u);
    EXPECT_EQ(boxes.boxes()[2].text, "Unable to Access printer");
    EXPECT_EQ(TotalsGraphWindow(), nullptr);
}

// Print Graph pressed while the report prints: the graph's job cannot have the printer and says
// so, and each job's abort dialog goes with its job.
TEST_F(PrintTest, PrintGraphWhileTheReportPrintsLeavesNoAbortDialog) {
    Report(Lines(3000, "Score: 1"), "run.bmf");
    OpenTotalsWindow();
    ASSERT_NE(TotalsGraphWindow(), nullptr);
    QPointer<AbortDialog> report_dialog;
    OnceTheAbortDialogIsUp([&](AbortDialog* dialog) {
        report_dialog = dialog;
        TotalsGraphWindow()->Button("Print Graph")->click();
        // The report's dialog is the running job's again.
        EXPECT_EQ(print_state.hAbortDlgWnd, report_dialog);
    });
    w->Command(CMD_PRINT);
    ASSERT_FALSE(boxes.boxes().empty());
    EXPECT_EQ(boxes.boxes()[0].text, "Unable to Access printer");
    EXPECT_TRUE(QFile::exists(QString::fromStdString(pdf)));
    EXPECT_TRUE(report_dialog.isNull());
    EXPECT_TRUE(print_state.hAbortDlgWnd.isNull());
    for (QWidget* top : QApplication::topLevelWidgets()) EXPECT_EQ(qobject_cast<AbortDialog*>(top), nullptr);
}

// Print Graph of each graph window: the page's header line and the graph's texts read back as
// text, the graph drawn as lines and text (the file holds no picture of the page), and no picture
// of the page made in memory either (at 600 dpi one would take 127 MB).
TEST_F(PrintTest, PrintGraphKeepsTheHeaderAndDrawsLinesAndText) {
    kt::ScalingStore(true);
    Report({"one line"}, "graph.bmf");
    OpenTotalsWindow();
    TotalsWindow* totals = TotalsGraphWindow();
    ASSERT_NE(totals, nullptr);
    totals->ShowStatistics();
    totals->ShowScaling();
    const std::pair<GraphWindow*, const char*> windows[] = {
        {totals, "ProcessorMarks"},
        {StatisticsGraphWindow(), "Peak Scores (x10)"},
        {ScalingGraphWindow(), "System Scaling Efficiency Distribution"},
    };
    for (const auto& [window, graph_text] : windows) {
        ASSERT_NE(window, nullptr) << graph_text;
        QFile::remove(QString::fromStdString(pdf));
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        window->Button("Print Graph")->click();
        getrusage(RUSAGE_SELF, &after);
        EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 100 * 1024) << graph_text << ": kB more at the peak";
        const std::string text = Plain(Output("pdftotext -layout '" + pdf + "' - 2>/dev/null"));
        EXPECT_TRUE(std::regex_search(text, std::regex(R"(graph\.bmf; [A-Z][a-z]{2} [A-Z][a-z]{2} +\d{1,2} \d\d:\d\d:\d\d \d{4})")))
            << graph_text << ":\n" << text;
        EXPECT_NE(text.find(graph_text), std::string::npos) << text;
        // pdfimages -list: two heading lines, then one line per picture ("page num type width
        // height ..."); none may be larger than a hatch pattern's cell.
        std::istringstream list(Output("pdfimages -list '" + pdf + "' 2>&1"));
        std::string line;
        for (int k = 0; k < 2 && std::getline(list, line); ++k) {
        }
        while (std::getline(list, line)) {
            std::istringstream fields(line);
            int page = 0, num = 0, width = 0, height = 0;
            std::string type;
            fields >> page >> num >> type >> width >> height;
            EXPECT_LE(std::max(width, height), 64) << graph_text << ": " << line;
        }
    }
}

TEST_F(PrintTest, PrinterSetupChangesThePrinterThatPrintStartsFrom) {
    // Setup picks a landscape page; the next Print starts from that printer, and keeps it.
    SetPrinterChooser([this](QPrinter& printer, PrinterDialog kind, QWidget*) {
        kinds.push_back(kind);
        if (kind == PrinterDialog::Setup) {
            ChoosePdf(printer, pdf);
            printer.setPageOrientation(QPageLayout::Landscape);
        }
        return true;
    });
    Report({"one line"}, "x.bmf");
    w->Command(CMD_PRINTER_SETUP);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(pdf)));
    w->Command(CMD_PRINT);
    EXPECT_EQ(kinds, (std::vector<PrinterDialog>{PrinterDialog::Setup, PrinterDialog::Print}));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(pdf)));
    EXPECT_EQ(Printer().width(), 6600);
    EXPECT_EQ(print_state.printscale, 8.25f);
    const std::string info = Output("pdfinfo '" + pdf + "'");
    EXPECT_TRUE(std::regex_search(info, std::regex(R"(Page size: +792 x 576 pts)"))) << info;
    EXPECT_TRUE(std::regex_search(info, std::regex(R"(Title: +Print File - x\.bmf\n)"))) << info;
}

}  // namespace

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }

// The viewer: opening, the document limit, Save as, scrolling and its settings.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMdiArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "glance/commands.h"
#include "glance/documents.h"
#include "glance/frame.h"
#include "glance/settings.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "shared/gdi/font.h"
#include "tests/support/data_size_limit.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/font_dialog.h"
#include "tests/support/isolation.h"
#include "tests/support/qt_test_main.h"

namespace fs = std::filesystem;
using namespace glance;

namespace {

using Lines = std::vector<std::string>;

class GlanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        kp::reg::DeleteTree(kp::reg::Root::CurrentUser, kViewerKey);
        dir = kt::FreshDir("files");
    }
    // A frame as the program starts it, with the person's choices scripted.
    std::unique_ptr<Frame> Open() {
        auto f = std::make_unique<Frame>();
        f->open_dialog = [this](const QString&) { return chosen; };
        f->save_dialog = [this](const QString&) { return save_name; };
        f->Start("");
        return f;
    }
    std::string File(const std::string& name, const std::string& bytes) { return kt::WriteFile(dir + "/" + name, bytes); }
    QStringList Files(int n) {
        QStringList list;
        for (int k = 0; k < n; ++k)
            list << QString::fromStdString(File("f" + std::to_string(k) + ".bmf", "Kestrel\r\nline " + std::to_string(k) + "\r\n"));
        return list;
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> t;
        for (const kp::BoxRequest& b : boxes.boxes()) t.push_back(b.caption + ": " + b.text);
        return t;
    }
    static std::vector<int> Ids(Frame& f) {
        std::vector<int> ids;
        for (DocWindow* w : f.Documents()) ids.push_back(w->Id());
        return ids;
    }
    static bool DocumentItemsEnabled(Frame& f, bool enabled) {
        for (int id : {CMD_SAVE_AS, CMD_CLOSE, CMD_MAIL, CMD_MAIL_ALL, CMD_PRINT, CMD_PRINT_ALL, CMD_COPY_ALL, CMD_FONT})
            if (f.Action(id)->isEnabled() != enabled) return false;
        return true;
    }

    kp::BoxRecorder boxes;
    std::string dir;
    QStringList chosen;
    QString save_name;
};

TEST_F(GlanceTest, OpensTwoFilesEachInItsOwnWindowAndFreesIdsOnClose) {
    auto f = Open();
    EXPECT_TRUE(DocumentItemsEnabled(*f, false));
    const std::string a = File("a.BMF", "Kestrel Results\r\nScore: 12\r\n");
    const std::string b = File("b.bmf", "first\nsecond\nthird");
    chosen = {QString::fromStdString(a), QString::fromStdString(b)};
    f->Command(CMD_OPEN);
    ASSERT_EQ(f->Documents().size(), 2);
    EXPECT_EQ(Ids(*f), (std::vector<int>{100, 101}));
    EXPECT_EQ(f->Documents()[0]->windowTitle().toStdString(), a);
    EXPECT_EQ(f->Documents()[1]->windowTitle().toStdString(), b);
    EXPECT_EQ(f->Store().Find(100)->lines, (Lines{"Kestrel Results", "Score: 12"}));
    EXPECT_EQ(f->Store().Find(101)->lines, (Lines{"first", "second", "third"}));
    EXPECT_TRUE(DocumentItemsEnabled(*f, true));
    EXPECT_TRUE(boxes.boxes().empty());

    // Copy All takes the top document, its hidden first line included.
    f->Mdi()->setActiveSubWindow(f->Documents()[0]);
    f->Command(CMD_COPY_ALL);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "Kestrel Results\r\nScore: 12\r\n");

    // The id of a closed document goes to the next one.
    f->Documents()[0]->close();
    chosen = {QString::fromStdString(b)};
    f->Command(CMD_OPEN);
    EXPECT_EQ(Ids(*f), (std::vector<int>{101, 100}));
    f->Command(CMD_CLOSE_ALL);
    EXPECT_EQ(f->Store().Count(), 0);
    EXPECT_TRUE(DocumentItemsEnabled(*f, false));
    // With no document Copy All leaves the clipboard alone.
    QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
    f->Command(CMD_COPY_ALL);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));
}

TEST_F(GlanceTest, TwentyDocumentLimitForOpenAndDrop) {
    auto f = Open();
    chosen = Files(3);
    f->Command(CMD_OPEN);
    ASSERT_EQ(f->Store().Count(), 3);

    // Dropping: at most 19 - n files.
    f->DropFiles(Files(17));
    EXPECT_EQ(f->Store().Count(), 3);
    f->DropFiles(Files(16));
    EXPECT_EQ(f->Store().Count(), 19);
    f->Command(CMD_CLOSE_ALL);

    chosen = Files(3);
    f->Command(CMD_OPEN);
    chosen = Files(18);
    f->Command(CMD_OPEN);
    EXPECT_EQ(f->Store().Count(), 20);
    f->Command(CMD_OPEN);
    f->DropFiles(Files(1));
    EXPECT_EQ(f->Store().Count(), 20);
    EXPECT_EQ(Texts(), (std::vector<std::string>{
                           "File Exception: Cannot drop 17 files into this window (only 16)",
                           "File Exception: Can only open 20 windows",
                           "File Exception: Too many windows open!  Close one to open this file.",
                           "File Exception: Too many windows open!  Close one to open this file.",
                       }));
}

TEST_F(GlanceTest, SaveAsWritesEveryLineWithCarriageReturnLineFeed) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"Kestrel version 1.21\r\n\r\nScore: 12\r\nlast\r\n", "Kestrel version 1.21\r\n\r\nScore: 12\r\nlast\r\n"},
        {"Kestrel version 1.21\n\nScore: 12\nlast\n", "Kestrel version 1.21\r\n\r\nScore: 12\r\nlast\r\n"},
        {"no line feed at the end", "no line feed at the end\r\n"},
    };
    auto f = Open();
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        const std::string in = File("in" + std::to_string(n) + ".bmf", c.in);
        const std::string out = dir + "/new" + std::to_string(n++) + ".bmf";  // a new name
        ASSERT_TRUE(f->OpenResultFile(in));
        save_name = QString::fromStdString(out);
        f->Mdi()->setActiveSubWindow(f->NewestDocument());
        f->Command(CMD_SAVE_AS);
        EXPECT_EQ(kt::ReadFile(out), c.out);
        EXPECT_EQ(f->NewestDocument()->windowTitle().toStdString(), out);
        EXPECT_TRUE(boxes.boxes().empty());
        // The saved file reads back as the same lines.
        ASSERT_TRUE(f->OpenResultFile(out));
        EXPECT_EQ(f->Store().Find(f->NewestDocument()->Id())->lines, f->Store().Find(f->NewestDocument()->Id() - 1)->lines);
    }
}

TEST_F(GlanceTest, SaveAsAsksOnlyForAnExistingFileAndKeepsTheDocumentOnFailure) {
    auto f = Open();
    ASSERT_TRUE(f->OpenResultFile(File("doc.bmf", "a\r\nb\r\n")));
    DocWindow* w = f->NewestDocument();
    f->Mdi()->setActiveSubWindow(w);
    const int old_fd = f->Store().Find(w->Id())->fd;
    const std::string title = w->windowTitle().toStdString();

    // An existing file: the question; No leaves it as it was.
    const std::string existing = File("existing.bmf", "keep me\r\n");
    save_name = QString::fromStdString(existing);
    boxes.Script({kp::Answer::No});
    f->Command(CMD_SAVE_AS);
    EXPECT_EQ(kt::ReadFile(existing), "keep me\r\n");
    // A folder that does not exist: no question, the reason, and the document keeps its file.
    save_name = QString::fromStdString(dir + "/missing/new.bmf");
    f->Command(CMD_SAVE_AS);
    // Writes that fail part-way (as on a full disk): to a new name, which then does not exist, and
    // over the existing file after Yes, which keeps every byte. No partial file is left behind.
    const auto names = [&] {
        std::set<std::string> n;
        for (const auto& e : fs::directory_iterator(dir)) n.insert(e.path().filename().string());
        return n;
    };
    const std::set<std::string> before = names();
    {
        kt::FileSizeLimit limit(2);
        save_name = QString::fromStdString(dir + "/short.bmf");
        f->Command(CMD_SAVE_AS);
        save_name = QString::fromStdString(existing);
        boxes.Script({kp::Answer::Yes});
        f->Command(CMD_SAVE_AS);
    }
    EXPECT_EQ(names(), before);
    EXPECT_EQ(kt::ReadFile(existing), "keep me\r\n");
    EXPECT_EQ(Texts(), (std::vector<std::string>{"File Exception: File Already Exists!  Overwrite?",
                                                  "File Exception: Error Writing file!",
                                                  "File Exception: Error Writing data to the file!",
                                                  "File Exception: File Already Exists!  Overwrite?",
                                                  "File Exception: Error Writing data to the file!"}));
    EXPECT_EQ(f->Store().Find(w->Id())->fd, old_fd);
    EXPECT_EQ(w->windowTitle().toStdString(), title);

    // Yes replaces it, through a link too: the link stays and the file keeps its permissions.
    boxes.Clear();
    ASSERT_EQ(chmod(existing.c_str(), 0640), 0);
    const std::string link = dir + "/link.bmf";
    fs::create_symlink(existing, link);
    save_name = QString::fromStdString(link);
    boxes.Script({kp::Answer::Yes});
    f->Command(CMD_SAVE_AS);
    EXPECT_EQ(kt::ReadFile(existing), "a\r\nb\r\n");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::status(existing).permissions(), fs::perms(0640));
    EXPECT_EQ(w->windowTitle().toStdString(), link);
    // Anything but a regular file is not replaced (here a socket, which no open waits on).
    const std::string socket_name = dir + "/socket.bmf";
    const int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(socket_name.size(), sizeof addr.sun_path);
    socket_name.copy(addr.sun_path, socket_name.size());
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    save_name = QString::fromStdString(socket_name);
    boxes.Script({kp::Answer::Yes});
    f->Command(CMD_SAVE_AS);
    EXPECT_TRUE(fs::is_socket(socket_name));
    ::close(s);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"File Exception: File Already Exists!  Overwrite?",
                                                  "File Exception: File Already Exists!  Overwrite?",
                                                  "File Exception: Error Writing file!"}));
    EXPECT_EQ(w->windowTitle().toStdString(), link);
}

TEST_F(GlanceTest, AFileThatCannotBeWrittenIsShown) {
    // A running program's file cannot be opened for writing by anyone (root included).
    auto child = kp::ChildProcess::Spawn("/bin/sleep", {"sleep", "30"});
    ASSERT_TRUE(child.has_value());
    auto f = Open();
    const std::string path = "/proc/" + std::to_string(child->pid()) + "/exe";
    EXPECT_TRUE(f->OpenResultFile(path));
    EXPECT_EQ(f->Store().Count(), 1);
    EXPECT_TRUE(boxes.boxes().empty());
    // A missing file: the box, and its window is closed.
    EXPECT_FALSE(f->OpenResultFile(dir + "/missing.bmf"));
    EXPECT_EQ(Texts(), std::vector<std::string>{"File Exception: Could not open the file."});
    EXPECT_EQ(f->Store().Count(), 1);
}

// Only regular files are documents: a FIFO, whose open would wait for a writer, and character
// devices, of which /dev/zero never ends, get the box an unreadable file gets.
TEST_F(GlanceTest, OnlyRegularFilesAreOpened) {
    const std::string fifo = dir + "/pipe.bmf";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Guards against a hang only: a writer end keeps being offered while the open runs, so an
    // open that waits for one returns (and then reads an empty file).
    std::jthread writer([&](std::stop_token stop) {
        while (!stop.stop_requested()) {
            const int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (w >= 0) ::close(w);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    auto f = Open();
    std::vector<std::string> refused;
    for (const std::string& path : {fifo, std::string("/dev/null"), std::string("/dev/zero")}) {
        SCOPED_TRACE(path);
        // Guards against running out of memory only: reading /dev/zero whole stops at 256 MiB.
        const kt::DataSizeLimit limit(rlim_t(256) << 20);
        EXPECT_FALSE(f->OpenResultFile(path));
        refused.push_back("File Exception: Could not open the file.");
    }
    EXPECT_EQ(Texts(), refused);
    EXPECT_EQ(f->Store().Count(), 0);
    // A regular file still opens.
    EXPECT_TRUE(f->OpenResultFile(File("plain.bmf", "title\r\nScore: 1\r\n")));
    EXPECT_EQ(f->Store().Find(f->NewestDocument()->Id())->lines, (Lines{"title", "Score: 1"}));
}

// A file too large to be held: "Allocation Error!", its window stays empty, the rest of the Open
// command is not done, and the documents open before stay as they were.
TEST_F(GlanceTest, AFileTooLargeForMemoryEndsOnlyItsCommand) {
    auto f = Open();
    ASSERT_TRUE(f->OpenResultFile(File("before.bmf", "title\r\nScore: 1\r\n")));
    const std::string huge = File("huge.bmf", "");
    ASSERT_EQ(truncate(huge.c_str(), off_t(1) << 30), 0);  // sparse: no disk used
    chosen = {QString::fromStdString(File("small.bmf", "a\r\n")), QString::fromStdString(huge),
              QString::fromStdString(File("after.bmf", "b\r\n"))};
    {
        const kt::DataSizeLimit limit(rlim_t(64) << 20);
        f->Command(CMD_OPEN);
    }
    EXPECT_EQ(Texts(), std::vector<std::string>{"Memory Exception: Allocation Error!"});
    ASSERT_EQ(f->Documents().size(), 3);
    EXPECT_EQ(f->Store().Find(100)->lines, (Lines{"title", "Score: 1"}));
    EXPECT_EQ(f->Store().Find(101)->lines, (Lines{"a"}));
    EXPECT_EQ(f->Documents()[2]->windowTitle().toStdString(), huge);
    EXPECT_TRUE(f->Store().Find(102)->lines.empty());
}

TEST_F(GlanceTest, ScrollRangeFollowsTheLineCountAndTheWindowSize) {
    std::string text;
    for (int k = 0; k < 1000; ++k) text += "line " + std::to_string(k) + "\r\n";
    text += std::string(300, 'w') + "\r\n";  // the widest line, last
    auto f = Open();
    ASSERT_TRUE(f->OpenResultFile(File("long.bmf", text)));
    DocWindow* w = f->NewestDocument();
    w->resize(400, 300);
    DocView* v = w->View();
    const int visible = v->viewport()->height() / v->line_height;
    ASSERT_GT(visible, 2);
    // Lines 1 to 1000 are shown: the last position brings line 1000 to the bottom.
    EXPECT_EQ(v->vmax, 1000 - visible);
    v->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(v->vpos, 1000 - visible);
    EXPECT_EQ(v->verticalScrollBar()->value(), v->vpos);
    // Near the end a page step that would pass it is not taken; a line step is.
    v->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    v->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(v->vpos, 999 - visible);
    v->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(v->vpos, 1000 - visible);
    // The wheel moves line by line, so that it reaches the end too.
    v->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QWheelEvent notch(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(v->viewport(), &notch);
    EXPECT_EQ(v->vpos, 1000 - visible);
    // The last horizontal position brings the end of the widest line into view, and no earlier
    // one does.
    const int widest = QFontMetrics(f->DocumentFont()).horizontalAdvance(QString(300, QLatin1Char('w')));
    const auto end_of_widest = [&](int hpos) { return (1 - hpos) * v->char_width + widest; };
    EXPECT_LE(end_of_widest(v->hmax), v->viewport()->width());
    EXPECT_GT(end_of_widest(v->hmax - 1), v->viewport()->width());

    // A taller window holds more lines.
    w->resize(400, 600);
    const int more = v->viewport()->height() / v->line_height;
    ASSERT_GT(more, visible);
    EXPECT_EQ(v->vmax, 1000 - more);
    // A short document does not scroll.
    ASSERT_TRUE(f->OpenResultFile(File("short.bmf", "title\r\nScore: 1\r\n")));
    f->NewestDocument()->resize(400, 300);
    EXPECT_EQ(f->NewestDocument()->View()->vmax, 0);
}

TEST_F(GlanceTest, ToolPaneShowsAButtonsHelpOnlyWhileOverIt) {
    auto f = Open();
    QWidget* top = f->findChild<QWidget*>("TextTop");
    ASSERT_NE(top, nullptr);
    const auto help = [&](int k) { return f->findChild<QToolButton*>(QString::number(4801 + k))->toolTip(); };
    ASSERT_FALSE(help(0).isEmpty());
    // Buttons sit at x = 37 + 34 k, 24 across, in frames 30 across at x = 34 + 34 k.
    const struct {
        int x, y;
        int button;  // the help text shown, -1 none
    } path[] = {
        {10, 18, -1}, {49, 18, 0}, {66, 18, -1},  // the gap after the first frame
        {83, 18, 1}, {83, 35, -1},   // the frame below the button
        {83, 18, 1}, {35, 18, -1},   // the frame's left edge
        {321, 18, 8}, {10, 18, -1},  // left of the first frame
        {321, 18, 8}, {338, 18, -1}, {400, 18, -1},
    };
    for (const auto& p : path) {
        QTest::mouseMove(top, QPoint(p.x, p.y));
        EXPECT_EQ(f->Status()->Text().toStdString(), p.button < 0 ? "" : help(p.button).toStdString()) << p.x << "," << p.y;
    }
}

TEST_F(GlanceTest, WindowAndFontAreRestoredOnTheNextStart) {
    QFont chosen_font = DefaultFixedFont();
    chosen_font.setPixelSize(19);
    chosen_font.setItalic(true);
    {
        auto f = Open();
        // The first start has no settings yet: maximised, and the settings are written.
        EXPECT_TRUE(f->isMaximized());
        EXPECT_TRUE(kp::reg::KeyExists(kp::reg::Root::CurrentUser, kViewerFontsKey));
        f->showNormal();
        f->setGeometry(30, 40, 500, 400);
        f->font_dialog = [&](const LogFont&, const QFont&) { return std::optional<LogFont>(LogFontFromFont(chosen_font)); };
        ASSERT_TRUE(f->OpenResultFile(File("a.bmf", "x\r\ny\r\n")));
        f->Command(CMD_FONT);
        EXPECT_EQ(f->NewestDocument()->View()->line_height, QFontMetrics(f->DocumentFont()).height() + QFontMetrics(f->DocumentFont()).leading());
        f->close();
    }
    auto g = Open();
    EXPECT_FALSE(g->isMaximized());
    EXPECT_EQ(g->geometry(), QRect(30, 40, 500, 400));
    EXPECT_EQ(g->Settings().font, LogFontFromFont(chosen_font));
    EXPECT_EQ(g->DocumentFont().pixelSize(), 19);
    EXPECT_TRUE(g->DocumentFont().italic());
}

TEST_F(GlanceTest, FontDialogOpensOnTheDocumentFontAndOkUnchangedKeepsTheRecord) {
    LogFont upright;
    upright.Height = -13;
    upright.Weight = 400;
    upright.PitchAndFamily = 0x31;
    upright.FaceName = "DejaVu Sans Mono";
    LogFont bold_italic = upright;
    bold_italic.Height = -16;
    bold_italic.Weight = 700;
    bold_italic.Italic = 1;
    bold_italic.CharSet = 2;
    bold_italic.Quality = 1;
    for (const LogFont& lf : {upright, bold_italic}) {
        SCOPED_TRACE(lf.Height);
        ViewerSettings s;
        s.Right = 640;
        s.Bottom = 480;
        s.font = lf;
        ASSERT_EQ(SaveViewerSettings(s), 0);
        auto f = Open();
        ASSERT_TRUE(f->OpenResultFile(File("a.bmf", "x\r\ny\r\n")));
        const QFont shown = f->DocumentFont();
        QFont opening;
        kt::AcceptNextFontDialog(&opening);
        f->Command(CMD_FONT);
        EXPECT_EQ(QFontInfo(opening).family(), QFontInfo(shown).family());
        EXPECT_EQ(opening.weight(), shown.weight());
        EXPECT_EQ(opening.italic(), lf.Italic != 0);
        EXPECT_EQ(f->Settings().font, lf);
        EXPECT_EQ(f->DocumentFont(), shown);
        ViewerSettings back;
        EXPECT_EQ(LoadViewerSettings(back), 0);
        EXPECT_EQ(back.font, lf);
    }
}

TEST_F(GlanceTest, FontByteFieldsAreTheLowByteOfTheirValues) {
    ViewerSettings s;
    s.Right = 640;
    s.Bottom = 480;
    s.font.Height = -14;
    s.font.Italic = 1;
    s.font.Underline = 1;
    s.font.CharSet = 2;
    s.font.PitchAndFamily = 0x31;
    s.font.FaceName = "DejaVu Sans Mono";
    ASSERT_EQ(SaveViewerSettings(s), 0);
    auto fonts = kp::reg::Key::Open(kp::reg::Root::CurrentUser, kViewerFontsKey);
    ASSERT_TRUE(fonts.has_value());
    // Each byte field alone, as kestrel stores its font.
    EXPECT_EQ(fonts->QueryDword("LogFont Italic"), 1u);
    EXPECT_EQ(fonts->QueryDword("LogFont CharSet"), 2u);
    EXPECT_EQ(fonts->QueryDword("LogFont PitchAndFamily"), 0x31u);
    ViewerSettings back;
    EXPECT_EQ(LoadViewerSettings(back), 0);
    EXPECT_EQ(back.font, s.font);
    // Values with other high bytes (written by hand or another program) keep only the low byte,
    // and the face name stays whole.
    fonts->SetDword("LogFont Italic", 0x01010100);
    fonts->SetDword("LogFont PitchAndFamily", 0xABCDEF31);
    EXPECT_EQ(LoadViewerSettings(back), 0);
    EXPECT_EQ(back.font.Italic, 0);
    EXPECT_EQ(back.font.PitchAndFamily, 0x31);
    EXPECT_EQ(back.font.FaceName, "DejaVu Sans Mono");
    // A stored rectangle of 100 or less across is the default one.
    s.Right = 100;
    ASSERT_EQ(SaveViewerSettings(s), 0);
    EXPECT_EQ(LoadViewerSettings(back), 0);
    EXPECT_EQ((std::vector<int>{back.Left, back.Top, back.Right, back.Bottom}), (std::vector<int>{200, 150, 800, 600}));
}

}  // namespace

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }

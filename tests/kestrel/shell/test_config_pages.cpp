// The settings frame and the Configuration pages offscreen: the frame's build and its pages,
// opening with the stored description, per-disk editing, OK and Cancel, the first start, and
// the report header of the next run.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <cctype>
#include <filesystem>

#include "kestrel/engine/processor/workers.h"
#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/run/commands.h"
#include "kestrel/engine/disk/disk_test.h"
#include "kestrel/engine/report/benchmark_reader.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/engine/run/system_info.h"
#include "kestrel/shell/config_pages.h"
#include "kestrel/shell/main_window.h"
#include "kestrel/shell/panes.h"
#include "kestrel/shell/tab_frame.h"
#include "platform/msgbox.h"
#include "shared/ui/help.h"
#include "tests/kestrel/shell/shell_test_support.h"
#include "tests/support/isolation.h"
#include "tests/support/qt_test_main.h"

namespace {

class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallBenchmarkReader();
        perflink.program_directory = KESTREL_BIN_DIR;
        measuring_times.driver_seconds = 0.01;
        measuring_times.flops_scale = 0.001;
    }
    void TearDown() override {
        if (HelpWindow* help = HelpWindow::Current()) delete help;
    }
    void Start() {
        w = std::make_unique<MainWindow>();
        w->Init("");
        ASSERT_TRUE(kt::Until([&] { return w->StartupDone(); }));
    }
    TabFrame* Frame() const { return w->TabWindow(); }
    // A control of page s by its identifier.
    template <class T>
    T* Control(int s, int id) const {
        EXPECT_NE(Frame(), nullptr);
        if (Frame() == nullptr) return nullptr;
        T* c = Frame()->Page(s)->findChild<T*>(QString::number(id));
        EXPECT_NE(c, nullptr) << "page " << s << " control " << id;
        return c;
    }
    QString Text(int s, int id) const { return Control<QLineEdit>(s, id)->text(); }
    // Types into an edit as a person would, replacing its text.
    void Type(int s, int id, const QString& text) const {
        QLineEdit* e = Control<QLineEdit>(s, id);
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Delete);
        QTest::keyClicks(e, text);
    }
    void Choose(int s, int id, int index) const { Control<QComboBox>(s, id)->setCurrentIndex(index); }
    int Chosen(int s, int id) const { return Control<QComboBox>(s, id)->currentIndex(); }
    void Press(int s, int id) const {
        Frame()->ShowPage(s);
        QTest::mouseClick(Control<QPushButton>(s, id), Qt::LeftButton);
    }
    void OpenPages() {
        w->Command(CMD_CONFIGURATION);
        ASSERT_NE(Frame(), nullptr);
    }
    // A machine of three drives (two disks and a graphics card in its device tree) and 6 GB of
    // memory (6143.55 MB), a processor clock of 2894.5 MHz; processors as start-up found them.
    void FakeMachine() {
        namespace fs = std::filesystem;
        const std::string sys = kt::FreshDir("sys");
        const auto write = [](const std::string& path, const std::string& text) {
            fs::create_directories(fs::path(path).parent_path());
            kt::WriteFile(path, text);
        };
        write(sys + "/block/sda/device/vendor", "ACME    \n");
        write(sys + "/block/sda/device/model", "Disk One\n");
        write(sys + "/block/sdb/device/model", "Disk Two\n");
        fs::create_directories(sys + "/class/drm/card0/device");
        fs::create_directory_symlink("../../../bus/pci/drivers/mga64", sys + "/class/drm/card0/device/driver");
        sysfs_root = sys;
        // The proc tree as it is, but for the memory and the processor's name.
        const std::string proc = kt::FreshDir("proc");
        for (const fs::directory_entry& e : fs::directory_iterator("/proc")) {
            const std::string name = e.path().filename().string();
            if (name == "meminfo" || name == "cpuinfo" || std::isdigit(static_cast<unsigned char>(name[0]))) continue;
            fs::create_symlink(e.path(), proc + "/" + name);
        }
        write(proc + "/meminfo", "MemTotal:        6291000 kB\n");
        write(proc + "/cpuinfo", "processor\t: 0\nmodel name\t: Test CPU\ncpu MHz\t\t: 2894.500\n");
        setenv("KESTREL_PROC_ROOT", proc.c_str(), 1);
    }
    void FakeDrives() {
        globaldrives = 3;
        drivemenu.globaldrivechar[0] = "/";
        drivemenu.globaldrivechar[1] = "/data/";
        drivemenu.globaldrivechar[2] = "/home/";
    }
    // A stored description; the one in memory is then emptied.
    static void StoreDescription() {
        MachineDescription& m = machine;
        m.manufacturer = "Acme";
        m.make = "Model 9";
        m.os = "Stored OS";
        m.theproc = "1 Test Processor";
        m.speed = "200";
        m.cachesize = "512";
        m.memory = "12";
        m.cachevalue = 2;
        m.memoryvalue = 1;
        m.videoadapter = "mga64";
        m.videoram = "4";
        m.ramvalue = 0;
        m.harddisk[0] = "Disk Zero";
        m.adapter[0] = "Bus Zero";
        m.diskvalue[0] = 3;
        m.harddisk[1] = "";
        m.adapter[1] = "Bus One";
        m.diskvalue[1] = 5;
        m.diskvalue[2] = 6;
        ASSERT_EQ(CreateRegEntry2(), 0);
        machine = MachineDescription{};
    }
    static bool HasLine(const std::string& line) {
        return std::find(report.szGreeting.begin(), report.szGreeting.end(), line) != report.szGreeting.end();
    }
    // A memory-test run from the menu, stopped at its first pause: its header is written.
    void RunStopped() {
        kt::DuringTheRun([&] { w->Command(CMD_STOP); });
        if (!w->Action(CMD_MEMORY_TEST)->isChecked()) w->Action(CMD_MEMORY_TEST)->trigger();
        w->Action(CMD_NEW_TEST)->trigger();
        ASSERT_EQ(run.testrunning, 0);
        report.isnew = 0;  // nothing to save before the next one
    }

    kp::BoxRecorder boxes;
    std::unique_ptr<MainWindow> w;
};

TEST_F(ConfigTest, TheFrameHoldsThePagesOfItsKindOneAtATime) {
    Start();
    // The first start with nothing stored opened the Configuration frame.
    TabFrame* frame = Frame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->Kind(), kConfigurationFrame);
    EXPECT_EQ(frame->objectName(), "tabs");
    EXPECT_EQ(frame->windowTitle(), "Configuration");
    EXPECT_EQ(frame->parentWidget(), w->Report());
    EXPECT_TRUE(frame->isVisible());
    const int button = frame->style()->pixelMetric(QStyle::PM_TitleBarButtonSize, nullptr, frame);
    const QPoint text_area = w->Report()->viewport()->pos();
    EXPECT_EQ(frame->geometry(), QRect(text_area + QPoint(5, 5), QSize(567, button >= 32 ? 345 : 330)));
    QTabWidget* tabs = frame->Tabs();
    EXPECT_EQ(tabs->objectName(), "1400");
    const QStringList texts = {"Computer", "CPU/Memory", "Video", "Disk"};
    ASSERT_EQ(tabs->count(), texts.size());
    for (int s = 0; s < tabs->count(); ++s) {
        EXPECT_EQ(tabs->tabText(s), texts[s]);
        EXPECT_EQ(tabs->widget(s)->objectName(), QStringLiteral("CONFIG%1").arg(s + 1));
        EXPECT_FALSE(tabs->tabIcon(s).pixmap(32, 32).isNull());
    }
    EXPECT_EQ(tabs->tabBar()->toolTip(), "Click a tab to set your system configuration");
    EXPECT_EQ(frame->focus(), 0);

    // A click on a tab shows its page alone.
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(2).center());
    EXPECT_EQ(frame->focus(), 2);
    for (int s = 0; s < 4; ++s) EXPECT_EQ(tabs->widget(s)->isVisible(), s == 2) << s;

    // The command again brings the same frame up.
    w->Command(CMD_CONFIGURATION);
    EXPECT_EQ(Frame(), frame);
    EXPECT_EQ(frame->focus(), 2);

    // The other kind closes it and opens with the pages handed to it.
    QPointer<TabFrame> old = frame;
    std::vector<QString> made;
    TabFrame* prefs_frame = w->OpenTabFrame(kPreferencesFrame, [&](TabFrame&) {
        std::vector<QWidget*> pages;
        for (const char* name : {"PREF1", "PREF2", "PREF3"}) {
            pages.push_back(new QWidget);
            pages.back()->setObjectName(QString::fromLatin1(name));
            made.push_back(QString::fromLatin1(name));
        }
        return pages;
    });
    EXPECT_EQ(made.size(), 3u);
    EXPECT_EQ(Frame(), prefs_frame);
    EXPECT_EQ(prefs_frame->windowTitle(), "Preferences");
    ASSERT_EQ(prefs_frame->Tabs()->count(), 3);
    EXPECT_EQ(prefs_frame->Tabs()->tabText(2), "Benchmark Settings");
    EXPECT_EQ(prefs_frame->Page(1)->objectName(), "PREF2");
    EXPECT_EQ(prefs_frame->Tabs()->tabBar()->toolTip(), "Select a tab to change preferences");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(old.isNull());

    // New Test closes it.
    QPointer<TabFrame> open = prefs_frame;
    kt::DuringTheRun([&] { w->Command(CMD_STOP); });
    w->Action(CMD_MEMORY_TEST)->trigger();
    w->Action(CMD_NEW_TEST)->trigger();
    EXPECT_EQ(Frame(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(open.isNull());
}

// Each page reloads the stored description as it opens and fills it from the machine; the
// fields in force afterwards are those the last page (Disk) left.
TEST_F(ConfigTest, PagesOpenWithTheStoredDescription) {
    FakeMachine();
    Start();
    Press(0, 2);  // the first start's pages
    FakeDrives();
    StoreDescription();
    run.real_num_processors = 4;
    OpenPages();

    struct Shown {
        int page, id;
        const char* text;
    };
    const Shown shown[] = {
        {0, 10, "Acme"}, {0, 11, "Model 9"}, {0, 20, "Stored OS"},
        // The CPU/Memory page shows the texts as stored: its processor count is not rebuilt
        // and a stored memory size is kept.
        {1, 17, "1 Test Processor"}, {1, 18, "200"}, {1, 35, "512"}, {1, 19, "12"},
        {2, 12, "mga64"}, {2, 24, "4"},
        {3, 21, "Disk Zero"}, {3, 36, "Bus Zero"},
    };
    for (const Shown& e : shown) EXPECT_EQ(Text(e.page, e.id), e.text) << e.page << " " << e.id;
    EXPECT_EQ(Chosen(1, 8), 2);
    EXPECT_EQ(Chosen(1, 39), 1);
    EXPECT_EQ(Control<QComboBox>(2, 15)->currentText(), "WRAM");  // the adapter carries WRAM
    EXPECT_EQ(Chosen(3, 41), 3);
    QComboBox* disks = Control<QComboBox>(3, 40);
    ASSERT_EQ(disks->count(), 3);
    EXPECT_EQ(disks->itemText(1), "/data/");
    EXPECT_EQ(disks->currentIndex(), 0);
    EXPECT_EQ(Control<QComboBox>(1, 8)->itemText(5), "Integrated DIE + L3");
    EXPECT_EQ(Control<QComboBox>(1, 39)->itemText(0), "FPM (typical/normal ram)");
    EXPECT_EQ(Control<QComboBox>(3, 41)->itemText(6), "None Specified");

    // In force: the machine's processor count and measured memory, the empty second disk's
    // name from the machine.
    EXPECT_EQ(machine.theproc, "4 Test Processors");
    EXPECT_EQ(machine.memory, "6144");
    EXPECT_EQ(machine.harddisk[1], "Disk Two");
    EXPECT_EQ(config_choices.globalvidval, 3);

    // Help opens each page's topic.
    const char* topics[] = {"configuration.html#computer", "configuration.html#cpu", "configuration.html#video",
                            "configuration.html#disk"};
    for (int s = 0; s < 4; ++s) {
        Press(s, 9);
        ASSERT_NE(HelpWindow::Current(), nullptr);
        EXPECT_EQ(HelpWindow::Current()->Page(), topics[s]);
        EXPECT_TRUE(HelpWindow::Current()->browser()->toPlainText().contains("Configuration"));
    }
    unsetenv("KESTREL_PROC_ROOT");
}

TEST_F(ConfigTest, EachLogicalDiskKeepsItsOwnEntriesAndCancelRestoresTheTypes) {
    FakeMachine();
    Start();
    Press(0, 2);
    FakeDrives();
    StoreDescription();
    OpenPages();
    Frame()->ShowPage(3);
    struct Disk {
        int stored_type;
        const char* stored_make;
        const char* stored_adapter;
        int type;
        const char* make;
        const char* adapter;
    };
    const Disk disks[] = {
        {3, "Disk Zero", "Bus Zero", 1, "Make A", "Adapter A"},
        {5, "Disk Two", "Bus One", 0, "Make B", "Adapter B"},
        {6, "", "", 4, "Make C", "Adapter C"},
    };
    for (int k = 0; k < 3; ++k) {
        Choose(3, 40, k);
        EXPECT_EQ(Chosen(3, 41), disks[k].stored_type) << k;
        EXPECT_EQ(Text(3, 21), disks[k].stored_make) << k;
        EXPECT_EQ(Text(3, 36), disks[k].stored_adapter) << k;
        Choose(3, 41, disks[k].type);
        Type(3, 21, disks[k].make);
        Type(3, 36, disks[k].adapter);
    }
    for (int k : {1, 0, 2, 1}) {
        Choose(3, 40, k);
        EXPECT_EQ(Chosen(3, 41), disks[k].type) << k;
        EXPECT_EQ(Text(3, 21), disks[k].make) << k;
        EXPECT_EQ(Text(3, 36), disks[k].adapter) << k;
        EXPECT_EQ(machine.diskvalue[k], disks[k].type) << k;
        EXPECT_EQ(machine.harddisk[k], disks[k].make) << k;
    }

    // Cancel from another page: the stored types come back; typed texts stay in memory only.
    Press(1, 2);
    EXPECT_EQ(Frame(), nullptr);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(machine.diskvalue[k], disks[k].stored_type) << k;
        EXPECT_EQ(machine.harddisk[k], disks[k].make) << k;
    }
    EXPECT_EQ(GetRegEntry2(), 0);
    EXPECT_EQ(machine.harddisk[0], "Disk Zero");
    EXPECT_EQ(machine.adapter[2], "");
    unsetenv("KESTREL_PROC_ROOT");
}

TEST_F(ConfigTest, OkOnAnyPageStoresTheChoicesOfEveryPage) {
    FakeMachine();
    Start();
    Press(0, 2);
    FakeDrives();
    for (int ok_page = 0; ok_page < 4; ++ok_page) {
        OpenPages();
        Choose(1, 8, 1 + ok_page);
        Choose(1, 39, ok_page);
        Choose(2, 15, 5 + ok_page);
        Choose(3, 40, 2);
        Choose(3, 41, ok_page);
        Type(0, 10, QStringLiteral("Maker %1").arg(ok_page));
        Type(1, 18, QStringLiteral("%1").arg(100 * (ok_page + 1)));
        Type(2, 24, QStringLiteral("%1").arg(ok_page + 2));
        Type(3, 21, QStringLiteral("Third disk %1").arg(ok_page));
        Press(ok_page, 1);
        EXPECT_EQ(Frame(), nullptr);

        machine = MachineDescription{};
        ASSERT_EQ(GetRegEntry2(), 0) << ok_page;
        EXPECT_EQ(machine.cachevalue, 1 + ok_page);
        EXPECT_EQ(machine.memoryvalue, ok_page);
        EXPECT_EQ(machine.ramvalue, 5 + ok_page);
        EXPECT_EQ(machine.diskvalue[2], ok_page);
        EXPECT_EQ(machine.diskvalue[0], 6);
        EXPECT_EQ(machine.manufacturer, QStringLiteral("Maker %1").arg(ok_page).toStdString());
        EXPECT_EQ(machine.speed, std::to_string(100 * (ok_page + 1)));
        EXPECT_EQ(machine.videoram, std::to_string(ok_page + 2));
        EXPECT_EQ(machine.harddisk[2], QStringLiteral("Third disk %1").arg(ok_page).toStdString());
        EXPECT_EQ(machine.harddisk[0], "ACME Disk One");
    }
    unsetenv("KESTREL_PROC_ROOT");
}

// The first start with nothing stored: the pages open, filled from the machine.
TEST_F(ConfigTest, FirstStartFillsThePagesFromTheMachine) {
    FakeMachine();
    Start();
    ASSERT_NE(Frame(), nullptr);
    EXPECT_EQ(Frame()->Kind(), kConfigurationFrame);
    ASSERT_FALSE(machine.osver.empty());
    EXPECT_EQ(Text(0, 20).toStdString(), "Linux " + machine.osver + " " + machine.servicepack);
    EXPECT_EQ(Text(0, 10), "");
    EXPECT_EQ(Text(1, 17).toStdString(), run.processor);
    EXPECT_NE(run.processor.find(" Test CPU"), std::string::npos);
    EXPECT_EQ(Text(1, 18), "2895");  // the processor's current clock, rounded
    EXPECT_EQ(Text(1, 19), "6144");
    EXPECT_EQ(Text(2, 12), "mga64");
    EXPECT_EQ(Control<QComboBox>(2, 15)->currentText(), "WRAM");
    EXPECT_EQ(Text(3, 21), "ACME Disk One");
    EXPECT_EQ(machine.harddisk[1], "Disk Two");
    EXPECT_EQ(Control<QComboBox>(3, 41)->currentText(), "None Specified");
    for (int k = 0; k < 26; ++k) EXPECT_EQ(machine.diskvalue[k], 6) << k;
    EXPECT_EQ(Chosen(1, 8), 0);
    // Nothing is stored until OK.
    EXPECT_EQ(GetRegEntry2(), 1);
    // Enter in an edit is OK.
    Frame()->ShowPage(3);
    QTest::keyClick(Control<QLineEdit>(3, 36), Qt::Key_Return);
    EXPECT_EQ(Frame(), nullptr);
    EXPECT_EQ(GetRegEntry2(), 0);
    EXPECT_EQ(machine.ramvalue, 3);
    EXPECT_EQ(machine.os, "Linux " + machine.osver + " " + machine.servicepack);
    unsetenv("KESTREL_PROC_ROOT");
}

TEST_F(ConfigTest, TheNextRunsHeaderFollowsTheChoices) {
    FakeMachine();
    Start();
    FakeDrives();
    // Typed and cancelled while nothing is stored: it stays in memory, and the report shows it.
    Type(0, 10, QStringLiteral("Typed Maker"));
    Press(0, 2);
    RunStopped();
    EXPECT_TRUE(HasLine("Computer Manufacturer: Typed Maker; Model: "));

    OpenPages();
    EXPECT_EQ(Text(0, 10), "Typed Maker");
    Type(0, 10, QStringLiteral("Acme"));
    Type(0, 11, QStringLiteral("Model 9"));
    Type(0, 20, QStringLiteral("Test OS"));
    Type(1, 17, QStringLiteral("2 Test CPUs"));
    Type(1, 18, QStringLiteral("300"));
    Choose(1, 8, 1);
    Type(1, 35, QStringLiteral("512"));
    Choose(1, 39, 2);
    Type(2, 24, QStringLiteral("8"));
    Choose(2, 15, 5);
    Choose(3, 41, 3);
    Type(3, 21, QStringLiteral("Fast Disk"));
    Type(3, 36, QStringLiteral("Bus X"));
    Press(2, 1);
    RunStopped();
    for (const std::string& line : {
             std::string("Computer Manufacturer: Acme; Model: Model 9"),
             std::string("Microprocessor:  2 Test CPUs running at 300 MHz"),
             std::string("OS Info:  Test OS"),
             std::string("Memory/Cache: 6144 MBs of Synchronous Dynamic RAM"),
             std::string("512 KBs External Pipeline-Burst (3-1-1-1) CPU Cache"),
             std::string("Video Info:  mga64 w/ 8 MBs of RAMBUS"),
             std::string("Hard Drive Info logical Disk 0 (/): "),
             std::string("Drive Name:  Fast Disk; Type:  Fast SCSI II"),
             std::string("Local Bus Adapter Name/Type:  Bus X"),
         }) {
        EXPECT_TRUE(HasLine(line)) << line;
    }

    // Once stored, a cancelled text no longer reaches the report (Escape is Cancel).
    OpenPages();
    Type(0, 10, QStringLiteral("Other"));
    QTest::keyClick(Control<QLineEdit>(0, 10), Qt::Key_Escape);
    EXPECT_EQ(Frame(), nullptr);
    RunStopped();
    EXPECT_TRUE(HasLine("Computer Manufacturer: Acme; Model: Model 9"));
    unsetenv("KESTREL_PROC_ROOT");
}

}  // namespace

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }

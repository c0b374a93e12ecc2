// The preferences pages and the test settings windows offscreen: each opens with the stored
// values, OK stores what it stores and Cancel keeps what it keeps, Test Scaling Efficiency opens
// the scaling steps on three or more processors, and the next run follows the choices.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextBrowser>
#include <filesystem>
#include <memory>

#include "kestrel/engine/disk/disk_test.h"
#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/commands.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/engine/processor/workers.h"
#include "kestrel/shell/main_window.h"
#include "kestrel/shell/panes.h"
#include "kestrel/shell/config_rules.h"
#include "kestrel/shell/settings_rules.h"
#include "kestrel/shell/settings_windows.h"
#include "kestrel/shell/tab_frame.h"
#include "platform/msgbox.h"
#include "shared/ui/help.h"
#include "tests/kestrel/shell/shell_test_support.h"
#include "tests/support/isolation.h"
#include "tests/support/qt_test_main.h"

namespace fs = std::filesystem;

namespace {

using kp::Answer;

class SettingsWindowsTest : public ::testing::Test {
protected:
    void SetUp() override { w = std::make_unique<MainWindow>(); }
    void TearDown() override {
        if (HelpWindow* help = HelpWindow::Current()) delete help;
        delete frame;
        w.reset();
    }

    // The machine as the windows see it: n processors.
    void Processors(int n) {
        run.real_num_processors = n;
        run.numprocessors = n;
        w->Action(CMD_SCALING)->setEnabled(n > 1);
    }
    // The three pages in a stand-in frame that closes when a page says so.
    void OpenPages() {
        frame = new QWidget;
        QPointer<QWidget> f = frame;
        CreatePrefPages(*w, frame, {[f] { delete f.data(); }, nullptr});
        frame->show();
    }
    template <class T = QWidget>
    T* Pref(int id) {
        for (const auto& page : settings_windows.hPrefDlg) {
            if (page == nullptr) continue;
            if (auto* c = qobject_cast<T*>(page->Control(id))) return c;
        }
        return nullptr;
    }
    void Click(int id) {
        auto* b = Pref<QAbstractButton>(id);
        ASSERT_NE(b, nullptr) << id;
        b->click();
    }
    bool Checked(int id) { return Pref<QAbstractButton>(id)->isChecked(); }
    QString Text(int id) { return Pref<QLineEdit>(id)->text(); }
    static QAbstractButton* Button(QWidget* window, const char* name) {
        return window->findChild<QAbstractButton*>(QString::fromLatin1(name));
    }

    std::unique_ptr<MainWindow> w;
    QPointer<QWidget> frame;
    kp::BoxRecorder boxes;
};

// Stores a set of preferences unlike the defaults.
void StoreChosenPreferences(const std::string& dir) {
    prefs.SMTPHost = "mail.example.org";
    prefs.Sender = "ann@example.org (Ann Lee)";
    prefs.yourname = "Ann Lee";
    prefs.endmailfile = "/home/ann/.signature";
    prefs.files_directory = dir;
    prefs.valuelongtest = 1;
    prefs.graphvalue = 0;
    prefs.buttonvalue = 0;
    prefs.runglance = 1;
    prefs.show_perf_data = 1;
    prefs.use_high_precision = 0;
    prefs.memory_load_value = 1;
    ASSERT_EQ(CreateRegEntry(), 0);
}

TEST_F(SettingsWindowsTest, PreferencesOpenWithTheStoredValues) {
    const std::string dir = kt::FreshDir("results");
    StoreChosenPreferences(dir);
    // What the program holds meanwhile is replaced by what is stored.
    prefs.SMTPHost = "other";
    prefs.valuelongtest = 0;
    prefs.memory_load_value = 0;
    OpenPages();
    EXPECT_EQ(Text(10), "mail.example.org");
    EXPECT_EQ(Text(12), "ann@example.org");  // the address of the sender only
    EXPECT_EQ(Text(21), "Ann Lee");
    EXPECT_EQ(Text(16), "/home/ann/.signature");
    EXPECT_EQ(Text(37), QString::fromStdString(dir));
    for (int id : {13, 19, 25, 27, 15, 34}) EXPECT_TRUE(Checked(id)) << id;
    for (int id : {11, 32, 18, 26, 28, 14, 35}) EXPECT_FALSE(Checked(id)) << id;
    auto* load = Pref<QComboBox>(24);
    EXPECT_EQ(load->count(), MemoryLoadEntryCount(TotalPhysicalMemory()));
    EXPECT_EQ(load->itemText(0), "1 MB (Default)");
    EXPECT_EQ(load->currentIndex(), 1);
    // No result directory stored: the default one, made below the home directory.
    prefs.files_directory.clear();
    ASSERT_EQ(CreateRegEntry(), 0);
    delete frame;
    OpenPages();
    const std::string made = std::string(getenv("HOME")) + "/Kestrel Files";
    EXPECT_EQ(Text(37), QString::fromStdString(made));
    EXPECT_TRUE(fs::is_directory(made));
}

TEST_F(SettingsWindowsTest, PreferencesOkStoresAndCancelKeepsTheExceptions) {
    for (const bool ok : {true, false}) {
        SCOPED_TRACE(ok ? "OK" : "Cancel");
        const std::string dir = kt::FreshDir("results");
        StoreChosenPreferences(dir);
        OpenPages();
        Pref<QLineEdit>(10)->setText("smtp.example.net");
        Pref<QLineEdit>(12)->setText("bob@example.net");
        Pref<QLineEdit>(21)->setText("Bob");
        Pref<QLineEdit>(16)->setText("/home/bob/sig");
        for (int id : {14, 11, 18, 26, 28, 35}) Click(id);
        auto* load = Pref<QComboBox>(24);
        load->setCurrentIndex(0);
        emit load->activated(0);
        Click(ok ? 1 : 2);
        EXPECT_TRUE(frame.isNull());
        if (ok) {
            EXPECT_EQ(prefs.SMTPHost, "smtp.example.net");
            EXPECT_EQ(prefs.Sender, "bob@example.net (Bob)");
            EXPECT_EQ(prefs.memory_load_value, 0);
            EXPECT_EQ(prefs.use_high_precision, 1);
        } else {
            EXPECT_EQ(prefs.SMTPHost, "mail.example.org");
            EXPECT_EQ(prefs.Sender, "ann@example.org (Ann Lee)");
            EXPECT_EQ(prefs.memory_load_value, 1);
            EXPECT_EQ(prefs.use_high_precision, 0);
        }
        // The radio buttons act at once; Cancel gives back the opening values.
        EXPECT_EQ(prefs.valuelongtest, ok ? 0 : 1);
        EXPECT_EQ(prefs.graphvalue, ok ? 1 : 0);
        EXPECT_EQ(prefs.buttonvalue, ok ? 1 : 0);
        EXPECT_EQ(prefs.runglance, ok ? 0 : 1);
        EXPECT_EQ(prefs.show_perf_data, ok ? 0 : 1);
        // The name and the signature file keep what was typed either way.
        EXPECT_EQ(prefs.yourname, "Bob");
        EXPECT_EQ(prefs.endmailfile, "/home/bob/sig");
        // OK writes the registry, Cancel does not.
        prefs = Preferences();
        ASSERT_EQ(GetRegEntry(), 0);
        EXPECT_EQ(prefs.SMTPHost, ok ? "smtp.example.net" : "mail.example.org");
        EXPECT_EQ(prefs.yourname, ok ? "Bob" : "Ann Lee");
        EXPECT_EQ(prefs.valuelongtest, ok ? 0 : 1);
    }
    // The bar was rebuilt in the new style after OK: nine text buttons.
    EXPECT_EQ(w->Bar()->ButtonCount(), 9);
}

TEST_F(SettingsWindowsTest, PreferencesOkTakesTheBmfDirectory) {
    const std::string base = kt::FreshDir("bmf");
    fs::create_directory(base + "/Results");
    fs::create_directory(base + "/results");
    const struct {
        std::string typed;
        std::vector<Answer> answers;
        std::string stored;
        std::vector<std::string> boxes;
    } cases[] = {
        // A path that differs only in case is another directory.
        {base + "/results", {}, base + "/results", {}},
        {base + "/new", {Answer::Yes}, base + "/new", {"BMF Directory does not exist.  Create?"}},
        {base + "/declined", {Answer::No}, base + "/Results", {"BMF Directory does not exist.  Create?"}},
        {base + "/none/deeper",
         {Answer::Yes},
         base + "/Results",
         {"BMF Directory does not exist.  Create?", "Cannot create the directory."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        prefs.files_directory = base + "/Results";
        ASSERT_EQ(CreateRegEntry(), 0);
        OpenPages();
        Pref<QLineEdit>(37)->setText(QString::fromStdString(c.typed));
        boxes.Clear();
        boxes.Script(c.answers);
        Click(1);
        EXPECT_EQ(prefs.files_directory, c.stored);
        std::vector<std::string> texts;
        for (const auto& b : boxes.boxes()) {
            texts.push_back(b.text);
            EXPECT_EQ(b.caption, "Kestrel Directory Exception");
        }
        EXPECT_EQ(texts, c.boxes);
        EXPECT_EQ(fs::is_directory(c.typed), c.stored == c.typed);
    }
}

TEST_F(SettingsWindowsTest, EmulationSwitchedOnThePageAndCancelled) {
    Processors(4);
    for (const bool opened_on : {false, true}) {
        SCOPED_TRACE(opened_on ? "opened on" : "opened off");
        results.uniprocemulation = opened_on ? 1 : 0;
        run.numprocessors = opened_on ? 1 : 4;
        OpenPages();
        QAction* scaling = w->Action(CMD_SCALING);
        EXPECT_EQ(scaling->isEnabled(), !opened_on);
        EXPECT_TRUE(Checked(opened_on ? 22 : 23));
        Click(opened_on ? 23 : 22);
        EXPECT_EQ(results.uniprocemulation, opened_on ? 0 : 1);
        EXPECT_EQ(run.numprocessors, opened_on ? 4 : 1);
        EXPECT_EQ(scaling->isEnabled(), opened_on);
        if (!opened_on) {
            // On with two or more processors: the processors are chosen next.
            UniProcTestWindow* uni = settings_windows.hUniProcWnd;
            ASSERT_NE(uni, nullptr);
            EXPECT_EQ(uni->size(), QSize(400, 160));
            uni->close();
        }
        Click(2);
        EXPECT_EQ(results.uniprocemulation, opened_on ? 1 : 0);
        EXPECT_EQ(run.numprocessors, opened_on ? 1 : 4);
        EXPECT_EQ(scaling->isEnabled(), !opened_on);
        EXPECT_EQ(run.IDM_SCALING_CHECKED, 0);
    }
}

TEST_F(SettingsWindowsTest, TestScalingEfficiencyOpensTheStepsWithThreeProcessors) {
    for (const int n : {2, 3}) {
        SCOPED_TRACE(n);
        Processors(n);
        w->Command(CMD_SCALING);
        EXPECT_EQ(run.IDM_SCALING_CHECKED, 1);
        EXPECT_TRUE(w->Action(CMD_SCALING)->isChecked());
        EXPECT_EQ(settings_windows.hWndEff != nullptr, n >= 3);
        if (ScalingDialog* d = settings_windows.hWndEff) {
            EXPECT_EQ(d->windowTitle(), "Scaling Efficiency Settings");
            d->close();
        }
        w->Command(CMD_SCALING);  // off again, no dialog
        EXPECT_EQ(run.IDM_SCALING_CHECKED, 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(settings_windows.hWndEff, nullptr);
    }
}

TEST_F(SettingsWindowsTest, ScalingStepsOkAndCancel) {
    const struct {
        int n, stored;
        std::vector<QString> list;
        int pick;  // row clicked, -1 none, -2 "single vs. all"
        int step;  // stored after OK
        std::vector<Qt::Key> keys = {};  // then pressed in the list
    } cases[] = {
        {3, 0, {"1"}, -1, 0},
        {4, 2, {"1", "2"}, -1, 2},
        {6, 0, {"1", "2", "3"}, 2, 3},
        {8, 4, {"1", "2", "4"}, -2, 0},
        {12, 6, {"1", "2", "3", "4", "6"}, 1, 2},
        // A stored step this machine does not offer: nothing selected, OK takes the first.
        {4, 5, {"1", "2"}, -1, 1},
        // The selection moved with the keyboard acts as a click does.
        {8, 4, {"1", "2", "4"}, -2, 2, {Qt::Key_Up}},
        {12, 6, {"1", "2", "3", "4", "6"}, -2, 1, {Qt::Key_Up, Qt::Key_Home}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.n << " processors, step " << c.stored);
        Processors(c.n);
        prefs.stepwise_scaling = c.stored;
        run.OSEFFICIENCY_CHECKED = 0;
        run.IDM_SCALING_CHECKED = 0;
        results.uniprocemulation = 1;
        run.numprocessors = 1;
        ScalingDialog* d = OpenScalingDialog(*w, w.get());
        auto* list = d->findChild<QListWidget*>("SCALING.13");
        std::vector<QString> shown;
        for (int i = 0; i < list->count(); ++i) shown.push_back(list->item(i)->text());
        EXPECT_EQ(shown, c.list);
        EXPECT_EQ(Button(d, "SCALING.11")->isChecked(), c.stored != 0);
        EXPECT_EQ(Button(d, "SCALING.10")->isChecked(), c.stored == 0);
        if (c.pick >= 0) {
            list->setCurrentRow(c.pick);
            emit list->itemClicked(list->item(c.pick));
            EXPECT_TRUE(Button(d, "SCALING.11")->isChecked());
        } else if (c.pick == -2) {
            Button(d, "SCALING.10")->click();
            EXPECT_FALSE(Button(d, "SCALING.11")->isChecked());
        }
        for (const Qt::Key key : c.keys) {
            QTest::keyClick(list, key);
            EXPECT_TRUE(Button(d, "SCALING.11")->isChecked());
            EXPECT_FALSE(Button(d, "SCALING.10")->isChecked());
        }
        Button(d, "SCALING.12")->click();
        boxes.Clear();
        boxes.Script({Answer::Yes});
        Button(d, "SCALING.1")->click();
        EXPECT_EQ(prefs.stepwise_scaling, c.step);
        EXPECT_EQ(run.OSEFFICIENCY_CHECKED, 1);
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, "Do you want the Test Scaling Efficiency option turned on also?");
        EXPECT_EQ(run.IDM_SCALING_CHECKED, 1);
        EXPECT_TRUE(w->Action(CMD_SCALING)->isChecked());
        EXPECT_EQ(results.uniprocemulation, 0);
        EXPECT_EQ(run.numprocessors, c.n);
        // Stored at once.
        prefs.stepwise_scaling = -1;
        GetRegEntry();
        EXPECT_EQ(prefs.stepwise_scaling, c.step);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ASSERT_EQ(settings_windows.hWndEff, nullptr);
        // Cancel deselects Test Scaling Efficiency.
        d = OpenScalingDialog(*w, w.get());
        Button(d, "SCALING.2")->click();
        EXPECT_EQ(run.IDM_SCALING_CHECKED, 0);
        EXPECT_FALSE(w->Action(CMD_SCALING)->isChecked());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST_F(SettingsWindowsTest, DiskSettingsOpenWithTheStoredValuesAndOkStoresThem) {
    for (const Answer answer : {Answer::Yes, Answer::No}) {
        globaldrives = 3;
        const char* roots[3] = {"/", "/data/", "/net/share/"};
        for (int k = 0; k < 3; ++k) {
            drivemenu.globaldrivechar[k] = roots[k];
            w->SetDriveMenuItem(CMD_FIRST_DRIVE + k, roots[k], k == 0);
            drivemenu.DRIVECHOSEN[k] = k == 0;
            prefs.default_drive_chosen[k] = k != 1;
        }
        prefs.blocksizenumber = 2;
        prefs.filesizenumber = 3;
        prefs.defdirnumber = 1;
        DriveWindow* d = OpenDriveWindow(*w, w.get(), QPoint(10, 10));
        EXPECT_EQ(d->windowTitle(), "Disk Test Settings");
        EXPECT_EQ(d->size(), QSize(400, 305));
        for (int k = 0; k < 3; ++k) {
            auto* box = d->findChild<QCheckBox*>(QStringLiteral("Drive%1").arg(k));
            EXPECT_EQ(box->text(), roots[k]);
            EXPECT_EQ(box->isChecked(), k != 1);
        }
        auto* block = d->findChild<QComboBox*>("Blocksize:");
        auto* file = d->findChild<QComboBox*>("Filesize:");
        auto* where = d->findChild<QComboBox*>("Default Directory:");
        EXPECT_EQ(block->currentText(), "2 KB");
        EXPECT_EQ(file->currentText(), "8 MB");
        EXPECT_EQ(where->currentText(), "temp");
        EXPECT_EQ(where->count(), 3);
        d->findChild<QCheckBox*>("Drive1")->click();
        block->setCurrentIndex(5);
        file->setCurrentIndex(0);
        where->setCurrentIndex(2);
        boxes.Clear();
        boxes.Script({answer});
        Button(d, "OK")->click();
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, "Change Current Benchmark Drive Selections Also?");
        EXPECT_EQ(boxes.boxes()[0].caption, "Kestrel Drive Exception");
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(prefs.default_drive_chosen[k], 1) << k;
            const bool now = answer == Answer::Yes || k == 0;
            EXPECT_EQ(drivemenu.DRIVECHOSEN[k], now ? 1 : 0) << k;
            EXPECT_EQ(w->Action(CMD_FIRST_DRIVE + k)->isChecked(), now) << k;
        }
        EXPECT_EQ(prefs.blocksizenumber, 5);
        EXPECT_EQ(results.global_block_size_for_graphs, 16384);
        EXPECT_EQ(prefs.filesizenumber, 0);
        EXPECT_EQ(prefs.defdirnumber, 2);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(settings_windows.hDriveWnd, nullptr);
    }
    // Unchanged drive boxes: no question.
    DriveWindow* d = OpenDriveWindow(*w, w.get(), QPoint(10, 10));
    boxes.Clear();
    Button(d, "OK")->click();
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(SettingsWindowsTest, VideoSettingsPartnersAndOk) {
    prefs.zbuffer_16bit = 1;
    prefs.laptop_settings_on = 0;
    VidTestSettings* v = OpenVidTestSettings(w.get(), QPoint(10, 10));
    EXPECT_TRUE(v->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(v->size(), QSize(350, 200));
    EXPECT_TRUE(Button(v, "16 bit")->isChecked());
    EXPECT_TRUE(Button(v, "off")->isChecked());
    Button(v, "32 bit")->click();
    Button(v, "on")->click();
    EXPECT_FALSE(Button(v, "16 bit")->isChecked());
    EXPECT_FALSE(Button(v, "off")->isChecked());
    Button(v, "Cancel")->click();
    EXPECT_EQ(prefs.zbuffer_16bit, 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    v = OpenVidTestSettings(w.get(), QPoint(10, 10));
    Button(v, "32 bit")->click();
    Button(v, "on")->click();
    Button(v, "OK")->click();
    EXPECT_EQ(prefs.zbuffer_16bit, 0);
    EXPECT_EQ(prefs.laptop_settings_on, 1);
}

TEST_F(SettingsWindowsTest, CpuSettingsButtonsFollowTheProcessorCount) {
    const struct {
        int n;
        bool uniproc, scaling;
    } cases[] = {{1, false, false}, {2, true, false}, {3, true, true}};
    for (const auto& c : cases) {
        Processors(c.n);
        CPUTestWindow* cpu = OpenCPUTestWindow(*w, w.get(), QPoint(10, 10));
        EXPECT_EQ(Button(cpu, "UniProcessor Emulation Settings")->isEnabled(), c.uniproc) << c.n;
        EXPECT_EQ(Button(cpu, "Scaling Efficiency Settings")->isEnabled(), c.scaling) << c.n;
        cpu->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    // The scaling button closes this window and opens the steps.
    CPUTestWindow* cpu = OpenCPUTestWindow(*w, w.get(), QPoint(10, 10));
    Button(cpu, "Scaling Efficiency Settings")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(settings_windows.hCPUTestWnd, nullptr);
    EXPECT_NE(settings_windows.hWndEff, nullptr);
}

TEST_F(SettingsWindowsTest, UniprocessorSettingsOpenWithTheSelectionAndOkAsks) {
    Processors(4);
    for (const Answer answer : {Answer::Yes, Answer::No}) {
        results.uniprocemulation = 0;
        run.OSEFFICIENCY_CHECKED = 1;
        std::fill(std::begin(results.cpus_selected), std::end(results.cpus_selected), 0);
        // No processor selected: the first is checked.
        UniProcTestWindow* u = OpenUniProcWindow(*w, w.get(), QPoint(10, 10));
        EXPECT_EQ(u->windowTitle(), "Uniprocessor Test Settings (Click on the processors(s) to test)");
        EXPECT_TRUE(Button(u, "CPU0")->isChecked());
        Button(u, "CPU0")->click();
        Button(u, "CPU2")->click();
        boxes.Clear();
        boxes.Script({answer});
        Button(u, "OK")->click();
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, "Turn on Uniprocessor emulation to test the selected items?");
        const bool on = answer == Answer::Yes;
        EXPECT_EQ(results.uniprocemulation, on ? 1 : 0);
        EXPECT_EQ(run.numprocessors, on ? 1 : 4);
        EXPECT_EQ(run.OSEFFICIENCY_CHECKED, on ? 0 : 1);
        EXPECT_EQ(w->Action(CMD_SCALING)->isEnabled(), !on);
        EXPECT_EQ(std::vector<int>(results.cpus_selected, results.cpus_selected + 4), (std::vector<int>{0, 0, 1, 0}));
        EXPECT_EQ(results.num_cpus_selected_for_uniproc, 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    // Opening again shows the selection; Cancel with emulation off gives back all processors.
    run.numprocessors = 1;
    UniProcTestWindow* u = OpenUniProcWindow(*w, w.get(), QPoint(10, 10));
    EXPECT_FALSE(Button(u, "CPU0")->isChecked());
    EXPECT_TRUE(Button(u, "CPU2")->isChecked());
    boxes.Clear();
    Button(u, "Cancel")->click();
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(run.numprocessors, 4);
    EXPECT_EQ(results.uniprocemulation, 0);
}

TEST_F(SettingsWindowsTest, CountersOpenWithTotalCpuUsageAndOkAsks) {
    std::fill(std::begin(prefs.perf_counters), std::end(prefs.perf_counters), 0);
    prefs.show_graphs = 1;
    prefs.niceness = 2;
    prefs.show_perf_data = 0;
    ASSERT_EQ(CreateRegEntry(), 0);
    OpenPages();
    // "Yes" of Show Performance Data opens the window at 500 by 300.
    Click(27);
    PerfCounterWindow* p = settings_windows.hDlgPerfCounter;
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->size(), QSize(500, 300));
    EXPECT_EQ(prefs.show_perf_data, 1);
    EXPECT_TRUE(Button(p, "Total CPU Usage")->isChecked());
    EXPECT_EQ(prefs.perf_counters[0], 1);
    EXPECT_TRUE(Button(p, "Show Log Window")->isChecked());
    EXPECT_EQ(p->findChild<QComboBox*>("Niceness")->currentText(), "High (not as nice)");
    Button(p, "Pages/sec.")->click();
    Button(p, "Show Log Window")->click();
    Click(28);  // "No": the window's OK asks
    EXPECT_EQ(prefs.show_perf_data, 0);
    boxes.Script({Answer::Yes});
    Button(p, "OK")->click();
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, "Kestrel Performance Exception");
    EXPECT_EQ(std::vector<int>(prefs.perf_counters, prefs.perf_counters + 6), (std::vector<int>{1, 0, 0, 0, 1, 0}));
    EXPECT_EQ(prefs.show_graphs, 0);
    EXPECT_EQ(prefs.show_perf_data, 1);
    EXPECT_TRUE(Checked(27));
}

TEST_F(SettingsWindowsTest, FilesDirectoryBrowserPutsTheResultFolderIntoThePage) {
    // A mount table of one local disk at "/" and one network share.
    const std::string share = fs::canonical(kt::FreshDir("share")).string();
    fs::create_directory(share + "/reports");
    const std::string proc = kt::FreshDir("proc");
    fs::create_directory(proc + "/self");
    kt::WriteFile(proc + "/self/mountinfo",
                  "21 1 250:7 / / rw,relatime shared:1 - ext4 /dev/fake1 rw\n"
                  "22 21 0:901 / " + share + " rw,relatime shared:2 - nfs server:/export rw\n");
    setenv("KESTREL_PROC_ROOT", proc.c_str(), 1);
    OpenPages();
    DirListDialog* d = OpenDirList(settings_windows.hPrefDlg[0]);
    unsetenv("KESTREL_PROC_ROOT");
    auto* drives = d->findChild<QComboBox*>("DIRLIST.10");
    ASSERT_EQ(drives->count(), 2);
    EXPECT_EQ(drives->itemText(0), "Local Disk Drive - /");
    EXPECT_EQ(drives->itemText(1), QString::fromStdString("Network Disk Drive - " + share + "/"));
    EXPECT_EQ(d->Current(), "/");
    drives->setCurrentIndex(1);
    emit drives->activated(1);
    EXPECT_EQ(d->Current(), share);
    EXPECT_EQ(d->windowTitle(), QString::fromStdString(share));
    auto* list = d->findChild<QListWidget*>("DIRLIST.11");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), "..");
    // One click enters a directory.
    list->setCurrentRow(1);
    emit list->itemClicked(list->item(1));
    EXPECT_EQ(d->Current(), share + "/reports");
    Button(d, "DIRLIST.1")->click();
    const std::string chosen = share + "/reports/Kestrel Files";
    EXPECT_EQ(Text(37), QString::fromStdString(chosen));
    EXPECT_EQ(pref_temps.default_files_dir, chosen);
}

TEST_F(SettingsWindowsTest, TheNextRunFollowsTheChoices) {
    Processors(2);
    prefs.runglance = 0;
    ASSERT_EQ(CreateRegEntry(), 0);
    OpenPages();
    Click(15);  // long test
    Click(34);  // low-frequency timer
    auto* load = Pref<QComboBox>(24);
    load->setCurrentIndex(1);
    emit load->activated(1);
    Click(22);  // uniprocessor emulation, on the first processor
    UniProcTestWindow* u = settings_windows.hUniProcWnd;
    ASSERT_NE(u, nullptr);
    Button(u, "OK")->click();
    Click(1);
    // A processor-test run with short measurements (the Query kernel's library beside the
    // program).
    perflink.program_directory = KESTREL_BIN_DIR;
    measuring_times.driver_seconds = 0.01;
    measuring_times.flops_scale = 0.001;
    w->Command(CMD_CPU_TEST);
    w->Command(CMD_NEW_TEST);
    ASSERT_TRUE(kt::Until([] { return run.testrunning == 0; }, 60000));
    const std::string text = kt::Joined(report.szGreeting, "\n");
    for (const char* line : {"Memory Load:  2 MB (Average Workstation)\n",
                             "Timer Precision:  Low (10 milliseconds per interrupt)\n", "Long Test On\n",
                             "Number of processors to test:  1\n", "Uniprocessor emulation:  on\n",
                             "Testing Processor 1 (CPU 0)\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(text.find("Testing Processor 2 (CPU 1)"), std::string::npos);
}

TEST_F(SettingsWindowsTest, PreferencesCommandOpensThePagesInTheFrame) {
    for (const int button : {1, 2}) {
        w->Command(CMD_PREFERENCES);
        TabFrame* frame = w->TabWindow();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->Kind(), kPreferencesFrame);
        ASSERT_EQ(frame->PageCount(), 3);
        for (int s = 0; s < 3; ++s) {
            EXPECT_EQ(frame->Page(s), settings_windows.hPrefDlg[s].data());
            EXPECT_EQ(frame->Page(s)->objectName(), QStringLiteral("PREF%1").arg(s + 1));
        }
        // Help follows the page shown.
        frame->ShowPage(1);
        Button(frame->Page(1), "PREF2.9")->click();
        EXPECT_EQ(HelpWindow::Current()->Page(), "preferences.html#display");
        // The command again brings the same frame to the top.
        w->Command(CMD_PREFERENCES);
        EXPECT_EQ(w->TabWindow(), frame);
        // OK and Cancel (or Enter and Escape in an edit) end the frame with its pages.
        if (button == 1) {
            QTest::keyClick(frame->Page(0)->findChild<QLineEdit*>("PREF1.10"), Qt::Key_Return);
        } else {
            Button(frame->Page(2), "PREF3.2")->click();
        }
        EXPECT_EQ(w->TabWindow(), nullptr);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(settings_windows.hPrefDlg[0], nullptr);
    }
}

TEST_F(SettingsWindowsTest, HelpButtonsShowTheirTopics) {
    Processors(4);
    OpenPages();
    const struct {
        std::function<QAbstractButton*()> help;
        const char* page;
    } cases[] = {
        {[&] { return Pref<QAbstractButton>(9); }, "preferences.html#mail"},
        {[&] { return qobject_cast<QAbstractButton*>(settings_windows.hPrefDlg[2]->Control(9)); },
         "preferences.html#benchmark"},
        {[&] { return Button(OpenCPUTestWindow(*w, w.get(), {}), "Help"); }, "settings.html#cpu"},
        {[&] { return Button(OpenScalingDialog(*w, w.get()), "SCALING.9"); }, "settings.html#scaling"},
        {[&] { return Button(OpenUniProcWindow(*w, w.get(), {}), "Help"); }, "settings.html#uniproc"},
        {[&] { return Button(OpenVidTestSettings(w.get(), {}), "Help"); }, "settings.html#video"},
        {[&] { return Button(OpenDriveWindow(*w, w.get(), {}), "Help"); }, "settings.html#disk"},
        {[&] { return Button(OpenPerfCounterWindow(w.get(), {}, {500, 305}), "Help"); }, "settings.html#counters"},
    };
    for (const auto& c : cases) {
        c.help()->click();
        ASSERT_NE(HelpWindow::Current(), nullptr);
        EXPECT_EQ(HelpWindow::Current()->Page(), c.page);
        // The page's text is there (a missing file shows an empty page).
        EXPECT_FALSE(HelpWindow::Current()->browser()->toPlainText().isEmpty()) << c.page;
    }
}

}  // namespace

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }

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

#include "kestrel/engine/processor/workers.h"
#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/run/commands.h"
#include "kestrel/engine/disk/disk_test.h"
#include "kestrel/engine/report/benchmark_reader.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/shell/config_pages.h"
#include "kestrel/shell/help.h"
#include "kestrel/shell/main_window.h"
#include "kestrel/shell/panes.h"
#include "kestrel/shell/tab_frame.h"
#include "platform/msgbox.h"
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
    EXPECT_EQ(frame->geometry(), QRect(5, 5, 567, button >= 32 ? 345 : 330));
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

}  // namespace

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }

// The graph windows and the comparison list offscreen, on a 1280 x 1024 screen: what a run and
// the Result Comparisons command open by the display preference, double clicks on the list, the
// selection boxes by the store, the statistics and scaling windows, closing by New, and the
// printed page.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QListWidget>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "kestrel/engine/disk/disk_test.h"
#include "kestrel/engine/processor/workers.h"
#include "kestrel/engine/report/benchmark_reader.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/run/commands.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/graphs/graph_common.h"
#include "kestrel/graphs/totals_graph.h"
#include "kestrel/shell/comparison.h"
#include "kestrel/shell/graph_windows.h"
#include "kestrel/shell/main_window.h"
#include "kestrel/shell/panes.h"
#include "platform/msgbox.h"
#include "shared/ui/print_job.h"
#include "tests/kestrel/graphs/graph_fixtures.h"
#include "tests/kestrel/shell/shell_test_support.h"
#include "tests/support/isolation.h"
#include "tests/support/qt_test_main.h"
#include "tests/support/recording_host.h"

namespace {

const char* const kNoStatistics =
    "No statistical data available.  Run a long test or open a file that was saved with statistics.";

// Collects the regions a widget is asked to paint.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget* w) { w->installEventFilter(this); }
    QRegion painted;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(e)->region();
        return false;
    }
};

class GraphWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallBenchmarkReader();
        perflink.program_directory = KESTREL_BIN_DIR;
        measuring_times.driver_seconds = 0.01;
        measuring_times.flops_scale = 0.001;
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        ASSERT_EQ(screen.size(), QSize(1280, 1024));
    }
    void TearDown() override { CloseGraphWindows(); }
    void Start() {
        w = std::make_unique<MainWindow>();
        w->Init("");
        ASSERT_TRUE(kt::Until([&] { return w->StartupDone(); }));
    }
    static void DoubleClick(QListWidget* list, int row) {
        list->scrollToItem(list->item(row));  // the list shows a few rows at a time
        ASSERT_TRUE(kt::Until([&] { return list->isVisible() && list->viewport()->rect().contains(list->visualItemRect(list->item(row))); }));
        const QRect r = list->visualItemRect(list->item(row));
        // A press and release, then the second press as a double click.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, r.center());
    }
    bool HasBox(const std::string& text) const {
        for (const kp::BoxRequest& b : boxes.boxes()) {
            if (b.text == text) return true;
        }
        return false;
    }
    static std::vector<std::string> Items(QComboBox* box) {
        std::vector<std::string> items;
        for (int i = 0; i < box->count(); ++i) items.push_back(box->itemText(i).toStdString());
        return items;
    }
    kp::BoxRecorder boxes;
    std::unique_ptr<MainWindow> w;
};

// With "both" (the default) the end of a short run opens the list beside the half-wide report and
// the totals window; New closes them and gives the main window its size back.
TEST_F(GraphWindowsTest, ARunOpensTheListAndTheTotalsGraphAndNewClosesThem) {
    Start();
    ASSERT_EQ(prefs.graphvalue, 2);
    const QRect before = w->geometry();
    w->Action(CMD_MEMORY_TEST)->trigger();
    w->Command(CMD_NEW_TEST);
    ASSERT_TRUE(kt::Until([] { return TotalsGraphWindow() != nullptr; }));
    QListWidget* list = w->ComparisonList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count(), 12);
    EXPECT_EQ(list->currentRow(), 2);
    EXPECT_EQ(list->item(11)->text(), QStringLiteral("Dell XPS Pro200 i440FX B0 Stepping"));
    EXPECT_TRUE(w->WindowExpanded());
    EXPECT_GE(w->width(), 900);
    EXPECT_GE(w->height(), 600);
    ASSERT_TRUE(kt::Until([&] { return w->Report()->width() == w->Client()->width() / 2; }));
    EXPECT_EQ(w->ComparisonView()->parentWidget()->geometry().topLeft(),
              QPoint(w->Client()->width() / 2, w->Client()->height() / 4));
    // The view draws the chosen machine's whole report: the baseline's, on this system.
    const auto lines = w->ComparisonView()->Lines();
    ASSERT_EQ(lines.size(), 128u);
    EXPECT_STREQ(lines[0], "Overall Results");

    TotalsWindow* totals = TotalsGraphWindow();
    EXPECT_EQ(totals->objectName(), QStringLiteral("GraphResults"));
    EXPECT_EQ(totals->windowTitle(), QStringLiteral("Results"));
    EXPECT_TRUE(totals->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(totals->parentWidget(), nullptr);
    EXPECT_EQ(totals->pos(), QPoint(100, 100));
    EXPECT_EQ(totals->size(), QSize(800, 600));
    EXPECT_EQ(totals->Others()->count(), 10);
    EXPECT_EQ(totals->Others()->currentIndex(), 0);
    EXPECT_EQ(totals->Others()->DropHeight(), 250);
    EXPECT_EQ(totals->Smp(), nullptr);

    // A short run has no statistics.
    QTest::mouseClick(totals->Button("Show Statistics"), Qt::LeftButton);
    EXPECT_TRUE(HasBox(kNoStatistics));
    EXPECT_EQ(StatisticsGraphWindow(), nullptr);

    bool closed_in_run = false, restored = false;
    kt::DuringTheRun([&] {
        closed_in_run = TotalsGraphWindow() == nullptr && w->ComparisonList() == nullptr;
        restored = !w->WindowExpanded() && w->geometry() == before && w->Report()->width() == w->Client()->width();
    });
    report.isnew = 0;  // nothing to ask about
    w->Command(CMD_NEW_TEST);
    EXPECT_TRUE(closed_in_run);
    EXPECT_TRUE(restored);
}

// "List" opens the list alone. A double click on a machine opens the totals window for it; with
// the window open it switches the window to the machine and repaints the graph; the heading and
// the rule open nothing.
TEST_F(GraphWindowsTest, DoubleClicksOnTheListOpenAndSwitchTheTotalsGraph) {
    Start();
    prefs.graphvalue = 0;
    w->Command(CMD_RESULT_COMPARISONS);
    QListWidget* list = w->ComparisonList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(TotalsGraphWindow(), nullptr);
    for (int row : {0, 1}) {
        DoubleClick(list, row);
        kt::Settle(50);
        EXPECT_EQ(TotalsGraphWindow(), nullptr) << row;
        EXPECT_EQ(graph_view.results_selection, 0) << row;
    }
    DoubleClick(list, 4);
    ASSERT_TRUE(kt::Until([] { return TotalsGraphWindow() != nullptr; }));
    TotalsWindow* totals = TotalsGraphWindow();
    EXPECT_EQ(totals->Others()->currentText(), QStringLiteral("Motorola PowerStack-133  (PPC Risc system)"));
    EXPECT_EQ(graph_view.results_selection, 2);
    ASSERT_TRUE(kt::Until([&] { return totals->isVisible(); }));
    kt::Settle(50);

    PaintWatch watch(totals);
    DoubleClick(list, 5);
    EXPECT_EQ(TotalsGraphWindow(), totals);
    EXPECT_EQ(totals->Others()->currentText(), QStringLiteral("Tyan Titan II (P100-Win95)"));
    EXPECT_EQ(graph_view.results_selection, 3);
    // The graph itself is drawn again, not only the box.
    EXPECT_TRUE(kt::Until([&] { return watch.painted.contains(QPoint(250, 300)); }));

    // Close (with no file open) closes the graph windows too.
    w->Command(CMD_CLOSE);
    EXPECT_EQ(TotalsGraphWindow(), nullptr);
}

// The boxes of the totals window by the store: the SMP rows of scaling runs (the last row measured
// is shown), the processors of an emulation, the drives of the menu and of a file.
TEST_F(GraphWindowsTest, SelectionBoxesFollowTheStore) {
    struct Smp {
        int step, n, runs;
        std::vector<std::string> items;
        int shown, scale_value, second;
    } smp_cases[] = {
        {1, 4, 3, {"SMP Score for CPU 0 through 0", "SMP Score for CPU 0 through 1", "SMP Score for CPU 0 through 2",
                   "SMP Score for CPU 0 through 3"}, 3, 4, 2},
        {2, 8, 4, {"SMP Score for CPU 0 through 0", "SMP Score for CPU 0 through 1", "SMP Score for CPU 0 through 3",
                   "SMP Score for CPU 0 through 5", "SMP Score for CPU 0 through 7"}, 4, 8, 2},
        // 8 is no row of step 3: the last row, 6, is shown.
        {3, 8, 2, {"SMP Score for CPU 0 through 0", "SMP Score for CPU 0 through 2", "SMP Score for CPU 0 through 5"},
         2, 6, 3},
    };
    run.real_num_processors = 8;
    for (const Smp& c : smp_cases) {
        results = ResultStore{};
        results.scaling_efficiency_showing = 1;
        results.last_test_mode = c.step;
        results.tested_num_processors = c.n;
        results.total_scaling_runs = c.runs;
        OpenTotalsWindow();
        TotalsWindow* t = TotalsGraphWindow();
        ASSERT_NE(t, nullptr);
        ASSERT_NE(t->Smp(), nullptr);
        EXPECT_EQ(Items(t->Smp()), c.items) << c.step;
        EXPECT_EQ(t->Smp()->currentIndex(), c.shown) << c.step;
        EXPECT_EQ(results.scale_value, c.scale_value) << c.step;
        EXPECT_EQ(t->Smp()->DropHeight(), 150);
        EXPECT_NE(t->Button("Scaling Chart"), nullptr);
        emit t->Smp()->activated(1);
        EXPECT_EQ(results.scale_value, c.second) << c.step;
        CloseGraphWindows();
    }

    // Processors 0, 2 and 3 of an emulation.
    results = ResultStore{};
    results.tempuniprocemulation = 1;
    results.temp_num_cpus_selected_for_uniproc = 3;
    results.temp_cpus_selected[0] = results.temp_cpus_selected[2] = results.temp_cpus_selected[3] = 1;
    OpenTotalsWindow();
    TotalsWindow* t = TotalsGraphWindow();
    ASSERT_NE(t->Processors(), nullptr);
    EXPECT_EQ(t->Smp(), nullptr);
    EXPECT_EQ(Items(t->Processors()), (std::vector<std::string>{"CPU Number:  0", "CPU Number:  2", "CPU Number:  3"}));
    EXPECT_EQ(results.current_cpu_selected, 1);
    EXPECT_EQ(t->Processors()->DropHeight(), 120);
    emit t->Processors()->activated(1);
    EXPECT_EQ(results.current_cpu_selected, 3);
    CloseGraphWindows();

    // Drives: none for one drive; by kind from the menu; a file's, at most 26.
    struct Drives {
        int chosen;
        bool from_file;
        int file_count;
        size_t items;
        int drop;
    } drive_cases[] = {{1, false, 0, 0, 0}, {3, false, 0, 3, 120}, {5, false, 0, 5, 150}, {0, true, 30, 26, 150}};
    for (const Drives& c : drive_cases) {
        results = ResultStore{};
        drivemenu = DriveMenu{};
        globaldrives = 6;
        for (int i = 0; i < c.chosen; ++i) {
            drivemenu.DRIVECHOSEN[i] = 1;
            drivemenu.globaldrivechar[i] = "/d" + std::to_string(i) + "/";
        }
        drivemenu.network_drive[1] = 1;
        drivemenu.removable_drive[2] = 1;
        drivemenu.network_drive[3] = drivemenu.removable_drive[3] = 1;
        results.disks_selected = c.from_file ? c.file_count : c.chosen;
        results.data_from_file = c.from_file ? 1 : 0;
        for (int i = 0; i < kDrives; ++i) std::snprintf(results.global_drive_filebuffer[i], 256, "Drive %d", i);
        results.current_disk_selected = 7;
        OpenTotalsWindow();
        TotalsWindow* d = TotalsGraphWindow();
        if (c.items == 0) {
            EXPECT_EQ(d->Drives(), nullptr);
        } else {
            ASSERT_NE(d->Drives(), nullptr);
            EXPECT_EQ(size_t(d->Drives()->count()), c.items) << c.chosen;
            EXPECT_EQ(d->Drives()->DropHeight(), c.drop);
            EXPECT_EQ(results.current_disk_selected, 0);
        }
        if (c.chosen == 5) {
            EXPECT_EQ(Items(d->Drives()),
                      (std::vector<std::string>{"Local Disk Drive:  /d0/", "Network Disk Drive:  /d1/",
                                                "Removable Disk Drive:  /d2/", "Removable Network Disk Drive:  /d3/",
                                                "Local Disk Drive:  /d4/"}));
        }
        CloseGraphWindows();
    }
}

// The statistics and scaling windows: one of each, the statistics window's SMP box moving the
// totals window's, Regression, and closing the totals window closing both.
TEST_F(GraphWindowsTest, StatisticsAndScalingWindows) {
    kt::ScalingStore(true);
    run.real_num_processors = 8;
    OpenTotalsWindow();
    TotalsWindow* totals = TotalsGraphWindow();
    ASSERT_NE(totals, nullptr);
    QTest::mouseClick(totals->Button("Show Statistics"), Qt::LeftButton);
    StatisticsWindow* stats = StatisticsGraphWindow();
    ASSERT_NE(stats, nullptr);
    QTest::mouseClick(totals->Button("Show Statistics"), Qt::LeftButton);
    EXPECT_EQ(StatisticsGraphWindow(), stats);
    EXPECT_EQ(QApplication::topLevelWidgets().count(QPointer<QWidget>(stats).data()), 1);
    EXPECT_EQ(stats->windowTitle(), QStringLiteral("Statistics"));
    EXPECT_EQ(stats->size(), QSize(800, 650));
    EXPECT_EQ(stats->pos(), QPoint(100, 100));
    ASSERT_NE(stats->Smp(), nullptr);
    EXPECT_EQ(stats->Smp()->currentIndex(), totals->Smp()->currentIndex());
    EXPECT_EQ(stats->Smp()->geometry().topLeft(), QPoint(800 - 590, 650 - 35));

    kt::Settle(50);
    PaintWatch watch(totals);
    emit stats->Smp()->activated(1);
    EXPECT_EQ(results.scale_value, 2);
    EXPECT_EQ(totals->Smp()->currentIndex(), 1);
    EXPECT_TRUE(kt::Until([&] { return watch.painted.contains(QPoint(250, 300)); }));

    QTest::mouseClick(totals->Button("Scaling Chart"), Qt::LeftButton);
    ScalingWindow* scaling = ScalingGraphWindow();
    ASSERT_NE(scaling, nullptr);
    EXPECT_EQ(scaling->windowTitle(), QStringLiteral("Scaling Efficiency Chart"));
    QTest::mouseClick(scaling->Button("Regression"), Qt::LeftButton);
    EXPECT_EQ(graph_view.regression, 1);
    QTest::mouseClick(scaling->Button("Close"), Qt::LeftButton);
    EXPECT_EQ(graph_view.regression, 0);
    EXPECT_EQ(ScalingGraphWindow(), nullptr);

    QTest::mouseClick(totals->Button("Scaling Chart"), Qt::LeftButton);
    ASSERT_NE(ScalingGraphWindow(), nullptr);
    QTest::mouseClick(totals->Button("Close"), Qt::LeftButton);
    EXPECT_EQ(TotalsGraphWindow(), nullptr);
    EXPECT_EQ(StatisticsGraphWindow(), nullptr);
    EXPECT_EQ(ScalingGraphWindow(), nullptr);
}

// The statistics of an emulation that did not test processor 0 are found in the row it shows. A
// store of an emulation that also carries the marks of a scaling run gives both windows the
// processor box and no SMP box.
TEST_F(GraphWindowsTest, StatisticsOfAnEmulationWithoutProcessorZero) {
    results = ResultStore{};
    results.scaling_efficiency_showing = 1;
    results.last_test_mode = 1;
    results.tested_num_processors = 4;
    results.tempuniprocemulation = 1;
    results.temp_num_cpus_selected_for_uniproc = 2;
    results.temp_cpus_selected[2] = results.temp_cpus_selected[4] = 1;
    kt::StatsRow(3, false, 150, 10, 0.5, 0.1, 1, 1);
    kt::StatsRow(5, false, 160, 10, 0.5, 0.1, 1, 1);
    OpenTotalsWindow();
    QTest::mouseClick(TotalsGraphWindow()->Button("Show Statistics"), Qt::LeftButton);
    EXPECT_FALSE(HasBox(kNoStatistics));
    ASSERT_NE(StatisticsGraphWindow(), nullptr);
    EXPECT_EQ(TotalsGraphWindow()->Smp(), nullptr);
    EXPECT_EQ(StatisticsGraphWindow()->Smp(), nullptr);
    ASSERT_NE(StatisticsGraphWindow()->Processors(), nullptr);
    EXPECT_EQ(StatisticsGraphWindow()->Processors()->currentText(), QStringLiteral("CPU Number:  2"));
}

// The printed page at 600 dpi (scale 6): the legend, right of 3 x 800 device pixels, is on it.
TEST_F(GraphWindowsTest, PrintedPageKeepsTheLegend) {
    kt::ClearStore();
    OpenTotalsWindow();
    QImage page(4800, 3700, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    TotalsGraphWindow()->PrintPage(painter, page.size(), "run.BMF; Wed Dec  9 03:00:00 2026 ");
    painter.end();
    // The comparison swatch (grey on a printer) at 510..520 x 370..380, six-fold, 40 lower.
    EXPECT_EQ(page.pixel(515 * 6, 375 * 6 + 40), graphs::kGrey);
    // And the frame's bottom line at y 499.
    EXPECT_EQ(page.pixel(100 * 6, 499 * 6 + 40), 0xFF000000u);
}

// The printed page of each graph window at the reference machine's scores and at today's, on a
// 600-dpi page (scale 6) whose default font is 100 pixels high: no text over another text or on a
// bar, no line through a text; the header line stays clear of the graph (the tallest bar's label
// and the grid lines' labels), and the drive tested stands apart from the legends. Graph text is
// measured with fixed metrics, the header with 50 pixels a character.
TEST_F(GraphWindowsTest, PrintedPagesHaveNoTextOverTextNorLineThroughText) {
    const auto measure = [](const LogFont& lf, std::string_view text) {
        return lf.Height == 0 ? QSize(int(text.size()) * 50, 100) : kt::FixedMeasure(lf, text);
    };
    for (void (*store)() : {kt::ReferenceStore, kt::TenThousandfoldStore}) {
        store();
        results.data_from_file = 1;
        results.disks_selected = 1;
        std::snprintf(results.global_drive_filebuffer[0], sizeof results.global_drive_filebuffer[0], "Local Disk Drive:  /");
        OpenTotalsWindow();
        TotalsWindow* totals = TotalsGraphWindow();
        ASSERT_NE(totals, nullptr);
        totals->ShowStatistics();
        totals->ShowScaling();
        for (int32_t regression : {0, 1}) {
            graph_view.regression = regression;
            const std::pair<GraphWindow*, const char*> windows[] = {
                {totals, "totals"}, {StatisticsGraphWindow(), "statistics"}, {ScalingGraphWindow(), "scaling"}};
            for (const auto& [window, name] : windows) {
                ASSERT_NE(window, nullptr) << name;
                const GraphWindow::PrintedPage laid =
                    window->LayOutPage(QSize(4800, 6000), "/home/kuser/Kestrel Files/run.BMF; Wed Dec  9 03:00:00 2026 ", measure);
                for (const std::string& clash : graphs::Clashes(laid.page))
                    ADD_FAILURE() << name << " (regression " << regression << ", TotalCPU[1] " << results.TotalCPU[1] << "): " << clash;
            }
        }
        CloseGraphWindows();
    }
}

// At today's scores the right axis's marks run to six and seven digits: on the screen each stays
// whole and ends two pixels before the window's selection boxes ("Other Results", the SMP box and
// the drive box), narrowed where it would reach one, as it is before the legend.
TEST_F(GraphWindowsTest, RightAxisLabelsKeepClearOfTheSelectionBoxes) {
    kt::TenThousandfoldStore();
    results.data_from_file = 1;
    results.disks_selected = 2;
    std::snprintf(results.global_drive_filebuffer[0], 256, "Local Disk Drive /");
    std::snprintf(results.global_drive_filebuffer[1], 256, "Local Disk Drive /home");
    OpenTotalsWindow();
    TotalsWindow* totals = TotalsGraphWindow();
    ASSERT_NE(totals, nullptr);
    ASSERT_NE(totals->Smp(), nullptr);
    ASSERT_NE(totals->Drives(), nullptr);
    std::vector<QRect> boxes;
    for (QComboBox* box : {static_cast<QComboBox*>(totals->Others()), static_cast<QComboBox*>(totals->Smp()),
                           static_cast<QComboBox*>(totals->Drives())})
        boxes.push_back(box->geometry());
    const graphs::GraphDc dc = totals->Drawn(1, 800, kt::FixedMeasure);
    LogFont font;
    std::vector<std::string> marks;
    int beside_a_box = 0;
    for (const graphs::GraphOp& op : dc.Ops()) {
        if (op.kind == graphs::GraphOp::kFont) font = op.font;
        if (op.kind != graphs::GraphOp::kText || op.from.x() <= 450 || op.from.x() >= 500) continue;
        marks.push_back(op.text);
        const QRect cell(op.from, kt::FixedMeasure(font, op.text));
        const QRect reach = cell.adjusted(0, 0, 2, 0);
        for (const QRect& box : boxes) {
            if (cell.top() <= box.bottom() && cell.bottom() >= box.top()) ++beside_a_box;
            EXPECT_FALSE(reach.intersects(box)) << "\"" << op.text << "\" at " << cell.x() << "," << cell.y() << " reaches the box at "
                                                << box.x() << "," << box.y();
        }
    }
    EXPECT_GT(beside_a_box, 0);
    // Whole: every tenth step's mark, 0 to 6750000, bottom up.
    std::vector<std::string> whole;
    const graphs::TotalsScale vs = graphs::TotalsScaleFor(6750000, 20);
    for (int64_t i = 0; i <= vs.steps; i += vs.every) whole.push_back(std::to_string(i * 10));
    EXPECT_EQ(marks, whole);
}

// A loaded file's printout names the drive the file records, as its report names it (the drive
// chosen in the window's drive box); a file that records no drive gets no drive line, read first
// or after one that does.
TEST_F(GraphWindowsTest, PrintedTotalsNameTheLoadedFilesDrive) {
    const auto drive_lines = [](const char* file, int drive) {
        std::ifstream in(std::string(KESTREL_CORPUS_DIR "/") + file, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        {
            kt::RecordingHost host;
            DoDataSearch(text.data(), text.size());
        }
        EXPECT_EQ(results.data_from_file, 1) << file;
        OpenTotalsWindow();
        TotalsWindow* totals = TotalsGraphWindow();
        results.current_disk_selected = drive;
        std::vector<std::string> lines;
        const graphs::GraphDc page = totals->Drawn(0, 4800, kt::FixedMeasure);
        for (const graphs::GraphOp& op : page.Ops()) {
            if (op.kind == graphs::GraphOp::kText && op.text.find("Tested:") != std::string::npos) lines.push_back(op.text);
        }
        CloseGraphWindows();
        return lines;
    };
    results = ResultStore{};
    EXPECT_EQ(drive_lines("stepwise_os.bmf", 0), std::vector<std::string>{});
    EXPECT_EQ(drive_lines("memdisk.bmf", 0), std::vector<std::string>{"Drive Tested:  Local Disk Drive /"});
    EXPECT_EQ(drive_lines("memdisk.bmf", 1), std::vector<std::string>{"Drive Tested:  Remote Disk Drive /mnt/share"});
    EXPECT_EQ(drive_lines("stepwise_os.bmf", 0), std::vector<std::string>{});
}

// The printed totals graph is laid out for the window's client rectangle when it prints: a window
// made 900 pixels tall puts the frame's top at 900 / 2 / 15 = 30, not at the 20 of its first 600.
TEST_F(GraphWindowsTest, PrintedTotalsGraphTakesTheWindowsSizeNow) {
    kt::ClearStore();
    OpenTotalsWindow();
    TotalsWindow* totals = TotalsGraphWindow();
    ASSERT_NE(totals, nullptr);
    totals->resize(800, 900);
    ASSERT_EQ(totals->rect().height(), 900);
    QImage page(800, 1000, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    totals->PrintPage(painter, page.size(), "");
    painter.end();
    // The frame's top line, 40 lower on the page.
    EXPECT_EQ(page.pixel(200, 30 + 40), 0xFF000000u);
    EXPECT_EQ(page.pixel(200, 20 + 40), 0xFFFFFFFFu);
}

// Print Graph goes through the program's printer and print job: the page reaches the chosen PDF
// file, and the window is usable again afterwards.
TEST_F(GraphWindowsTest, PrintGraphPrintsThroughTheProgramsPrinter) {
    kt::ClearStore();
    output_string("a line of the report");
    const std::string pdf = kt::FreshDir("graph-print") + "/graph.pdf";
    SetPrinterChooser([&](QPrinter& printer, PrinterDialog kind, QWidget*) {
        EXPECT_EQ(kind, PrinterDialog::Print);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdf));
        return true;
    });
    OpenTotalsWindow();
    TotalsWindow* totals = TotalsGraphWindow();
    ASSERT_NE(totals, nullptr);
    QTest::mouseClick(totals->Button("Print Graph"), Qt::LeftButton);
    SetPrinterChooser({});
    std::ifstream in(pdf, std::ios::binary);
    std::string head(4, '\0');
    in.read(head.data(), 4);
    EXPECT_EQ(head, "%PDF");
    EXPECT_TRUE(totals->isEnabled());
    EXPECT_EQ(print_state.hAbortDlgWnd, nullptr);
    EXPECT_EQ(print_state.LineNumber, 0);
}

}  // namespace

int main(int argc, char** argv) {
    // A screen of 1280 x 1024 for the window positions.
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    std::string path;
    if (platform != nullptr && std::string(platform) == "offscreen") {
        path = "/tmp/kestrel-graph-windows-screen-" + std::to_string(getpid()) + ".json";
        std::ofstream(path) << R"({"screens": [{"name": "screen", "x": 0, "y": 0, "width": 1280, "height": 1024,
                                   "logicalDpi": 96, "logicalDpiScaleFactor": 1.0, "dpr": 1.0}]})";
        setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + path).c_str(), 1);
    }
    const int result = kt::RunQtTests(argc, argv);
    if (!path.empty()) std::remove(path.c_str());
    return result;
}

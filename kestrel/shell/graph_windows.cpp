#include "kestrel/shell/graph_windows.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPrinter>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <ctime>

#include "kestrel/engine/disk/disk_test.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/graphs/efficiency_graphs.h"
#include "kestrel/graphs/graph_common.h"
#include "kestrel/graphs/stat_graphs.h"
#include "kestrel/graphs/totals_graph.h"
#include "platform/msgbox.h"
#include "shared/print_layout.h"
#include "shared/reference_data.h"
#include "shared/strformat.h"
#include "shared/ui/print_job.h"
#include "shared/ui/screen_place.h"

namespace {

QPointer<TotalsWindow> hWndGraph;
QPointer<StatisticsWindow> hGraphButtonWnd;
QPointer<ScalingWindow> hWndScaleEfficiency;

// A window counts as open until it is closed (its deletion follows later).
template <typename T>
T* Open(const QPointer<T>& w) {
    return w && w->isVisible() ? w.data() : nullptr;
}

int ScreenWidth() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->geometry().width() : 1024;
}

// The SMP box is there for a scaling run that is not a uniprocessor emulation.
bool HasSmpBox() {
    return results.scaling_efficiency_showing != 0 && results.last_test_mode >= 1 && results.tempuniprocemulation == 0;
}

bool HasProcessorBox() {
    return results.tempuniprocemulation != 0 && results.temp_num_cpus_selected_for_uniproc >= 2;
}

// The local date and time as asctime writes it, without its newline.
std::string AscTime() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return StrPrintf("%s %s %2d %02d:%02d:%02d %d", kDays[tm.tm_wday], kMonths[tm.tm_mon], tm.tm_mday, tm.tm_hour,
                     tm.tm_min, tm.tm_sec, tm.tm_year + 1900);
}

void Fill(GraphCombo* box, const std::vector<BoxItem>& items) {
    for (const BoxItem& item : items) box->addItem(QString::fromStdString(item.text), item.value);
}

}  // namespace

std::vector<BoxItem> SmpItems() {
    std::vector<BoxItem> items;
    for (int count : graphs::ScalingRowCounts(results)) {
        items.push_back({StrPrintf("SMP Score for CPU 0 through %d", count - 1), count});
    }
    return items;
}

std::vector<BoxItem> ProcessorItems() {
    std::vector<BoxItem> items;
    for (int k = 0; k < kRows - 1; ++k) {
        if (results.temp_cpus_selected[k] != 0) items.push_back({StrPrintf("CPU Number:  %d", k), k + 1});
    }
    return items;
}

std::vector<std::string> DriveItems() {
    std::vector<std::string> items;
    if (results.data_from_file != 0) {
        // The reader keeps the count as written but stores 26 drives at most.
        const int n = std::clamp<int32_t>(results.disks_selected, 0, kDrives);
        for (int i = 0; i < n; ++i) items.emplace_back(results.global_drive_filebuffer[i]);
        return items;
    }
    for (int i = 0; i < std::clamp(globaldrives, 0, kDrives); ++i) {
        if (drivemenu.DRIVECHOSEN[i] != 1) continue;
        const bool net = drivemenu.network_drive[i] != 0, rem = drivemenu.removable_drive[i] != 0;
        const char* format = net && rem ? "Removable Network Disk Drive:  %s"
                             : net     ? "Network Disk Drive:  %s"
                             : rem     ? "Removable Disk Drive:  %s"
                                       : "Local Disk Drive:  %s";
        items.push_back(StrPrintf(format, drivemenu.globaldrivechar[i].c_str()));
    }
    return items;
}

GraphCombo::GraphCombo(QWidget* parent, const char* name, int drop_height)
    : QComboBox(parent), drop_height_(drop_height) {
    setObjectName(QString::fromLatin1(name));
    setEditable(false);
    const int item = std::max(1, fontMetrics().height() + 4);
    setMaxVisibleItems(std::max(1, drop_height / item));
}

GraphWindow::GraphWindow(const char* class_name, const char* title, int x, int y, int w, int h)
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint) {
    setObjectName(QString::fromLatin1(class_name));
    setWindowTitle(QString::fromLatin1(title));
    setAttribute(Qt::WA_DeleteOnClose);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
    PlaceFrameOnScreen(this, QPoint(x, y), QSize(w, h));
    kept_ = QRect(0, 0, w, h);
}

QPushButton* GraphWindow::AddButton(const char* text, int x, int y, int w, int h,
                                    const std::function<void()>& on_click) {
    auto* b = new QPushButton(QString::fromLatin1(text), this);
    b->setAutoDefault(false);
    b->setGeometry(x, y, w, h);
    connect(b, &QPushButton::clicked, this, on_click);
    return b;
}

QPushButton* GraphWindow::Button(const char* text) const {
    for (QPushButton* b : findChildren<QPushButton*>()) {
        if (b->text() == QLatin1String(text)) return b;
    }
    return nullptr;
}

GraphCombo* GraphWindow::Combo(const char* name) const {
    return findChild<GraphCombo*>(QString::fromLatin1(name));
}

graphs::GraphDc GraphWindow::Drawn(int screen, int horzres, const graphs::GraphDc::Measure& measure) {
    graphs::GraphDc dc(horzres, measure);
    Draw(dc, screen);
    return dc;
}

void GraphWindow::paintEvent(QPaintEvent*) {
    const graphs::GraphDc dc = Drawn();
    QPainter painter(this);
    painter.drawImage(0, 0, graphs::GraphPicture(dc, size()));
}

void GraphWindow::PrintGraph() {
    if (report.num == 0) {
        kp::MessageBox(kp::Owner::Active, "No benchmark data.", "File Exception", kp::Icon::Exclamation);
        return;
    }
    if (!ChoosePrinter(PrinterDialog::Print, this, report.CurrentFile)) return;
    PrintJob job("Print Graph of File - " + report.CurrentFile, report.CurrentFile, this);
    if (!job.Started()) {
        PrinterAccessBox();
        return;
    }
    job.StartPage();
    QPrinter& printer = job.Device();
    const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
    PrintPage(job.Painter(), page.size(), report.CurrentFile + "; " + AscTime() + " ");
    job.End();
}

GraphWindow::PrintedPage GraphWindow::LayOutPage(QSize page, const std::string& header,
                                                 const graphs::GraphDc::Measure& measure) {
    PrintedPage laid{Drawn(0, page.width(), measure), PrintOffset() ? 40 : 0, graphs::GraphDc(page.width(), measure)};
    const QRect line(QPoint(10, print_state.LineNumber * print_state.TextHeight), measure(LogFont(), header));
    // Whatever of the graph stands under the header line moves the graph down below it.
    const auto clear_of_line = [&](double left, double right, double top) {
        if (right < line.left() || left > line.right() || line.isEmpty()) return;
        laid.offset = std::max(laid.offset, line.bottom() + 1 - int(std::floor(top)));
    };
    const graphs::PageItems items = graphs::ItemsOf(laid.graph);
    for (const graphs::PageItems::Text& t : items.texts) clear_of_line(t.cell.left(), t.cell.right(), t.cell.top());
    for (const QRect& f : items.fills) clear_of_line(f.left(), f.right(), f.top());
    for (const graphs::PageItems::Line& l : items.lines) {
        clear_of_line(std::min(l.from.x(), l.to.x()) - l.half_width, std::max(l.from.x(), l.to.x()) + l.half_width,
                      std::min(l.from.y(), l.to.y()) - l.half_width + 0.5);
    }
    laid.page.SelectFont(LogFont());
    laid.page.TextOut(line.left(), line.top(), header);
    laid.page.Append(laid.graph, laid.offset);
    return laid;
}

void GraphWindow::PrintPage(QPainter& painter, QSize page, const std::string& header) {
    // The graph's fonts are measured as on the screen (their sizes are in pixels); the header's, the
    // device's default font, on the device.
    QPaintDevice* device = painter.device();
    const graphs::GraphDc::Measure measure = [device](const LogFont& lf, std::string_view text) {
        const QString s = QString::fromLatin1(text.data(), qsizetype(text.size()));
        const QFontMetrics fm = lf.Height == 0 ? QFontMetrics(PrinterDefaultFont(), device)
                                               : QFontMetrics(graphs::GraphFont(lf));
        return QSize(fm.horizontalAdvance(s), fm.height());
    };
    const PrintedPage laid = LayOutPage(page, header, measure);
    DrawPageHeader(painter, header);
    // The graph is drawn on the page itself, below its offset and clipped to the page: it has no
    // background of its own.
    painter.save();
    painter.setClipRect(QRect(0, laid.offset, page.width(), page.height() - laid.offset));
    painter.translate(0, laid.offset);
    graphs::PlayGraph(laid.graph, painter);
    painter.restore();
}

// ---- totals window

TotalsWindow::TotalsWindow(int x, int y) : GraphWindow("GraphResults", "Results", x, y, 800, 600) {
    const int cx = kept_.width(), cy = kept_.height();
    const int bx = cx / 2 + 102, by = cy / 30, bw = cx / 2 - 106;
    const auto place = [&](GraphCombo* box, int dy) { box->setGeometry(bx, by + dy, bw, box->sizeHint().height()); };

    others_ = new GraphCombo(this, "Other Results", 250);
    place(others_, 0);
    if (HasSmpBox()) {
        smp_ = new GraphCombo(this, "Choose CPU", std::min(40 * run.real_num_processors, 150));
        place(smp_, 90);
        AddButton("Scaling Chart", cx - 290, cy - 75, 140, 30, [this] { ShowScaling(); });
    }
    if (HasProcessorBox()) {
        cpus_ = new GraphCombo(this, "CPU", std::min(40 * results.temp_num_cpus_selected_for_uniproc, 150));
        place(cpus_, 90);
        const std::vector<BoxItem> items = ProcessorItems();
        Fill(cpus_, items);
        if (!items.empty()) results.current_cpu_selected = items.front().value;
        cpus_->setCurrentIndex(0);
    }
    if (results.disks_selected > 1) {
        drives_ = new GraphCombo(this, "Drive", std::min(40 * results.disks_selected, 150));
        place(drives_, 180);
        for (const std::string& item : DriveItems()) drives_->addItem(QString::fromStdString(item));
        results.current_disk_selected = 0;
        drives_->setCurrentIndex(0);
    }
    AddButton("Print Graph", cx - 145, cy - 75, 140, 30, [this] { PrintGraph(); });
    AddButton("Show Statistics", cx - 290, cy - 35, 140, 30, [this] { ShowStatistics(); });
    AddButton("Close", cx - 145, cy - 35, 140, 30, [this] { close(); });

    for (int r = 0; r < reference::kMachines; ++r) {
        others_->addItem(QString::fromLatin1(reference::scores[reference::kFirstMachineRow + r]));
    }
    graph_view.results_selection = std::clamp(graph_view.results_selection, 0, reference::kMachines - 1);
    others_->setCurrentIndex(graph_view.results_selection);
    if (smp_ != nullptr) {
        const std::vector<BoxItem> items = SmpItems();
        Fill(smp_, items);
        // The last row measured is shown, and scale_value is that row's count.
        smp_->setCurrentIndex(int(items.size()) - 1);
        results.scale_value = items.back().value;
    }

    connect(others_, &QComboBox::activated, this, [this](int i) {
        graph_view.results_selection = i;
        update();
    });
    if (drives_ != nullptr) {
        connect(drives_, &QComboBox::activated, this, [this](int i) {
            results.current_disk_selected = i;
            update();
        });
    }
    if (smp_ != nullptr) {
        connect(smp_, &QComboBox::activated, this, [this](int i) {
            results.scale_value = smp_->itemData(i).toInt();
            update();
        });
    }
    if (cpus_ != nullptr) {
        connect(cpus_, &QComboBox::activated, this, [this](int i) {
            results.current_cpu_selected = cpus_->itemData(i).toInt();
            update();
        });
    }
    show();
}

TotalsWindow::~TotalsWindow() = default;

void TotalsWindow::Draw(graphs::GraphDc& dc, int screen) {
    // The window's client rectangle as it is now, on the screen and on the printed page; on the
    // screen, its selection boxes, which the right axis's labels keep clear of.
    std::vector<QRect> boxes;
    for (const GraphCombo* box : {others_, smp_, cpus_, drives_}) {
        if (box != nullptr) boxes.push_back(box->geometry());
    }
    DrawGraph(this, dc, rect(), results.scaling_efficiency_showing, screen, boxes);
}

void TotalsWindow::ShowMachine(int r) {
    graph_view.results_selection = std::clamp(r, 0, reference::kMachines - 1);
    others_->setCurrentIndex(graph_view.results_selection);
    update();
}

void TotalsWindow::ShowStatistics() {
    if (Open(hGraphButtonWnd)) return;
    // The row the statistics page draws: the chosen processor of an emulation, the chosen SMP row
    // of a scaling run, else row 1.
    const int row = std::clamp<int32_t>(results.tempuniprocemulation != 0 ? results.current_cpu_selected
                                        : HasSmpBox()                     ? results.scale_value
                                                                          : 1,
                                        0, kRows - 1);
    const double* peaks = results.second_high_score[row];
    if (peaks[1] == 0.0 && peaks[2] == 0.0 && peaks[3] == 0.0) {
        kp::MessageBox(kp::Owner::Active,
                       "No statistical data available.  Run a long test or open a file that was saved with statistics.",
                       "File Exception", kp::Icon::Information);
        return;
    }
    const bool wide = ScreenWidth() > 800;
    hGraphButtonWnd = new StatisticsWindow(wide ? 100 : 0, wide ? 100 : 0, 800, wide ? 650 : 600);
}

void TotalsWindow::ShowScaling() {
    if (Open(hWndScaleEfficiency)) return;
    const bool wide = ScreenWidth() > 800;
    hWndScaleEfficiency = new ScalingWindow(wide ? 100 : 0, wide ? 100 : 0, 800, wide ? 650 : 600);
}

void TotalsWindow::closeEvent(QCloseEvent* event) {
    if (StatisticsWindow* w = Open(hGraphButtonWnd)) w->close();
    if (ScalingWindow* w = Open(hWndScaleEfficiency)) w->close();
    event->accept();
}

// ---- statistics window

StatisticsWindow::StatisticsWindow(int x, int y, int w, int h) : GraphWindow("GraphButton", "Statistics", x, y, w, h) {
    const int left = 0, top = 0, right = kept_.width(), bottom = kept_.height();
    const bool wide = ScreenWidth() > 800;
    int smp_x, cpu_x, box_y;
    if (wide) {
        AddButton("Close", right - 135, bottom - 35, 130, 30, [this] { close(); });
        AddButton("Print Graph", right - 280, bottom - 35, 130, 30, [this] { PrintGraph(); });
        smp_x = right - 590, cpu_x = right - 470, box_y = bottom - 35;
    } else if (results.temp_os_checked == 0) {
        AddButton("Close", right - 125, bottom - 35, 120, 30, [this] { close(); });
        AddButton("Print Graph", left + 5, bottom - 35, 120, 30, [this] { PrintGraph(); });
        smp_x = right / 2 - 150, cpu_x = right / 2 - 90, box_y = top + 2;
    } else {
        AddButton("Close", right - 125, top + 2, 120, 25, [this] { close(); });
        AddButton("Print Graph", left + 5, top + 2, 120, 25, [this] { PrintGraph(); });
        smp_x = right / 2 - 150, cpu_x = right / 2 - 90, box_y = top + 2;
    }
    TotalsWindow* totals = Open(hWndGraph);
    if (HasSmpBox()) {
        smp_ = new GraphCombo(this, "Choose CPU", std::min(40 * results.tested_num_processors, 150));
        smp_->setGeometry(smp_x, box_y, 300, smp_->sizeHint().height());
        Fill(smp_, SmpItems());
        const int item = totals != nullptr && totals->Smp() != nullptr ? totals->Smp()->currentIndex() : smp_->count() - 1;
        smp_->setCurrentIndex(item);
        connect(smp_, &QComboBox::activated, this, [this](int i) {
            results.scale_value = smp_->itemData(i).toInt();
            if (TotalsWindow* t = Open(hWndGraph); t != nullptr && t->Smp() != nullptr) {
                t->Smp()->setCurrentIndex(i);
                t->update();
            }
            update();
        });
    } else if (HasProcessorBox()) {
        cpus_ = new GraphCombo(this, "CPU", std::min(40 * results.temp_num_cpus_selected_for_uniproc, 150));
        cpus_->setGeometry(cpu_x, box_y, 180, cpus_->sizeHint().height());
        Fill(cpus_, ProcessorItems());
        const int item = cpus_->findData(results.current_cpu_selected);
        cpus_->setCurrentIndex(std::max(0, item));
        connect(cpus_, &QComboBox::activated, this, [this](int i) {
            results.current_cpu_selected = cpus_->itemData(i).toInt();
            if (TotalsWindow* t = Open(hWndGraph); t != nullptr && t->Processors() != nullptr) {
                t->Processors()->setCurrentIndex(i);
                t->update();
            }
            update();
        });
    }
    show();
}

void StatisticsWindow::Draw(graphs::GraphDc& dc, int screen) {
    DrawStatGraphs(this, kept_, dc, results.scaling_efficiency_showing, screen);
}

// ---- scaling window

ScalingWindow::ScalingWindow(int x, int y, int w, int h)
    : GraphWindow("ScaleEffeciency", "Scaling Efficiency Chart", x, y, w, h) {
    const int right = kept_.width(), bottom = kept_.height();
    AddButton("Close", right - 135, bottom - 35, 130, 30, [this] { close(); });
    AddButton("Print Graph", right - 280, bottom - 35, 130, 30, [this] {
        kept_ = rect();
        PrintGraph();
    });
    AddButton("Regression", right - 135, bottom - 75, 130, 30, [this] {
        graph_view.regression = 1;
        update();
    });
    show();
}

ScalingWindow::~ScalingWindow() = default;

void ScalingWindow::closeEvent(QCloseEvent* event) {
    graph_view.regression = 0;
    event->accept();
}

void ScalingWindow::Draw(graphs::GraphDc& dc, int screen) {
    DrawEfficiencyGraphs(this, dc, screen, kept_.left(), kept_.top(), kept_.right() + 1, kept_.bottom() + 1);
}

// ---- the handles

TotalsWindow* TotalsGraphWindow() { return Open(hWndGraph); }
StatisticsWindow* StatisticsGraphWindow() { return Open(hGraphButtonWnd); }
ScalingWindow* ScalingGraphWindow() { return Open(hWndScaleEfficiency); }

void OpenTotalsWindow() {
    const int width = ScreenWidth();
    if (width < 800) {
        kp::MessageBox(kp::Owner::Main, "Graphs cannot be shown intelligibly at less than 800x600 resolution",
                       "Graphing Exception", kp::Icon::Stop);
        return;
    }
    if (Open(hWndGraph)) return;
    hWndGraph = width > 800 ? new TotalsWindow(100, 100) : new TotalsWindow(0, 0);
}

void CloseGraphWindows() {
    if (TotalsWindow* w = Open(hWndGraph)) w->close();
    if (StatisticsWindow* w = Open(hGraphButtonWnd)) w->close();
    if (ScalingWindow* w = Open(hWndScaleEfficiency)) w->close();
}

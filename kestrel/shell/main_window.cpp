#include "kestrel/shell/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProxyStyle>
#include <QScreen>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "kestrel/engine/run/commands.h"
#include "kestrel/engine/disk/disk_test.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/shell/comparison.h"
#include "kestrel/shell/graph_windows.h"
#include "kestrel/shell/panes.h"
#include "kestrel/shell/pictures.h"
#include "kestrel/shell/qt_host.h"
#include "kestrel/shell/shell_rules.h"
#include "platform/end_signals.h"
#include "platform/msgbox.h"
#include "platform/testswitch.h"
#include "kestrel/graphs/graph_common.h"
#include "shared/reference_data.h"
#include "shared/strformat.h"
#include "shared/ui/help.h"
#include "shared/ui/print_job.h"
#include "shared/ui/program_start.h"
#include "shared/ui/screen_place.h"

namespace {

// Menus whose greyed items still take the pointer, so that the status line can say that an
// item is disabled.
class MenuStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == QStyle::SH_Menu_AllowActiveAndDisabled) return 1;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

MainWindow::MainWindow() : oldfile_(kDefaultCaption) {
    setObjectName(QString::fromLatin1(szAppName));
    setWindowTitle(QString::fromLatin1(szTitle));
    setWindowIcon(ProgramIcon());
    setAcceptDrops(true);
    setGeometry(100, 100, 800, 600);
    host_ = std::make_unique<QtHost>(*this);
    // A print that held a handed file has ended.
    WhenPrintJobsEnd([this] { ReleaseHeldCommands(); });
    BuildMenus();

    client_ = new QWidget(this);
    client_->setAutoFillBackground(true);
    client_->setBackgroundRole(QPalette::Base);
    setCentralWidget(client_);
    client_->installEventFilter(this);

    report_ = new ReportPane(client_);
    CreateReportPane();
    status_ = new StatusPane(client_);
    bar_ = new ButtonBar(client_, status_, [this](int id) { Command(id); });
    report_->on_mouse_move = [this] {
        status_->SetText(QString());
        bar_->ForgetHover();
    };

    // The report font: the stored one, else one like the window's font.
    if (prefs.GlobalLogFont.Height == 0) {
        const QFontMetrics fm(font());
        LogFont lf;
        lf.Height = fm.height() + fm.leading();
        lf.Width = fm.averageCharWidth();
        lf.Weight = 400;
        lf.PitchAndFamily = 0x30;  // modern family, default pitch
        prefs.GlobalLogFont = lf;
    }
    report_->ApplyFont();
    LayoutClient();
}

MainWindow::~MainWindow() {
    WhenPrintJobsEnd(nullptr);
    CloseGraphWindows();
}

bool MainWindow::event(QEvent* event) {
    // A box or dialog that held a handed file has gone.
    if (event->type() == QEvent::WindowUnblocked) ReleaseHeldCommands();
    return QMainWindow::event(event);
}

QAction* MainWindow::AddItem(QMenu* menu, int id, const char* text, const QKeySequence& key, bool checkable) {
    auto* a = new QAction(QString::fromLatin1(text), this);
    a->setData(id);
    if (!key.isEmpty()) {
        a->setShortcut(key);
        a->setShortcutContext(Qt::WindowShortcut);
    }
    a->setCheckable(checkable);
    // The item's check mark is the dispatcher's to change.
    connect(a, &QAction::triggered, this, [this, a, id] {
        if (a->isCheckable()) a->setChecked(!a->isChecked());
        Command(id);
    });
    if (menu != nullptr) menu->addAction(a);
    addAction(a);
    actions_[id] = a;
    return a;
}

void MainWindow::BuildMenus() {
    auto* style = new MenuStyle;
    style->setParent(this);
    auto menu = [this, style](const char* title) {
        QMenu* m = menuBar()->addMenu(QString::fromLatin1(title));
        m->setStyle(style);
        connect(m, &QMenu::hovered, this, [this](QAction* a) { ShowMenuHelp(a); });
        connect(m, &QMenu::aboutToHide, this, [this] { status_->SetText(QString()); });
        return m;
    };
    QMenu* file = menu("&File");
    AddItem(file, CMD_NEW_TEST, "&New Test\tCtrl+N", QKeySequence(Qt::CTRL | Qt::Key_N));
    AddItem(file, CMD_OPEN, "&Open...\tCtrl+O", QKeySequence(Qt::CTRL | Qt::Key_O));
    AddItem(file, CMD_CLOSE, "&Close\tCtrl+L", QKeySequence(Qt::CTRL | Qt::Key_L));
    AddItem(file, CMD_SAVE, "&Save\tCtrl+S", QKeySequence(Qt::CTRL | Qt::Key_S));
    AddItem(file, CMD_SAVE_AS, "Save &as...");
    file->addSeparator();
    AddItem(file, CMD_LAUNCH_GLANCE, "&Launch Glance");
    AddItem(file, CMD_MAIL, "&Mail\tCtrl+M", QKeySequence(Qt::CTRL | Qt::Key_M));
    file->addSeparator();
    AddItem(file, CMD_PRINT, "&Print...\tCtrl+P", QKeySequence(Qt::CTRL | Qt::Key_P));
    AddItem(file, CMD_PRINTER_SETUP, "P&rinter setup...");
    file->addSeparator();
    AddItem(file, CMD_EXIT, "E&xit\tCtrl+E", QKeySequence(Qt::CTRL | Qt::Key_E));

    QMenu* edit = menu("&Edit");
    AddItem(edit, CMD_COPY_ALL, "&Copy All\tCtrl+C", QKeySequence(Qt::CTRL | Qt::Key_C));
    AddItem(edit, CMD_FONT, "&Font\tCtrl+F", QKeySequence(Qt::CTRL | Qt::Key_F));

    QMenu* options = menu("&Options");
    AddItem(options, CMD_PREFERENCES, "&Preferences\tCtrl+R", QKeySequence(Qt::CTRL | Qt::Key_R));
    AddItem(options, CMD_RESULT_COMPARISONS, "&Result Comparisons");
    AddItem(options, CMD_CONFIGURATION, "C&onfiguration\tCtrl+B", QKeySequence(Qt::CTRL | Qt::Key_B));
    options->addSeparator();
    AddItem(options, CMD_ALL_TESTS, "Run &All Tests", {}, true);
    AddItem(options, CMD_CPU_TEST, "Run &CPU Test", {}, true);
    AddItem(options, CMD_MEMORY_TEST, "Run &Memory Test", {}, true);
    AddItem(options, CMD_DISK_TEST, "Run &Disk Test", {}, true);
    AddItem(options, CMD_VIDEO_TEST, "Run &Video Test", {}, true);
    options->addSeparator();
    drives_menu_ = options->addMenu(QStringLiteral("&Test Drives"));
    drives_menu_->setStyle(style);
    connect(drives_menu_, &QMenu::hovered, this, [this](QAction* a) { ShowMenuHelp(a); });
    // The first drive's item; the drive list gives it its text and adds the others above it.
    AddItem(drives_menu_, CMD_FIRST_DRIVE, "Test Drive", {}, true);
    AddItem(options, CMD_SCALING, "Test Scaling Efficiency", {}, true);

    QMenu* help = menu("&Help");
    AddItem(help, CMD_HELP_INDEX, "&Index\tF1", QKeySequence(Qt::Key_F1));
    AddItem(help, CMD_USING_HELP, "&Using help");
    AddItem(help, CMD_ABOUT, "&About...\tF4", QKeySequence(Qt::Key_F4));

    // Nothing to save, print, mail, close or copy yet; scaling needs two processors.
    Enable({CMD_SAVE, CMD_SAVE_AS, CMD_PRINT, CMD_MAIL, CMD_CLOSE, CMD_COPY_ALL, CMD_FONT, CMD_SCALING}, false);
}

void MainWindow::SetDriveMenuItem(int command, const std::string& text, bool checked) {
    QAction* a = Action(command);
    if (a == nullptr) {
        // A later drive stands above the one before it.
        QAction* below = Action(command - 1);
        a = AddItem(nullptr, command, "", {}, true);
        drives_menu_->insertAction(below, a);
    }
    a->setText(QString::fromStdString(text));
    a->setChecked(checked);
}

QAction* MainWindow::Action(int id) const {
    const auto it = actions_.find(id);
    return it != actions_.end() ? it->second : nullptr;
}

void MainWindow::Enable(std::initializer_list<int> ids, bool enabled) {
    for (int id : ids) {
        if (QAction* a = Action(id)) a->setEnabled(enabled);
    }
}

void MainWindow::ShowMenuHelp(QAction* action) {
    const int id = action->data().toInt();
    std::string root;
    if (id >= CMD_FIRST_DRIVE && id <= CMD_LAST_DRIVE) root = drivemenu.globaldrivechar[size_t(id - CMD_FIRST_DRIVE)];
    status_->SetText(QString::fromStdString(MenuHelpText(id, action->isEnabled(), action->isChecked(), root)));
}

void MainWindow::CreateReportPane() {
    // The processors this program may use, named after the first one.
    int count = AllowedProcessorCount();
    if (count > 32) {
        kp::MessageBox(kp::Owner::Main, StrPrintf("Kestrel %s supports a maximum of 32 microprocessors only!", "1.21"),
                       "Kestrel Exception", kp::Icon::Information);
        count = 32;
    }
    run.numprocessors = count;
    run.real_num_processors = count;
    run.processor = ProcessorText(count, ModelName(ReadText(kp::ProcRoot() + "/cpuinfo")));
    if (count > 1) Action(CMD_SCALING)->setEnabled(true);

    std::fill(std::begin(prefs.default_drive_chosen), std::end(prefs.default_drive_chosen), 0);
    GetRegEntry();
    if (run.numprocessors < 3 && prefs.stepwise_scaling > 0) prefs.stepwise_scaling = 0;
    DoDiskBench(0);
    results.last_memory_load_value = prefs.memory_load_value;
    results.global_block_size_for_graphs = blocksize_table[std::clamp(prefs.blocksizenumber, 0, 5)];
    Action(CMD_ALL_TESTS)->setChecked(true);
}

void MainWindow::LayoutClient() {
    const int W = client_->width(), H = client_->height();
    const int text_height = status_->lHeight();
    const bool list = view_pane_ && list_pane_;
    report_->setGeometry(0, global_buttonwindow_height, list ? W / 2 : W, H - text_height - global_buttonwindow_height);
    if (list) {
        view_pane_->Place(QRect(W / 2, H / 4, W / 2, 3 * H / 4 - text_height));
        list_pane_->Place(QRect(W / 2, global_buttonwindow_height, W / 2, H / 4 - global_buttonwindow_height));
    }
    report_->SetMainClient(W, H);
    status_->setGeometry(0, H - (text_height + 1), W, text_height);
    bar_->setGeometry(0, 0, W, global_buttonwindow_height);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client_ && event->type() == QEvent::Resize) LayoutClient();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::Init(const std::string& file_name) {
    splash_ = new OpeningWindow(0, nullptr);
    splash_->show();
    // The splash stands for 2000 ms while the message loop runs.
    const int ms = int(2000 * kp::TestSleepScale());
    QTimer::singleShot(ms, this, [this, file_name] {
        if (splash_) splash_->close();
        FinishStartup(file_name);
    });
}

void MainWindow::FinishStartup(const std::string& file_name) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize size = screen != nullptr ? screen->geometry().size() : QSize(1024, 768);
    const WindowRect& r = prefs.main_window_rect;
    switch (PlaceMainWindow(r, size.width(), size.height())) {
        case Placement::Maximised: showMaximized(); break;
        case Placement::Stored: PlaceOnScreen(this, QRect(r.left, r.top, r.right, r.bottom)); show(); break;
        case Placement::Default: show(); break;
    }
    // No machine description stored yet: the Configuration pages are asked for.
    if (GetRegEntry2() == 1) Command(CMD_CONFIGURATION);
    if (!file_name.empty()) {
        report.FileName = file_name;
        LoadFile();
    }
    startup_done_ = true;
    // Files handed over by later starts meanwhile.
    ReleaseHeldCommands();
    emit startupFinished();
}

Scroller* MainWindow::Progress() const { return host_->Progress(); }

MainWindowFacts MainWindow::Facts() const {
    MainWindowFacts f;
    f.left = frameGeometry().x();
    f.top = frameGeometry().y();
    f.clientWidth = client_->width();
    f.clientHeight = client_->height();
    return f;
}

void MainWindow::RaiseFromOtherStart() {
    if (!startup_done_) return;
    if (isMinimized()) showNormal();
    raise();
    // The last window of the program in use: an open box or dialog, else this one.
    QWidget* top = QApplication::activeModalWidget();
    if (top == nullptr) top = this;
    top->raise();
    top->activateWindow();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty()) return;
    event->acceptProposedAction();
    // Only the first file; it is taken once the drop itself has ended.
    const std::string path = urls.first().toLocalFile().toStdString();
    QTimer::singleShot(0, this, [this, path] { DropFile(path); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (ending_) {
        event->accept();
        return;
    }
    // A run ends by Stop first.
    if (run.testrunning != 0) {
        event->ignore();
        return;
    }
    // During a load the close box is taken once the file is shown.
    if (loading_) {
        held_commands_.push_back(kHeldClose);
        event->ignore();
        return;
    }
    // The close box asks about an unsaved run as Exit does, but writes no preference.
    const Busy busy(*this);
    if (!MayEnd()) {
        event->ignore();
        return;
    }
    event->accept();
    EndProgram();
}

void MainWindow::WatchEndRequests() {
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
        const bool may_ask = manager.allowsInteraction();
        if (!EndOfSession(may_ask)) manager.cancel();
        if (may_ask) manager.release();
    });
    WhenAskedToQuit(this, [this] { return QuitAsked(); });
    const int signal_pipe = kp::CatchEndSignals();
    if (signal_pipe < 0) return;
    auto* notifier = new QSocketNotifier(signal_pipe, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        if (kp::TakeEndSignals()) EndWithoutQuestions();
    });
}

void MainWindow::EndProgram() {
    ending_ = true;
    CloseGraphWindows();
    host_->CloseProgress();
    if (splash_) splash_->close();
    if (about_) about_->close();
    if (HelpWindow* help = HelpWindow::Current()) help->close();
    if (isVisible()) close();
    QCoreApplication::quit();
    // Asked before the message loop runs (a signal at start-up, seen while the first windows
    // were made), the quit above is lost: this one comes once the loop runs.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

QListWidget* MainWindow::ComparisonList() const {
    return list_pane_ && view_pane_ ? static_cast<QListWidget*>(list_pane_->Contents()) : nullptr;
}

SpecificView* MainWindow::ComparisonView() const {
    return list_pane_ && view_pane_ ? static_cast<SpecificView*>(view_pane_->Contents()) : nullptr;
}

void MainWindow::DrawListBox() {
    // At least 900 by 600, within the screen.
    old_geometry_ = geometry();
    const QRect area = AvailableArea(geometry());
    const QRect g = geometry();
    const int w = std::min(std::max(g.width(), 900), area.right() + 1 - g.x());
    const int h = std::min(std::max(g.height(), 600), area.bottom() + 1 - g.y());
    PlaceOnScreen(this, QRect(g.x(), g.y(), w, h));
    window_expanded_ = true;

    auto* list = new QListWidget;
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    for (const char* row : reference::scores) list->addItem(QString::fromLatin1(row));
    list->setCurrentRow(2);
    list_pane_ = new CaptionedPane(client_, "Other Results", list);
    list_pane_->on_close = [this] { CloseListBox(); };
    auto* view = new SpecificView(nullptr, [list] { return list->currentRow(); });
    view_pane_ = new CaptionedPane(client_, "Other Results, Specific", view);
    view_pane_->on_close = [this] { CloseListBox(); };
    connect(list, &QListWidget::currentRowChanged, view->viewport(), qOverload<>(&QWidget::update));
    connect(list, &QListWidget::itemDoubleClicked, this,
            [this, list](QListWidgetItem* item) { ComparisonDoubleClicked(list->row(item)); });
    list_pane_->show();
    view_pane_->show();
    LayoutClient();
}

void MainWindow::CloseListBox() {
    if (list_pane_) list_pane_->deleteLater();
    if (view_pane_) view_pane_->deleteLater();
    list_pane_ = nullptr;
    view_pane_ = nullptr;
    if (window_expanded_) {
        setGeometry(old_geometry_);
        window_expanded_ = false;
    }
    LayoutClient();
}

void MainWindow::ComparisonDoubleClicked(int row) {
    // During a load the store is being filled anew: the graph comes once it holds the file.
    if (Holds(kHeldComparison)) {
        held_rows_.push_back(row);
        held_commands_.push_back(kHeldComparison);
        return;
    }
    const Busy busy(*this);
    OpenComparison(row);
}

void MainWindow::OpenComparison(int row) {
    // The heading and the rule name no machine.
    if (row < reference::kFirstMachineRow || row >= reference::kListRows) return;
    graph_view.results_selection = row - reference::kFirstMachineRow;
    if (TotalsWindow* totals = TotalsGraphWindow()) totals->ShowMachine(graph_view.results_selection);
    else OpenTotalsWindow();
}

void MainWindow::ResultComparisons() {
    if (prefs.graphvalue == 0 || prefs.graphvalue == 2) {
        if (ComparisonList() != nullptr) {
            list_pane_->deleteLater();
            view_pane_->deleteLater();
            list_pane_ = nullptr;
            view_pane_ = nullptr;
        }
        if (!window_expanded_) DrawListBox();
        else {
            // Rebuilt in the enlarged window, which keeps its size from before.
            const QRect before = old_geometry_;
            DrawListBox();
            old_geometry_ = before;
        }
    }
    if (prefs.graphvalue == 1 || prefs.graphvalue == 2) OpenTotalsWindow();
}

#include "kestrel/shell/settings_windows.h"

#include <sys/stat.h>

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <algorithm>

#include "kestrel/engine/disk/disk_drives.h"
#include "kestrel/engine/disk/disk_test.h"
#include "kestrel/engine/report/report_tables.h"
#include "kestrel/engine/run/commands.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/shell/config_rules.h"
#include "kestrel/shell/main_window.h"
#include "kestrel/shell/panes.h"
#include "kestrel/shell/settings_rules.h"
#include "kestrel/shell/tab_frame.h"
#include "platform/msgbox.h"
#include "shared/gdi/font.h"
#include "shared/gdi/font_dialog.h"
#include "shared/ui/help.h"
#include "shared/ui/screen_place.h"

SettingsWindows settings_windows;
PrefTemps pref_temps;

namespace {

// Text kept in a field of width characters keeps at most width - 1 of them.
std::string Fit(const QString& text, size_t width) { return text.toStdString().substr(0, width - 1); }

bool IsDirectory(const std::string& path) {
    struct stat st{};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

kp::Answer Ask(const char* text, const char* caption) {
    return kp::MessageBox(kp::Owner::Active, text, caption, kp::Icon::Question, kp::Buttons::YesNo);
}

// A top-level settings window: captioned, sizable, gone when closed.
void MakeSettingsWindow(QWidget* w, const char* class_name, const char* title) {
    w->setObjectName(QString::fromLatin1(class_name));
    w->setWindowTitle(QString::fromLatin1(title));
    w->setAttribute(Qt::WA_DeleteOnClose);
}

// Where a window opens: its frame at `at` on the screen, kept inside the screen.
void Place(QWidget* w, QPoint at, QSize size) { PlaceFrameOnScreen(w, at, size); }

// Brings an open window to the top.
void Raise(QWidget* w) {
    w->show();
    w->raise();
    w->activateWindow();
}

// A settings window exists once: an open one comes to the top; otherwise `make` makes it, its
// handle keeps it, and it is placed at `at` with `size` and shown.
template <class W, class Make>
W* ShowOnce(QPointer<W>& handle, Make make, QPoint at, QSize size) {
    if (W* w = handle) {
        Raise(w);
        return w;
    }
    W* w = make();
    handle = w;
    Place(w, at, size);
    w->show();
    return w;
}

// The small bold sans-serif font of the drawn labels.
QFont LabelFont() {
    QFont f;
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(9);
    f.setWeight(QFont::DemiBold);
    return f;
}

// Boxes of 70 by 50 laid left to right `step` pixels apart from (20, 20); a box that would start
// beyond width - 90 begins a new row 70 pixels lower at x 10. The bottom of the last row.
int LayBoxes(const std::vector<QCheckBox*>& boxes, int width, int step, int box_width) {
    int x = 20, y = 20;
    for (QCheckBox* b : boxes) {
        if (x > width - 90) {
            x = 10;
            y += 70;
        }
        b->setGeometry(x, y, box_width, 50);
        x += step;
    }
    return y + 50;
}

QAction* ScalingItem(MainWindow& main) { return main.Action(CMD_SCALING); }

// Test Scaling Efficiency unchecked and greyed, and off.
void ScalingOffAndGreyed(MainWindow& main) {
    if (QAction* a = ScalingItem(main)) {
        a->setChecked(false);
        a->setEnabled(false);
    }
    run.IDM_SCALING_CHECKED = 0;
    results.scaling_efficiency_showing = 0;
}

// The item enabled again, where the machine can scale at all.
void ScalingItemEnabled(MainWindow& main) {
    if (QAction* a = ScalingItem(main)) a->setEnabled(run.real_num_processors > 1);
}

void ShowEmulationOnPage(bool on) {
    if (PrefPage* p = settings_windows.hPrefDlg[2]) p->ShowEmulation(on);
}

}  // namespace

void EmulationOn(MainWindow& main) {
    ScalingOffAndGreyed(main);
    run.numprocessors = 1;
    results.uniprocemulation = 1;
    ShowEmulationOnPage(true);
}

void EmulationOff(MainWindow& main) {
    ScalingItemEnabled(main);
    run.numprocessors = run.real_num_processors;
    results.uniprocemulation = 0;
    ShowEmulationOnPage(false);
}

// ---- OK, Cancel, Help -------------------------------------------------------------------------

void WindowButtons::Make(QWidget* window, int help_context) {
    ok = new QPushButton(QStringLiteral("OK"), window);
    ok->setObjectName(QStringLiteral("OK"));
    ok->setDefault(true);
    cancel = new QPushButton(QStringLiteral("Cancel"), window);
    cancel->setObjectName(QStringLiteral("Cancel"));
    help = new QPushButton(QStringLiteral("Help"), window);
    help->setObjectName(QStringLiteral("Help"));
    QObject::connect(help, &QPushButton::clicked, window, [help_context] { ShowHelpContext(help_context); });
    QObject::connect(cancel, &QPushButton::clicked, window, [window] { window->close(); });
}

void WindowButtons::Lay(QWidget* window) const {
    const int w = window->width(), bottom = window->height();
    ok->setGeometry(10, bottom - 35, 100, 30);
    cancel->setGeometry(w / 2 - 50, bottom - 35, 100, 30);
    help->setGeometry(w - 110, bottom - 35, 100, 30);
}

// ---- Preferences pages ------------------------------------------------------------------------

namespace {

QString IdName(int page, int id) { return QStringLiteral("PREF%1.%2").arg(page + 1).arg(id); }

}  // namespace

PrefPage::PrefPage(int page, MainWindow& main, QWidget* parent) : QWidget(parent), page_(page), main_(main) {
    setObjectName(QStringLiteral("PREF%1").arg(page + 1));
    auto label = [this](const char* text, int x, int y, int w = 150) {
        auto* l = new QLabel(QString::fromLatin1(text), this);
        l->setGeometry(x, y, w, 22);
        return l;
    };
    auto group = [this] {
        auto* g = new QButtonGroup(this);
        g->setExclusive(true);
        return g;
    };
    if (page == 0) {
        Edit(10, "SMTP Server:", 12);
        Edit(12, "E-mail Address:", 44);
        Edit(21, "Your Real Name:", 76);
        Edit(16, "Signature File:", 108);
        Push(17, "Browse", 440, 107, 80);
        Edit(37, "BMF Directory:", 140);
        Push(38, "Browse", 440, 139, 80);
    } else if (page == 1) {
        label("Results Display type:", 10, 10);
        QButtonGroup* g = group();
        Radio(g, 11, "Graphics", 170, 10);
        Radio(g, 13, "Text Window", 270, 10);
        Radio(g, 32, "Both", 390, 10);
        label("Button Bar Type:", 10, 42);
        g = group();
        Radio(g, 18, "Text", 170, 42);
        Radio(g, 19, "Bitmapped", 270, 42);
        label("Run Glance after testing:", 10, 74, 160);
        g = group();
        Radio(g, 25, "Yes", 170, 74);
        Radio(g, 26, "No", 270, 74);
        label("Show Performance Data:", 10, 106, 160);
        g = group();
        Radio(g, 27, "Yes", 170, 106);
        Radio(g, 28, "No", 270, 106);
        label("Choose Font:", 10, 140);
        Push(30, "Font Select ...", 170, 138, 120);
    } else {
        label("Long Test on:", 10, 10);
        QButtonGroup* g = group();
        Radio(g, 14, "No", 170, 10);
        Radio(g, 15, "Yes", 240, 10);
        label("Uniprocessor Emulation:", 10, 40, 160);
        g = group();
        Radio(g, 22, "On", 170, 40);
        Radio(g, 23, "Off", 240, 40);
        auto* box = new QGroupBox(QStringLiteral("Timer Precision"), this);
        box->setObjectName(IdName(page, 36));
        box->setGeometry(320, 4, 220, 66);
        g = group();
        Radio(g, 34, "Low Frequency", 330, 22);
        Radio(g, 35, "High Frequency", 330, 44);
        for (int id : {34, 35}) Control(id)->raise();
        label("Memory Load Size:", 10, 76);
        auto* list = new QComboBox(this);
        list->setObjectName(IdName(page, 24));
        list->setGeometry(170, 76, 230, 24);
        connect(list, &QComboBox::activated, this, [this] { PrefFunc(24); });
        label("Performance Counters and", 10, 112, 200);
        label("Benchmark Test Options:", 10, 130, 200);
        Push(29, "Counters ...", 10, 154, 110);
        Push(20, "Disk Test Options", 128, 154, 130);
        Push(31, "Video Test Options", 266, 154, 130);
        Push(33, "CPU Test Options", 404, 154, 130);
    }
    // Every page: OK, Cancel and Help for the whole window.
    Push(1, "OK", 130, 200, 90)->setDefault(true);
    Push(2, "Cancel", 240, 200, 90);
    Push(9, "Help", 350, 200, 90);
    Open();
}

QLineEdit* PrefPage::Edit(int id, const char* text, int y) {
    auto* l = new QLabel(QString::fromLatin1(text), this);
    l->setGeometry(10, y, 120, 22);
    auto* e = new QLineEdit(this);
    e->setObjectName(IdName(page_, id));
    e->setGeometry(130, y, 300, 24);
    connect(e, &QLineEdit::textChanged, this, [this, id] { PrefFunc(id); });
    return e;
}

QRadioButton* PrefPage::Radio(QButtonGroup* group, int id, const char* text, int x, int y) {
    auto* r = new QRadioButton(QString::fromLatin1(text), this);
    r->setObjectName(IdName(page_, id));
    r->setGeometry(x, y, 120, 22);
    group->addButton(r, id);
    // A click acts; checking by the program does not.
    connect(r, &QRadioButton::clicked, this, [this, id] { PrefFunc(id); });
    return r;
}

QPushButton* PrefPage::Push(int id, const char* text, int x, int y, int w) {
    auto* b = new QPushButton(QString::fromLatin1(text), this);
    b->setObjectName(IdName(page_, id));
    b->setGeometry(x, y, w, 28);
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, [this, id] { PrefFunc(id); });
    return b;
}

QWidget* PrefPage::Control(int id) const { return findChild<QWidget*>(IdName(page_, id)); }

void PrefPage::Check(int id) {
    if (auto* r = qobject_cast<QRadioButton*>(Control(id))) r->setChecked(true);
}

QRect PrefPage::FrameRect() const { return QRect(mapToGlobal(QPoint(0, 0)), size()); }

void PrefPage::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter: PrefFunc(1); break;
        case Qt::Key_Escape: PrefFunc(2); break;
        default: QWidget::keyPressEvent(event); break;
    }
}

void PrefPage::ShowEmulation(bool on) { Check(on ? 22 : 23); }
void PrefPage::ShowPerfDataYes() { Check(27); }
void PrefPage::SetFilesDirectory(const QString& path) {
    if (auto* e = qobject_cast<QLineEdit*>(Control(37))) e->setText(path);
}

void PrefPage::Open() {
    PrefTemps& t = pref_temps;
    GetRegEntry();

    if (auto* list = qobject_cast<QComboBox*>(Control(24))) {
        const int n = MemoryLoadEntryCount(TotalPhysicalMemory());
        for (int i = 0; i < n; ++i) list->addItem(QString::fromLatin1(memory_load_names[i]));
        list->setCurrentIndex(prefs.memory_load_value < n ? prefs.memory_load_value : -1);
    }

    if (prefs.files_directory.empty()) prefs.files_directory = DefaultFilesDirectory();

    // Setting an edit's text sets its working copy too.
    auto fill = [this](int id, const std::string& text) {
        if (auto* e = qobject_cast<QLineEdit*>(Control(id))) e->setText(QString::fromStdString(text));
    };
    t.youraddress = AddressOfSender(prefs.Sender);
    t.theserver = prefs.SMTPHost;
    t.theusername = t.youraddress;
    t.default_files_dir = prefs.files_directory;
    fill(37, prefs.files_directory);
    fill(10, prefs.SMTPHost);
    fill(12, t.youraddress);
    fill(21, prefs.yourname);
    fill(16, prefs.endmailfile);

    if (prefs.valuelongtest == 1) {
        Check(15);
    } else {
        Check(14);
        prefs.valuelongtest = 0;
    }
    Check(prefs.use_high_precision == 1 ? 35 : 34);
    if (prefs.graphvalue == 0) Check(13);
    else if (prefs.graphvalue == 1) Check(11);
    else if (prefs.graphvalue == 2) Check(32);
    if (prefs.show_perf_data == 1) {
        Check(27);
    } else {
        Check(28);
        prefs.show_perf_data = 0;
    }
    if (prefs.runglance != 0) {
        Check(25);
        prefs.runglance = 1;
    } else {
        Check(26);
    }
    Check(prefs.buttonvalue == 1 ? 18 : 19);

    for (int id : {22, 23}) {
        if (QWidget* r = Control(id)) r->setEnabled(run.real_num_processors > 1);
    }
    if (results.uniprocemulation != 0) {
        if (QAction* a = main_.Action(CMD_SCALING)) {
            a->setChecked(false);
            a->setEnabled(false);
        }
        run.IDM_SCALING_CHECKED = 0;
        Check(22);
        t.last_scale_value = 1;
    } else {
        if (QAction* a = main_.Action(CMD_SCALING)) a->setEnabled(run.real_num_processors > 1);
        Check(23);
        t.last_scale_value = 0;
    }

    t.temp_memoryload = prefs.memory_load_value;
    t.temp_timer_precision = prefs.use_high_precision;
    t.tempvalue[0] = prefs.valuelongtest;
    t.tempvalue[1] = prefs.graphvalue;
    t.tempvalue[2] = prefs.buttonvalue;
    t.tempvalue[3] = prefs.runglance;
    t.tempvalue[4] = prefs.show_perf_data;
}

void PrefPage::PrefFunc(int id) {
    PrefTemps& t = pref_temps;
    // Closing the frame deletes this page: only the main window is used after it.
    const auto CloseFrame = [&t, &main = main_] {
        if (t.hooks.close_frame) t.hooks.close_frame();
        main.update();
    };
    auto text = [this](int control) {
        auto* e = qobject_cast<QLineEdit*>(Control(control));
        return e != nullptr ? e->text() : QString();
    };
    const QRect r = FrameRect();
    const QPoint at = r.topLeft();
    switch (id) {
        case 10: t.theserver = Fit(text(10), 512); break;
        case 12: t.theusername = Fit(text(12), 512); break;
        case 21: prefs.yourname = Fit(text(21), 512); break;
        case 16: prefs.endmailfile = Fit(text(16), 512); break;
        case 37: t.default_files_dir = Fit(text(37), 512); break;
        case 11: prefs.graphvalue = 1; break;
        case 13: prefs.graphvalue = 0; break;
        case 32: prefs.graphvalue = 2; break;
        case 18: prefs.buttonvalue = 1; break;
        case 19: prefs.buttonvalue = 0; break;
        case 25: prefs.runglance = 1; break;
        case 26: prefs.runglance = 0; break;
        case 14: prefs.valuelongtest = 0; break;
        case 15: prefs.valuelongtest = 1; break;
        case 34: t.temp_timer_precision = 0; break;
        case 35: t.temp_timer_precision = 1; break;
        case 28: prefs.show_perf_data = 0; break;
        case 24:
            if (auto* list = qobject_cast<QComboBox*>(Control(24)); list != nullptr && list->currentIndex() >= 0) {
                t.temp_memoryload = list->currentIndex();
            }
            break;
        case 22:
            EmulationOn(main_);
            Check(22);
            if (run.real_num_processors >= 2) {
                OpenUniProcWindow(main_, &main_, at + QPoint(15, 15));
            }
            break;
        case 23:
            EmulationOff(main_);
            Check(23);
            break;
        case 27:
            if (settings_windows.hDlgPerfCounter.isNull() && prefs.show_perf_data == 0) {
                OpenPerfCounterWindow(&main_, at + QPoint(10, 10), QSize(500, 300));
            } else if (settings_windows.hDlgPerfCounter) {
                Raise(settings_windows.hDlgPerfCounter);
            }
            Check(27);
            prefs.show_perf_data = 1;
            break;
        case 29: OpenPerfCounterWindow(&main_, at + QPoint(15, 15), QSize(500, 305)); break;
        case 31: OpenVidTestSettings(&main_, at + QPoint(20, 25)); break;
        case 33: OpenCPUTestWindow(main_, &main_, at + QPoint(20, 20)); break;
        case 20: OpenDriveWindow(main_, &main_, at + QPoint(18, 10)); break;
        case 38: OpenDirList(this); break;
        case 17: {
            const QString chosen = QFileDialog::getOpenFileName(this, QStringLiteral("Browse Files"),
                                                                QString::fromStdString(prefs.endmailfile),
                                                                QStringLiteral("ALL FILES (*)"));
            if (!chosen.isEmpty()) {
                if (auto* e = qobject_cast<QLineEdit*>(Control(16))) e->setText(chosen);
            }
            break;
        }
        case 30: {
            const std::optional<LogFont> chosen =
                ChooseFontRecord(prefs.GlobalLogFont, main_.Report()->ReportFont(), this);
            if (chosen) {
                prefs.GlobalLogFont = *chosen;
                main_.Report()->ApplyFont();
                main_.Report()->viewport()->update();
                main_.update();
            }
            break;
        }
        case 9: ShowHelpContext(kHelpPreferences + (t.hooks.focus ? t.hooks.focus() : page_)); break;
        case 1: {
            prefs.SMTPHost = t.theserver;
            prefs.Sender = SenderOf(t.theusername, prefs.yourname);
            prefs.memory_load_value = t.temp_memoryload;
            const QRect placed = main_.isMaximized() ? main_.normalGeometry() : main_.geometry();
            prefs.main_window_rect = {placed.x(), placed.width(), placed.y(), placed.height()};
            prefs.use_high_precision = t.temp_timer_precision;
            if (!IsDirectory(t.default_files_dir)) {
                const bool keep_old =
                    Ask("BMF Directory does not exist.  Create?", "Kestrel Directory Exception") != kp::Answer::Yes ||
                    [&] {
                        if (mkdir(t.default_files_dir.c_str(), 0777) == 0) return false;
                        kp::MessageBox(kp::Owner::Active, "Cannot create the directory.",
                                       "Kestrel Directory Exception", kp::Icon::Exclamation);
                        return true;
                    }();
                if (keep_old) {
                    t.default_files_dir = prefs.files_directory;
                    if (PrefPage* p = settings_windows.hPrefDlg[0]) p->SetFilesDirectory(QString::fromStdString(prefs.files_directory));
                }
            }
            // Linux file names are case-sensitive: a path that differs only in case is another
            // directory.
            if (t.default_files_dir != prefs.files_directory) prefs.files_directory = t.default_files_dir;
            CreateRegEntry();
            if (prefs.buttonvalue != t.tempvalue[2]) main_.Bar()->Rebuild();
            CloseFrame();
            break;
        }
        case 2:
            prefs.valuelongtest = t.tempvalue[0];
            prefs.graphvalue = t.tempvalue[1];
            prefs.buttonvalue = t.tempvalue[2];
            prefs.runglance = t.tempvalue[3];
            prefs.show_perf_data = t.tempvalue[4];
            if (t.last_scale_value == 1) EmulationOn(main_);
            else EmulationOff(main_);
            CloseFrame();
            break;
        default: break;
    }
}

std::array<PrefPage*, 3> CreatePrefPages(MainWindow& main, QWidget* parent, PrefFrameHooks hooks) {
    pref_temps.hooks = std::move(hooks);
    std::array<PrefPage*, 3> pages{};
    for (int k = 0; k < 3; ++k) {
        pages[size_t(k)] = new PrefPage(k, main, parent);
        settings_windows.hPrefDlg[k] = pages[size_t(k)];
    }
    return pages;
}

std::vector<QWidget*> MakePreferencesPages(MainWindow& main, TabFrame& frame) {
    QPointer<TabFrame> f = &frame;
    const std::array<PrefPage*, 3> pages = CreatePrefPages(main, frame.Tabs(), {[f] {
                                                                                    if (f) f->Close();
                                                                                },
                                                                                [f] { return f ? f->focus() : 0; }});
    return {pages.begin(), pages.end()};
}

// ---- Scaling Efficiency Settings --------------------------------------------------------------

ScalingDialog::ScalingDialog(MainWindow& main, QWidget* owner) : QDialog(owner, Qt::Window), main_(main) {
    setObjectName(QStringLiteral("SCALING"));
    setWindowTitle(QStringLiteral("Scaling Efficiency Settings"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    resize(380, 220);
    auto label = [this](const char* text, int x, int y, int w) {
        auto* l = new QLabel(QString::fromLatin1(text), this);
        l->setGeometry(x, y, w, 22);
    };
    auto button = [this](auto* b, int id, int x, int y, int w) {
        b->setObjectName(QStringLiteral("SCALING.%1").arg(id));
        b->setGeometry(x, y, w, 24);
        connect(b, &QAbstractButton::clicked, this, [this, id] { ScalingFunc(id); });
        return b;
    };
    label("Test Single vs. All Processors:", 10, 10, 220);
    b10_ = button(new QRadioButton(this), 10, 240, 10, 24);
    b10_->setAutoExclusive(false);
    label("Test Scaling Efficiency Stepwise:", 10, 40, 220);
    b11_ = button(new QRadioButton(this), 11, 240, 40, 24);
    b11_->setAutoExclusive(false);
    label("Every:", 30, 70, 50);
    l13_ = new QListWidget(this);
    l13_->setObjectName(QStringLiteral("SCALING.13"));
    l13_->setGeometry(80, 70, 60, 60);
    label("Processors.", 150, 70, 100);
    c12_ = button(new QCheckBox(QStringLiteral("Test OS Scaling Efficiency also?"), this), 12, 10, 140, 300);
    button(new QPushButton(QStringLiteral("OK"), this), 1, 20, 180, 100)->setDefault(true);
    button(new QPushButton(QStringLiteral("Cancel"), this), 2, 140, 180, 100);
    button(new QPushButton(QStringLiteral("Help"), this), 9, 260, 180, 100);

    for (int d : ScalingSteps(run.real_num_processors)) {
        l13_->addItem(QString::number(d));
        if (d == prefs.stepwise_scaling) l13_->setCurrentRow(l13_->count() - 1);
    }
    (prefs.stepwise_scaling != 0 ? b11_ : b10_)->setChecked(true);
    c12_->setChecked(run.OSEFFICIENCY_CHECKED != 0);
    temp_scaling = prefs.stepwise_scaling;
    // Every change of the selection acts, by mouse or by keyboard, and so does a click on the
    // entry already selected.
    connect(l13_, &QListWidget::itemSelectionChanged, this, [this] { ScalingFunc(13); });
    connect(l13_, &QListWidget::itemClicked, this, [this] { ScalingFunc(13); });
    connect(l13_, &QListWidget::itemActivated, this, [this] { ScalingFunc(13); });
}

int ScalingDialog::SelectedStep() {
    // Nothing selected (a stored step this machine does not offer): the first entry.
    if (l13_->currentItem() == nullptr || !l13_->currentItem()->isSelected()) {
        if (l13_->count() == 0) return temp_scaling;
        const QSignalBlocker quiet(l13_);
        l13_->setCurrentRow(0);
    }
    return l13_->currentItem()->text().toInt();
}

void ScalingDialog::ScalingFunc(int id) {
    switch (id) {
        case 10:
            b10_->setChecked(true);
            b11_->setChecked(false);
            temp_scaling = 0;
            break;
        case 11:
        case 13:
            b11_->setChecked(true);
            b10_->setChecked(false);
            temp_scaling = SelectedStep();
            break;
        case 1: {
            if (b11_->isChecked()) temp_scaling = SelectedStep();
            prefs.stepwise_scaling = temp_scaling;
            run.OSEFFICIENCY_CHECKED = c12_->isChecked() ? 1 : 0;
            CreateRegEntry();
            if (run.IDM_SCALING_CHECKED == 0 &&
                Ask("Do you want the Test Scaling Efficiency option turned on also?", "Kestrel Message") ==
                    kp::Answer::Yes) {
                if (QAction* a = main_.Action(CMD_SCALING)) {
                    a->setEnabled(true);
                    a->setChecked(true);
                }
                run.IDM_SCALING_CHECKED = 1;
                results.scaling_efficiency_showing = 1;
            }
            run.numprocessors = run.real_num_processors;
            results.uniprocemulation = 0;
            ShowEmulationOnPage(false);
            close();
            break;
        }
        case 2:
            if (run.IDM_SCALING_CHECKED != 0) {
                if (QAction* a = main_.Action(CMD_SCALING)) a->setChecked(false);
                run.IDM_SCALING_CHECKED = 0;
                results.scaling_efficiency_showing = 0;
            }
            close();
            break;
        case 9: ShowHelpContext(kHelpScaling); break;
        default: break;
    }
}

ScalingDialog* OpenScalingDialog(MainWindow& main, QWidget* owner) {
    if (ScalingDialog* d = settings_windows.hWndEff) {
        Raise(d);
        return d;
    }
    auto* d = new ScalingDialog(main, owner);
    settings_windows.hWndEff = d;
    d->show();
    return d;
}

// ---- Files Directory --------------------------------------------------------------------------

DirListDialog::DirListDialog(QWidget* owner) : QDialog(owner, Qt::Window) {
    setObjectName(QStringLiteral("DIRLIST"));
    setWindowTitle(QStringLiteral("Files Directory"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    resize(360, 300);
    drives_ = new QComboBox(this);
    drives_->setObjectName(QStringLiteral("DIRLIST.10"));
    drives_->setGeometry(10, 10, 340, 24);
    dirs_ = new QListWidget(this);
    dirs_->setObjectName(QStringLiteral("DIRLIST.11"));
    dirs_->setGeometry(10, 44, 340, 200);
    int x = 20;
    for (auto [id, text] : {std::pair{1, "OK"}, {2, "Cancel"}, {9, "Help"}}) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setObjectName(QStringLiteral("DIRLIST.%1").arg(id));
        b->setGeometry(x, 256, 100, 30);
        b->setDefault(id == 1);
        connect(b, &QPushButton::clicked, this, [this, id = id] { DirListProc(id); });
        x += 115;
    }
    // The drives of the disk test that can hold files: fixed and network drives.
    for (const std::string& entry : BrowserDrives(ListDrives(ReadMountTable()), &roots_)) {
        drives_->addItem(QString::fromStdString(entry));
    }
    connect(drives_, &QComboBox::activated, this, [this] { DirListProc(10); });
    connect(dirs_, &QListWidget::itemClicked, this, [this] { DirListProc(11); });
    connect(dirs_, &QListWidget::itemActivated, this, [this] { DirListProc(11); });
    if (!roots_.empty()) {
        drives_->setCurrentIndex(0);
        ListDirectory(roots_[0]);
    }
}

void DirListDialog::ListDirectory(const std::string& dir) {
    QString path = QDir(QString::fromStdString(dir)).canonicalPath();
    if (path.isEmpty()) return;  // gone meanwhile: the list stays
    current_ = path.toStdString();
    dirs_->clear();
    QDir d(path);
    if (!d.isRoot()) dirs_->addItem(QStringLiteral(".."));
    dirs_->addItems(d.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name));
    setWindowTitle(path);
}

void DirListDialog::Enter(const QString& name) {
    ListDirectory(QDir(QString::fromStdString(current_)).filePath(name).toStdString());
}

void DirListDialog::DirListProc(int id) {
    switch (id) {
        case 10: {
            const int k = drives_->currentIndex();
            if (k >= 0 && size_t(k) < roots_.size()) ListDirectory(roots_[size_t(k)]);
            break;
        }
        case 11:
            if (QListWidgetItem* item = dirs_->currentItem()) Enter(item->text());
            break;
        case 1: {
            const std::string chosen = WithKestrelFiles(current_);
            close();
            if (PrefPage* p = settings_windows.hPrefDlg[0]) {
                p->SetFilesDirectory(QString::fromStdString(chosen));
                p->PrefFunc(37);
            }
            break;
        }
        case 2: close(); break;
        case 9:
            kp::MessageBox(kp::Owner::Active, "Single click on a directory after choosing the appropriate disk drive.",
                           "Kestrel Help", kp::Icon::Information);
            break;
        default: break;
    }
}

DirListDialog* OpenDirList(QWidget* owner) {
    if (DirListDialog* d = settings_windows.hWndDlgList) {
        Raise(d);
        return d;
    }
    auto* d = new DirListDialog(owner);
    settings_windows.hWndDlgList = d;
    d->show();
    return d;
}

// ---- Disk Test Settings -----------------------------------------------------------------------

namespace {

constexpr const char* kBlockSizes[] = {"512 bytes", "1 KB", "2 KB", "4 KB (default)", "8 KB", "16 KB"};
constexpr const char* kFileSizes[] = {"1 MB (default)", "2 MB", "4 MB", "8 MB", "10 MB", "15 MB", "20 MB"};
constexpr const char* kDirectories[] = {"root (default)", "temp", "%homepath%"};
constexpr const char* kListNames[] = {"Blocksize:", "Filesize:", "Default Directory:"};

}  // namespace

DriveWindow::DriveWindow(MainWindow& main, QWidget* parent) : QWidget(parent, Qt::Window), main_(main) {
    MakeSettingsWindow(this, "DriveWindow", "Disk Test Settings");
    buttons_.Make(this, kHelpDiskTest);
    connect(buttons_.ok, &QPushButton::clicked, this, [this] { DriveButtonFunc(buttons_.ok); });
    connect(buttons_.cancel, &QPushButton::clicked, this, [this] { DriveButtonFunc(buttons_.cancel); });
    const int n = std::clamp(globaldrives, 0, kDrives);
    for (int k = 0; k < n; ++k) {
        auto* b = new QCheckBox(QString::fromStdString(drivemenu.globaldrivechar[k]), this);
        b->setObjectName(QStringLiteral("Drive%1").arg(k));
        b->setChecked(prefs.default_drive_chosen[k] != 0);
        connect(b, &QCheckBox::clicked, this, [this, b] { DriveButtonFunc(b); });
        drives_.push_back(b);
    }
    const std::vector<const char*> entries[3] = {
        {std::begin(kBlockSizes), std::end(kBlockSizes)},
        {std::begin(kFileSizes), std::end(kFileSizes)},
        {std::begin(kDirectories), std::end(kDirectories) - (WIN95_SUPPORT_ON != 0 ? 1 : 0)}};
    const int selected[3] = {prefs.blocksizenumber, prefs.filesizenumber, prefs.defdirnumber};
    for (int i = 0; i < 3; ++i) {
        lists_[i] = new QComboBox(this);
        lists_[i]->setObjectName(QString::fromLatin1(kListNames[i]));
        for (const char* e : entries[i]) lists_[i]->addItem(QString::fromLatin1(e));
        lists_[i]->setCurrentIndex(selected[i] >= 0 && selected[i] < lists_[i]->count() ? selected[i] : -1);
    }
}

void DriveWindow::resizeEvent(QResizeEvent* event) {
    const int rows_bottom = LayBoxes(drives_, width(), 70, 70);
    lists_top_ = rows_bottom + 20;
    for (int i = 0; i < 3; ++i) lists_[i]->setGeometry(100, lists_top_ + 50 * i, 130, 24);
    buttons_.Lay(this);
    QWidget::resizeEvent(event);
}

void DriveWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setFont(LabelFont());
    p.setPen(palette().color(QPalette::WindowText));
    const int w = width();
    auto band = [&](int top, const char* text) {
        p.drawLine(5, top, w - 5, top);
        p.drawText(QRect(0, top + 1, w, 14), Qt::AlignCenter, QString::fromLatin1(text));
        p.drawLine(5, top + 16, w - 5, top + 16);
    };
    band(1, "Default Drive(s) Selection.");
    band(lists_top_ - 19, "Default Test Selection");
    for (int i = 0; i < 3; ++i) {
        p.drawText(QRect(5, lists_top_ + 50 * i, 95, 24), Qt::AlignVCenter | Qt::AlignLeft,
                   QString::fromLatin1(kListNames[i]));
    }
}

void DriveWindow::DriveButtonFunc(QAbstractButton* clicked) {
    if (clicked == buttons_.ok) {
        const bool also = settings_changed != 0 &&
                          Ask("Change Current Benchmark Drive Selections Also?", "Kestrel Drive Exception") ==
                              kp::Answer::Yes;
        for (size_t k = 0; k < drives_.size(); ++k) {
            const int on = drives_[k]->isChecked() ? 1 : 0;
            prefs.default_drive_chosen[k] = on;
            if (also) {
                drivemenu.DRIVECHOSEN[k] = on;
                if (QAction* a = main_.Action(CMD_FIRST_DRIVE + int(k))) a->setChecked(on != 0);
            }
        }
        prefs.blocksizenumber = std::max(lists_[0]->currentIndex(), 0);
        prefs.filesizenumber = std::max(lists_[1]->currentIndex(), 0);
        prefs.defdirnumber = std::max(lists_[2]->currentIndex(), 0);
        results.global_block_size_for_graphs = blocksize_table[prefs.blocksizenumber];
        settings_changed = 0;
        close();
    } else if (clicked == buttons_.cancel) {
        settings_changed = 0;
    } else if (std::find(drives_.begin(), drives_.end(), clicked) != drives_.end()) {
        settings_changed = 1;
    }
}

DriveWindow* OpenDriveWindow(MainWindow& main, QWidget* parent, QPoint at) {
    const SettingsWindowSize s = DiskWindowSize(globaldrives);
    return ShowOnce(settings_windows.hDriveWnd, [&] { return new DriveWindow(main, parent); }, at,
                    QSize(s.width, s.height));
}

// ---- Video Test Settings ----------------------------------------------------------------------

VidTestSettings::VidTestSettings(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint) {
    MakeSettingsWindow(this, "VidTestSettings", "Video Test Settings");
    buttons_.Make(this, kHelpVideoTest);
    connect(buttons_.ok, &QPushButton::clicked, this, [this] { VidTestSettingsFunc(buttons_.ok); });
    const char* texts[4] = {"16 bit", "32 bit", "on", "off"};
    const QPoint at[4] = {{250, 10}, {175, 10}, {250, 60}, {175, 60}};
    for (int i = 0; i < 4; ++i) {
        radios_[i] = new QRadioButton(QString::fromLatin1(texts[i]), this);
        radios_[i]->setObjectName(QString::fromLatin1(texts[i]));
        radios_[i]->setAutoExclusive(false);  // the partner is unchecked by hand
        radios_[i]->setGeometry(at[i].x(), at[i].y(), 75, 50);
        connect(radios_[i], &QRadioButton::clicked, this, [this, i] { VidTestSettingsFunc(radios_[i]); });
    }
    radios_[prefs.zbuffer_16bit != 0 ? 0 : 1]->setChecked(true);
    radios_[prefs.laptop_settings_on != 0 ? 2 : 3]->setChecked(true);
}

void VidTestSettings::resizeEvent(QResizeEvent* event) {
    buttons_.Lay(this);
    QWidget::resizeEvent(event);
}

void VidTestSettings::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QPoint(15, 25 + fontMetrics().ascent()), QStringLiteral("Z-Buffer settings:"));
    p.drawText(QPoint(15, 75 + fontMetrics().ascent()), QStringLiteral("Laptop Setting:"));
}

void VidTestSettings::VidTestSettingsFunc(QAbstractButton* clicked) {
    if (clicked == buttons_.ok) {
        prefs.zbuffer_16bit = radios_[0]->isChecked() ? 1 : 0;
        prefs.laptop_settings_on = radios_[2]->isChecked() ? 1 : 0;
        close();
        return;
    }
    for (int i = 0; i < 4; ++i) {
        if (clicked != radios_[i]) continue;
        radios_[i]->setChecked(true);
        radios_[i ^ 1]->setChecked(false);
    }
}

VidTestSettings* OpenVidTestSettings(QWidget* parent, QPoint at) {
    return ShowOnce(settings_windows.hWndVidTest, [&] { return new VidTestSettings(parent); }, at, QSize(350, 200));
}

// ---- CPU Test Settings ------------------------------------------------------------------------

CPUTestWindow::CPUTestWindow(MainWindow& main, QWidget* parent) : QWidget(parent, Qt::Window), main_(main) {
    MakeSettingsWindow(this, "CPUTestWindow", "CPU Test Settings");
    buttons_.Make(this, kHelpCpuTest);
    connect(buttons_.ok, &QPushButton::clicked, this, [this] { close(); });
    uniproc_ = new QPushButton(QStringLiteral("UniProcessor Emulation Settings"), this);
    uniproc_->setObjectName(uniproc_->text());
    uniproc_->setEnabled(run.real_num_processors >= 2);
    scaling_ = new QPushButton(QStringLiteral("Scaling Efficiency Settings"), this);
    scaling_->setObjectName(scaling_->text());
    scaling_->setEnabled(run.real_num_processors >= 3);
    for (QPushButton* b : {uniproc_, scaling_}) {
        connect(b, &QPushButton::clicked, this, [this, b] { CPUTestFunc(b); });
    }
}

void CPUTestWindow::resizeEvent(QResizeEvent* event) {
    uniproc_->setGeometry((width() - 270) / 2, 30, 270, 30);
    scaling_->setGeometry((width() - 270) / 2, 80, 270, 30);
    buttons_.Lay(this);
    QWidget::resizeEvent(event);
}

void CPUTestWindow::CPUTestFunc(QAbstractButton* clicked) {
    if (clicked == uniproc_) {
        if (UniProcTestWindow* w = settings_windows.hUniProcWnd) {
            Raise(w);
            return;
        }
        const QPoint at = frameGeometry().topLeft() + QPoint(15, 15);
        QWidget* parent = parentWidget();
        close();
        OpenUniProcWindow(main_, parent, at);
    } else if (clicked == scaling_) {
        close();
        QWidget* owner = settings_windows.hPrefDlg[2];
        OpenScalingDialog(main_, owner != nullptr ? owner : &main_);
    }
}

CPUTestWindow* OpenCPUTestWindow(MainWindow& main, QWidget* parent, QPoint at) {
    return ShowOnce(settings_windows.hCPUTestWnd, [&] { return new CPUTestWindow(main, parent); }, at,
                    QSize(400, 200));
}

// ---- Uniprocessor Test Settings ---------------------------------------------------------------

UniProcTestWindow::UniProcTestWindow(MainWindow& main, QWidget* parent) : QWidget(parent, Qt::Window), main_(main) {
    MakeSettingsWindow(this, "UniProcTestWindow", "Uniprocessor Test Settings (Click on the processors(s) to test)");
    buttons_.Make(this, kHelpUniProc);
    connect(buttons_.ok, &QPushButton::clicked, this, [this] { UniProcFunc(buttons_.ok); });
    connect(buttons_.cancel, &QPushButton::clicked, this, [this] { UniProcFunc(buttons_.cancel); });
    const int n = std::clamp(run.real_num_processors, 1, kRows - 1);
    bool any = false;
    for (int k = 0; k < n; ++k) {
        auto* b = new QCheckBox(QStringLiteral("CPU%1").arg(k), this);
        b->setObjectName(b->text());
        b->setChecked(results.cpus_selected[k] != 0);
        any = any || b->isChecked();
        cpus_.push_back(b);
    }
    if (!any) cpus_[0]->setChecked(true);
}

void UniProcTestWindow::resizeEvent(QResizeEvent* event) {
    // Laid 72 apart when made, 100 apart and wider once resized.
    if (created_) LayBoxes(cpus_, width(), 100, 75);
    else LayBoxes(cpus_, width(), 72, 70);
    created_ = true;
    buttons_.Lay(this);
    QWidget::resizeEvent(event);
}

void UniProcTestWindow::UniProcFunc(QAbstractButton* clicked) {
    if (clicked == buttons_.ok) {
        ResultStore& s = results;
        s.num_cpus_selected_for_uniproc = 0;
        if (s.uniprocemulation == 0) {
            if (Ask("Turn on Uniprocessor emulation to test the selected items?", "Kestrel Message") ==
                kp::Answer::Yes) {
                EmulationOn(main_);
                run.OSEFFICIENCY_CHECKED = 0;
            } else {
                EmulationOff(main_);
            }
        }
        for (size_t k = 0; k < cpus_.size(); ++k) {
            const int on = cpus_[k]->isChecked() ? 1 : 0;
            s.cpus_selected[k] = on;
            s.temp_cpus_selected[k] = on;
            s.num_cpus_selected_for_uniproc += on;
        }
        close();
    } else if (clicked == buttons_.cancel) {
        if (results.uniprocemulation == 0) EmulationOff(main_);
    }
}

UniProcTestWindow* OpenUniProcWindow(MainWindow& main, QWidget* parent, QPoint at) {
    const SettingsWindowSize s = UniProcWindowSize(run.real_num_processors);
    return ShowOnce(settings_windows.hUniProcWnd, [&] { return new UniProcTestWindow(main, parent); }, at,
                    QSize(s.width, s.height));
}

// ---- Performance Counters ---------------------------------------------------------------------

namespace {

constexpr const char* kCounterNames[6] = {"Total CPU Usage", "Total Interrupts/sec.", "Context Switches/sec",
                                          "Page Faults/sec.", "Pages/sec.", "Available Memory"};

}  // namespace

PerfCounterWindow::PerfCounterWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    MakeSettingsWindow(this, "PerfCounterWindow", "Performance Counters");
    buttons_.Make(this, kHelpCounters);
    connect(buttons_.ok, &QPushButton::clicked, this, [this] { LoadmeterFunc(buttons_.ok); });
    if (std::none_of(std::begin(prefs.perf_counters), std::end(prefs.perf_counters), [](int c) { return c != 0; })) {
        prefs.perf_counters[0] = 1;
    }
    for (int k = 0; k < 6; ++k) {
        counters_[k] = new QCheckBox(QString::fromLatin1(kCounterNames[k]), this);
        counters_[k]->setObjectName(counters_[k]->text());
        counters_[k]->setGeometry(k < 3 ? 10 : 250, 10 + 60 * (k % 3), 200, 50);
        counters_[k]->setChecked(prefs.perf_counters[k] != 0);
        if (WIN95_SUPPORT_ON != 0 && (k == 1 || k == 2)) {
            counters_[k]->setChecked(false);
            counters_[k]->setEnabled(false);
        }
    }
    log_ = new QCheckBox(QStringLiteral("Show Log Window"), this);
    log_->setObjectName(log_->text());
    log_->setGeometry(10, 175, 200, 50);
    log_->setChecked(prefs.show_graphs != 0);
    niceness_ = new QComboBox(this);
    niceness_->setObjectName(QStringLiteral("Niceness"));
    niceness_->addItems({QStringLiteral("Low (really nice)"), QStringLiteral("Medium (nice)"),
                         QStringLiteral("High (not as nice)")});
    niceness_->setCurrentIndex(prefs.niceness >= 0 && prefs.niceness <= 2 ? prefs.niceness : -1);
    niceness_->setGeometry(250, 190, 200, 24);
}

void PerfCounterWindow::resizeEvent(QResizeEvent* event) {
    // Beside its label once laid out.
    niceness_->setGeometry(246 + fontMetrics().horizontalAdvance(QStringLiteral("Niceness:")) + 4, 190, 155, 24);
    buttons_.Lay(this);
    QWidget::resizeEvent(event);
}

void PerfCounterWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QRect(246, 190, 100, 24), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Niceness:"));
}

void PerfCounterWindow::LoadmeterFunc(QAbstractButton* clicked) {
    if (clicked != buttons_.ok) return;
    for (int k = 0; k < 6; ++k) prefs.perf_counters[k] = counters_[k]->isChecked() ? 1 : 0;
    prefs.show_graphs = log_->isChecked() ? 1 : 0;
    prefs.niceness = std::max(niceness_->currentIndex(), 0);
    if (prefs.show_perf_data == 0 &&
        Ask("Would you like to set the current testing mode to retrieve this performance data?",
            "Kestrel Performance Exception") == kp::Answer::Yes) {
        prefs.show_perf_data = 1;
        if (PrefPage* p = settings_windows.hPrefDlg[1]) p->ShowPerfDataYes();
    }
    close();
}

PerfCounterWindow* OpenPerfCounterWindow(QWidget* parent, QPoint at, QSize size) {
    return ShowOnce(settings_windows.hDlgPerfCounter, [&] { return new PerfCounterWindow(parent); }, at, size);
}

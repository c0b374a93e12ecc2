// The preferences and test settings windows: the three Preferences pages (PREF1 mail and files,
// PREF2 display, PREF3 benchmark), the Scaling Efficiency Settings dialog (SCALING), the Files
// Directory browser (DIRLIST), and the five settings windows of their own classes: disk test
// ("DriveWindow"), video test ("VidTestSettings"), processor test ("CPUTestWindow"), uniprocessor
// emulation ("UniProcTestWindow") and performance counters ("PerfCounterWindow").
//
// They edit the preference globals of the settings store and the test selection (the Test
// Scaling Efficiency item, the processor count of the next run). Controls that have a resource
// id carry "<resource>.<id>" as their object name ("PREF3.24", "SCALING.13"); the controls of the
// settings windows are named by their text ("OK", "CPU0", "Show Log Window").
#pragma once

#include <QDialog>
#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>
#include <string>
#include <vector>

class MainWindow;
class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class TabFrame;

// Help contexts of the windows.
inline constexpr int kHelpCpuTest = 272;
inline constexpr int kHelpScaling = 273;
inline constexpr int kHelpUniProc = 274;
inline constexpr int kHelpVideoTest = 275;
inline constexpr int kHelpDiskTest = 276;
inline constexpr int kHelpCounters = 278;
inline constexpr int kHelpPreferences = 279;  // + the page shown (0, 1, 2)

// The texts of the Preferences tabs, in page order.
inline constexpr const char* kPrefTabs[3] = {"Mail/File Settings", "Display Settings", "Benchmark Settings"};

// OK, Cancel and Help along the bottom edge of a settings window, 100 by 30 each.
struct WindowButtons {
    QPushButton* ok = nullptr;
    QPushButton* cancel = nullptr;
    QPushButton* help = nullptr;
    void Make(QWidget* window, int help_context);
    void Lay(QWidget* window) const;
};

// One Preferences page; the three share PrefFunc and the window's working copies.
class PrefPage : public QWidget {
    Q_OBJECT

public:
    // page 0, 1 or 2 (PREF1 to PREF3). Its creation runs the whole opening: the preferences are
    // reloaded, the controls filled, the opening values kept.
    PrefPage(int page, MainWindow& main, QWidget* parent);
    int Page() const { return page_; }
    // A command of the page's controls (their ids), as the page's own procedure carries it out.
    void PrefFunc(int id);
    // The control of an id on this page, or nullptr.
    QWidget* Control(int id) const;
    // Shows uniprocessor emulation on or off (PREF3).
    void ShowEmulation(bool on);
    // Checks "Yes" of Show Performance Data (PREF2).
    void ShowPerfDataYes();
    // Puts a path into the BMF Directory edit (PREF1).
    void SetFilesDirectory(const QString& path);

protected:
    // Enter is OK and Escape is Cancel, as in a dialog.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Open();
    QLineEdit* Edit(int id, const char* label, int y);
    QRadioButton* Radio(QButtonGroup* group, int id, const char* text, int x, int y);
    QPushButton* Push(int id, const char* text, int x, int y, int w);
    void Check(int id);
    QRect FrameRect() const;

    int page_;
    MainWindow& main_;
};

// The frame asks for the three pages with this; it closes itself when told to.
struct PrefFrameHooks {
    // Destroys the pages, the tab control and the frame.
    std::function<void()> close_frame;
    // The page shown (focus of the frame).
    std::function<int()> focus;
};

// Creates the three pages as children of parent (the frame's tab control), in page order.
std::array<PrefPage*, 3> CreatePrefPages(MainWindow& main, QWidget* parent, PrefFrameHooks hooks);
// The pages of the Preferences frame, which OK and Cancel close.
std::vector<QWidget*> MakePreferencesPages(MainWindow& main, TabFrame& frame);

class ScalingDialog : public QDialog {
    Q_OBJECT

public:
    ScalingDialog(MainWindow& main, QWidget* owner);
    void ScalingFunc(int id);
    int temp_scaling = 0;  // the processor step being edited

private:
    int SelectedStep();
    MainWindow& main_;
    QRadioButton* b10_;
    QRadioButton* b11_;
    QCheckBox* c12_;
    QListWidget* l13_;
};

class DirListDialog : public QDialog {
    Q_OBJECT

public:
    DirListDialog(QWidget* owner);
    void DirListProc(int id);
    // The directory the list shows.
    std::string Current() const { return current_; }
    // Enters a directory of the list (by its text, ".." for the parent).
    void Enter(const QString& name);

private:
    void ListDirectory(const std::string& dir);
    QComboBox* drives_;
    QListWidget* dirs_;
    std::vector<std::string> roots_;  // the drive table, in list order
    std::string current_;             // the directory shown
};

class DriveWindow : public QWidget {
    Q_OBJECT

public:
    DriveWindow(MainWindow& main, QWidget* parent);
    void DriveButtonFunc(QAbstractButton* clicked);
    int settings_changed = 0;  // a drive box was toggled

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    MainWindow& main_;
    WindowButtons buttons_;
    std::vector<QCheckBox*> drives_;
    QComboBox* lists_[3] = {};
    int lists_top_ = 0;
};

class VidTestSettings : public QWidget {
    Q_OBJECT

public:
    explicit VidTestSettings(QWidget* parent);
    void VidTestSettingsFunc(QAbstractButton* clicked);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    WindowButtons buttons_;
    QRadioButton* radios_[4] = {};  // 16 bit, 32 bit, on, off
};

class CPUTestWindow : public QWidget {
    Q_OBJECT

public:
    CPUTestWindow(MainWindow& main, QWidget* parent);
    void CPUTestFunc(QAbstractButton* clicked);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    MainWindow& main_;
    WindowButtons buttons_;
    QPushButton* uniproc_;
    QPushButton* scaling_;
};

class UniProcTestWindow : public QWidget {
    Q_OBJECT

public:
    UniProcTestWindow(MainWindow& main, QWidget* parent);
    void UniProcFunc(QAbstractButton* clicked);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    MainWindow& main_;
    WindowButtons buttons_;
    std::vector<QCheckBox*> cpus_;
    bool created_ = false;
};

class PerfCounterWindow : public QWidget {
    Q_OBJECT

public:
    explicit PerfCounterWindow(QWidget* parent);
    void LoadmeterFunc(QAbstractButton* clicked);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    WindowButtons buttons_;
    QCheckBox* counters_[6] = {};
    QCheckBox* log_;
    QComboBox* niceness_;
};

// The single-instance windows and the pages, while they are open.
struct SettingsWindows {
    QPointer<DriveWindow> hDriveWnd;
    QPointer<VidTestSettings> hWndVidTest;
    QPointer<CPUTestWindow> hCPUTestWnd;
    QPointer<UniProcTestWindow> hUniProcWnd;
    QPointer<PerfCounterWindow> hDlgPerfCounter;
    QPointer<ScalingDialog> hWndEff;
    QPointer<DirListDialog> hWndDlgList;
    QPointer<PrefPage> hPrefDlg[3];
};
extern SettingsWindows settings_windows;

// The working copies of the open Preferences window.
struct PrefTemps {
    int temp_memoryload = 0;
    int temp_timer_precision = 0;
    int tempvalue[5] = {};  // long test, results display type, button-bar type, run the viewer,
                            // show performance data
    int last_scale_value = 0;
    std::string theserver, theusername, youraddress, default_files_dir;
    PrefFrameHooks hooks;
};
extern PrefTemps pref_temps;

// Opens the window, or brings the open one to the top. The position is given on the screen;
// parent is the main window, so that the window may outlive the Preferences window.
ScalingDialog* OpenScalingDialog(MainWindow& main, QWidget* owner);
DriveWindow* OpenDriveWindow(MainWindow& main, QWidget* parent, QPoint at);
VidTestSettings* OpenVidTestSettings(QWidget* parent, QPoint at);
CPUTestWindow* OpenCPUTestWindow(MainWindow& main, QWidget* parent, QPoint at);
UniProcTestWindow* OpenUniProcWindow(MainWindow& main, QWidget* parent, QPoint at);
// The counters window at this size (500 by 300 from "Yes", 500 by 305 from "Counters ...").
PerfCounterWindow* OpenPerfCounterWindow(QWidget* parent, QPoint at, QSize size);
DirListDialog* OpenDirList(QWidget* owner);

// Uniprocessor emulation on: Test Scaling Efficiency unchecked and greyed, one processor.
void EmulationOn(MainWindow& main);
// ... off: the item enabled again (with more than one processor), all processors.
void EmulationOff(MainWindow& main);

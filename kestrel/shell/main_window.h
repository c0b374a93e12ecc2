// The main window of kestrel (window class "KESTREL", title "KESTREL version 1.21"): its menus,
// accelerators and panes, the start-up after it is created, dropped files, the close box, and
// the one dispatcher that every menu item, accelerator and button calls.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kestrel/engine/run/host.h"

class ButtonBar;
class CaptionedPane;
class QListWidget;
class SpecificView;
class OpeningWindow;
class PrintJob;
class QtHost;
class ReportPane;
class Scroller;
class StatusPane;
class TabFrame;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // Builds the window and its panes; the report pane's creation finds the processors, loads
    // the preferences and builds the Test Drives menu. The window is shown by Init.
    MainWindow();
    ~MainWindow() override;

    // The rest of the start-up: the splash for 2000 ms, then the saved placement, the machine
    // description, and the benchmark file named on the command line (when not empty).
    void Init(const std::string& file_name);
    bool StartupDone() const { return startup_done_; }

    // The dispatcher: carries out command id (menu item, accelerator, button). A command given
    // while a file is loaded is held and carried out after the load.
    void Command(int id);
    // Queues a call of the dispatcher; a command queued during a run or a load is carried out
    // after it.
    void PostCommand(int id);
    // A later start of the program asked for this window.
    void RaiseFromOtherStart();
    // A later start was given this benchmark file: it is opened as Open opens the file chosen,
    // once the start-up is over and like any command held during a run or a load; it waits
    // also while a command, a box or dialog, or a print is under way.
    void OpenFromOtherStart(const std::string& path);
    // The desktop asks before its session ends, or only to save its state at a checkpoint: the
    // question of Exit about an unsaved run, asked only when the desktop lets the program ask
    // (may_ask). False when the user keeps the program (the end of the session is cancelled).
    // Nothing ends here: the program ends at the desktop's quit that follows, as Exit without
    // asking again.
    bool EndOfSession(bool may_ask);
    // Follows the requests to end that come from outside: the desktop session (EndOfSession at
    // its request to save, the end at the quit that follows) and the signals TERM, INT and HUP
    // (EndWithoutQuestions).
    void WatchEndRequests();
    // Stop, then Exit without its questions: a run going is stopped at its next pass boundary
    // (its test file removed, the programs it started ended) and the program ends when the run
    // has returned; during a file read the program ends once the read is over; open boxes and
    // dialogs are left, and later boxes answered at once without being shown (Ok, No, Cancel).
    void EndWithoutQuestions();
    bool AnswersWithoutAsking() const { return answer_without_asking_; }

    QAction* Action(int id) const;
    ReportPane* Report() const { return report_; }
    StatusPane* Status() const { return status_; }
    ButtonBar* Bar() const { return bar_; }
    QWidget* Client() const { return client_; }
    QtHost& host() const { return *host_; }
    // The progress window while one is open.
    Scroller* Progress() const;
    MainWindowFacts Facts() const;
    void SetDriveMenuItem(int command, const std::string& text, bool checked);

    // Opens the Preferences (kind 0) or Configuration (kind 1) frame with the pages that
    // make_pages gives, after closing the other kind's frame; an open frame of the same kind is
    // brought to the top instead. The frame, open or already there.
    TabFrame* OpenTabFrame(int kind, const std::function<std::vector<QWidget*>(TabFrame&)>& make_pages);
    // The open frame (hWndTabs), or nullptr.
    TabFrame* TabWindow() const;
    void CloseTabFrame();

    // The comparison list and its view while open (hWndList, hListBox), else nullptr.
    QListWidget* ComparisonList() const;
    SpecificView* ComparisonView() const;
    bool WindowExpanded() const { return window_expanded_; }
    // Builds the comparison list and view, enlarging the window (DrawListBox).
    void DrawListBox();
    // Closes them and gives the window its size from before back.
    void CloseListBox();

signals:
    void commandRan(int id);
    void startupFinished();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void BuildMenus();
    QAction* AddItem(QMenu* menu, int id, const char* text, const QKeySequence& key = {}, bool checkable = false);
    void CreateReportPane();
    void FinishStartup(const std::string& file_name);
    void LayoutClient();
    void ShowMenuHelp(QAction* action);
    void Enable(std::initializer_list<int> ids, bool enabled);

    // The commands.
    void ChooseTest(int id);
    void ToggleDrive(int id);
    void ToggleScaling();
    void NewTest();
    void OpenFile();
    // Open's question about an unsaved run (Yes goes to Save As). True when a file may be loaded.
    bool MayOpen();
    // Opens the next file a later start handed over.
    void OpenHandedFile();
    bool SaveFile();
    void CloseFile();
    void CopyAll();
    void ChooseFont();
    void Exit();
    // An unsaved run is offered for saving, as Exit offers it. False when the user keeps the
    // program.
    bool MayEnd();
    // The end of Exit: the file closed, the window rectangle and the preferences stored.
    void StoreAndEnd();
    void About();
    // Print: the print dialog, then every report line page by page, with the abort dialog.
    void PrintReport();
    // Prints the report lines on a started job and ends it.
    void PrintTextFile(PrintJob& job);
    // Printer setup: the setup dialog on the printer object that later prints start from.
    void PrinterSetup();
    // Loads report.FileName after Open, a drop or the command line.
    void LoadFile();
    void ResultComparisons();
    // A double click on list row `row`: held as a command is during a run or a load.
    void ComparisonDoubleClicked(int row);
    void OpenComparison(int row);
    void DropFile(const std::string& path);
    // An unsaved run: beeps and asks whether to save it. True for Yes.
    bool AskToSave(const char* caption);
    std::optional<std::string> ChooseFile(bool save);
    // Ends the program: closes the windows and leaves the message loop.
    void EndProgram();
    // The application is asked to quit; true when the quit is taken over here.
    bool QuitAsked();

    std::unique_ptr<QtHost> host_;
    QWidget* client_ = nullptr;
    ReportPane* report_ = nullptr;
    StatusPane* status_ = nullptr;
    ButtonBar* bar_ = nullptr;
    QMenu* drives_menu_ = nullptr;
    std::map<int, QAction*> actions_;
    QPointer<OpeningWindow> splash_;
    QPointer<OpeningWindow> about_;
    QPointer<TabFrame> tabs_;  // the Preferences or Configuration frame
    QPointer<CaptionedPane> list_pane_;  // "Other Results"
    QPointer<CaptionedPane> view_pane_;  // "Other Results, Specific"
    bool window_expanded_ = false;
    QRect old_geometry_;  // the window's place before the list enlarged it
    // Commands that came during a run or a load, in order; kHeldClose stands for the close box,
    // kHeldOpen for the next of the files handed over by later starts, kHeldComparison for the
    // next of the comparison list's double clicks (the rows in held_rows_).
    std::vector<int> held_commands_;
    static constexpr int kHeldClose = -1;
    static constexpr int kHeldOpen = -2;
    static constexpr int kHeldComparison = -3;
    std::vector<std::string> handed_files_;
    std::vector<int> held_rows_;
    // Carries the held commands out in the order they came, each after the one before. Called
    // when what held them is over: the last command, close box or drop (Busy, a run's or a
    // load's included), the start-up, a box or dialog, a print.
    void ReleaseHeldCommands();
    bool release_posted_ = false;
    // True when command id (or a held close box or handed file) waits now.
    bool Holds(int id) const;
    // Carries out a command, a held close box or the next handed file.
    void Dispatch(int id);
    bool loading_ = false;  // a benchmark file is being loaded
    // A command, a close box's question or a drop under way (nested ones counted); when the last
    // returns, the held commands are looked at again.
    int busy_ = 0;
    struct Busy {
        explicit Busy(MainWindow& window);
        ~Busy();
        Busy(const Busy&) = delete;
        Busy& operator=(const Busy&) = delete;
        MainWindow& window_;
    };

    std::string oldfile_;    // the default caption of the report pane
    std::string FileName2;   // the file last saved
    int theFile2 = -1;       // ... kept open until Close, New Test or Exit
    int filetest = 0;        // 1 when the last file dialog chose a file
    bool startup_done_ = false;
    bool ending_ = false;
    bool session_agreed_ = false;         // the desktop's question before its end was answered
    bool end_after_run_ = false;          // ended without questions during a run
    bool end_after_load_ = false;         // ... during a file read
    bool answer_without_asking_ = false;  // ending without questions: no box is shown
};

// The engine's host in the program: the report pane, the status line, the menus, the progress
// window and the pump that lets only Stop through while a test runs.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>

#include "kestrel/engine/run/host.h"
#include "shared/ui/scroller.h"
#include "platform/msgbox.h"

class MainWindow;
class QWidget;

// The window a message box of the given owner belongs to: the progress window while one is open
// (else the main window), the active window (else the main window), the main window, or none.
QWidget* BoxOwner(kp::Owner owner, ::MainWindow* window);
// Shows the program's boxes with their owners, above the progress window while one is open.
void InstallMainWindowBoxes(std::function<::MainWindow*()> window);

class QtHost : public QObject, public EngineHost {
public:
    explicit QtHost(::MainWindow& window);
    ~QtHost() override;

    void ReportAppended(bool testRunning) override;
    void ReportCleared() override;
    void SetReportTitle(const std::string& title) override;
    void EnableCommand(int id, bool enabled) override;
    void SetProgress(double fraction) override;
    void SetProgressCaption(const std::string& caption) override;
    void OpenProgress(const std::string& caption) override;
    void CloseProgress() override;
    void ShowProgressDrawn() override;
    void ProgressNextTest() override;
    void PumpPending() override;
    void RepaintDuringRead() override;
    // A fixed pause of a run: waits its whole length in short slices and pumps input between
    // them, so that the windows repaint and Stop is taken at once (it acts where the engine next
    // looks at the stop flag). Outside a run it only waits.
    void Sleep(int ms) override;
    ScreenFacts Screen() override;
    void SetStatusText(const std::string& text) override;
    MainWindowFacts MainWindow() override;
    void PostCommand(int id) override;
    void RunGlance() override;
    void Beep() override;
    void SetDriveMenuItem(int command, const std::string& text, bool checked) override;

    // The progress window while one is open (hWndBar), else nullptr.
    Scroller* Progress() const { return progress_; }

protected:
    // While a test runs, menus and accelerators are held back (the button bar refuses its own
    // buttons but Stop).
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PaintMainWindowNow();

    ::MainWindow& window_;
    QPointer<Scroller> progress_;
};

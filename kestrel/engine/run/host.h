// EngineHost: the one way the engine reaches the program's windows. The shell implements it
// with Qt; tests implement it with a recorder. The engine runs on the user-interface thread and
// calls the host only from there.
#pragma once

#include <string>

#include "platform/clock.h"

struct ScreenFacts {
    int width = 1024;
    int height = 768;
    int bitsPerPixel = 32;
};

// Where the main window stands on the screen and the size of its client area.
struct MainWindowFacts {
    int left = 100;
    int top = 100;
    int clientWidth = 800;
    int clientHeight = 600;
};

class EngineHost {
public:
    virtual ~EngineHost() = default;

    // A report line was appended: repaint the report pane so that, during a run, the newest
    // line is visible.
    virtual void ReportAppended(bool testRunning) { (void)testRunning; }
    // The report lines were cleared: repaint.
    virtual void ReportCleared() {}
    // The report pane's title (the name of the file shown).
    virtual void SetReportTitle(const std::string& title) { (void)title; }
    // A menu or button command becomes available or greyed.
    virtual void EnableCommand(int id, bool enabled) { (void)id; (void)enabled; }
    // The progress window: fraction done (0 to 1) and caption; repaint at once.
    virtual void SetProgress(double fraction) { (void)fraction; }
    virtual void SetProgressCaption(const std::string& caption) { (void)caption; }
    // Opens the progress window over the main window with the caption, unless one is open
    // already (that one stays as it is); closes it.
    virtual void OpenProgress(const std::string& caption) { (void)caption; }
    virtual void CloseProgress() {}
    // Handles the window system's events until the progress window just opened is drawn on the
    // screen (a short while at most); the commands that come meanwhile wait as during a read.
    virtual void ShowProgressDrawn() {}
    // The progress window's next-test command: the bar starts again for the next part of a run.
    virtual void ProgressNextTest() {}
    // Between passes: handle pending input, letting only the Stop command through.
    virtual void PumpPending() {}
    // During a long read of a file: the windows repaint and take input; the commands that come
    // meanwhile wait until the read is over.
    virtual void RepaintDuringRead() {}
    // Size and colour depth of the screen.
    virtual ScreenFacts Screen() { return {}; }
    // The main window's status line.
    virtual void SetStatusText(const std::string& text) { (void)text; }
    // The main window's place and client size.
    virtual MainWindowFacts MainWindow() { return {}; }
    // Every fixed pause of the engine goes through here.
    virtual void Sleep(int ms) { kp::Sleep(ms); }
    // Queues a command of the main window's dispatcher (111 opens the result comparison).
    virtual void PostCommand(int id) { (void)id; }
    // Starts the result viewer (the run ends with it when the preference says so).
    virtual void RunGlance() {}
    // The system's default beep.
    virtual void Beep() {}
    // An entry of the Test Drives menu: command 116 + position; the first position's entry
    // exists and gets the text, each later one stands above the one before it.
    virtual void SetDriveMenuItem(int command, const std::string& text, bool checked) {
        (void)command; (void)text; (void)checked;
    }
};

// The host in use (a host that does nothing until the program installs its own).
EngineHost& Host();
// Installs the program's host (nullptr: back to the host that does nothing).
void SetEngineHost(EngineHost* host);

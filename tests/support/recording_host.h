// An EngineHost that records what the engine asked of the windows, for tests.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "kestrel/engine/run/host.h"

namespace kt {

class RecordingHost : public EngineHost {
public:
    RecordingHost() { SetEngineHost(this); }
    ~RecordingHost() override { SetEngineHost(nullptr); }

    void ReportAppended(bool testRunning) override {
        ++appended;
        if (testRunning) ++appended_while_running;
    }
    void ReportCleared() override { ++cleared; }
    void SetReportTitle(const std::string& t) override { title = t; }
    void EnableCommand(int id, bool enabled) override { commands[id] = enabled; }
    void SetProgress(double fraction) override { progress.push_back(fraction); }
    void SetProgressCaption(const std::string& c) override { captions.push_back(c); }
    void OpenProgress(const std::string& c) override {
        if (!progress_open) progress_opened.push_back(c);
        progress_open = true;
    }
    void CloseProgress() override {
        progress_open = false;
        ++progress_closes;
    }
    void ProgressNextTest() override { ++next_tests; }
    void PumpPending() override {
        ++pumps;
        if (on_pump) on_pump(pumps);
    }
    ScreenFacts Screen() override { return screen; }
    void Sleep(int ms) override {
        sleeps.push_back(ms);
        if (on_sleep) on_sleep(ms);
    }
    void SetStatusText(const std::string& t) override { status.push_back(t); }
    MainWindowFacts MainWindow() override { return main_window; }
    void Beep() override { ++beeps; }
    void PostCommand(int id) override { posted.push_back(id); }
    void RunGlance() override { ++glances; }
    void SetDriveMenuItem(int command, const std::string& text, bool checked) override {
        drive_menu.push_back({command, text, checked});
    }

    int appended = 0;
    int appended_while_running = 0;
    int cleared = 0;
    std::string title;
    std::map<int, bool> commands;
    std::vector<double> progress;
    std::vector<std::string> captions;
    bool progress_open = false;
    std::vector<std::string> progress_opened;  // captions of the windows opened
    int progress_closes = 0;
    int next_tests = 0;
    int pumps = 0;
    std::function<void(int pump)> on_pump;  // e.g. press Stop at the n-th pump
    ScreenFacts screen;
    std::vector<int> sleeps;
    std::function<void(int ms)> on_sleep;  // e.g. lengthen the analyser's watch after a restart
    std::vector<std::string> status;
    MainWindowFacts main_window;
    int beeps = 0;
    std::vector<int> posted;
    int glances = 0;
    struct DriveMenuItem {
        int command;
        std::string text;
        bool checked;
    };
    std::vector<DriveMenuItem> drive_menu;
};

}  // namespace kt

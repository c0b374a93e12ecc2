// The counter windows of the analyser and the host that runs them on the user-interface thread.
#pragma once

#include <QString>

#include <mutex>
#include <vector>

#include "counters/loadmeter/analyser.h"
#include "shared/ui/caption_window.h"

// A small top-most window with a caption only (see CaptionWindow) that shows the latest sample of
// one counter under its caption.
class CounterWindow : public CaptionWindow {
public:
    explicit CounterWindow(const CounterPlace& place);
    void SetText(const QString& text);
    const QString& text() const { return text_; }
    // The width the window needs to show its caption and its widest values whole.
    static int MinimumWidth(const CounterPlace& place);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    bool perProcessor_;
    int enabled_;
};

// The analyser's host in the program: boxes and windows on the user-interface thread, texts
// handed over by queued calls.
class QtAnalyserHost : public AnalyserHost {
public:
    ~QtAnalyserHost() override;
    void Box(const kp::BoxRequest& box) override;
    int CounterWindowWidth(const CounterPlace& place) override;
    bool CreateCounterWindows(const std::vector<CounterPlace>& places) override;
    void ShowCounterText(int window, const std::string& text) override;
    void DestroyCounterWindows() override;

    // The windows (user-interface thread only).
    const std::vector<CounterWindow*>& windows() const { return windows_; }

private:
    std::mutex mutex_;  // guards the list against the sampling threads
    std::vector<CounterWindow*> windows_;
};

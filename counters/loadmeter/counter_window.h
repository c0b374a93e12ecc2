// The counter windows of the analyser and the host that runs them on the user-interface thread.
#pragma once

#include <QString>
#include <QWidget>

#include <mutex>
#include <vector>

#include "counters/loadmeter/analyser.h"

// A small top-most window that shows the latest sample of one counter. It has no close button
// and does not close on request.
class CounterWindow : public QWidget {
public:
    explicit CounterWindow(const CounterPlace& place);
    void SetText(const QString& text);
    const QString& text() const { return text_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

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
    bool CreateCounterWindows(const std::vector<CounterPlace>& places) override;
    void ShowCounterText(int window, const std::string& text) override;
    void DestroyCounterWindows() override;

    // The windows (user-interface thread only).
    const std::vector<CounterWindow*>& windows() const { return windows_; }

private:
    std::mutex mutex_;  // guards the list against the sampling threads
    std::vector<CounterWindow*> windows_;
};

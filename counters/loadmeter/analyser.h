// The analyser's run: it connects to the program that started it, takes the settings record,
// samples the enabled quantities on threads of its own interval by interval, and answers each
// record that ends an interval with the interval's averages.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "counters/loadmeter/layout.h"
#include "counters/loadmeter/sampling.h"
#include "platform/msgbox.h"
#include "shared/records.h"

// The box that refuses a command line (the words after the program name), or nothing.
std::optional<kp::BoxRequest> CheckCommandLine(const std::vector<std::string>& words);

// What the run needs of the program's windows. Called from the run's threads, never from the
// user-interface thread.
class AnalyserHost {
public:
    virtual ~AnalyserHost() = default;
    // Shows a box and returns when it has been answered.
    virtual void Box(const kp::BoxRequest& box) = 0;
    // The width a counter window needs to show its caption and its values whole.
    virtual int CounterWindowWidth(const CounterPlace&) { return 1; }
    // Creates and shows the counter windows (numbered in the order given); false on failure.
    virtual bool CreateCounterWindows(const std::vector<CounterPlace>& places) = 0;
    // Hands a window its new text (from a sampling thread; must not wait for the window).
    virtual void ShowCounterText(int window, const std::string& text) = 0;
    virtual void DestroyCounterWindows() = 0;
};

struct AnalyserOptions {
    int connectWaitMs = 10000;  // how long to try again while nobody listens on the socket
    int lockWaitMs = 8000;      // a sampling thread's wait for the lock
    Sampler::Clock clock;       // the high-resolution counter (the system's when not given)
};

class Analyser {
public:
    explicit Analyser(AnalyserHost& host, AnalyserOptions options = {});
    ~Analyser();

    // The whole run, on the calling thread, with windows h pixels high. Returns the program's
    // exit code.
    int RunAnalyser(CounterProvider& counters, int h);
    // From any thread: ends the run as soon as possible, without boxes.
    void StopAnalyser();

    // The last record received (after the run).
    const PerfMonData& settings() const { return record_; }

private:
    bool ConnectPerfPipe();
    bool ReadPerfRequest(PerfMonData* rec);
    void ServePerfRequests();
    void WritePerfReply();
    void RunInterval();
    // What the sampling threads of one interval take from the settings.
    struct IntervalSettings {
        int periodMs = 10;
        bool show = false;
        bool high = false;
        int stripRight = 0;
    };
    void CounterThread(int slot, int window, IntervalSettings settings);
    void SystemErrorBox(int error);
    void CloseLink();

    AnalyserHost& host_;
    AnalyserOptions options_;
    std::unique_ptr<Sampler> sampler_;
    PerfMonData record_{};
    int n_ = 1;
    std::vector<int> windowOfSlot_;  // 32 slots; -1 when a slot has no window
    std::vector<int> slots_;         // the slots sampled in every interval

    std::atomic<bool> stopping_{false};
    std::mutex linkMutex_;  // guards fd_ against StopAnalyser
    int fd_ = -1;

    std::mutex waitMutex_;  // guards the sampling threads' start gate and stop flag
    std::condition_variable wake_;
    bool released_ = false;
    bool samplingStop_ = true;
};

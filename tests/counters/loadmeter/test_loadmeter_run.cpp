// The analyser's run against a caller in the test: the settings record, interval requests and
// their averages, the end of the run, and its failures. Counters come from the fake provider.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "counters/loadmeter/analyser.h"
#include "platform/local_socket.h"
#include "platform/processors.h"
#include "shared/perf_link.h"
#include "tests/counters/loadmeter/fake_counters.h"

namespace {

using Fake = kt::FakeCounters;

// Records what the run asks of its windows and boxes.
class RecordingHost : public AnalyserHost {
public:
    struct Seen {
        std::vector<std::string> boxes;  // caption|text
        std::vector<CounterPlace> windows;
        std::map<int, std::string> texts;
        bool destroyed = false;
    };
    void Box(const kp::BoxRequest& box) override { Change([&](Seen& s) { s.boxes.push_back(box.caption + "|" + box.text); }); }
    bool CreateCounterWindows(const std::vector<CounterPlace>& places) override {
        Change([&](Seen& s) { s.windows = places; });
        return true;
    }
    void ShowCounterText(int window, const std::string& text) override {
        Change([&](Seen& s) { s.texts[window] = text; });
    }
    void DestroyCounterWindows() override { Change([](Seen& s) { s.destroyed = true; }); }
    Seen seen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

private:
    template <typename F>
    void Change(F f) {
        std::lock_guard<std::mutex> lock(mutex_);
        f(seen_);
    }
    std::mutex mutex_;
    Seen seen_;
};

// Waits (at most 10 s, so a fault cannot hang the test) until done() holds.
template <typename F>
bool Eventually(F done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The analyser's run on a thread of its own, connected to a caller played by the test.
class RunTest : public ::testing::Test {
protected:
    void Start(bool listen = true, int connectWaitMs = 10000) {
        if (listen) {
            server_ = kp::LocalServer::Listen(kPerfSocketName);
            ASSERT_TRUE(server_.has_value());
        }
        AnalyserOptions options;
        options.connectWaitMs = connectWaitMs;
        options.clock = fake_.clock();
        analyser_ = std::make_unique<Analyser>(host_, options);
        thread_ = std::thread([this] { code_ = analyser_->RunAnalyser(fake_, 60); });
        if (listen) {
            fd_ = server_->Accept(10000);
            ASSERT_GE(fd_, 0);
        }
    }
    void TearDown() override {
        if (fd_ >= 0) close(fd_);
        if (thread_.joinable()) {
            if (analyser_) analyser_->StopAnalyser();
            thread_.join();
        }
    }
    // Waits for the run to end; its exit code, or -1 when it did not end.
    int Finish() {
        const bool ended = Eventually([this] { return code_ >= 0; });
        if (!ended) return -1;
        thread_.join();
        return code_;
    }
    void Send(const PerfMonData& rec) {
        ASSERT_EQ(kp::WriteAll(fd_, &rec, sizeof rec, 10000), kp::IoResult::Ok);
    }
    PerfMonData Settings(int n, std::initializer_list<int> enabled, bool show) {
        PerfMonData rec{};
        rec.indices[0] = 0;
        rec.indices[1] = 600;
        rec.indices[2] = 10;
        rec.numprocessors = n;
        rec.countertime = 10;
        for (int q : enabled) rec.perfData[q] = 1;
        rec.show_graphs = show ? 1 : 0;
        return rec;
    }

    Fake fake_;
    RecordingHost host_;
    std::optional<kp::LocalServer> server_;
    std::unique_ptr<Analyser> analyser_;
    std::thread thread_;
    std::atomic<int> code_{-1};
    int fd_ = -1;
};

TEST_F(RunTest, GeneralModeAnswersEachIntervalWithItsAverages) {
    const int n = std::min(kp::GetNumProcessors(), 4);
    ASSERT_NO_FATAL_FAILURE(Start());
    PerfMonData settings = Settings(n, {kCpu, kContextSwitches, kMemory}, true);
    Send(settings);
    // Each enabled quantity has its thread and window, whichever quantities are enabled.
    ASSERT_TRUE(Eventually([&] { return host_.seen().texts.size() == 3 && fake_.reads(Fake::CpuOf(0)) >= 4; }));
    const auto windows = host_.seen().windows;
    ASSERT_EQ(windows.size(), 3u);
    EXPECT_EQ(windows[1].title, "C.Switches/s");
    EXPECT_EQ(windows[1].x, 200);
    EXPECT_EQ(windows[2].title, "Memory");
    EXPECT_NEAR(std::stol(host_.seen().texts[1]), 10000, 1);  // a rate, truncated
    EXPECT_EQ(host_.seen().texts[2], "6442450944");

    PerfMonData request = settings;
    request.numprocessors = 40;
    request.score[kInterrupts] = 11.0f;
    request.score[kPageFaults] = 33.0f;
    request.score[kPages] = 44.0f;
    Send(request);
    PerfMonData reply{};
    ASSERT_EQ(kp::ReadExact(fd_, &reply, sizeof reply, 10000), kp::IoResult::Ok);
    EXPECT_EQ(reply.numprocessors, 32);
    double mean = 0;
    for (int i = 0; i < n; ++i) {
        EXPECT_NEAR(reply.cpu_scores_1[i], Fake::Load(Fake::CpuOf(i)), 1e-3) << i;
        mean += Fake::Load(Fake::CpuOf(i)) / n;
    }
    EXPECT_NEAR(reply.score[kCpu], mean, 1e-3);
    EXPECT_NEAR(reply.score[kContextSwitches], Fake::Rate(kContextSwitches), 1e-2);
    EXPECT_FLOAT_EQ(reply.score[kMemory], float(Fake::kAvailableBytes));
    EXPECT_EQ(reply.score[kInterrupts], 11.0f);
    EXPECT_EQ(reply.score[kPageFaults], 33.0f);
    EXPECT_EQ(reply.score[kPages], 44.0f);
    EXPECT_EQ(reply.countertime, 10);

    // A second interval answers too; then the stop gets no answer and the run ends.
    Send(request);
    ASSERT_EQ(kp::ReadExact(fd_, &reply, sizeof reply, 10000), kp::IoResult::Ok);
    EXPECT_EQ(reply.numprocessors, 32);
    request.end = 1;
    Send(request);
    EXPECT_EQ(kp::ReadExact(fd_, &reply, sizeof reply, 10000), kp::IoResult::Closed);
    EXPECT_EQ(Finish(), 0);
    EXPECT_TRUE(host_.seen().destroyed);
    EXPECT_TRUE(host_.seen().boxes.empty());
}

TEST_F(RunTest, ProcessorCountsOutsideOneTo32AreClampedBeforeUse) {
    ASSERT_NO_FATAL_FAILURE(Start());
    // 40 processors in the settings: only 32 are sampled and averaged.
    PerfMonData settings = Settings(40, {kCpu, kMemory}, false);
    for (float& s : settings.cpu_scores_2) s = -1.0f;
    Send(settings);
    ASSERT_TRUE(Eventually([&] { return fake_.reads(Fake::CpuOf(0)) >= 3; }));
    Send(settings);
    PerfMonData reply{};
    ASSERT_EQ(kp::ReadExact(fd_, &reply, sizeof reply, 10000), kp::IoResult::Ok);
    EXPECT_EQ(reply.numprocessors, 32);
    for (int i = 0; i < 32; ++i) {
        EXPECT_NEAR(reply.cpu_scores_1[i], Fake::Load(Fake::CpuOf(i)), 1e-3) << i;
        EXPECT_EQ(reply.cpu_scores_2[i], -1.0f) << i;  // interrupts are not enabled
    }
    // None or fewer than none: one processor.
    settings.numprocessors = -4;
    Send(settings);
    ASSERT_EQ(kp::ReadExact(fd_, &reply, sizeof reply, 10000), kp::IoResult::Ok);
    EXPECT_EQ(reply.numprocessors, 1);
    settings.end = 1;
    Send(settings);
    EXPECT_EQ(Finish(), 0);
}

TEST_F(RunTest, PerProcessorModeSamplesWithoutWindows) {
    if (kp::GetNumProcessors() < 2) GTEST_SKIP() << "needs two processors";
    ASSERT_NO_FATAL_FAILURE(Start());
    PerfMonData settings = Settings(2, {kCpu}, false);
    Send(settings);
    ASSERT_TRUE(Eventually([&] { return fake_.reads(Fake::CpuOf(0)) >= 10 && fake_.reads(Fake::CpuOf(1)) >= 10; }));
    Send(settings);
    PerfMonData reply{};
    ASSERT_EQ(kp::ReadExact(fd_, &reply, sizeof reply, 10000), kp::IoResult::Ok);
    const double l0 = Fake::Load(Fake::CpuOf(0));
    const double l1 = Fake::Load(Fake::CpuOf(1));
    for (int i = 0; i < 2; ++i) {
        EXPECT_GT(reply.cpu_scores_1[i], 0.0f) << i;
        EXPECT_LE(reply.cpu_scores_1[i], 100.0f) << i;
    }
    // The quantity's average is the mean over every sample of both processors.
    EXPECT_GE(reply.score[kCpu], std::min(l0, l1) - 1e-3);
    EXPECT_LE(reply.score[kCpu], std::max(l0, l1) + 1e-3);
    EXPECT_TRUE(host_.seen().windows.empty());
    EXPECT_TRUE(host_.seen().texts.empty());
    settings.end = 1;
    Send(settings);
    EXPECT_EQ(Finish(), 0);
}

TEST_F(RunTest, CallerGoneMidIntervalEndsTheRunWithTheSystemBox) {
    ASSERT_NO_FATAL_FAILURE(Start());
    Send(Settings(1, {kCpu, kMemory}, true));
    ASSERT_TRUE(Eventually([&] { return host_.seen().texts.size() == 2; }));
    close(fd_);
    fd_ = -1;
    EXPECT_EQ(Finish(), 0);
    EXPECT_EQ(host_.seen().boxes, std::vector<std::string>{"Operation Failed|Broken pipe"});
    EXPECT_TRUE(host_.seen().destroyed);
}

TEST_F(RunTest, StopInTheSettingsEndsWithoutAnInterval) {
    ASSERT_NO_FATAL_FAILURE(Start());
    PerfMonData settings = Settings(1, {kCpu}, true);
    settings.end = 1;
    Send(settings);
    EXPECT_EQ(Finish(), 0);
    PerfMonData reply{};
    EXPECT_EQ(kp::ReadExact(fd_, &reply, sizeof reply, 10000), kp::IoResult::Closed);
    EXPECT_TRUE(host_.seen().windows.empty());
    EXPECT_TRUE(host_.seen().boxes.empty());
}

TEST_F(RunTest, NobodyListeningGivesTheTwoBoxes) {
    ASSERT_NO_FATAL_FAILURE(Start(false, 100));
    EXPECT_EQ(Finish(), 0);
    EXPECT_EQ(host_.seen().boxes, (std::vector<std::string>{"File Exception|Could not open file for read",
                                                       "Fatal Exception|Run LOADMETER from Kestrel only!"}));
}

TEST_F(RunTest, StopFromAnotherThreadEndsAWaitingRunQuietly) {
    ASSERT_NO_FATAL_FAILURE(Start());
    Send(Settings(1, {kCpu, kInterrupts}, true));
    ASSERT_TRUE(Eventually([&] { return host_.seen().texts.size() == 2; }));
    analyser_->StopAnalyser();
    EXPECT_EQ(Finish(), 0);
    EXPECT_TRUE(host_.seen().boxes.empty());
    EXPECT_TRUE(host_.seen().destroyed);
}

TEST_F(RunTest, AProcessorOutsideTheAllowedSetEndsTheRun) {
    const int n = kp::GetNumProcessors() + 1;
    if (n > 32) GTEST_SKIP() << "every processor number is allowed";
    ASSERT_NO_FATAL_FAILURE(Start());
    Send(Settings(n, {kCpu}, false));
    EXPECT_EQ(Finish(), 0);
    EXPECT_EQ(host_.seen().boxes, std::vector<std::string>{"Thread Exception!|Process Affinity Error!"});
}

}  // namespace

// What the kernel tests share: a run of the processor tests on 8 "processors" whose binding is
// recorded instead of done, with a short measuring loop.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/engine/processor/workers.h"
#include "platform/msgbox.h"
#include "platform/ui_thread.h"
#include "shared/helpers.h"
#include "tests/support/recording_host.h"

namespace kt {

class KernelRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        kp::MarkUiThread();
        SetDefaults();
        report = ReportText{};
        run.testend = 0;
        run.numprocessors = 8;
        run.tpriority = 0;
        prefs = Preferences{};
        measuring_times.driver_seconds = 0.05;
        Bound().clear();
        previous_ = SetAffinitySetter(&Record);
    }
    void TearDown() override {
        SetAffinitySetter(previous_);
        measuring_times = MeasuringTimes{};
    }

    static std::vector<int>& Bound() {
        static std::vector<int> bound;
        return bound;
    }
    static bool Record(kp::Worker*, int n) {
        static std::mutex m;
        std::lock_guard<std::mutex> lock(m);
        Bound().push_back(n);
        return true;
    }
    static bool AllSlotsNull() {
        for (kp::Worker* w : global_current_thread) {
            if (w != nullptr) return false;
        }
        return true;
    }
    // Every iteration dealt its n workers over processors 1..8 in turn.
    static void ExpectDealtInTurns(int n) {
        const std::vector<int>& b = Bound();
        ASSERT_FALSE(b.empty());
        ASSERT_EQ(b.size() % size_t(n), 0u);
        for (size_t i = 0; i < b.size(); ++i) EXPECT_EQ(b[i], int(i % size_t(n)) % 8 + 1);
    }

    RecordingHost host;
    kp::BoxRecorder boxes;
    AffinitySetter previous_ = nullptr;
};

}  // namespace kt

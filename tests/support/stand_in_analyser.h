// Points the analyser link at the stand-in analyser (tests/kestrel/engine/fake_loadmeter.cpp,
// built into build/tests/fakes) in the given mode.
#pragma once

#include <cstdlib>
#include <string>

#include "kestrel/engine/run/analyser_link.h"
#include "platform/process.h"
#include "tests/support/isolation.h"

namespace kt {

// The link's watch on the stand-in. One that answers does so at once, however loaded the machine:
// its watch only keeps a fault from hanging the test. For one that stalls, the watch running out
// is the event the test waits for, so it is short.
inline constexpr int kAnswerWatchMs = 30000;
inline constexpr int kStallWatchMs = 200;

inline void UseStandInAnalyser(const char* mode = "answer", int watch_ms = kAnswerWatchMs) {
    AllowPerfRestarts();
    perflink.program_directory = kp::ProgramDirectory() + "/fakes";
    perflink.watch_ms = watch_ms;
    perflink.connect_ms = 5000;
    perflink.end_wait_ms = 5000;
    setenv("FAKE_LOADMETER_MODE", mode, 1);
    setenv("FAKE_LOADMETER_ARGS", (TempDir() + "/args.txt").c_str(), 1);
    setenv("FAKE_LOADMETER_MARK", (TempDir() + "/stalled-once").c_str(), 1);
}

}  // namespace kt

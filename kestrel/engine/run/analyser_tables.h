// Tables the tests share when they talk to the analyser: its sampling period by niceness level,
// the names of its six averages in the report, and the line written when it is restarted.
#pragma once

#include "shared/perf_link.h"

// Sampling periods of the analyser in ms by niceness level 0..2.
inline constexpr int ntime[3] = {1600, 1200, 800};

// Report names of the six averages, in the order of the record's perfData and score fields.
inline constexpr const char* loadmeter_strings[6] = {
    "Average CPU Usage:",         "Average Interrupts/sec.:", "Average Context Switches/sec.:",
    "Average Page Faults/sec.:", "Average Pages/sec.:",      "Average Available Memory:",
};

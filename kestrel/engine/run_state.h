// Run options and the state of a run, read by the tests and written by the sequencer and the
// shell.
#pragma once

#include <atomic>

// Linux takes the Windows NT flavour everywhere: named pipes become local sockets, performance
// counters come from /proc; the Windows 95 exchange files are not built.
inline constexpr int WIN95_SUPPORT_ON = 0;
inline constexpr int NT40RUNNING = 1;

struct RunState {
    std::atomic<int> testend{0};     // Stop was pressed
    int testrunning = 0;             // a run is going
    int test_interrupted = 0;        // the run was stopped
    int numprocessors = 1;           // processors the processor test uses
    int real_num_processors = 1;     // processors of the machine
    int tpriority = 0;               // worker thread priority level
    int IDM_SCALING_CHECKED = 0;     // run the scaling-efficiency test instead of a plain run
    float globalpercent = 0;         // progress of the current part, 0 to 1
};

extern RunState run;

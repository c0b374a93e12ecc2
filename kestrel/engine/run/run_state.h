// Run options and the state of a run, read by the tests and written by the sequencer and the
// shell.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// Linux takes the Windows NT flavour everywhere: named pipes become local sockets, performance
// counters come from /proc; the Windows 95 exchange files are not built.
inline constexpr int WIN95_SUPPORT_ON = 0;
inline constexpr int NT40RUNNING = 1;

struct RunState {
    std::atomic<int> testend{0};     // Stop was pressed
    // The program is ending (a signal, the end of the desktop session): on top of the Stop, the
    // wait for the video test program ends at once, killing it, and no program is started.
    std::atomic<int> ending{0};
    int testrunning = 0;             // a run is going
    int test_interrupted = 0;        // the run was stopped
    int numprocessors = 1;           // processors the processor test uses
    int real_num_processors = 1;     // processors of the machine
    std::string processor;           // the processors found at start-up: count and name
    int tpriority = 0;               // worker thread priority level
    int IDM_SCALING_CHECKED = 0;     // run the scaling-efficiency test instead of a plain run
    float globalpercent = 0;         // progress of the current part, 0 to 1
    int OSEFFICIENCY_CHECKED = 0;    // add the operating-system scaling pass
    // The test selection: 0 all tests, 1 processor, 2 disk, 3 video, 4 memory, 5 to 14 the
    // combinations (their flags decide); above 14 nothing runs. The shell keeps the flags
    // consistent with it.
    uint32_t TestValue = 0;
    uint8_t CPU_TEST_CHECKED = 1;
    uint8_t DISK_TEST_CHECKED = 1;
    uint8_t MEMORY_TEST_CHECKED = 1;
    uint8_t VIDEO_TEST_CHECKED = 1;
};

extern RunState run;

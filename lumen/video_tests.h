// The nine video tests in the order they run, and the test-only entry that runs one of them.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "lumen/lumen_state.h"
#include "shared/records.h"

namespace lumen {

struct VideoTest {
    const char* title;  // window_texts
    const char* name;   // the entry's name
    double (*run)();    // null while the test is not built
};
extern const VideoTest videofunc[9];
// The index of a test by its entry's name, or -1.
int FindVideoTest(const std::string& name);

// The record's member that keeps test i's time: elapsed1 .. elapsed9.
double& ElapsedOf(TIMES& record, int i);

// The main window's title during test i: "%s - %d%% finished".
std::string TestTitle(int i);

// ---- for tests --------------------------------------------------------------------------------

struct VideoTestSettings {
    int laptop = 1;          // 800 x 600
    int repeat = 0;          // the record's repeat flag
    int processors = 1;      // the record's processor count
    int priority = 0;        // the drawing threads' priority
    int high_precision = 1;  // the high-resolution counter
    std::optional<Rect> rect;                // another test rectangle than the mode's
    std::function<void()> before;            // user-interface thread, just before the test starts
    std::function<void()> at_end;            // user-interface thread, when the timed runs are over
    std::function<void()> at_clock_start;    // the timing thread, at every clock start
    int deadline_ms = 120000;                // then every stop flag is forced, and the run counts as hung
};

struct VideoTestOutcome {
    double ms = -1.0;
    bool finished_in_time = true;
    TIMES record{};
};

// Runs one test as the sequencer runs it: the settings copied into the program's state, the main
// window made (on first use) and placed at crect, and the test on a thread of its own at
// above-normal priority while this thread, the user-interface thread, serves the windows. The
// test's time is stored in its member of the record.
VideoTestOutcome RunVideoTestForTest(const std::string& name, const VideoTestSettings& settings);

}  // namespace lumen

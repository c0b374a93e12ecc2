// A small stand-in for the test sequencer, so that the program can be built and tried before the
// sequencer is joined to it: a few passes with report lines, Stop between passes, and the end of
// a run as the sequencer makes it.
#include <string>

#include "kestrel/engine/host.h"
#include "kestrel/engine/report.h"
#include "kestrel/engine/run_state.h"
#include "kestrel/engine/sequencer.h"
#include "kestrel/engine/workers.h"
#include "shared/strformat.h"

int StartTesting() {
    run.testrunning = 1;
    run.testend = 0;
    run.test_interrupted = 0;
    ClearReportLines();
    ClearBottomText();
    passtring("Kestrel System Level Benchmark ver. 1.21 (12/96)");
    passtring("");
    report.headernum = 2;
    passtring("");
    Host().OpenProgress("Starting The Tests ...");
    for (int pass = 1; pass <= 5; ++pass) {
        passtring(StrPrintf("Pass %d of 5", pass));
        output_bottomtext_buffer(StrPrintf("Iteration %d", pass));
        report.temp_text_lines = report.num_text_lines;
        Host().SetProgress(pass / 5.0);
        Host().PumpPending();
        if (run.testend != 0) {
            passtring("Test aborted!");
            run.test_interrupted = 1;
            break;
        }
    }
    Host().CloseProgress();
    if (run.test_interrupted == 0) Host().PostCommand(111);
    Host().SetReportTitle("Your Scores!");
    run.testrunning = 0;
    return 0;
}

void StopTesting() {
    run.testend = 1;
    StopAllWorkers();
    run.test_interrupted = 1;
}

int SuspendDrawThrd() { return 1; }
int ResumeDrawThrd() { return 1; }

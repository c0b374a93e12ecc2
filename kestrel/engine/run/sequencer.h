// The test sequencer: one whole run as the user chose it (run.TestValue and its flags), with the
// report header, the parts in their fixed order (processor, memory, disk, video), the scaling
// efficiencies, and the end of the run.
#pragma once

#include <string>

// Runs the selected test on the user-interface thread and returns when it is over. 0.
int StartTesting();
// Resets the run state and writes the report header. 0.
int InitializeEnvironment();
// The Stop button: testend and test_interrupted set; workers still in their slots let go.
void StopTesting();
// Around the button bar's system commands: nothing to hold on this platform (workers are never
// suspended). 1 (go on).
int SuspendDrawThrd();
int ResumeDrawThrd();

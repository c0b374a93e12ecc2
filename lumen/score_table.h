// The run of the video test program: the record's exchange with the main program over the
// local socket "kespipe", and the sequencer that runs the nine tests with the analyser's
// sampling around them and hands the record back.
#pragma once

#include "shared/records.h"

namespace lumen {

// Connects to the main program (retrying for a while when it does not listen yet) and reads the
// record. False after the boxes when no connection could be made; a failed read shows the
// system's text and the tests run with what the record holds.
bool PipeThread();
// Hands the record back (with the screen's depth) and ends the program.
void DoWrite();

// The initial load of a measured idle score: over 5.0 a fifth, else a third.
float InitialLoad(float score);

// The sequencer: the nine tests from the record's settings, the analyser when asked for, the
// results stored in the record. Runs on a thread of its own; ends by handing the record back.
void ScoreTable();

// Starts the sequencer thread (above normal priority) after the record was read. A thread that
// cannot be made shows the system's text of the error ("Operation Failed") and answers false:
// the program then ends.
bool StartSequencer();
// For tests: the next start fails as when the system has no thread to give.
void FailNextSequencerStart();

}  // namespace lumen

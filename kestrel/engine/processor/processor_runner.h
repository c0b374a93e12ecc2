// The processor test runner: runs one of the nine processor tests for one result row (eight
// runs in the long test, one in the short test), shows each run in the status pane, the
// bottom-text buffer and the progress window, samples the idle processor load through the
// analyser first when counter data is wanted, and turns the runs into a mean and statistics.
#pragma once

#include "kestrel/engine/run/host.h"

// Percentage of a normal distribution within t = (10 r + c) / 100 standard deviations of its
// mean: 100 erf(t / sqrt 2), to two decimals.
extern float table_of_uncertainties[36][10];

// Runs test fid (0 to 8) for result row the_processors_to_test (1 to 32); percent is the part of
// the processor tests done when this one ends. 0 with the mean rate, or -1 when a run was stopped
// or failed.
int bench_with_confidence(int fid, double* mean, int the_processors_to_test, float percent);

// The rate the last run of test fid stored in its result record (0.0 for another fid).
double getscore(int fid);

// The long test's statistics over eight runs: drops the lowest and the highest run, rejects up to
// two more by Chauvenet's criterion, marks the rejected runs' bottom-text lines " (dropped)", and
// writes the deviations, peak and trough of the kept runs into the result store's row.
void calc_benchmark(const double scores[8], int function_id, double* smean, int the_processors_to_test);
// The short test's mean: the single run's score.
void calc_confidence(const double* scores, double* smean);

// Fills the analyser record's settings for a (re)started analyser: graphs, sampling period,
// the strip of its counter windows below the main window, and the chosen counters.
void RefillPerfSettings(const MainWindowFacts& win);

// The processor test driver: runs the nine processor tests for one result row, scores each
// against the reference machine of the memory level in force, writes each test's report lines
// and then the processor total with its integer and floating-point marks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "shared/records.h"

// Score accumulators of one row: the ratios to the reference machine, the integer tests counted
// twice in globalindex (14 for the reference machine), intindex over the five integer tests,
// fpindex over the four floating-point tests. 32-bit floats, as the scores are defined on them.
extern float globalindex;
extern float intindex;
extern float fpindex;

// Runs the nine tests on num_of_processors_to_test processors into result row pnum. 0, or -1
// when a test was stopped or failed (no total lines then).
long DoCPUTest(int num_of_processors_to_test, int pnum);

// Writes test i's report lines for row theproc (reference value the_B_index, ratio theIndex,
// mean theMean) and adds the ratio to the accumulators.
void DoStringInput(int i, int theproc, double the_B_index, float theIndex, float theMean);

// The closing block for a processor total T (percent of the reference machine): TotalCPU[row],
// the score line with the integer and floating-point marks, and the comparison line.
void ReportProcessorTotals(int row, double total);

// The counter lines written after a test from the analyser's averages.
std::vector<std::string> ProcessorCounterLines(const PerfMonData& rec, const int32_t perf_counters[6],
                                               int processors);

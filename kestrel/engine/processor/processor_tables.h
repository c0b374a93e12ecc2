// Names, display rules and reference results of the nine processor tests, in their fixed order:
// Bit Operations, Queries, MegaFlops, Integrations, Filters, Analyzations, Modulations,
// Factorizations, Matrix Operations (index 0 to 8; the report numbers them 1 to 9).
#pragma once

#include <algorithm>

#include "kestrel/engine/report/report_tables.h"

// Progress titles of the tests, and the title shown after the last one.
inline constexpr const char* ftestnames[10] = {
    "Performing CPU Analysis",         "Performing Advanced Query",
    "Performing FPU Analysis",         "Performing Integration Analysis",
    "Performing Advanced Filter",      "Performing Data Analysis",
    "Performing Modular Analysis",     "Performing CPU Factorization",
    "Performing Advanced Matrix Analysis", "Done Testing!",
};

// Units of the per-run scores shown in the status pane.
inline constexpr const char* twindow_tnames[9] = {
    "MBitOperations", "Queries",        "MFlop",          "Integrations", "Filters",
    "Analyzations",   "Modulations",    "Factorizations", "MatrixOps",
};

// How a run's score is shown in the status pane: scaled, per second or per minute.
struct IterationDisplay {
    double scale;
    bool per_minute;
};
inline constexpr IterationDisplay iteration_display[9] = {
    {0.000001, false}, {1.0, true}, {0.001, false}, {1.0, false}, {1.0, false},
    {1.0, true},       {100.0, false}, {1.0, false}, {1.0, false},
};

// A test's score line in the report: its format (value, then score), the format with three
// decimals used when the mean is at most 0.01 (none for most tests), the factor from the mean to
// the value printed, and whether the test counts toward the integer or the floating-point mark.
struct ScoreLine {
    const char* format;
    const char* format3;
    double scale;
    bool integer;
};
inline constexpr ScoreLine score_lines[9] = {
    {kScoreLines[0], nullptr, 0.000001, true},
    {kScoreLines[1], nullptr, 1.0, true},
    {kScoreLines[2], nullptr, 0.001, false},
    {kScoreLines[3], "test %d.) Integrations per second:  %.3f;  Score:  %ld", 1.0, false},
    {kScoreLines[4], "test %d.) Filters per second:  %.3f;  Score:  %ld", 1.0, false},
    {kScoreLines[5], nullptr, 1.0, true},
    {kScoreLines[6], nullptr, 100.0, true},
    {kScoreLines[7], "test %d.) Factorizations per second:  %.3f;  Score:  %ld", 1.0, true},
    {kScoreLines[8], nullptr, 1.0, false},
};


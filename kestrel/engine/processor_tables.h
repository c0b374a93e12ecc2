// Names, display rules and reference results of the nine processor tests, in their fixed order:
// Bit Operations, Queries, MegaFlops, Integrations, Filters, Analyzations, Modulations,
// Factorizations, Matrix Operations (index 0 to 8; the report numbers them 1 to 9).
#pragma once

#include <algorithm>

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
    {"test %d.) Millions of Bit Operations per second:  %.2f;  Score:  %ld", nullptr, 0.000001, true},
    {"test %d.) Queries per minute:  %.2f;  Score:  %ld", nullptr, 1.0, true},
    {"test %d.) MegaFlops:  %.1f;  Score:  %ld", nullptr, 0.001, false},
    {"test %d.) Integrations per second:  %.2f;  Score:  %ld",
     "test %d.) Integrations per second:  %.3f;  Score:  %ld", 1.0, false},
    {"test %d.) Filters per second:  %.2f;  Score:  %ld",
     "test %d.) Filters per second:  %.3f;  Score:  %ld", 1.0, false},
    {"test %d.) Analyzations per minute:  %.2f;  Score:  %ld", nullptr, 1.0, true},
    {"test %d.) Modulations per second:  %.2f;  Score:  %ld", nullptr, 100.0, true},
    {"test %d.) Factorizations per second:  %.2f;  Score:  %ld",
     "test %d.) Factorizations per second:  %.3f;  Score:  %ld", 1.0, true},
    {"test %d.) Matrix Operations per second:  %.2f;  Score:  %ld", nullptr, 1.0, false},
};

// Results of the reference machine by memory level, in the units of each test's driver. The
// reference machine scores 100 in every test.
inline constexpr double bindex_1meg[9] = {72413932.0, 1916.33, 10900.0, 62.0, 25.51, 555.61, 1.15214, 234.242, 218.67};
inline constexpr double bindex_2meg[9] = {72933932.0, 958.47, 10900.0, 19.17, 12.19, 275.21, 0.54214, 54.7, 102.35};
inline constexpr double bindex_4meg[9] = {73203932.0, 479.39, 10900.0, 5.04, 5.64, 165.94, 0.33214, 16.78, 45.05};
inline constexpr double bindex_8meg[9] = {74283932.0, 239.8, 10900.0, 1.04, 2.47, 101.47, 0.17214, 7.08, 26.32};
inline constexpr double bindex_16meg[9] = {73493932.0, 119.59, 10900.0, 0.19, 0.99, 37.84, 0.08214, 2.44, 8.33};
inline constexpr double bindex_32meg[9] = {73933932.0, 59.82, 10900.0, 0.05, 0.44, 18.47, 0.04514, 0.8, 6.66};
inline constexpr double bindex_64meg[9] = {73933932.0, 29.92, 10900.0, 0.011, 0.21, 8.67, 0.022814, 0.38, 2.3};

// The reference row of a memory level (a level outside 0 to 6 is taken as the nearest one).
inline const double* ReferenceRow(int memory_load_value) {
    static constexpr const double* rows[7] = {bindex_1meg,  bindex_2meg,  bindex_4meg, bindex_8meg,
                                              bindex_16meg, bindex_32meg, bindex_64meg};
    return rows[std::clamp(memory_load_value, 0, 6)];
}

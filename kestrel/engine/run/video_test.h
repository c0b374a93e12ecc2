// The video part of a run: the video test program `lumen` is started, handed the TIMES record
// over the local socket "kespipe", and waited for; the record it hands back becomes the video
// report lines and the VideoMarks.
#pragma once

#include <string>

#include "shared/records.h"

// The video test program and its version token.
inline constexpr const char* kVideoProgram = "lumen";
inline constexpr const char* kVideoSocketName = "kespipe";
inline constexpr const char* kVideoToken = "0x3D7E19C4a90457";

struct VideoLink {
    // Where `lumen` is looked for (the program's own folder when empty).
    std::string program_directory;
    // The wait for the record once the socket has something to read.
    int read_ms = 10000;
};
extern VideoLink videolink;

// Running sum of the test scores of the current video part.
extern int videoglobal;

// Starts `lumen`, sends it the record's settings and reads the record back with its results,
// then waits for the program to end. 1 when the results are in results.times; 0 on any failure
// (after its box), with the result fields of the record cleared. Every wait ends when `lumen`
// ends.
int StartProcess();

// The video part: screen checks, the hand-over, the report lines and the total. 0 when it ran,
// -1 when refused or aborted (testrunning cleared).
int DoVIDEOTest(int long_flag);

// The lines of test i (0..9) and its score added to videoglobal (test 0 sets it).
void DoVideoInput(int i, int quads_reference, double reference, double work);

// The benchmark file reader: a saved report (its lines as the run wrote them) is searched for the
// labelled lines that carry values, and the result store is filled from them, so that a loaded
// file can be shown as if its run had just ended.
//
// The text is bytes; labels are compared byte for byte anywhere in it. Nothing is ever read
// outside the text, and no number taken from a file indexes an array unchecked: processor
// numbers and counts are taken only in 1..32, the stepwise value only in 0..32, and scale_value
// never exceeds 32.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Parses a loaded file's whole text into the result store (SetDefaults first). On success
// `data_from_file` is 1; on a refused file a box says why and the store keeps what was read.
void DoDataSearch(const char* data_buffer, size_t filesize);
// The same for a loaded file's text that the reader may give back: a refused file's text is
// emptied, its memory returned, before the box says why.
void DoDataSearch(std::string* text);
// Makes DoDataSearch the reader of every loaded report (OpenLineFile and the shell's loaders).
void InstallBenchmarkReader();

// The sub-readers. Each searches the tail it is given (the text after the last header marker, or
// after a scaling marker) from its start; a label missing leaves its destination as it was.

// Mode tests, 1 or 0. The version test is given the whole text.
int TestForVersion(std::string_view text);
int TestForOSScalingEfficiency(std::string_view tail);
int TestForScalingEfficiency(std::string_view tail);
int TestForUniProcessorEmulation(std::string_view tail);

// The header's memory level and the shape of the run.
void GetMemoryLoadValue(std::string_view tail);
void TestForScalingEfficiencyType(std::string_view tail);
void GetScalingEfficiencies(std::string_view tail);
void GetUniProcProcessors(std::string_view tail);

// Processor values of a plain run (row 1).
void DoStdDev(std::string_view tail);
void DoPeak(std::string_view tail);
void DoTrough(std::string_view tail);
void DoProc(std::string_view tail);
void DoGetScore(std::string_view tail);
// Of a uniprocessor-emulation run (the row of each processor tested).
void DoUniStdDev(std::string_view tail);
void DoUniPeak(std::string_view tail);
void DoUniTrough(std::string_view tail);
void DoUniProc(std::string_view tail);
void DoUniGetScore(std::string_view tail);
// Of a scaling pass: OS 0 the first or only pass, 1 the system pass of an OS scaling file.
void DoStdDev2(std::string_view tail, int OS);
void DoPeak2(std::string_view tail, int OS);
void DoTrough2(std::string_view tail, int OS);
void DoProc2(std::string_view tail, int OS);
void DoGetScore2(std::string_view tail, int OS);

// Memory, disk and video scores.
void DoMemorySearch(std::string_view tail);
void DoBlockSizeSearch(std::string_view tail);
void DoDiskSearch(std::string_view tail);
void DoVideoSearch(std::string_view tail);

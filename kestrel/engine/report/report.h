// The report: the ordered list of text lines of a run or of a loaded benchmark file, and beside it
// the bottom-text buffer of per-iteration lines shown one at a time in the status pane.
//
// Lines are appended only through output_string (or passtring) on the user-interface thread. A
// line written from another thread (a kernel worker) is queued and appended, in order, when the
// user-interface thread runs the deferred actions (the worker iteration does so after its join).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct ReportText {
    std::vector<std::string> szGreeting;  // the report lines, without line ends
    int num = 0;                          // number of lines in szGreeting
    int headernum = 0;   // the pane hides lines 0 to headernum; counted up by a run's header
    int y = 0;           // pixel row of the last line the pane painted
    int nYChar = 0;      // line height of the report pane in pixels
    int isnew = 0;       // the lines hold a run that was not saved
    std::vector<std::string> text_cpu_line;  // the bottom-text buffer (never saved)
    int num_text_lines = 0;
    int temp_text_lines = 0;  // the status pane's 1-based cursor into text_cpu_line
    std::string FileName;     // the file to load
    std::string CurrentFile = "Kestrel - System Level Benchmark";  // the name of the file shown
    int theFile = -1;         // the shown benchmark file (read-only descriptor), -1 when none
};

extern ReportText report;

// Appends a copy of the text as the next report line and brings it into view.
int output_string(const std::string& text);
// The short form the tests and their kernels use.
int passtring(const std::string& text);

// Appends a line to the bottom-text buffer (no repaint).
void output_bottomtext_buffer(const std::string& text);
// Appends text to bottom-text line index (an index outside the buffer is ignored).
void strcat_bottomtext_buffer(const std::string& text, int index);

// Empties the report lines (num, headernum and y become 0) and repaints.
void ClearReportLines();
// Empties the bottom-text buffer (the start of a run).
void ClearBottomText();

// The reader that parses a loaded file's whole text into the result store. The text is the
// caller's, to be discarded afterwards: the reader may empty it early to give its memory back.
// Its progress window, with this caption, is open and drawn from before the file is read; the
// reader uses it and closes it.
using ReportReader = void (*)(std::string* text);
inline constexpr const char* kProcessingDataCaption = "Processing Data ...";
void SetReportReader(ReportReader reader);

// Loads the benchmark file named in report.FileName into the report and hands its text to the
// reader. 0 on success; 1 on failure, after a message box.
int OpenLineFile();
// True while OpenLineFile reads its file and makes its lines (windows are repainted meanwhile; a
// dropped file is not taken then).
bool LoadingReportFile();
// Closes the open benchmark file, if any.
void CloseReportFile();

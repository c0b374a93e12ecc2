// The lines of a benchmark file: kestrel's report reader and the viewer split a file the same way.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Splits a benchmark file's bytes into report lines: a line ends at a line feed, a carriage
// return just before it is dropped, and a last line without a line feed is kept.
std::vector<std::string> SplitReportLines(const char* text, size_t length);

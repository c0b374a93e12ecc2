#include "shared/report_lines.h"

std::vector<std::string> SplitReportLines(const char* text, size_t length) {
    std::vector<std::string> lines;
    ForEachReportLine(text, length, [&lines](const char* line, size_t n) { lines.emplace_back(line, n); });
    return lines;
}

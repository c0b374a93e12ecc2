#include "shared/report_lines.h"

std::vector<std::string> SplitReportLines(const char* text, size_t length) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(std::move(line));
            line.clear();
        } else {
            line.push_back(c);
        }
    }
    if (!line.empty()) lines.push_back(std::move(line));
    return lines;
}

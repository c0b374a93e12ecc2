// The lines of a benchmark file: kestrel's report reader and the viewer split a file the same way.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

// Splits a benchmark file's bytes into report lines: a line ends at a line feed, a carriage
// return just before it is dropped, and a last line without a line feed is kept.
std::vector<std::string> SplitReportLines(const char* text, size_t length);

// The same lines one by one, without copying them: visit(begin, length) for each in order.
template <typename Visit>
void ForEachReportLine(const char* text, size_t length, Visit&& visit) {
    const char* at = text;
    const char* const end = text + length;
    while (at < end) {
        const char* feed = static_cast<const char*>(std::memchr(at, '\n', size_t(end - at)));
        if (feed == nullptr) {
            visit(at, size_t(end - at));
            return;
        }
        size_t n = size_t(feed - at);
        if (n > 0 && at[n - 1] == '\r') --n;
        visit(at, n);
        at = feed + 1;
    }
}

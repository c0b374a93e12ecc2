#include "shared/print_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

float PrintScale(int horzres) { return float(std::max(1.0, double(horzres) / 800.0)); }

int LinesPerPage(int vertres, int line_height, float scale) {
    const double slot = std::max(1.0, double(line_height) * double(scale));
    const double lines = std::trunc(double(std::max(0, vertres)) / slot);
    return int(std::max<double>(kMinLinesPerPage, std::min<double>(lines, 1 << 30)));
}

int CharsPerLine(int horzres, double char_unit) {
    const double chars = std::trunc(double(std::max(0, horzres)) / std::max(1.0, char_unit));
    return int(std::clamp<double>(chars, 1, 1 << 30));
}

int SlotY(int slot, int line_height, float scale) {
    return int(std::trunc(double(slot - 1) * double(line_height) * double(scale)));
}

std::string HeaderDate(std::time_t now) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm t{};
    localtime_r(&now, &t);
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %d", kDays[t.tm_wday % 7], kMonths[t.tm_mon % 12],
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_year + 1900);
    return text;
}

std::string HeaderStem(const std::string& name, std::time_t now) {
    // "%s; %s" with the date and its line end, the line end then blanked.
    std::string stem = name + "; " + HeaderDate(now) + "\n";
    stem.back() = ' ';
    return stem;
}

std::string PageHeaderText(const std::string& stem, int page) {
    return stem + (stem.size() >= 60 ? "\t" : "\t\t") + "Page " + std::to_string(page);
}

std::string BlankTabs(std::string_view line) {
    std::string copy(line);
    std::replace(copy.begin(), copy.end(), '\t', ' ');
    return copy;
}

PrintPieces SplitForPrint(std::string_view line, int maxchars) {
    PrintPieces p;
    if (int64_t(line.size()) <= int64_t(maxchars) - 2) {
        p.first = std::string(line);
        return p;
    }
    p.wrapped = true;
    const size_t room = std::min(line.size(), size_t(std::max(1, maxchars)));
    size_t cut = room;
    for (size_t i = size_t(std::max(0, maxchars - 6)); i < room; ++i) {
        if (line[i] == ' ') {
            cut = i + 1;
            break;
        }
    }
    p.first = std::string(line.substr(0, cut));
    p.rest = std::string(line.substr(cut));
    return p;
}

std::vector<std::string> CutForPrint(std::string_view line, int maxchars) {
    std::vector<std::string> pieces;
    std::string text(line);
    for (;;) {
        PrintPieces p = SplitForPrint(text, maxchars);
        pieces.push_back(std::move(p.first));
        if (!p.wrapped || p.rest.empty()) break;
        text = std::move(p.rest);
    }
    return pieces;
}

LinePlacement PlaceLine(PageCounters& c, bool wrapped, int lines_per_page) {
    LinePlacement at;
    if (c.LineNumber < 2) {
        at.starts_page = true;
        at.header_slot = c.LineNumber;
        c.LineNumber += 2;
    }
    at.page = c.PageNumber;
    at.first_slot = c.LineNumber;
    if (wrapped) at.rest_slot = ++c.LineNumber;
    ++c.LineNumber;
    // A wrapped line in the last slot has its rest one slot further: the page ends there too.
    if (c.LineNumber >= lines_per_page) {
        at.ends_page = true;
        c.LineNumber = 0;
        ++c.PageNumber;
    }
    return at;
}

std::vector<LinePlacement> PaginateLines(const std::vector<std::string>& lines, int maxchars, int lines_per_page) {
    PageCounters c{0, 1};
    std::vector<LinePlacement> out;
    out.reserve(lines.size());
    for (const std::string& line : lines) {
        out.push_back(PlaceLine(c, SplitForPrint(BlankTabs(line), maxchars).wrapped, lines_per_page));
    }
    return out;
}

// The layout of printed text lines: the printer's drawing scale, the line slots of a page, the
// page header, and the rules that cut a long line (kestrel once, the viewer into as many pieces as it takes).
// kestrel's report printing, its graph printing and the viewer's printing all follow it.
//
// A page is a column of line slots of one report line's height (scaled to the printer). The page
// header takes slots 0 and 1; a text line in slot s is drawn at y = (s - 1) x line height, so the
// slots of a page end within its printable height.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

// Fewest line slots a page has: the header's two and one for a line.
inline constexpr int kMinLinesPerPage = 3;

// The drawing scale on a printer `horzres` device pixels wide: horzres / 800, at least 1.0.
float PrintScale(int horzres);
// Line slots per page: vertres / (line_height x scale), truncated; at least kMinLinesPerPage
// (a line height of 0 counts as one pixel).
int LinesPerPage(int vertres, int line_height, float scale);
// Characters a printed line has room for: horzres / char_unit, truncated (char_unit the average
// character width in device pixels); at least 1.
int CharsPerLine(int horzres, double char_unit);
// The y of line slot `slot`: (slot - 1) x line_height x scale, truncated toward zero.
int SlotY(int slot, int line_height, float scale);

// The local date and time of `now` in the 24-character form "Wed Jan 02 02:03:55 1980" (English
// names, whatever the locale).
std::string HeaderDate(std::time_t now);
// The start of a page header: "<name>; <date> " (the date's line end blanked).
std::string HeaderStem(const std::string& name, std::time_t now);
// The page header: the stem, then one tab when the stem has 60 characters or more, else two,
// then "Page <page>".
std::string PageHeaderText(const std::string& stem, int page);

// The line as printed: every tab a blank. The report line itself is never changed.
std::string BlankTabs(std::string_view line);

// A line cut for a printed line of `maxchars` characters.
struct PrintPieces {
    bool wrapped = false;  // the line takes two slots
    std::string first;     // the whole line when not wrapped
    std::string rest;      // the rest, however long, when wrapped
};
// A line of at most maxchars - 2 characters stays whole. A longer one is cut once: the first part
// ends right after the first blank at index maxchars - 6 or later within its first maxchars
// characters, else after maxchars characters; the rest follows in the next slot.
PrintPieces SplitForPrint(std::string_view line, int maxchars);
// The viewer's rule: the line cut by that same rule again and again, the rest each time, until
// the rest stays whole (or nothing is left), so that no piece is longer than maxchars. Each piece
// is one printed line.
std::vector<std::string> CutForPrint(std::string_view line, int maxchars);

// The page counters of a print job (0 between jobs).
struct PageCounters {
    int32_t LineNumber = 0;  // the current line slot on the page (0 at the top)
    int32_t PageNumber = 0;  // the current page, from 1
};

// Where one line goes. The counters step as the line is printed.
struct LinePlacement {
    bool starts_page = false;  // a page begins with this line: its header goes in header_slot
    int32_t page = 0;          // the page the line is on
    int32_t header_slot = -1;
    int32_t first_slot = 0;    // the slot of the line (its first part when wrapped)
    int32_t rest_slot = -1;    // the slot of a wrapped line's rest
    bool ends_page = false;    // the page ends after this line
};
// Places the next line: a page starts when the slot is below 2 (header: +2 slots); the line takes
// one slot, a wrapped one two; the page ends once the slots reach lines_per_page.
LinePlacement PlaceLine(PageCounters& c, bool wrapped, int lines_per_page);

// The placements of a whole document of `lines`, from fresh counters (page 1, slot 0).
std::vector<LinePlacement> PaginateLines(const std::vector<std::string>& lines, int maxchars, int lines_per_page);

// The layout of printed lines: scale, slots, header text, the wrap rule and the pagination.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "shared/print_layout.h"

namespace {

TEST(PrintLayout, ScaleIsTheWidthOver800AtLeastOne) {
    const struct {
        int horzres;
        float scale;
    } rows[] = {{4800, 6.0f}, {2400, 3.0f}, {5100, 6.375f}, {800, 1.0f}, {799, 1.0f}, {600, 1.0f}, {0, 1.0f}};
    for (const auto& r : rows) EXPECT_EQ(PrintScale(r.horzres), r.scale) << r.horzres;
}

TEST(PrintLayout, LinesPerPageCharsPerLineAndSlotY) {
    // 6600 / (16 x 6) = 68.75; a page never has fewer than three slots, a zero height no division.
    const struct {
        int vertres, line_height;
        float scale;
        int lines;
    } pages[] = {{6600, 16, 6.0f, 68}, {6600, 17, 6.0f, 64}, {100, 40, 1.0f, 3}, {100, 0, 1.0f, 100}, {0, 16, 1.0f, 3}};
    for (const auto& p : pages) EXPECT_EQ(LinesPerPage(p.vertres, p.line_height, p.scale), p.lines) << p.vertres;
    EXPECT_EQ(CharsPerLine(4800, 8 * 6.0), 100);
    EXPECT_EQ(CharsPerLine(4800, 7 * 6.375), 107);
    EXPECT_EQ(CharsPerLine(600, 0.0), 600);
    EXPECT_EQ(CharsPerLine(10, 48.0), 1);
    // Slot s is drawn at (s - 1) line heights, truncated.
    EXPECT_EQ(SlotY(2, 16, 6.0f), 96);
    EXPECT_EQ(SlotY(3, 17, 1.5f), 51);
    EXPECT_EQ(SlotY(2, 7, 1.1f), 7);
    EXPECT_EQ(SlotY(1, 16, 6.0f), 0);
}

TEST(PrintLayout, HeaderDateStemAndTabs) {
    setenv("TZ", "UTC", 1);
    tzset();
    std::tm t{};
    t.tm_year = 80, t.tm_mon = 0, t.tm_mday = 2, t.tm_hour = 2, t.tm_min = 3, t.tm_sec = 55;
    const std::time_t when = timegm(&t);
    EXPECT_EQ(HeaderDate(when), "Wed Jan 02 02:03:55 1980");
    EXPECT_EQ(HeaderStem("/tmp/a.bmf", when), "/tmp/a.bmf; Wed Jan 02 02:03:55 1980 ");
    // The stem is the name, "; ", 24 characters of date and a blank: 27 beside the name.
    const std::string stem59 = HeaderStem(std::string(32, 'n'), when);
    const std::string stem60 = HeaderStem(std::string(33, 'n'), when);
    ASSERT_EQ(stem59.size(), 59u);
    EXPECT_EQ(PageHeaderText(stem59, 3), stem59 + "\t\tPage 3");
    EXPECT_EQ(PageHeaderText(stem60, 12), stem60 + "\tPage 12");
    unsetenv("TZ");
    tzset();
}

TEST(PrintLayout, SplitForPrint) {
    // maxchars 20: up to 18 characters stay whole; a blank at index 14 or later (within the
    // first 20) ends the first part; none there cuts after 20.
    const struct {
        std::string line, first, rest;
        bool wrapped;
    } rows[] = {
        {std::string(18, 'a'), std::string(18, 'a'), "", false},
        {std::string(19, 'a'), std::string(19, 'a'), "", true},
        {"aaaaaaaaaaaaaa bbbbbbbbbb", "aaaaaaaaaaaaaa ", "bbbbbbbbbb", true},
        {"aaaaaaaaaaaaa bbbbbbbbbbbbb", "aaaaaaaaaaaaa bbbbbb", "bbbbbbb", true},
        {"aaaaaaaaaaaaaaaaaa b ccc", "aaaaaaaaaaaaaaaaaa ", "b ccc", true},
        {std::string(45, 'x'), std::string(20, 'x'), std::string(25, 'x'), true},
    };
    for (const auto& r : rows) {
        const PrintPieces p = SplitForPrint(r.line, 20);
        EXPECT_EQ(p.wrapped, r.wrapped) << r.line;
        EXPECT_EQ(p.first, r.first) << r.line;
        EXPECT_EQ(p.rest, r.rest) << r.line;
    }
    EXPECT_EQ(BlankTabs("a\tb\t\tc"), "a b  c");

    // The viewer's rule cuts every rest by the same rule until it stays whole: no piece is longer
    // than the room.
    using Pieces = std::vector<std::string>;
    EXPECT_EQ(CutForPrint(std::string(18, 'a'), 20), Pieces{std::string(18, 'a')});
    EXPECT_EQ(CutForPrint(std::string(45, 'x'), 20), (Pieces{std::string(20, 'x'), std::string(20, 'x'), std::string(5, 'x')}));
    EXPECT_EQ(CutForPrint("aaaaaaaaaaaaaa bbbbbbbbbbbbbbbbb cccccccccccccccccccccc d", 20),
              (Pieces{"aaaaaaaaaaaaaa ", "bbbbbbbbbbbbbbbbb ", "cccccccccccccccccccc", "cc d"}));
    EXPECT_EQ(CutForPrint("", 1), Pieces{""});
    EXPECT_EQ(CutForPrint("abc", 1), (Pieces{"a", "b", "c"}));
    EXPECT_EQ(CutForPrint(std::string(20, 'y'), 20), Pieces{std::string(20, 'y')});
}

// page, header slot (-1 none), first slot, rest slot (-1 none), page ends after the line.
struct Place {
    int page, header, first, rest;
    bool ends;
    bool operator==(const Place&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Place& p) {
    return os << "{" << p.page << "," << p.header << "," << p.first << "," << p.rest << "," << p.ends << "}";
}

std::vector<Place> Plan(const std::vector<std::string>& lines, int maxchars, int lines_per_page) {
    std::vector<Place> out;
    for (const LinePlacement& at : PaginateLines(lines, maxchars, lines_per_page)) {
        out.push_back({at.page, at.header_slot, at.first_slot, at.rest_slot, at.ends_page});
    }
    return out;
}

TEST(PrintLayout, PagesHoldLinesPerPageMinusTwoLines) {
    const std::vector<std::string> lines(7, "short");
    EXPECT_EQ(Plan(lines, 20, 5), (std::vector<Place>{{1, 0, 2, -1, false},
                                                      {1, -1, 3, -1, false},
                                                      {1, -1, 4, -1, true},
                                                      {2, 0, 2, -1, false},
                                                      {2, -1, 3, -1, false},
                                                      {2, -1, 4, -1, true},
                                                      {3, 0, 2, -1, false}}));
}

TEST(PrintLayout, AWrappedLineInTheLastSlotEndsThePage) {
    // Lines per page 5: slots 2, 3 and 4 take lines. The wrapped third line has its rest in slot
    // 5, after which the page ends; the next line heads page 2 instead of going on down page 1.
    const std::string wrapped(30, 'w');
    EXPECT_EQ(Plan({"a", "b", wrapped, "c", wrapped, "d"}, 20, 5),
              (std::vector<Place>{{1, 0, 2, -1, false},
                                  {1, -1, 3, -1, false},
                                  {1, -1, 4, 5, true},
                                  {2, 0, 2, -1, false},
                                  {2, -1, 3, 4, true},
                                  {3, 0, 2, -1, false}}));
    // The smallest page: a wrapped line after the header still ends it.
    EXPECT_EQ(Plan({wrapped, "a", "b"}, 20, kMinLinesPerPage),
              (std::vector<Place>{{1, 0, 2, 3, true}, {2, 0, 2, -1, true}, {3, 0, 2, -1, true}}));
}

}  // namespace

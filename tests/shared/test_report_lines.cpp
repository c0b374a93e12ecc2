// Splitting a benchmark file's bytes into its lines (kestrel's reader and the viewer share it).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shared/report_lines.h"

namespace {

using Lines = std::vector<std::string>;

Lines Split(const std::string& s) { return SplitReportLines(s.data(), s.size()); }

TEST(SplitReportLines, CarriageReturnBeforeLineFeedIsDropped) {
    EXPECT_EQ(Split("Score: 12\r\nnext\r\n"), (Lines{"Score: 12", "next"}));
}

TEST(SplitReportLines, LineFeedOnlyKeepsEveryCharacter) {
    EXPECT_EQ(Split("Score: 12\nnext\n"), (Lines{"Score: 12", "next"}));
}

TEST(SplitReportLines, EmptyLinesAndAFinalLineWithoutLineFeed) {
    EXPECT_EQ(Split("\n\r\nx\n\nlast"), (Lines{"", "", "x", "", "last"}));
    EXPECT_EQ(Split(""), Lines{});
    EXPECT_EQ(Split("\n"), Lines{""});
}

TEST(SplitReportLines, OnlyACarriageReturnRightBeforeTheLineFeedIsTouched) {
    EXPECT_EQ(Split("a\rb\r\n"), (Lines{"a\rb"}));
    EXPECT_EQ(Split("end\r"), (Lines{"end\r"}));  // no line feed after it
    EXPECT_EQ(Split("tab\tend\n"), (Lines{"tab\tend"}));
}

}  // namespace

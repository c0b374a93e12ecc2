// The font scrolling and bitmap tests' rules as plain values: the lines written, the cells and
// fonts of the passes, the text window's scroll ranges and every bitmap's transfers.
#include <gtest/gtest.h>

#include "lumen/font_bitmap_rules.h"

namespace lumen {
namespace {

TEST(LumenFontScroll, TextTableHasSeventyNineLines) {
    const auto& t = textbuf();
    const std::string phrase = "KESTREL SYSTEM LEVEL BENCHMARK";
    EXPECT_EQ(t[0], phrase + " ............ " + phrase + " ................... " + phrase);
    EXPECT_EQ(t[0].size(), 125u);
    EXPECT_EQ(t[78], t[0]);
    EXPECT_TRUE(t[79].empty());
}

TEST(LumenFontScroll, LinesFollowTheMainWindowsCell) {
    struct Case {
        Rect client;
        int cell, vpos;
        LineRange want;
    };
    const Case cases[] = {
        {{0, 0, 800, 600}, kMainWindowCell, 0, {0, 37}},    // laptop: 38 lines
        {{0, 0, 1024, 768}, kMainWindowCell, 0, {0, 48}},   // 49 lines
        {{0, 0, 1016, 741}, kMainWindowCell, 0, {0, 46}},   // the reference machines' client
        {{0, 0, 800, 600}, kMainWindowCell, 5, {4, 42}},    // a scrolled main window
        {{0, 40, 800, 600}, kMainWindowCell, 0, {1, 37}},   // top / cell - 1
        {{0, 0, 800, 1400}, kMainWindowCell, 0, {0, 78}},   // 87 lines fit: the 79 stored are drawn
        {{0, 0, 800, 600}, kMainWindowCell, 60, {59, 78}},  // never beyond entry 78
        {{0, 0, 800, 600}, 0, 0, {0, -1}},                  // no cell: nothing
    };
    for (const Case& c : cases) {
        const LineRange r = FontTestLines(c.client, c.cell, c.vpos);
        EXPECT_EQ(r, c.want) << c.client.bottom << " " << c.vpos;
        EXPECT_LE(r.Count(), 79);
    }
    EXPECT_EQ(FontTestLines({0, 0, 800, 600}, kMainWindowCell, 0).Count(), 38);
    EXPECT_EQ(FontTestLines({0, 0, 800, 1400}, kMainWindowCell, 0).Count(), 79);
}

TEST(LumenFontScroll, CellsGrowAndFontsFollowThem) {
    const TextCell want[kWeightPasses] = {
        {9, 18, 13, 594}, {19, 28, 28, 1264}, {29, 38, 43, 1934}, {39, 48, 58, 2604}, {49, 58, 73, 3274}};
    TextCell c = StartCell();
    for (int pass = 0; pass < kWeightPasses; ++pass) {
        EXPECT_EQ(c, want[pass]) << pass;
        const LogFont lf = LineFont(c, 10 * pass, kFaceGroups[pass % 4].face);
        EXPECT_EQ(lf.Height, c.nYChar);  // the whole cell
        EXPECT_EQ(lf.Width, c.nXChar);
        EXPECT_EQ(lf.Weight, 100 * pass);  // 0, 100, 200, 300, 400
        EXPECT_EQ(lf.Italic, 1);
        EXPECT_EQ(lf.Underline, 1);
        EXPECT_EQ(lf.StrikeOut, 0);
        EXPECT_EQ(lf.PitchAndFamily, 0x30);
        EXPECT_EQ(lf.FaceName, kFaceGroups[pass % 4].face);
        c = GrownCell(c);
    }
    EXPECT_STREQ(kFaceGroups[0].face, "Helv");
    EXPECT_STREQ(kFaceGroups[1].face, "Tms Rmn");
    EXPECT_STREQ(kFaceGroups[2].face, "Courier New");
    EXPECT_STREQ(kFaceGroups[3].title, "Arial");
}

TEST(LumenFontScroll, TextWindowScrollRanges) {
    // nVMax = h + 2 - h / (2 nYChar); nHMax = (nMaxWidth - w / 2) / (w / 2) + 64.
    EXPECT_EQ(TextWindowRanges(798, 580, 18, 594), (ScrollRanges{566, 64}));
    EXPECT_EQ(TextWindowRanges(798, 580, 58, 3274), (ScrollRanges{577, 71}));
    EXPECT_EQ(TextWindowRanges(1, 0, 18, 594), (ScrollRanges{2, 658}));  // w / 2 = 0: divided by 1
    EXPECT_EQ(TextWindowRanges(4000, 0, 18, 10), (ScrollRanges{2, 64}));   // (10 - 2000) / 2000 truncates to 0
}

Transfer T(Pt p0, Pt p1, Pt p2, int w, int h) { return Transfer{{p0, p1, p2}, w, h}; }

TEST(LumenBitmaps, GrowingBitmapTransfers) {
    struct Case {
        const char* name;
        int W, H;
        int steps;
        Transfer first_step[3];
        Transfer second_step_first;
        Transfer last_step_third;
    };
    const Case cases[] = {
        // KESTREL 33 x 35 from (40, 30): xa = 40 + 16; y1 = 30 + 35 + 70.
        {"KESTREL", 33, 35, 40,
         {T({64, 135}, {97, 127}, {89, 162}, 33, 35), T({141, 35}, {174, 27}, {166, 62}, 33, 35),
          T({106, 40}, {139, 45}, {106, 75}, 33, 35)},
         // k = 10: xa = 106 + 21, ya = 40; y1 = 40 + 45 + 70.
         T({137, 155}, {180, 144}, {170, 189}, 43, 45),
         // k = 390: 423 x 425.
         T({886, 40}, {1309, 110}, {886, 465}, 423, 425)},
        // ARCHES 123 x 160 from (20, 10), 25 steps.
        {"ARCHES", 123, 160, 25,
         {T({111, 240}, {234, 200}, {204, 360}, 123, 160), T({253, 160}, {376, 120}, {346, 280}, 123, 160),
          T({286, 40}, {409, 66}, {286, 200}, 123, 160)},
         T({385, 280}, {518, 238}, {485, 408}, 133, 170),
         // k = 240: 363 x 400.
         T({766, 40}, {1129, 106}, {766, 440}, 363, 400)},
        // RIVETS 32 x 32 from (20, 10), 40 steps.
        {"RIVETS", 32, 32, 40,
         {T({44, 112}, {76, 104}, {68, 136}, 32, 32), T({140, 32}, {172, 24}, {164, 56}, 32, 32),
          T({104, 40}, {136, 45}, {104, 72}, 32, 32)},
         T({135, 152}, {177, 142}, {167, 184}, 42, 42),
         T({884, 40}, {1306, 110}, {884, 462}, 422, 422)},
    };
    for (const Case& c : cases) {
        const std::vector<Transfer> all = BitmapTransfers(c.name, c.W, c.H, 800, 600);
        // The tiling: rows and columns from 0 while less than the client's bottom and right.
        const int cols = (800 + c.W - 1) / c.W, rows = (600 + c.H - 1) / c.H;
        const size_t tiles = size_t(cols * rows);
        ASSERT_EQ(all.size(), tiles + size_t(3 * c.steps)) << c.name;
        EXPECT_EQ(all[0], PlainCopy(0, 0, c.W, c.H));
        EXPECT_EQ(all[1], PlainCopy(c.W, 0, c.W, c.H));
        EXPECT_EQ(all[size_t(cols)], PlainCopy(0, c.H, c.W, c.H));
        EXPECT_EQ(all[tiles - 1], PlainCopy((cols - 1) * c.W, (rows - 1) * c.H, c.W, c.H));
        for (int k = 0; k < 3; ++k) EXPECT_EQ(all[tiles + size_t(k)], c.first_step[k]) << c.name << " " << k;
        EXPECT_EQ(all[tiles + 3], c.second_step_first) << c.name;
        EXPECT_EQ(all.back(), c.last_step_third) << c.name;
    }
    // A picture that did not load is not tiled; its growth steps stay.
    EXPECT_EQ(BitmapTransfers("RIVETS", 0, 32, 800, 600).size(), 120u);
    EXPECT_TRUE(BitmapTransfers("KES", 33, 35, 800, 600).empty());
}

TEST(LumenBitmaps, OneSizeBitmapTransfers) {
    // GALLERY 354 x 446: a copy at (30, 20); xa = 177 + 20; then from (2w + 10, 40).
    EXPECT_EQ(BitmapTransfers("GALLERY", 354, 446, 800, 600),
              (std::vector<Transfer>{PlainCopy(30, 20, 354, 446), T({285, 516}, {639, 405}, {551, 851}, 354, 446),
                                     T({718, 40}, {1072, 114}, {718, 486}, 354, 446)}));
    // WINNT 425 x 337: a copy at (0, 0); xa = 212; then from (w, 40).
    EXPECT_EQ(BitmapTransfers("WINNT", 425, 337, 800, 600),
              (std::vector<Transfer>{PlainCopy(0, 0, 425, 337), T({318, 407}, {743, 323}, {637, 660}, 425, 337),
                                     T({425, 40}, {850, 96}, {425, 377}, 425, 337)}));
}

}  // namespace
}  // namespace lumen

// What the font scrolling and bitmap tests draw, as plain values: the text lines, the lines the
// font test writes, the cells and weights of its passes and the font record of each line, the text
// window's scroll ranges, and the parallelogram transfers of each bitmap.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "lumen/draw_rules.h"
#include "shared/logfont.h"

namespace lumen {

// ---- font scrolling ------------------------------------------------------------------------

// The text table: entries 0..78 the same 125-character line, entry 79 empty.
inline constexpr int kTextLines = 80;
inline constexpr int kLastTextLine = 78;
const std::array<std::string, kTextLines>& textbuf();

// The main window's line height the font test counts its lines with: the 16-pixel cell of the
// system font the reference machines had, whatever the desktop's font is here.
inline constexpr int kMainWindowCell = 16;

// The lines the font test writes from the main window's client rectangle, line height and scroll
// position: first = max(0, top / cell + vpos - 1), last = min(80, bottom / cell + vpos) and never
// beyond entry 78; both drawn (Count() lines).
struct LineRange {
    int first = 0;
    int last = -1;
    int Count() const { return last >= first ? last - first + 1 : 0; }
    friend bool operator==(const LineRange&, const LineRange&) = default;
};
LineRange FontTestLines(const Rect& client, int cell, int vpos);

// The text cell of a weight pass: the start metrics (9 x 18) grow by 10 x 10 after each pass;
// nCaps = 3 x nXChar / 2, nMaxWidth = 40 x nXChar + 18 x nCaps.
struct TextCell {
    int nXChar = 9, nYChar = 18, nCaps = 13, nMaxWidth = 594;
    friend bool operator==(const TextCell&, const TextCell&) = default;
};
inline constexpr int kWeightPasses = 5;
TextCell StartCell();
TextCell GrownCell(const TextCell& c);

// The four face groups of a pass, in order: window title and face name.
struct FaceGroup {
    const char* title;
    const char* face;
};
inline constexpr FaceGroup kFaceGroups[4] = {
    {"Helvetica", "Helv"}, {"Times Roman", "Tms Rmn"}, {"Courier", "Courier New"}, {"Arial", "Arial"}};

// The font of one line in pass w (weight step 0, 10, ... 40): the cell's height and width, weight
// 10 x w, italic, underlined, the modern family with default pitch, the group's face.
LogFont LineFont(const TextCell& cell, int weight_step, const char* face);

// The text window's scroll ranges for a client of w x h: nVMax = max(0, h + 2 - h / (2 nYChar)),
// nHMax = max(0, (nMaxWidth - w / 2) / max(1, w / 2) + 64) (divisions truncate toward zero).
struct ScrollRanges {
    int nVMax = 0, nHMax = 0;
    friend bool operator==(const ScrollRanges&, const ScrollRanges&) = default;
};
ScrollRanges TextWindowRanges(int w, int h, int line_height, int max_width);

// ---- bitmaps -------------------------------------------------------------------------------

// One parallelogram transfer of the source rectangle (0, 0, w, h): P0 upper left, P1 upper right,
// P2 lower left.
struct Transfer {
    std::array<Pt, 3> p{};
    int w = 0, h = 0;
    friend bool operator==(const Transfer&, const Transfer&) = default;
};
// A plain copy at (x, y).
Transfer PlainCopy(int x, int y, int w, int h);

// The five bitmaps in the order they are drawn.
inline constexpr const char* kBitmapNames[5] = {"KESTREL", "GALLERY", "ARCHES", "RIVETS", "WINNT"};

// Every transfer of the bitmap `name` of W x H into a client area of `right` x `bottom`, in order:
// for "KESTREL", "ARCHES" and "RIVETS" the tiling of the client area with plain copies (none when
// W or H is below 1), then three sheared transfers per growth step; for "GALLERY" and "WINNT" a
// plain copy and two sheared transfers at their own size. Empty for another name.
std::vector<Transfer> BitmapTransfers(const std::string& name, int W, int H, int right, int bottom);

}  // namespace lumen

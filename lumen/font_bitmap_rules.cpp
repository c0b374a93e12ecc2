#include "lumen/font_bitmap_rules.h"

#include <algorithm>
#include <cstring>

namespace lumen {

const std::array<std::string, kTextLines>& textbuf() {
    static const std::array<std::string, kTextLines> lines = [] {
        const std::string phrase = "KESTREL SYSTEM LEVEL BENCHMARK";
        const std::string line = phrase + " ............ " + phrase + " ................... " + phrase;
        std::array<std::string, kTextLines> t;
        for (int k = 0; k <= kLastTextLine; ++k) t[size_t(k)] = line;
        return t;
    }();
    return lines;
}

LineRange FontTestLines(const Rect& client, int cell, int vpos) {
    LineRange r;
    if (cell <= 0) return r;
    r.first = std::max(0, client.top / cell + vpos - 1);
    r.last = std::min({kTextLines, client.bottom / cell + vpos, kLastTextLine});
    return r;
}

namespace {

TextCell CellOf(int x, int y) {
    TextCell c;
    c.nXChar = x;
    c.nYChar = y;
    c.nCaps = x * 3 / 2;
    c.nMaxWidth = 40 * x + 18 * c.nCaps;
    return c;
}

}  // namespace

TextCell StartCell() { return CellOf(9, 18); }

TextCell GrownCell(const TextCell& c) { return CellOf(c.nXChar + 10, c.nYChar + 10); }

LogFont LineFont(const TextCell& cell, int weight_step, const char* face) {
    LogFont lf;
    lf.Height = cell.nYChar;
    lf.Width = cell.nXChar;
    lf.Weight = 10 * weight_step;
    lf.Italic = 1;
    lf.Underline = 1;
    lf.StrikeOut = 0;
    lf.CharSet = 0;
    lf.PitchAndFamily = 0x30;  // the modern family, default pitch
    lf.FaceName = face;
    return lf;
}

ScrollRanges TextWindowRanges(int w, int h, int line_height, int max_width) {
    ScrollRanges r;
    r.nVMax = std::max(0, h + 2 - (line_height > 0 ? h / (2 * line_height) : 0));
    r.nHMax = std::max(0, (max_width - w / 2) / std::max(1, w / 2) + 64);
    return r;
}

Transfer PlainCopy(int x, int y, int w, int h) {
    Transfer t;
    t.p = {Pt{x, y}, Pt{x + w, y}, Pt{x, y + h}};
    t.w = w;
    t.h = h;
    return t;
}

namespace {

Transfer Sheared(Pt p0, Pt p1, Pt p2, int w, int h) {
    Transfer t;
    t.p = {p0, p1, p2};
    t.w = w;
    t.h = h;
    return t;
}

// The first sheared transfer: upper left at (w / 4 + xa, y1), the top edge rising by h / 4.
Transfer FirstShear(int xa, int y1, int w, int h) {
    const Pt p0{w / 4 + xa, y1};
    const Pt p1{p0.x + w, y1 - h / 4};
    const Pt p2{xa + w, p1.y + h};
    return Sheared(p0, p1, p2, w, h);
}

struct Growth {
    int xa, ya, limit;
};

bool GrowthOf(const std::string& name, Growth* g) {
    if (name == "KESTREL") *g = {40, 30, 400};
    else if (name == "ARCHES") *g = {20, 10, 250};
    else if (name == "RIVETS") *g = {20, 10, 400};
    else return false;
    return true;
}

}  // namespace

std::vector<Transfer> BitmapTransfers(const std::string& name, int W, int H, int right, int bottom) {
    std::vector<Transfer> out;
    Growth g{};
    if (GrowthOf(name, &g)) {
        if (W >= 1 && H >= 1) {
            for (int y = 0; y < bottom; y += H) {
                for (int x = 0; x < right; x += W) out.push_back(PlainCopy(x, y, W, H));
            }
        }
        int xa = g.xa;
        int ya = g.ya;
        for (int k = 0; k < g.limit; k += 10) {
            const int w = W + k;
            const int h = H + k;
            xa += w / 2;
            out.push_back(FirstShear(xa, ya + h + 70, w, h));
            xa = w + 100;
            const Pt p0{w / 4 + xa, h};
            const Pt p1{p0.x + w, h - h / 4};
            out.push_back(Sheared(p0, p1, Pt{xa + w, p1.y + h}, w, h));
            xa = 2 * w + 40;
            ya = 40;
            out.push_back(Sheared(Pt{2 * w + 40, 40}, Pt{3 * w + 40, h / 6 + 40}, Pt{2 * w + 40, h + 40}, w, h));
        }
    } else if (name == "GALLERY") {
        const int w = W, h = H;
        out.push_back(PlainCopy(30, 20, w, h));
        out.push_back(FirstShear(w / 2 + 20, h + 70, w, h));
        out.push_back(Sheared(Pt{2 * w + 10, 40}, Pt{3 * w + 10, h / 6 + 40}, Pt{2 * w + 10, h + 40}, w, h));
    } else if (name == "WINNT") {
        const int w = W, h = H;
        out.push_back(PlainCopy(0, 0, w, h));
        out.push_back(FirstShear(w / 2, h + 70, w, h));
        out.push_back(Sheared(Pt{w, 40}, Pt{2 * w, h / 6 + 40}, Pt{w, h + 40}, w, h));
    }
    return out;
}

}  // namespace lumen

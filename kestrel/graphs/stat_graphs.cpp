#include "kestrel/graphs/stat_graphs.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <vector>

#include "kestrel/engine/processor/processor_tables.h"
#include "kestrel/engine/report/report_tables.h"
#include "kestrel/graphs/graph_common.h"

namespace graphs {

ScoreLadder ScoreLadderFor(int32_t h) {
    ScoreLadder l;
    if (h < 100) {
        l.half = true;
    } else if (h <= 3400) {
        l.step = std::max(1, (h + 199) / 200);
    } else if (h <= 3800) {
        l.step = 18;  // the one step of 400
    } else if (h <= 5400) {
        l.step = 19 + (h - 3801) / 200;
    } else {
        constexpr int kHalfPage = 300;  // origin to the end of its half of the 800-unit page
        l.labelled = true;
        l.step = h / 26 <= kHalfPage ? 26 : int((int64_t(h) + 199) / 200);
    }
    return l;
}

int DeviationDivisor(double largest) { return largest > 5.0 ? 2 : largest > 2.5 ? 4 : 8; }

}  // namespace graphs

namespace {

using namespace graphs;

using Table = double[kRows][kTests];

// A bar set: its row and tables, colours and pen, and where its bars and labels stand (y offsets
// added to the test's row position 200t/9).
struct BarSet {
    int row = 1;
    bool os = false;  // the operating-system pass's tables
    QRgb screen_colour = kMagenta;
    QRgb printer_colour = kBlack;
    bool printer_dashdot = false;
    int bar_y = 40, deviation_y = 310;
    int score_label_y = 33, percent_label_y = 303, std_label_y = 303;
    int deviation_label_dx = 3;
    int label_rank = 0;  // its labels are placed after those of lower ranks
    bool names = false;  // the test names are drawn with this set's bars

    const Table& Peak() const { return os ? results.second_high_score_os : results.second_high_score; }
    const Table& Trough() const { return os ? results.second_low_score_os : results.second_low_score; }
    const Table& Percent() const { return os ? results.percent_deviation_os : results.percent_deviation; }
    const Table& Std() const { return os ? results.std_dev_os : results.std_dev; }
};

BarSet Single(int row) {
    BarSet s;
    s.row = row;
    s.names = true;
    return s;
}

BarSet System(int row) {
    BarSet s;
    s.row = row;
    s.screen_colour = kBlue;
    s.printer_colour = kGrey;
    s.bar_y = 37, s.deviation_y = 307;
    s.score_label_y = 28, s.percent_label_y = 298, s.std_label_y = 298;
    s.names = true;
    return s;
}

BarSet Uniprocessor(int dx) {
    BarSet s;
    s.row = 1;
    s.bar_y = 42, s.deviation_y = 312;
    s.score_label_y = 40, s.percent_label_y = 310, s.std_label_y = 310;
    s.deviation_label_dx = dx;
    s.label_rank = 2;
    return s;
}

BarSet OS(int row) {
    BarSet s;
    s.row = row;
    s.os = true;
    s.screen_colour = kYellow;
    s.printer_colour = kBlack;
    s.printer_dashdot = true;
    s.bar_y = 47, s.deviation_y = 317;
    s.score_label_y = 45, s.percent_label_y = 310, s.std_label_y = 298;
    s.deviation_label_dx = 10;
    s.label_rank = 1;
    return s;
}

enum Graph { kPeakGraph, kTroughGraph, kPercentGraph, kStdGraph };

struct GraphFrame {
    const char* title;
    int x0, y0;      // origin; the vertical axis runs 200 units up from it
    int names_x, names_y;
    int title_xc, title_dx, title_y;
};

constexpr GraphFrame kFrames[4] = {
    {"Peak Scores (x10)", 100, 230, 8, 30, 200, 5, 247},
    {"Trough Scores (x10)", 500, 230, 408, 30, 600, 5, 247},
    {"% deviation", 100, 500, 8, 300, 200, 0, 517},
    {"Standard Deviation", 500, 500, 408, 300, 600, 8, 517},
};

// A legend entry: drawn after its set's bars in one graph.
struct Legend {
    int set;
    Graph graph;
    int x1, x2, xt;
    bool smp;  // "SMP statistics (for CPU 0 to CPU %d)", else "Uniprocessor statistics"
    std::string Text() const {
        return smp ? StrPrintf("SMP statistics (for CPU 0 to CPU %d)", results.scale_value - 1)
                   : std::string("Uniprocessor statistics");
    }
};

// A value label waiting for its row's layout: its set and text.
struct RowLabel {
    int set;
    std::string text;
};

// The page being drawn.
struct Page {
    GraphDc* dc;  // the context of this pass
    float scale;
    int screen;
    int lf_height, lf_width;
    LogFont value_fonts[4];  // each graph's value labels' font
    bool crowded[4] = {};    // a row of the graph found no way to stand in its row
    std::vector<BarSet> sets;
    std::vector<Legend> legends;
    const double* bindex;
    ScoreLadder ladder;
    int std_divisor = 8, percent_divisor = 8;
    // The graph being drawn: where each row's bars end (device x) and the value labels waiting for
    // their row's layout (pages of several bar sets).
    int bars_end[kTests] = {};
    std::vector<RowLabel> row_labels[kTests];

    int S(double p) const { return Scaled(p, scale); }
    void Line(double x1, double y1, double x2, double y2) {
        dc->MoveToEx(S(x1), S(y1));
        dc->LineTo(S(x2), S(y2));
    }
    // The middle of test t's row in a graph, in page units: halfway between the row's first and last
    // bar (its middle bar on the OS scaling page). A value label's middle stays within a row's
    // height of it, half above and half below, so that it reads as that test's value.
    double RowMiddle(Graph g, int t) const {
        const bool score = g == kPeakGraph || g == kTroughGraph;
        const BarSet &first = sets.front(), &last = sets.back();
        return 200 * t / 9 + (score ? first.bar_y + last.bar_y : first.deviation_y + last.deviation_y) / 2.0;
    }
    // A bar's value label on a page of one bar set: at its place, or else centred on its bar (at
    // `bar_y`), or higher or lower a pixel at a time; where none of these is free, as near to its
    // place further right, at one of those heights. Always with its middle within its row (and so
    // right of its own bar with no other test's bar between), within the half of the page that its
    // graph takes; in the value labels' font.
    void BarLabel(Graph g, const BarSet& set, double x, double y, double bar_y, double middle, const std::string& text) {
        const GraphFrame& f = kFrames[g];
        const LogFont& value_font = value_fonts[g];
        const int half = f.x0 < 400 ? 0 : 400;
        const QRect bounds(S(half), 0, S(half + 400) - S(half), S(1000));
        const bool own_font = !(value_font == dc->Font());
        const LogFont old = own_font ? dc->SelectFont(value_font) : value_font;
        const QPoint at(S(x), S(y));
        const int height = dc->GetTextExtent(text).height(), step = std::max(1, S(1));
        const auto in_row = [&](int top) { return std::abs(top + height / 2.0 - middle * scale) <= kRowHalf * scale; };
        std::vector<QPoint> places = {at, QPoint(at.x(), S(bar_y) - height / 2)}, swept;
        for (const QPoint& p : places) {
            if (in_row(p.y())) swept.push_back(p);
        }
        for (int d = step; d <= S(200.0 / 9); d += step) {
            for (int dy : {-d, d}) {
                if (!in_row(at.y() + dy)) continue;
                places.emplace_back(at.x(), at.y() + dy);
                swept.emplace_back(at.x(), at.y() + dy);
            }
        }
        dc->PlacedText(places, bounds, set.label_rank, text, swept);
        if (own_font) dc->SelectFont(old);
    }
    // The value labels of one test's row on a page of several bar sets, side by side along the row
    // in the order of the row's bars, each led by a swatch of its set's pen (as in the legend):
    // starting right of the row's longest bar, on the row's middle; where the row's half of the
    // page leaves too little room, in two or three lines, stacked within the row's height. Where
    // no way fits, on one line all the same (which the page answers with smaller value labels).
    void RowLabels(Graph g, int t);

    static constexpr double kRowHalf = 100.0 / 9;  // half a row's height
    // Axis label centred on its tick: half its length times half the font's width, in page units.
    int LabelX(int x, const std::string& text) const { return S(x - double(int(text.size()) / 2 * 3)); }
    // Below its tick's end (which a scale with a fraction may put a pixel lower than the font's height).
    void TickLabel(int x, int y0, const std::string& text) {
        dc->TextOut(LabelX(x, text), std::max(S(y0) + lf_height, S(y0 + 10)), text);
    }
    std::string ScoreLabel(int i) const { return StrPrintf("%lld", (long long)ladder.Label(i)); }
    int ScoreLabelEvery(int x0) const;
    gdi::Pen SetPen(const BarSet& set) const {
        const uint32_t style = screen == 0 && set.printer_dashdot ? gdi::PS_DASHDOT : gdi::PS_SOLID;
        return gdi::ExtCreatePen(gdi::PS_GEOMETRIC | gdi::PS_ENDCAP_FLAT | style, 5,
                                 screen != 0 ? set.screen_colour : set.printer_colour);
    }

    void Axes(Graph g);
    void Bars(Graph g, int index);
    void Labels(Graph g);
};

// The score labels stand at every second tick while they fit side by side, a blank's width apart
// at least; otherwise at every 4th, 10th or 20th tick, whichever is the first where they fit (the
// ends of the axis are always labelled).
int Page::ScoreLabelEvery(int x0) const {
    const int gap = dc->GetTextExtent(" ").width();
    for (int every : {2, 4, 10}) {
        bool fits = true;
        int right = 0;
        for (int i = 0; i <= 20 && fits; i += every) {
            const std::string text = ScoreLabel(i);
            const int x = LabelX(x0 + 10 * i, text);
            fits = i == 0 || x >= right + gap;
            right = x + dc->GetTextExtent(text).width();
        }
        if (fits) return every;
    }
    return 20;
}

void Page::Axes(Graph g) {
    const GraphFrame& f = kFrames[g];
    const bool score = g == kPeakGraph || g == kTroughGraph;
    Line(f.x0, f.y0 - 200, f.x0, f.y0);
    Line(f.x0, f.y0, f.x0 + 200, f.y0);
    const int d = g == kPercentGraph ? percent_divisor : std_divisor;
    const int every = score ? ScoreLabelEvery(f.x0) : 4;
    for (int i = 0; i <= 20; ++i) {
        const int x = f.x0 + 10 * i;
        const bool long_tick = score ? i % 2 == 0 : i % 4 == 0;
        Line(x, f.y0, x, f.y0 + (long_tick ? 10 : 5));
        if (!long_tick || i % every != 0) continue;
        if (score) TickLabel(x, f.y0, ScoreLabel(i));
        else TickLabel(x, f.y0, StrPrintf("%.1f", double(i) / d));
    }
}

void Page::Bars(Graph g, int index) {
    const BarSet& set = sets[size_t(index)];
    const GraphFrame& f = kFrames[g];
    const bool one_set = sets.size() == 1;
    const gdi::Pen old = dc->SelectPen(SetPen(set));
    for (int t = 0; t < kTests; ++t) {
        const int row_y = 200 * t / 9;
        if (index == 0) bars_end[t] = S(f.x0), row_labels[t].clear();
        if (set.names) {
            // At its place, or else ending a blank's width before the axis.
            const int y = S(f.names_y + row_y), half = f.x0 < 400 ? 0 : 400;
            const int w = dc->GetTextExtent(twindow_tnames[t]).width(), blank = dc->GetTextExtent(" ").width();
            dc->PlacedText({QPoint(S(f.names_x), y), QPoint(S(f.x0) - blank - w, y)},
                           QRect(S(half), 0, S(half + 400) - S(half), S(1000)), -1, twindow_tnames[t]);
        }
        std::string label;
        double label_x = 0, label_y = 0, bar_y = 0;
        if (g == kPeakGraph || g == kTroughGraph) {
            const double value = (g == kPeakGraph ? set.Peak() : set.Trough())[set.row][t];
            const int32_t v = PercentOfReference<int32_t>(value, bindex[t]);
            const int64_t length = ladder.Bar(v);
            bar_y = row_y + set.bar_y;
            Line(f.x0, bar_y, double(f.x0 + length), bar_y);
            bars_end[t] = std::max(bars_end[t], S(double(f.x0 + length)));
            if (ladder.labelled) {
                label = StrPrintf("(%ld)", long(v));
                label_x = double(f.x0 + 3 + length), label_y = row_y + set.score_label_y;
            }
        } else {
            const double v = (g == kPercentGraph ? set.Percent() : set.Std())[set.row][t];
            const int d = g == kPercentGraph ? percent_divisor : std_divisor;
            const double w = v < 10.5 ? v : 10.5;
            const int end = f.x0 + Saturate<int32_t>(w * 20 * d * 0.5);
            bar_y = row_y + set.deviation_y;
            Line(f.x0, bar_y, end, bar_y);
            bars_end[t] = std::max(bars_end[t], S(end));
            if (v > 10.5) {
                label = StrPrintf("(%.1f)", v);
                label_x = f.x0 + int(d * 0.5 * 210) + set.deviation_label_dx;
                label_y = row_y + (g == kPercentGraph ? set.percent_label_y : set.std_label_y);
            }
        }
        if (label.empty()) continue;
        if (one_set) BarLabel(g, set, label_x, label_y, bar_y, RowMiddle(g, t), label);
        else row_labels[t].push_back({index, label});
    }
    for (const Legend& l : legends) {
        if (l.set != index || l.graph != g) continue;
        Line(l.x1, 555, l.x2, 555);
        dc->TextOut(S(l.xt), Scaled(537, scale) + lf_height / 2 + 5, l.Text());
    }
    dc->SelectPen(old);
}

void Page::Labels(Graph g) {
    for (int t = 0; t < kTests; ++t) {
        if (!row_labels[t].empty()) RowLabels(g, t);
    }
}

void Page::RowLabels(Graph g, int t) {
    const GraphFrame& f = kFrames[g];
    const std::vector<RowLabel>& labels = row_labels[t];
    const int half = f.x0 < 400 ? 0 : 400;
    const QRect bounds(S(half), 0, S(half + 400) - S(half), S(1000));
    const LogFont& value_font = value_fonts[g];
    const bool own_font = !(value_font == dc->Font());
    const LogFont old_font = own_font ? dc->SelectFont(value_font) : value_font;
    // Each entry: a swatch as long as the legend's, a gap as wide as the bar pen's half width
    // and more, its text; entries two blanks apart.
    const int swatch = S(10), gap = std::max(S(3), 3), apart = 2 * dc->GetTextExtent(" ").width();
    std::vector<int> widths;
    int height = 0;
    for (const RowLabel& l : labels) {
        const QSize extent = dc->GetTextExtent(l.text);
        widths.push_back(swatch + gap + extent.width());
        height = std::max(height, extent.height());
    }
    const int start = bars_end[t] + S(3), room = bounds.right() + 1 - start;
    const double middle = RowMiddle(g, t) * scale, reach = kRowHalf * scale;
    const int n = int(labels.size());
    int lines = 1;
    const auto per_line = [&](int k) { return (n + k - 1) / k; };
    const auto fits = [&](int k) {
        if (k > 1 && k * height > 2 * reach) return false;
        for (int first = 0; first < n; first += per_line(k)) {
            int w = -apart;
            for (int i = first; i < std::min(n, first + per_line(k)); ++i) w += widths[size_t(i)] + apart;
            if (w > room) return false;
        }
        return true;
    };
    bool found = false;
    for (int k = 1; k <= n && !found; ++k) {
        if ((found = fits(k))) lines = k;
    }
    crowded[g] = crowded[g] || !found;
    const int per = per_line(lines);
    for (int i = 0; i < n; ++i) {
        const int line = i / per;
        const double centre = middle + (line - (lines - 1) / 2.0) * height;
        int x = start;
        for (int j = line * per; j < i; ++j) x += widths[size_t(j)] + apart;
        const int y = int(std::lround(centre));
        const BarSet& set = sets[size_t(labels[size_t(i)].set)];
        const gdi::Pen old_pen = dc->SelectPen(SetPen(set));
        dc->MoveToEx(x, y);
        dc->LineTo(x + swatch, y);
        dc->SelectPen(old_pen);
        dc->PlacedText({QPoint(x + swatch + gap, int(std::lround(centre - height / 2.0)))}, bounds, 0, labels[size_t(i)].text);
    }
    if (own_font) dc->SelectFont(old_font);
}

int Row(int32_t row) { return std::clamp<int32_t>(row, 0, kRows - 1); }

}  // namespace

void DrawStatGraphs(QWidget* hWnd, QRect brect, GraphDc& hDC, int32_t efficiency_showing, int DCTYPE) {
    (void)hWnd;
    (void)brect;
    const ResultStore& s = results;
    Page page{&hDC, DrawingScale(hDC, DCTYPE), DCTYPE, 0, 0, {}, {}, {}, {}, ReferenceRow(s.last_memory_load_value), {}, 8, 8, {}, {}};

    // Page form and its bar sets (the uniprocessor set, row 1, is always the second).
    const int shown = Row(s.scale_value);
    if (s.tempuniprocemulation != 0) {
        page.sets = {Single(Row(s.current_cpu_selected))};
    } else if (efficiency_showing == 0 && s.temp_os_checked == 0) {
        page.sets = {Single(shown)};
    } else if (efficiency_showing != 0 && s.temp_os_checked != 0) {
        page.sets = {System(shown), Uniprocessor(6), OS(shown)};
        page.legends = {{1, kPercentGraph, 315, 325, 330, false},
                        {2, kPercentGraph, 100, 110, 115, true},
                        {0, kStdGraph, 465, 475, 480, true}};
    } else {
        page.sets = {System(shown), Uniprocessor(3)};
        page.legends = {{1, kPercentGraph, 275, 285, 290, false}, {0, kStdGraph, 425, 435, 440, true}};
    }

    // Scales: the largest peak percentage and the largest deviations of the drawn rows; the
    // uniprocessor set's row 1 enters none of them.
    int32_t highest_score = 0;
    double largest_std = 0, largest_percent = 0;
    for (size_t i = 0; i < page.sets.size(); ++i) {
        if (i == 1) continue;
        const BarSet& set = page.sets[i];
        for (int t = 0; t < kTests; ++t) {
            highest_score = std::max(highest_score, PercentOfReference<int32_t>(set.Peak()[set.row][t], page.bindex[t]));
            largest_std = std::max(largest_std, set.Std()[set.row][t]);
            largest_percent = std::max(largest_percent, set.Percent()[set.row][t]);
        }
    }
    page.ladder = ScoreLadderFor(highest_score);
    page.std_divisor = DeviationDivisor(largest_std);
    page.percent_divisor = DeviationDivisor(largest_percent);

    const LogFont font = TmsRmn(10, 6, 400, page.scale);
    page.lf_height = font.Height;
    page.lf_width = font.Width;

    // The legends stand side by side: an entry whose swatch the text to its left comes near moves
    // right, two blanks' width past that text.
    std::vector<Legend*> row;
    for (Legend& l : page.legends) row.push_back(&l);
    std::sort(row.begin(), row.end(), [](const Legend* a, const Legend* b) { return a->x1 < b->x1; });
    const double blank = hDC.TextExtent(font, " ").width() / double(page.scale);
    for (size_t k = 1; k < row.size(); ++k) {
        const Legend& before = *row[k - 1];
        const double end = before.xt + hDC.TextExtent(font, before.Text()).width() / double(page.scale) + 2 * blank;
        const int shift = std::max(0, int(std::ceil(end - row[k]->x1)));
        row[k]->x1 += shift, row[k]->x2 += shift, row[k]->xt += shift;
    }

    const auto draw = [&](GraphDc& dc) {
        page.dc = &dc;
        dc.SetTextColor(kBlack);
        const LogFont old_font = dc.SelectFont(font);
        for (int g = kPeakGraph; g <= kStdGraph; ++g) {
            // The first graph's axes take the context's own pen, the later ones a pen of their own.
            gdi::Pen old;
            if (g != kPeakGraph) old = dc.SelectPen(gdi::ExtCreatePen(gdi::PS_GEOMETRIC | gdi::PS_ENDCAP_FLAT, 1, kBlack));
            page.Axes(Graph(g));
            if (g != kPeakGraph) dc.SelectPen(old);
            for (int i = 0; i < int(page.sets.size()); ++i) page.Bars(Graph(g), i);
            page.Labels(Graph(g));
        }
        for (const GraphFrame& f : kFrames) {
            const int len = int(std::char_traits<char>::length(f.title));
            dc.TextOut(Saturate<int>(f.title_xc * double(page.scale) - len / 2 * page.lf_width + f.title_dx),
                       Scaled(f.title_y, page.scale) + page.lf_height / 2 + 5, f.title);
        }
        dc.SelectFont(old_font);
    };
    // The value labels take the page's font while they all find a free place; in a graph whose rows
    // have too little room for that, or on a crowded page, a smaller one, down to 7 by 4 (times the
    // scale), where the last stand at their first places. Each graph takes the largest that its
    // rows have room for (tried on a scratch page), the page as a whole no larger than its way.
    static constexpr int kValueFonts[][2] = {{10, 6}, {9, 5}, {8, 5}, {8, 4}, {7, 4}};
    constexpr int kWays = int(std::size(kValueFonts));
    const auto value_font = [&](int k) { return TmsRmn(kValueFonts[k][0], kValueFonts[k][1], 400, page.scale); };
    int least[4] = {kWays - 1, kWays - 1, kWays - 1, kWays - 1};
    for (int k = kWays - 1; k >= 0; --k) {
        for (LogFont& f : page.value_fonts) f = value_font(k);
        std::fill(std::begin(page.crowded), std::end(page.crowded), false);
        GraphDc scratch(hDC.HorzRes(), [&hDC](const LogFont& lf, std::string_view text) { return hDC.TextExtent(lf, text); });
        draw(scratch);
        for (int g = 0; g < 4; ++g) {
            if (!page.crowded[g]) least[g] = k;
        }
    }
    hDC.DrawPlacedFirstFit(kWays, [&](GraphDc& dc, int way) {
        for (int g = 0; g < 4; ++g) page.value_fonts[g] = value_font(std::max(way, least[g]));
        draw(dc);
    });
}

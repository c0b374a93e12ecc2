#include "kestrel/graphs/efficiency_graphs.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "kestrel/graphs/graph_common.h"

using namespace graphs;

int DoRegression(double& A, double& B, int osflag) {
    const int32_t* totals = osflag != 0 ? results.TotalCPU_OS : results.TotalCPU;
    const std::vector<int> rows = ScalingRowCounts(results);
    const double n = double(rows.size());
    double S1 = 0, S2 = 0, S3 = 0, S4 = 0;
    for (int count : rows) {
        const double x = count, y = totals[count];
        S1 += x;
        S2 += x * x;
        S3 += y;
        S4 += x * y;
    }
    const double D = n * S2 - S1 * S1;
    if (rows.size() < 2 || D == 0) {
        A = n > 0 ? S3 / n : 0;
        B = 0;
        return 0;
    }
    A = (S2 * S3 - S1 * S4) / D;
    B = (n * S4 - S1 * S3) / D;
    return 0;
}

namespace {

const QRect kAnywhere(0, 0, 1 << 28, 1 << 28);

// The plot of one call: the box, its scales and the rows.
struct Plot {
    GraphDc& dc;
    float scale;
    int left, top, right, bottom;
    int ox, oy, H, W;         // origin, height and width in page units
    int32_t Y = 100;          // value at the top of the vertical axis
    int N = 1;                // highest processor count
    bool bare = false;        // row labels are the bare numbers
    bool by_count = false;    // regression mode: x by processor count
    std::vector<int> rows;    // processor counts of the rows
    std::vector<QPoint> points;  // every series' points on the device, each labelled with its value

    int S(double p) const { return Scaled(p, scale); }
    void Line(double x1, double y1, double x2, double y2) {
        dc.MoveToEx(S(x1), S(y1));
        dc.LineTo(S(x2), S(y2));
    }
    // Text centred by half its length times half the font's width.
    void Centred(double x, double y, const std::string& text) {
        dc.TextOut(S(x - int(text.size()) / 2 * 3.5), S(y), text);
    }
    // A point's efficiency label: centred above it, or else up and left of it, down and right of
    // it, or nearer to it on those sides, as the lines leave room; where none of these is free, the
    // free place nearest to the point within 60 units of it, on the page. Where it can, the label
    // stands clearly nearer to its own point than to any other point, so that it reads as its own.
    void PointLabel(double x, double y, const std::string& text) {
        const QSize size = dc.GetTextExtent(text);
        const int px = S(x), py = S(y), d = S(4);
        std::vector<QPoint> places = {QPoint(S(x - int(text.size()) / 2 * 3.5), S(y - 31)), QPoint(px - d - size.width(), S(y - 31)),
                                      QPoint(px + d, S(y + 19)), QPoint(px - d - size.width(), py - d - size.height()),
                                      QPoint(px + d, py + d)};
        // The cells around the point by their distance from it, two units apart.
        std::vector<std::pair<double, QPoint>> around;
        const int step = std::max(1, S(2)), reach = S(60);
        for (int cy = py - reach - size.height(); cy <= py + reach; cy += step) {
            for (int cx = px - reach - size.width(); cx <= px + reach; cx += step) {
                const double dx = std::max({cx - px, 0, px - (cx + size.width() - 1)});
                const double dy = std::max({cy - py, 0, py - (cy + size.height() - 1)});
                if (dx + dy > 0) around.push_back({std::hypot(dx, dy), QPoint(cx, cy)});
            }
        }
        std::stable_sort(around.begin(), around.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [distance, at] : around) places.push_back(at);
        const auto apart = [&](QPoint cell, QPoint p) {
            const int dx = std::max({cell.x() - p.x(), 0, p.x() - (cell.x() + size.width() - 1)});
            const int dy = std::max({cell.y() - p.y(), 0, p.y() - (cell.y() + size.height() - 1)});
            return std::hypot(double(dx), double(dy));
        };
        // First the places clearly nearer to its own point, then those no nearer to another point,
        // then the rest: where the series' points lie a pixel apart it still stands on the page.
        const QPoint own(px, py);
        const auto doubt = [&](QPoint cell) {
            const double mine = apart(cell, own);
            double other = std::numeric_limits<double>::infinity();
            for (const QPoint& p : points) {
                if (p != own) other = std::min(other, apart(cell, p));
            }
            return other > mine + 1 ? 0 : other >= mine ? 1 : 2;
        };
        std::vector<std::pair<int, QPoint>> ranked;
        for (const QPoint& cell : places) ranked.push_back({doubt(cell), cell});
        std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (size_t i = 0; i < places.size(); ++i) places[i] = ranked[i].second;
        dc.PlacedText(places, QRect(QPoint(S(left), S(top)), QPoint(S(right) - 1, S(bottom) - 1)), 0, text);
    }
    double ValueY(double v) const { return oy - v / Y * H; }
    // The x of the k-th row (0-based) whose processor count is `count`.
    double RowX(size_t k, int count) const {
        if (by_count) return ox + double(W) * (count - 1) / (N - 1);
        return ox + int(k + 1) * W / int(rows.size() + 1);
    }
    std::string CountLabel(int count) const {
        if (bare) return StrPrintf("%d", count);
        return count == 1 ? std::string("1 CPU") : StrPrintf("%d CPUS", count);
    }
    void Legend(int y, const std::string& text) {
        Line(ox, y, ox + 10, y);
        dc.TextOut(S(left + 90), S(y - 6), text);
    }

    void Series(const int32_t* totals, const float* efficiency, const gdi::Pen& pen, int legend_y,
                const char* legend);
    void Regression(int osflag, const gdi::Pen& pen, int legend_y, const char* legend, const char* footer);
};

void Plot::Series(const int32_t* totals, const float* efficiency, const gdi::Pen& pen, int legend_y,
                  const char* legend) {
    const gdi::Pen old = dc.SelectPen(pen);
    if (!by_count) dc.MoveToEx(S(ox), S(oy));
    for (size_t k = 0; k < rows.size(); ++k) {
        const double x = RowX(k, rows[k]), y = ValueY(totals[rows[k]]);
        if (by_count && k == 0) dc.MoveToEx(S(x), S(y));
        else dc.LineTo(S(x), S(y));
        const float before = efficiency[k == 0 ? 0 : rows[k - 1]], now = efficiency[rows[k]];
        PointLabel(x, y, StrPrintf(now >= before ? "+%.1f%%" : "%.1f%%", double(now)));
    }
    Legend(legend_y, legend);
    dc.SelectPen(old);
}

void Plot::Regression(int osflag, const gdi::Pen& pen, int legend_y, const char* legend, const char* footer) {
    double A = 0, B = 0;
    DoRegression(A, B, osflag);
    const gdi::Pen old = dc.SelectPen(pen);
    Line(ox, ValueY(A + B), ox + W, ValueY(N * B + A));
    Legend(legend_y, legend);
    // The gain per processor, (N - 1) / N of the slope, in percent of the one-processor score
    // (the slope itself when that score is 100); 0 when there is no such score.
    const int32_t one = (osflag != 0 ? results.TotalCPU_OS : results.TotalCPU)[1];
    const double per_processor = one != 0 ? double(N - 1) / N * B * 100.0 / one : 0.0;
    dc.TextOut(S(left + 90), S(legend_y + 17 - 6), StrPrintf(footer, per_processor));
    dc.SelectPen(old);
}

int32_t AxisTop(int32_t M) {
    if (M < 100) return 100;
    if (M <= 200) return 200;
    if (M <= 5400) return (M + 99) / 100 * 100;
    return M;
}

int TickCount(int N) { return N >= 20 ? 20 : N >= 15 ? 15 : N >= 10 ? 10 : N >= 5 ? 5 : 4; }


void DrawEfficiency(GraphDc& DC, int screen, int left, int top, int right, int bottom) {
    const ResultStore& s = results;
    Plot p{DC, DrawingScale(DC, screen), left, top, right, bottom, left + 75, bottom - 165, 0, right - left - 120, 100, 1, false, false, {}, {}};
    p.H = p.oy - (top + 35);
    p.N = s.tested_num_processors;
    p.rows = ScalingRowCounts(s);
    p.bare = (s.last_test_mode >= 1 ? p.N / s.last_test_mode : 1) >= 9;
    // The count axis and the least-squares line need two rows (so N >= 2).
    p.by_count = graph_view.regression != 0 && p.rows.size() >= 2 && p.N >= 2;
    const bool os = s.temp_os_checked != 0;

    DC.SetTextColor(kBlack);
    const LogFont old_font = DC.SelectFont(TmsRmn(12, 7, 560, p.scale));

    // Plot box and axis captions.
    DC.MoveToEx(p.S(p.ox), p.S(top + 35));
    DC.LineTo(p.S(right - 35), p.S(top + 35));
    DC.LineTo(p.S(right - 35), p.S(p.oy));
    DC.LineTo(p.S(p.ox), p.S(p.oy));
    DC.LineTo(p.S(p.ox), p.S(top + 35));
    const std::string scores = "Scores", counts = "Number of CPUs";
    DC.TextOutTurned(p.S(left + 10), p.S((top + 35 + p.oy) / 2 + int(scores.size()) * 7 / 2), 900, scores);
    DC.TextOut(p.S(p.ox + p.W / 2 - int(counts.size()) / 2 * 7), p.S(p.oy + 28), counts);

    // Vertical scale.
    int32_t M = 0;
    for (int count : p.rows) {
        M = std::max(M, s.TotalCPU[count]);
        if (os) M = std::max(M, s.TotalCPU_OS[count]);
    }
    p.Y = AxisTop(M);
    const int T = TickCount(p.N);
    for (int i = 0; i < T; ++i) {
        const int y = p.oy - p.H * (i + 1) / T;
        p.Line(left + 65, y, right - 35, y);
        // Centred on x 50 beside its grid line; where that meets the line, ending a blank's width
        // before the line starts, or else standing on the line, ending a blank's width before the
        // plot; left out where none of these is free.
        const std::string label = StrPrintf("%d", p.Y / T * (i + 1));
        const QSize size = DC.GetTextExtent(label);
        const int blank = DC.GetTextExtent(" ").width();
        DC.PlacedText({QPoint(p.S(left + 50 - int(label.size()) / 2 * 3.5), p.S(y - 10)),
                       QPoint(p.S(left + 65) - blank - size.width(), p.S(y - 10)),
                       QPoint(p.S(p.ox) - blank - size.width(), p.S(y) - size.height())},
                      kAnywhere, 0, label);
    }
    DC.TextOut(p.S(left + 50), p.S(p.oy - 10), "0");

    // Horizontal axis: one tick and label per row, or per processor count in regression mode.
    auto tick = [&](double x, int count) {
        p.Line(x, p.oy, x, p.oy + 6);
        p.Centred(x, p.oy + 8, p.CountLabel(count));
    };
    if (p.by_count) {
        for (int count = 1; count <= p.N; ++count) tick(p.RowX(0, count), count);
    } else {
        for (size_t k = 0; k < p.rows.size(); ++k) tick(p.RowX(k, p.rows[k]), p.rows[k]);
    }

    // The series' points.
    for (const int32_t* totals : {s.TotalCPU, s.TotalCPU_OS}) {
        if (totals == s.TotalCPU_OS && !os) break;
        for (size_t k = 0; k < p.rows.size(); ++k)
            p.points.emplace_back(p.S(p.RowX(k, p.rows[k])), p.S(p.ValueY(totals[p.rows[k]])));
    }

    // The series.
    const uint32_t dashdot = gdi::PS_GEOMETRIC | gdi::PS_DASHDOT, dot = gdi::PS_GEOMETRIC | gdi::PS_DOT;
    p.Series(s.TotalCPU, s.efficiency, gdi::ExtCreatePen(dashdot, 3, screen != 0 ? kBlue : kGrey), bottom - 95,
             "System Scaling Efficiency Distribution");
    if (p.by_count)
        p.Regression(0, gdi::ExtCreatePen(dashdot, 3, screen != 0 ? kMagenta : kBlack), bottom - 78,
                     "System Regression (Least-Squares Fit)",
                     "Average System Scaling Efficiency is:  %.1f%% per processor");
    if (os) {
        const gdi::Pen pen = screen != 0 ? gdi::ExtCreatePen(dashdot, 3, kYellow)
                                         : gdi::ExtCreatePen(dot, 3, p.by_count ? kGrey : kBlack);
        p.Series(s.TotalCPU_OS, s.efficiency_os, pen, bottom - 113, "OS Scaling Efficiency Distribution");
        if (p.by_count)
            p.Regression(1, gdi::ExtCreatePen(dashdot, 3, screen != 0 ? kYellow : kBlack), bottom - 43,
                         "OS Regression (Least-Squares Fit)",
                         "Average OS Scaling Efficiency is:  %.1f%% per processor");
    }
    DC.SelectFont(old_font);
}

}  // namespace

void DrawEfficiencyGraphs(QWidget* window, GraphDc& DC, int screen, int left, int top, int right, int bottom) {
    (void)window;
    DC.DrawPlaced([&](GraphDc& dc) { DrawEfficiency(dc, screen, left, top, right, bottom); });
}

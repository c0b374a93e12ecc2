#include "kestrel/graphs/totals_graph.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "kestrel/engine/disk/disk_test.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/graphs/graph_common.h"
#include "shared/reference_data.h"
#include "shared/strformat.h"

namespace graphs {

TotalsScale TotalsScaleFor(int64_t largest, int frame_top) {
    TotalsScale s;
    s.top = largest + 10;
    if (s.top <= 10) s.top = 110;
    s.steps = s.top / 10;
    const int64_t height = 500 - frame_top;
    const int64_t whole = height / s.steps;
    s.unit = whole >= 1 ? double(whole) : double(height) / double(s.steps);
    s.every = s.steps + 1 > 30 ? s.steps / 10 : 1;
    return s;
}

int RemadeFontWidth(int extent, int wanted, int made) {
    if (extent < 52) return made;
    // 52..55 give the rule no width (a division by zero or a negative one): the font stays.
    if (extent - 55 <= 0) return made;
    const int narrow = 42 / std::min(extent - 55, 6);
    return wanted > narrow ? narrow : wanted;
}

std::string ComparisonLegend(int results_selection) {
    const int r = std::clamp(results_selection, 0, reference::kMachines - 1);
    return std::string(reference::scores[reference::kFirstMachineRow + r]).substr(0, 25);
}

}  // namespace graphs

namespace {

using graphs::GraphDc;
using graphs::Scaled;

int Row(int32_t r) { return std::clamp<int32_t>(r, 0, kRows - 1); }

// The drive named in a printout: the chosen drive of the run's Test Drives menu, or for a loaded
// file the drive it records, as its report names it; none (no line) where the file records none.
std::string TestedDrive(int index) {
    if (results.data_from_file != 0) {
        if (index < 0 || index >= std::min<int32_t>(results.disks_selected, kDrives)) return {};
        const std::string recorded = Trimmed(results.global_drive_filebuffer[index]);
        if (recorded.empty()) return {};
        return "Drive Tested:  " + recorded;
    }
    int seen = 0;
    for (int i = 0; i < std::clamp(globaldrives, 0, kDrives); ++i) {
        if (drivemenu.DRIVECHOSEN[i] != 1) continue;
        if (seen++ != index) continue;
        const bool net = drivemenu.network_drive[i] != 0, rem = drivemenu.removable_drive[i] != 0;
        const char* format = net && rem ? "Removable Network Drive Tested:  %s"
                             : net     ? "Network Drive Tested:  %s"
                             : rem     ? "Removable Drive Tested:  %s"
                                       : "Local Drive Tested:  %s";
        return StrPrintf(format, drivemenu.globaldrivechar[i].c_str());
    }
    return {};
}

struct Series {
    gdi::Pen pen;
    gdi::Brush brush;
};

// `font` narrowed until `text` takes no more than `room` pixels (at least one pixel a character).
LogFont NarrowedTo(const GraphDc& dc, LogFont font, std::string_view text, int room) {
    font.Width = std::max(1, std::min(font.Width, room / std::max(1, int(text.size()))));
    while (font.Width > 1 && dc.TextExtent(font, text).width() > room) --font.Width;
    return font;
}

class TotalsPainter {
public:
    TotalsPainter(GraphDc& dc, float scale, const graphs::TotalsScale& vs, const LogFont& font, const LogFont& value_font,
                  int frame_top)
        : dc_(dc), ps_(scale), vs_(vs), font_(font), value_font_(value_font), fh_(font.Height), frame_top_(frame_top) {}

    int S(double p) const { return Scaled(p, ps_); }

    // A bar of value v from x1 to x2, with its label above it: at the bar's left edge, or else
    // ending at its right edge, centred on it, or anywhere along its row where its middle stands
    // over the bar; where none of these is free, the same a row higher, and so on up to the frame's
    // top line, then above that line, row by row; then, row by row again, wherever on the row it
    // still stands partly over the bar. Only where no other bar under it rises nearer to it than
    // its own, so that it reads as its own bar's value. The label is always drawn (at its first
    // place when no place is free, which DrawGraph answers with narrower value labels).
    void Bar(int x1, int x2, int32_t v, const Series& s) {
        const double h = double(v) * 0.1 * vs_.unit;
        const int top = S(500 - h);
        dc_.Rectangle(S(x1), top, S(x2), S(499));
        dc_.FillRect(S(x1), top, S(x2), S(499), s.brush);
        const std::string label = std::to_string(v);
        const bool narrowed = !(value_font_ == font_);
        if (narrowed) dc_.SelectFont(value_font_);
        const int w = dc_.GetTextExtent(label).width();
        const int left = S(x1), right = S(x2), step = std::max(1, S(1)), line = fh_ + step;
        std::vector<int> rows = {top - (fh_ + S(5))};
        while (rows.back() - line > frame_top_) rows.push_back(rows.back() - line);
        for (int y = rows.back() > frame_top_ - 1 - fh_ ? frame_top_ - 1 - fh_ : rows.back() - line; y >= 0; y -= line)
            rows.push_back(y);
        std::vector<QPoint> places;
        for (int y : rows) {
            for (int x : {left, right - w, (left + right - w) / 2}) places.emplace_back(x, y);
            for (int x = left - w / 2; x < right - w / 2; x += step) places.emplace_back(x, y);
        }
        for (int y : rows) {
            for (int x = left - w + 1; x < right; x += step) places.emplace_back(x, y);
        }
        const int h_text = dc_.GetTextExtent(label).height();
        std::erase_if(places, [&](QPoint p) {
            const int l = p.x(), r = p.x() + w - 1, bottom = p.y() + h_text - 1;
            return std::any_of(bars_.begin(), bars_.end(), [&](const QRect& b) {
                return b.left() != left && b.left() <= r && b.right() >= l && b.top() > bottom && b.top() < top;
            });
        });
        dc_.PlacedText(places, QRect(QPoint(S(50) + 1, 0), QPoint(S(450) - 1, S(500))), 0, label);
        if (narrowed) dc_.SelectFont(font_);
    }
    void Swatch(int y, const Series& s) {
        dc_.Rectangle(S(510), S(y), S(520), S(y + 10));
        dc_.FillRect(S(510), S(y), S(520), S(y + 10), s.brush);
    }
    void Legend(int swatch_top, const std::string& text) { dc_.TextOut(S(528), S(swatch_top + 1) - fh_ / 2, text); }
    // Every bar of the graph (device pixels), for the labels to keep to their own.
    void Bars(std::vector<QRect> bars) { bars_ = std::move(bars); }
    void Use(const Series& s) {
        dc_.SelectPen(s.pen);
        dc_.SelectBrush(s.brush);
    }

private:
    GraphDc& dc_;
    float ps_;
    graphs::TotalsScale vs_;
    LogFont font_, value_font_;  // the axis font and the bars' value labels' font
    int fh_;
    int frame_top_;  // the frame's top line, in device pixels
    std::vector<QRect> bars_;
};

// Anywhere on the page (the printed drive line may run past the 800 units).
const QRect kAnywhere(0, 0, 1 << 28, 1 << 28);

// The totals graph, its bars' value labels `eighths` / 8 of the axis font's width.
void DrawTotals(GraphDc& DC, QRect client, int32_t scaling, int screen, int eighths, const std::vector<QRect>& controls) {
    const float ps = graphs::DrawingScale(DC, screen);
    const ResultStore& s = results;
    const int sel = std::clamp(graph_view.results_selection, 0, reference::kMachines - 1);
    const int32_t* cmp = reference::scorevalues[sel];
    const int32_t own_cpu = s.tempuniprocemulation != 0 ? s.TotalCPU[Row(s.current_cpu_selected)]
                                                         : s.TotalCPU[Row(s.scale_value)];
    const int disk_index = std::clamp<int32_t>(s.current_disk_selected, 0, kDrives - 1);
    const int32_t own[4] = {own_cpu, s.TotalMemory, s.TotalDisk[disk_index], s.TotalVideo};
    const int32_t os_cpu = s.TotalCPU_OS[Row(s.scale_value)];

    const gdi::Pen old_pen = DC.Pen();
    const gdi::Brush old_brush = DC.Brush();
    const LogFont old_font = DC.Font();
    DC.SetTextColor(graphs::kBlack);
    const auto S = [ps](double p) { return Scaled(p, ps); };

    // Frame.
    const int half = (client.top() + client.height()) / 2;
    const int T = half / 15 + client.top();
    DC.SelectPen(gdi::Pen());
    DC.SelectBrush(gdi::Brush());
    DC.Rectangle(S(50), S(T), S(450), S(500));

    // Scale.
    int64_t largest = std::max({cmp[0], cmp[1], cmp[2]});
    for (int32_t v : own) largest = std::max<int64_t>(largest, v);
    largest = std::max<int64_t>(largest, os_cpu);
    const graphs::TotalsScale vs = graphs::TotalsScaleFor(largest, T);
    const int unit = vs.unit >= 1 ? int(vs.unit) : 0;

    // Font.
    const bool big = vs.steps > 29;
    const int base_h = big ? 13 : 8, base_w = big ? 10 : 6;
    const int height = std::min(13, std::max(base_h, unit / 2));
    const int wanted = std::max(base_w, unit * 4 / 11);
    LogFont font = graphs::TmsRmn(height, std::min(10, wanted), 0, ps);
    DC.SelectFont(font);
    const int extent = int(DC.GetTextExtent("012345").width() / ps);
    if (extent >= 52) {
        font.Width = S(graphs::RemadeFontWidth(extent, wanted, std::min(10, wanted)));
        DC.SelectFont(font);
    }
    const int fw = font.Width, fh = font.Height;

    // The legend's entries (swatch top and text) and where their swatches and texts stand.
    std::string own_text = "Your Score";
    if (scaling != 0) own_text = StrPrintf("Your SMP Score (CPU 0 to CPU %d)", s.scale_value - 1);
    else if (s.tempuniprocemulation != 0) own_text = StrPrintf("Your Uniprocessor Score CPU %d", s.current_cpu_selected - 1);
    std::vector<std::pair<int, std::string>> entries = {{350, own_text}, {370, graphs::ComparisonLegend(sel)}};
    if (scaling != 0) entries.push_back({330, "Your Uniprocessor Score"});
    if (s.temp_os_checked != 0) entries.push_back({390, "Your OS SMP Score"});
    std::vector<QRect> legend;
    for (const auto& [swatch_top, text] : entries) {
        legend.push_back(QRect(QPoint(S(510), S(swatch_top)), QPoint(S(520), S(swatch_top + 10))));
        legend.push_back(QRect(QPoint(S(528), S(swatch_top + 1) - fh / 2), DC.GetTextExtent(text)));
    }

    // Axis marks, left and right. A left label that would reach the frame ends where the formula
    // has it end (at 42 less 6 pixels), narrowed to fit where it is wider than the room left of it.
    for (int64_t i = 0; i <= vs.steps; i += vs.every) {
        const double y = 499 - double(i) * vs.unit;
        const int yy = S(y);
        const std::string label = std::to_string(i * 10);
        const int len = int(label.size());
        DC.MoveToEx(S(50), yy);
        DC.LineTo(S(42), yy);
        const int x = S(42) - len * fw - 6, room = S(42) - 6;
        const int w = DC.GetTextExtent(label).width();
        if (x >= 0 && x + w <= S(50)) {
            DC.TextOut(x, yy - fh, label);
        } else if (w <= room) {
            DC.TextOut(room - w, yy - fh, label);
        } else {
            DC.SelectFont(NarrowedTo(DC, font, label, room));
            DC.TextOut(std::max(0, room - DC.GetTextExtent(label).width()), yy - fh, label);
            DC.SelectFont(font);
        }
        DC.MoveToEx(S(450), yy);
        DC.LineTo(S(458), yy);
        // Narrowed to end a blank before the legend's swatches where it would come within a blank
        // of the legend, or to end kBoxGap pixels before a selection box of the window that it
        // would come that near (on the screen).
        constexpr int kBoxGap = 2;
        const int rx = S(458) + fw / 2 + 5, blank = DC.GetTextExtent(" ").width();
        const QRect text_cell(QPoint(rx, yy - fh), DC.GetTextExtent(label));
        const QRect cell = text_cell.adjusted(0, 0, blank, 0), near = text_cell.adjusted(0, 0, kBoxGap, 0);
        int end = std::numeric_limits<int>::max();
        if (std::any_of(legend.begin(), legend.end(), [&](const QRect& r) { return r.intersects(cell); })) end = S(510) - blank;
        for (const QRect& box : controls) {
            if (box.intersects(near)) end = std::min(end, box.left() - kBoxGap);
        }
        if (end == std::numeric_limits<int>::max()) {
            DC.TextOut(rx, yy - fh, label);
        } else {
            DC.SelectFont(NarrowedTo(DC, font, label, end - rx));
            DC.TextOut(rx, yy - fh, label);
            DC.SelectFont(font);
        }
    }

    // Captions.
    static const char* const kAreas[4] = {"ProcessorMarks", "MemoryMarks", "DiskMarks", "VideoMarks"};
    for (int i = 1; i <= 4; ++i) {
        DC.TextOut(S(100 * i) - (3 / 2) * (fw / 2) - 9, S(508), "Kes");
        // Where the caption before it reaches, centred under its bars, or a line lower.
        const int len = int(std::string(kAreas[i - 1]).size());
        const int x = S(100 * i) - (len / 2) * (fh / 2) - 4, centred = S(100 * i) - DC.GetTextExtent(kAreas[i - 1]).width() / 2;
        DC.PlacedText({QPoint(x, S(525)), QPoint(centred, S(525)), QPoint(x, S(525) + fh), QPoint(centred, S(525) + fh)},
                      kAnywhere, 0, kAreas[i - 1]);
    }

    LogFont value_font = font;
    value_font.Width = std::max(1, fw * eighths / 8);
    TotalsPainter paint(DC, ps, vs, font, value_font, S(T));
    {
        std::vector<QRect> bars;
        const auto bar = [&](int x1, int x2, int32_t v) {
            bars.push_back(QRect(QPoint(S(x1), S(500 - double(v) * 0.1 * vs.unit)), QPoint(S(x2) - 1, S(499) - 1)));
        };
        for (int i = 1; i <= 4; ++i) bar(100 * i - 17, 100 * i + 8, own[i - 1]), bar(100 * i + 8, 100 * i + 33, cmp[i - 1]);
        if (scaling != 0) bar(58, 83, s.TotalCPU[1]);
        if (s.temp_os_checked != 0) bar(133, 158, os_cpu);
        paint.Bars(std::move(bars));
    }
    const bool on_screen = screen != 0;
    const Series own_s = on_screen ? Series{gdi::CreatePen(gdi::PS_SOLID, 1, graphs::kMagenta),
                                            gdi::CreateSolidBrush(graphs::kMagenta)}
                                   : Series{gdi::CreatePen(gdi::PS_SOLID, 1, graphs::kBlack),
                                            gdi::CreateSolidBrush(graphs::kBlack)};
    const Series uni_s = on_screen ? Series{gdi::CreatePen(gdi::PS_SOLID, 1, 0xFF00FF00u),
                                            gdi::CreateSolidBrush(0xFF00FF00u)}
                                   : Series{gdi::CreatePen(gdi::PS_SOLID, 1, graphs::kBlack),
                                            gdi::CreateHatchBrush(gdi::HS_DIAGCROSS, graphs::kGrey)};
    const Series os_s = on_screen ? Series{gdi::CreatePen(gdi::PS_SOLID, 1, graphs::kYellow),
                                           gdi::CreateSolidBrush(graphs::kYellow)}
                                  : Series{gdi::CreatePen(gdi::PS_SOLID, 1, graphs::kGrey),
                                           gdi::CreateHatchBrush(gdi::HS_HORIZONTAL, graphs::kBlack)};
    const Series cmp_s = on_screen ? Series{gdi::CreatePen(gdi::PS_SOLID, 1, graphs::kBlue),
                                            gdi::CreateSolidBrush(graphs::kBlue)}
                                   : Series{gdi::CreatePen(gdi::PS_SOLID, 1, graphs::kGrey),
                                            gdi::CreateSolidBrush(graphs::kGrey)};

    // The user's scores.
    paint.Use(own_s);
    for (int i = 1; i <= 4; ++i) paint.Bar(100 * i - 17, 100 * i + 8, own[i - 1], own_s);
    paint.Swatch(350, own_s);
    if (!on_screen) {
        const std::string drive = TestedDrive(s.current_disk_selected);
        // On the uniprocessor legend's line when that is free, else on the line below the legends
        // (or above them).
        if (!drive.empty())
            DC.PlacedText({QPoint(S(528), S(331) - fh / 2), QPoint(S(528), S(411) - fh / 2), QPoint(S(528), S(311) - fh / 2)},
                          kAnywhere, 0, drive);
    }
    paint.Legend(350, own_text);

    if (scaling != 0) {
        paint.Use(uni_s);
        paint.Bar(58, 83, s.TotalCPU[1], uni_s);
        paint.Swatch(330, uni_s);
        paint.Legend(330, "Your Uniprocessor Score");
    }
    if (s.temp_os_checked != 0) {
        paint.Use(os_s);
        paint.Bar(133, 158, os_cpu, os_s);
        paint.Swatch(390, os_s);
        paint.Legend(390, "Your OS SMP Score");
    }
    paint.Use(cmp_s);
    for (int i = 1; i <= 4; ++i) paint.Bar(100 * i + 8, 100 * i + 33, cmp[i - 1], cmp_s);
    paint.Swatch(370, cmp_s);
    paint.Legend(370, graphs::ComparisonLegend(sel));

    DC.SelectPen(old_pen);
    DC.SelectBrush(old_brush);
    DC.SelectFont(old_font);
}

}  // namespace

void DrawGraph(QWidget* /*window*/, GraphDc& DC, QRect client, int32_t scaling, int screen, const std::vector<QRect>& controls) {
    graph_view.printscale = graphs::DrawingScale(DC, screen);
    // Value labels with no free place narrow, all alike, by eighths down to 3/8 of the axis font's
    // width; past that they stand at their first places.
    DC.DrawPlacedFirstFit(6, [&](GraphDc& dc, int way) { DrawTotals(dc, client, scaling, screen, 8 - way, screen != 0 ? controls : std::vector<QRect>{}); });
}

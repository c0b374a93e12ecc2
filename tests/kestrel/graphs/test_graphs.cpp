// The graphs' display lists: each page form of the statistics page and each mode of the scaling
// graph, on the screen and on a printer, compared with golden lists (tests/kestrel/graphs/golden;
// a list that differs is written beside the build as graphs-actual/NAME); the score ladder, the
// deviation divisors, the least-squares line, and the rows the scaling graph reads; and every
// page from plain, scaling and OS scaling stores with each of its values once and no text over
// another.
#include <gtest/gtest.h>

#include <QDir>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "kestrel/engine/report/benchmark_reader.h"
#include "kestrel/engine/report/line_format.h"
#include "kestrel/graphs/efficiency_graphs.h"
#include "kestrel/graphs/stat_graphs.h"
#include "kestrel/graphs/totals_graph.h"
#include "platform/msgbox.h"
#include "shared/reference_data.h"
#include "tests/kestrel/graphs/graph_fixtures.h"
#include "tests/support/recording_host.h"

namespace {

using graphs::GraphDc;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void ExpectGolden(const std::string& name, const std::string& actual) {
    std::ifstream in(std::string(GOLDEN_DIR) + "/" + name);
    const std::string expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (expected == actual) return;
    QDir().mkpath(QStringLiteral(ACTUAL_DIR));
    const std::string written = std::string(ACTUAL_DIR) + "/" + name;
    std::ofstream(written) << actual;
    const std::vector<std::string> e = Lines(expected), a = Lines(actual);
    size_t i = 0;
    while (i < e.size() && i < a.size() && e[i] == a[i]) ++i;
    ADD_FAILURE() << name << " differs at line " << i + 1 << ": expected \"" << (i < e.size() ? e[i] : "(end)")
                  << "\", drawn \"" << (i < a.size() ? a[i] : "(end)") << "\"; the list drawn is in " << written;
}

// The context's state when a routine returns: its own pen and font again, black text.
void ExpectStateRestored(const GraphDc& dc) {
    EXPECT_EQ(dc.Pen(), gdi::Pen());
    EXPECT_EQ(dc.Font(), LogFont());
    EXPECT_EQ(dc.TextColour(), graphs::kBlack);
}

std::string StatList(int32_t efficiency_showing, int screen, int horzres) {
    GraphDc dc(horzres, kt::FixedMeasure);
    DrawStatGraphs(nullptr, QRect(0, 0, 800, 610), dc, efficiency_showing, screen);
    ExpectStateRestored(dc);
    return dc.Listing();
}

std::string ScalingList(int screen, int horzres) {
    GraphDc dc(horzres, kt::FixedMeasure);
    DrawEfficiencyGraphs(nullptr, dc, screen, 0, 0, 800, 610);
    ExpectStateRestored(dc);
    return dc.Listing();
}

// The four page forms, on the screen and on a 4800-pixel printer (scale 6: coordinates and font
// six-fold, bar pens still 5 wide, the weight held to 1000).
TEST(StatGraphs, PageFormsOnScreenAndPrinter) {
    struct Case {
        const char* name;
        void (*store)();
        int32_t efficiency_showing;
    } cases[] = {
        {"uniprocessor", kt::UniprocessorStore, 0},
        {"plain", kt::PlainStore, 0},
        {"scaling", [] { kt::ScalingStore(false); }, 1},
        {"os-scaling", [] { kt::ScalingStore(true); }, 1},
    };
    for (const Case& c : cases) {
        c.store();
        ExpectGolden(std::string("stat-") + c.name + "-screen.txt", StatList(c.efficiency_showing, 1, 1280));
        ExpectGolden(std::string("stat-") + c.name + "-printer6.txt", StatList(c.efficiency_showing, 0, 4800));
    }
}

// Distribution and regression mode, with and without the OS pass, and the regression with the OS
// pass on a 4800-pixel printer.
TEST(EfficiencyGraphs, DistributionAndRegressionWithAndWithoutOS) {
    struct Case {
        const char* name;
        bool os;
        int32_t regression;
        int screen, horzres;
    } cases[] = {
        {"scaling-distribution-screen.txt", false, 0, 1, 1280},
        {"scaling-distribution-os-screen.txt", true, 0, 1, 1280},
        {"scaling-regression-screen.txt", false, 1, 1, 1280},
        {"scaling-regression-os-screen.txt", true, 1, 1, 1280},
        {"scaling-regression-os-printer6.txt", true, 1, 0, 4800},
    };
    for (const Case& c : cases) {
        kt::ScalingStore(c.os);
        graph_view.regression = c.regression;
        ExpectGolden(c.name, ScalingList(c.screen, c.horzres));
    }
}

// Today's scores, 10^4 times the reference and more: the score bars stay on their axes (step
// ceil(h / 200), every bar labelled) and the scaling graph's axis reaches the largest total.
TEST(Graphs, ScoresTenThousandTimesTheReference) {
    kt::TenThousandfoldStore();
    ExpectGolden("stat-10000x-screen.txt", StatList(1, 1, 1280));
    graph_view.regression = 1;
    ExpectGolden("scaling-10000x-screen.txt", ScalingList(1, 1280));
}

// The score axes at the reference machine's scores (every second tick labelled) and at 10^4 times
// them (six- and seven-digit labels: the ends and the middle only): no two labels of the peak and
// trough axes overlap or touch, on the screen and on a printer (text measured with fixed metrics).
TEST(StatGraphs, ScoreLabelsStandApart) {
    const auto measure = kt::FixedMeasure;
    const auto reference = [] {
        kt::ClearStore();
        results.scale_value = 1;
        kt::StatsRow(1, false, 100, 0, 0.5, 0.1, 1.0, 0.1);
    };
    struct Case {
        const char* name;
        void (*store)();
        int32_t efficiency_showing;
        std::vector<std::string> peak_labels;
    } cases[] = {
        {"reference", reference, 0, {"0", "2", "4", "6", "8", "10", "12", "14", "16", "18", "20"}},
        {"10000x", kt::TenThousandfoldStore, 1, {"0", "608000", "1216000"}},
    };
    for (const Case& c : cases) {
        for (const auto& [screen, horzres] : {std::pair{1, 1280}, std::pair{0, 4800}}) {
            c.store();
            GraphDc dc(horzres, kt::FixedMeasure);
            DrawStatGraphs(nullptr, QRect(0, 0, 800, 610), dc, c.efficiency_showing, screen);
            // The labels on the score axes' line, each as the span it covers.
            const float scale = graphs::DrawingScale(dc, screen);
            const int axis_y = graphs::Scaled(230, scale) + graphs::TmsRmn(10, 6, 400, scale).Height;
            std::vector<std::pair<int, int>> spans;
            std::vector<std::string> peak;  // the peak axis's labels (left of x 400)
            LogFont font;
            for (const graphs::GraphOp& op : dc.Ops()) {
                if (op.kind == graphs::GraphOp::kFont) font = op.font;
                if (op.kind != graphs::GraphOp::kText || op.from.y() != axis_y) continue;
                const int x = op.from.x();
                spans.push_back({x, x + measure(font, op.text).width()});
                if (x < graphs::Scaled(400, scale)) peak.push_back(op.text);
            }
            EXPECT_EQ(peak, c.peak_labels) << c.name << " on " << horzres;
            EXPECT_EQ(spans.size(), 2 * c.peak_labels.size()) << c.name << " on " << horzres;
            std::sort(spans.begin(), spans.end());
            for (size_t k = 1; k < spans.size(); ++k)
                EXPECT_LT(spans[k - 1].second, spans[k].first) << c.name << " on " << horzres << ", label " << k;
        }
    }
}

// The stores every page is drawn from below: plain, scaling and OS-scaling runs at the reference
// machine's scores and at today's (10^4 times them), and the two runs whose bars lost their labels
// before: a saved scaling run at about ten times the reference (the uniprocessor bar beside a
// taller SMP bar) and a real run's scores with no disk part.
void PlainToday() {
    kt::TenThousandfoldStore();
    results.scaling_efficiency_showing = results.temp_os_checked = 0;
    results.scale_value = 1;
}
void ScalingToday() {
    kt::TenThousandfoldStore();
    results.temp_os_checked = 0;
}
void ScalingReference() {
    kt::ReferenceStore();
    results.temp_os_checked = 0;
}
void SavedScalingRun() {
    kt::ScalingStore(true);
    const int rows[] = {1, 2, 4, 6, 8};
    const int32_t totals[] = {1001, 1043, 1046, 1049, 1049}, totals_os[] = {1001, 1003, 1006, 1009, 1009};
    const float eff[] = {0.0f, 3.7f, 6.7f, 9.7f, 9.7f}, eff_os[] = {0.0f, 3.3f, 6.3f, 9.3f, 9.3f};
    for (int k = 0; k < 5; ++k) {
        results.TotalCPU[rows[k]] = totals[k], results.TotalCPU_OS[rows[k]] = totals_os[k];
        results.efficiency[rows[k]] = eff[k], results.efficiency_os[rows[k]] = eff_os[k];
    }
    results.TotalMemory = results.TotalDisk[0] = results.TotalVideo = 0;
}
void RealScalingRun() {
    kt::ScalingStore(false);
    const int rows[] = {1, 2, 4, 6, 8};
    const int32_t totals[] = {24080, 47500, 93000, 136000, 176500};
    for (int k = 0; k < 5; ++k) results.TotalCPU[rows[k]] = totals[k];
    results.TotalMemory = 31250, results.TotalDisk[0] = 0, results.TotalVideo = 4120;
}
// A real run's OS scaling page at today's scores: peaks in the thousands of percent (every bar
// labelled), standard deviations in today's units (thousands) and percent deviations past 10.5
// in most rows, of all three bar sets.
void RealOsScalingRun() {
    kt::ScalingStore(true);
    const double* ref = ReferenceRow(results.last_memory_load_value);
    const double peak[kTests] = {8653, 2410, 7302, 5121, 6644, 3980, 7755, 4402, 6020};
    const double os_peak[kTests] = {7010, 2380, 7004, 5003, 6590, 4011, 7120, 4388, 5874};
    const double uni_peak[kTests] = {1130, 320, 915, 640, 830, 505, 970, 552, 760};
    const double std_dev[kTests] = {12.4, 91.6, 5647.2, 233.0, 48.7, 1520.3, 17.9, 640.2, 88.8};
    for (int t = 0; t < kTests; ++t) {
        const auto set = [&](int row, bool os, double pct, double sd, double pdev) {
            (os ? results.second_high_score_os : results.second_high_score)[row][t] = ref[t] * pct / 100;
            (os ? results.second_low_score_os : results.second_low_score)[row][t] = ref[t] * pct * 0.7 / 100;
            (os ? results.std_dev_os : results.std_dev)[row][t] = sd;
            (os ? results.percent_deviation_os : results.percent_deviation)[row][t] = pdev;
        };
        set(8, false, peak[t], std_dev[t], 11.0 + t);
        set(8, true, os_peak[t], std_dev[8 - t] * 1.7, 13.0 + 0.5 * t);
        set(1, false, uni_peak[t], std_dev[t] / 3, t % 3 == 0 ? 4.2 : 10.7 + t);
    }
}
// An OS scaling run whose two passes score within a few marks of each other: the two series'
// points lie a pixel or two apart on the screen.
void BothPassesAlike() {
    SavedScalingRun();
    const int rows[] = {1, 2, 4, 6, 8};
    for (int k = 0; k < 5; ++k) results.TotalCPU_OS[rows[k]] = results.TotalCPU[rows[k]] + 1 + k;
}
const std::pair<const char*, void (*)()> kStores[] = {
    {"plain at the reference's scores", kt::PlainStore},
    {"plain today", PlainToday},
    {"scaling at the reference's scores", ScalingReference},
    {"scaling without OS", [] { kt::ScalingStore(false); }},
    {"scaling today", ScalingToday},
    {"OS scaling at the reference's scores", kt::ReferenceStore},
    {"OS scaling today", kt::TenThousandfoldStore},
    {"saved scaling run", SavedScalingRun},
    {"real scaling run", RealScalingRun},
    {"real OS scaling run", RealOsScalingRun},
    {"OS scaling run, both passes alike", BothPassesAlike},
};
// Each graph page (the scaling graph only for a scaling run), drawn as its window draws it.
const std::pair<const char*, void (*)(GraphDc&, int)> kPages[] = {
    {"statistics",
     [](GraphDc& dc, int screen) { DrawStatGraphs(nullptr, QRect(), dc, results.scaling_efficiency_showing, screen); }},
    {"totals",
     [](GraphDc& dc, int screen) {
         DrawGraph(nullptr, dc, QRect(0, 0, 800, 600), results.scaling_efficiency_showing, screen);
     }},
    {"scaling",
     [](GraphDc& dc, int screen) {
         graph_view.regression = 0;
         DrawEfficiencyGraphs(nullptr, dc, screen, 0, 0, 800, 650);
     }},
    {"regression",
     [](GraphDc& dc, int screen) {
         graph_view.regression = 1;
         DrawEfficiencyGraphs(nullptr, dc, screen, 0, 0, 800, 650);
     }},
};
// The screen, and printers 4800 and 6600 pixels wide (scales 6 and 8.25).
const std::pair<int, int> kDevices[] = {{1, 800}, {0, 4800}, {0, 6600}};

// Draws a page from a store, with the printout naming the drive tested.
GraphDc DrawnPage(void (*store)(), void (*draw)(GraphDc&, int), int screen, int horzres) {
    store();
    results.data_from_file = 1;
    results.disks_selected = 1;
    std::snprintf(results.global_drive_filebuffer[0], sizeof results.global_drive_filebuffer[0], "Local Disk Drive:  /");
    GraphDc dc(horzres, kt::FixedMeasure);
    draw(dc, screen);
    return dc;
}

// The scaling graph's window opens for a scaling run only.
bool Shown(const std::string& page) {
    return results.scaling_efficiency_showing != 0 || (page != "scaling" && page != "regression");
}

// Every page from every store, on the screen and on the printers: no text lies over another or
// on a bar, and no line runs through a text (the statistics page's bar labels, the totals graph's
// bar labels and the scaling graph's axis and efficiency labels move where they fit). Text
// measured with fixed metrics, as the drawing measures it.
TEST(Graphs, NoTextOverTextNorLineThroughText) {
    for (const auto& [store_name, store] : kStores) {
        for (const auto& [page_name, draw] : kPages) {
            for (const auto& [screen, horzres] : kDevices) {
                const GraphDc dc = DrawnPage(store, draw, screen, horzres);
                if (!Shown(page_name)) break;
                for (const std::string& clash : graphs::Clashes(dc))
                    ADD_FAILURE() << page_name << " at " << store_name << " on " << horzres << ": " << clash;
            }
        }
    }
}

// The values a page labels, as the store gives them: the totals graph's bars (the user's four,
// the uniprocessor and OS processor scores where the run has them, the comparison machine's
// four); the statistics page's peak and trough percentages when the score axes run past 5400 and
// its deviations past 10.5, of each bar set; the scaling graph's efficiency at each row, of the
// system and the OS pass.
std::multiset<std::string> ValuesOf(const std::string& page) {
    const ResultStore& s = results;
    std::multiset<std::string> values;
    if (page == "totals") {
        const int32_t* cmp = reference::scorevalues[graph_view.results_selection];
        const int32_t own[4] = {s.TotalCPU[s.scale_value], s.TotalMemory, s.TotalDisk[0], s.TotalVideo};
        for (int i = 0; i < 4; ++i) values.insert({std::to_string(own[i]), std::to_string(cmp[i])});
        if (s.scaling_efficiency_showing != 0) values.insert(std::to_string(s.TotalCPU[1]));
        if (s.temp_os_checked != 0) values.insert(std::to_string(s.TotalCPU_OS[s.scale_value]));
    } else if (page == "statistics") {
        struct Set {
            int row;
            bool os;
        };
        std::vector<Set> sets = {{s.scale_value, false}};
        if (s.scaling_efficiency_showing != 0) sets.push_back({1, false});
        if (s.scaling_efficiency_showing != 0 && s.temp_os_checked != 0) sets.push_back({s.scale_value, true});
        const double* ref = ReferenceRow(s.last_memory_load_value);
        int32_t highest = 0;
        for (size_t i = 0; i < sets.size(); ++i) {
            for (int t = 0; i != 1 && t < kTests; ++t)
                highest = std::max(highest, int32_t((sets[i].os ? s.second_high_score_os : s.second_high_score)[sets[i].row][t] * 100 / ref[t]));
        }
        char text[40];
        for (const Set& set : sets) {
            for (int t = 0; t < kTests; ++t) {
                for (const auto* table : {set.os ? &s.second_high_score_os : &s.second_high_score,
                                          set.os ? &s.second_low_score_os : &s.second_low_score}) {
                    // As the report writes them.
                    std::snprintf(text, sizeof text, "(%ld)", PercentOfReference<long>((*table)[set.row][t], ref[t]));
                    if (highest > 5400) values.insert(text);
                }
                for (const auto* table : {set.os ? &s.percent_deviation_os : &s.percent_deviation,
                                          set.os ? &s.std_dev_os : &s.std_dev}) {
                    std::snprintf(text, sizeof text, "(%.1f)", (*table)[set.row][t]);
                    if ((*table)[set.row][t] > 10.5) values.insert(text);
                }
            }
        }
    } else {
        const std::vector<int> rows = graphs::ScalingRowCounts(s);
        for (const float* efficiency : {s.efficiency, s.efficiency_os}) {
            if (efficiency == s.efficiency_os && s.temp_os_checked == 0) continue;
            for (size_t k = 0; k < rows.size(); ++k) {
                const float before = efficiency[k == 0 ? 0 : rows[k - 1]], now = efficiency[rows[k]];
                values.insert(StrPrintf(now >= before ? "+%.1f%%" : "%.1f%%", double(now)));
            }
        }
    }
    return values;
}

// The value labels a page drew: the texts within the totals graph's frame (or above it), the
// statistics page's texts in parentheses, the scaling graph's percentages.
std::multiset<std::string> LabelsOn(const std::string& page, const GraphDc& dc, int screen) {
    const float scale = graphs::DrawingScale(dc, screen);
    std::multiset<std::string> labels;
    for (const graphs::PageItems::Text& t : graphs::ItemsOf(dc).texts) {
        const bool value = page == "totals" ? t.cell.left() > graphs::Scaled(50, scale) &&
                                                  t.cell.right() < graphs::Scaled(450, scale) &&
                                                  t.cell.bottom() < graphs::Scaled(500, scale)
                           : page == "statistics" ? t.text.front() == '('
                                                  : t.text.back() == '%' && t.text.find(' ') == std::string::npos;
        if (value) labels.insert(t.text);
    }
    return labels;
}

// The totals graph's axis labels, left of the frame and right of it (before the legend), top down.
std::vector<std::string> AxisLabels(const GraphDc& dc, int screen, bool right) {
    const float scale = graphs::DrawingScale(dc, screen);
    std::vector<std::string> labels;
    for (const graphs::PageItems::Text& t : graphs::ItemsOf(dc).texts) {
        const int x = t.cell.left();
        if (right ? x > graphs::Scaled(450, scale) && x < graphs::Scaled(510, scale) : x < graphs::Scaled(50, scale))
            labels.insert(labels.begin(), t.text);
    }
    return labels;
}

// The lines of a recorded page with the pen each was drawn with.
struct PenLine {
    gdi::Pen pen;
    QPoint from, to;
};
std::vector<PenLine> PenLines(const GraphDc& dc) {
    std::vector<PenLine> lines;
    gdi::Pen pen;
    for (const graphs::GraphOp& op : dc.Ops()) {
        if (op.kind == graphs::GraphOp::kPen) pen = op.pen;
        if (op.kind == graphs::GraphOp::kLine) lines.push_back({pen, op.from, op.to});
    }
    return lines;
}

// A bar set of the statistics page as the store and the page form give it: its row and tables,
// its bars' offsets in the row, and its pen's colour (and dash-dot) on this device.
struct StatSet {
    int row;
    bool os;
    int bar_y, deviation_y;
    QRgb colour;
    bool dashdot;
};
std::vector<StatSet> StatSets(int screen) {
    const ResultStore& s = results;
    const bool on = screen != 0;
    if (s.scaling_efficiency_showing == 0) return {{s.scale_value, false, 40, 310, on ? graphs::kMagenta : graphs::kBlack, false}};
    std::vector<StatSet> sets = {{s.scale_value, false, 37, 307, on ? graphs::kBlue : graphs::kGrey, false},
                                 {1, false, 42, 312, on ? graphs::kMagenta : graphs::kBlack, false}};
    if (s.temp_os_checked != 0) sets.push_back({s.scale_value, true, 47, 317, on ? graphs::kYellow : graphs::kBlack, !on});
    return sets;
}

// The statistics page: each value label reads as its own value. Its middle lies within one test's
// row (a row's height, centred on the row's middle bar), of one graph; on a page of several sets
// a swatch of one set's pen touches it on its left; the text is that set's value of that test in
// that graph; it starts right of that set's bar, and no other test's bar lies between the two.
void ExpectStatLabelsBesideTheirBars(const GraphDc& dc, int screen, const std::string& where) {
    const ResultStore& s = results;
    const float scale = graphs::DrawingScale(dc, screen);
    const auto S = [scale](double p) { return graphs::Scaled(p, scale); };
    const std::vector<StatSet> sets = StatSets(screen);
    const std::vector<PenLine> lines = PenLines(dc);
    const double* ref = ReferenceRow(s.last_memory_load_value);
    int32_t highest = 0;
    for (size_t i = 0; i < sets.size(); ++i) {
        for (int t = 0; i != 1 && t < kTests; ++t)
            highest = std::max(highest, PercentOfReference<int32_t>((sets[i].os ? s.second_high_score_os : s.second_high_score)[sets[i].row][t], ref[t]));
    }
    const auto is_set_pen = [&](const gdi::Pen& pen, const StatSet& set) {
        return pen.width == 5 && (pen.colour | 0xFF000000u) == set.colour &&
               ((pen.style & gdi::PS_STYLE_MASK) == gdi::PS_DASHDOT) == set.dashdot;
    };
    for (const graphs::PageItems::Text& label : graphs::ItemsOf(dc).texts) {
        if (label.text.front() != '(') continue;
        const std::string at = where + ", \"" + label.text + "\" at " + std::to_string(label.cell.left()) + "," +
                               std::to_string(label.cell.top());
        const double cx = label.cell.left() + label.cell.width() / 2.0, cy = label.cell.top() + label.cell.height() / 2.0;
        const bool top = cy < S(265), left = cx < S(400);
        const int x0 = left ? 100 : 500;
        const bool score = top;
        // Its row.
        int row = -1;
        for (int t = 0; t < kTests; ++t) {
            const double middle = 200 * t / 9 + (score ? sets.front().bar_y + sets.back().bar_y : sets.front().deviation_y + sets.back().deviation_y) / 2.0;
            if (std::abs(cy - middle * scale) <= 100.0 / 9 * scale) row = t;
        }
        if (row < 0) {
            ADD_FAILURE() << at << ": its middle lies in no test's row";
            continue;
        }
        // Its set.
        int set = sets.size() == 1 ? 0 : -1;
        for (size_t i = 0; set < 0 && i < sets.size(); ++i) {
            for (const PenLine& l : lines) {
                const int right = std::max(l.from.x(), l.to.x());
                if (is_set_pen(l.pen, sets[i]) && l.from.y() == l.to.y() && l.from.y() >= label.cell.top() &&
                    l.from.y() <= label.cell.bottom() && right < label.cell.left() && right >= label.cell.left() - S(5) - 1 &&
                    std::min(l.from.x(), l.to.x()) > S(x0))
                    set = int(i);
            }
        }
        if (set < 0) {
            ADD_FAILURE() << at << ": no swatch of a set's pen leads it";
            continue;
        }
        const StatSet& own = sets[size_t(set)];
        // The value it should read.
        std::string value;
        if (score) {
            const auto& table = left ? (own.os ? s.second_high_score_os : s.second_high_score) : (own.os ? s.second_low_score_os : s.second_low_score);
            if (highest > 5400) value = StrPrintf("(%ld)", PercentOfReference<long>(table[own.row][row], ref[row]));
        } else {
            const auto& table = left ? (own.os ? s.percent_deviation_os : s.percent_deviation) : (own.os ? s.std_dev_os : s.std_dev);
            if (table[own.row][row] > 10.5) value = StrPrintf("(%.1f)", table[own.row][row]);
        }
        EXPECT_EQ(label.text, value) << at << ": it stands for set " << set << " in the row of test " << row;
        // Its own bar, and the other tests' bars between.
        const int bar_y = S(200 * row / 9 + (score ? own.bar_y : own.deviation_y));
        int bar_end = -1;
        for (const PenLine& l : lines) {
            if (is_set_pen(l.pen, own) && l.from.x() == S(x0) && l.from.y() == bar_y && l.to.y() == bar_y) bar_end = l.to.x();
        }
        ASSERT_GE(bar_end, 0) << at << ": no bar of its own";
        EXPECT_LT(bar_end, label.cell.left()) << at << ": it starts before its bar's end";
        for (const PenLine& l : lines) {
            if (l.pen.width != 5 || l.from.x() != S(x0) || l.from.y() != l.to.y() || l.from.y() == bar_y) continue;
            const int y = l.from.y();
            const bool between = y >= std::min<double>(bar_y, cy) && y <= std::max<double>(bar_y, cy) && l.to.x() > bar_end;
            const int other = int(std::lround((y / scale - (score ? own.bar_y : own.deviation_y)) * 9 / 200));
            if (between && other != row) ADD_FAILURE() << at << ": a bar of another test at y " << y << " lies between it and its bar";
        }
    }
}

// The totals graph: each value label stands over its own bar, above its top, and of the bars
// under it, its own is the one whose top lies nearest below it: it reads that bar's value.
void ExpectTotalsLabelsOverTheirBars(const GraphDc& dc, int screen, const std::string& where) {
    const ResultStore& s = results;
    const float scale = graphs::DrawingScale(dc, screen);
    const auto S = [scale](double p) { return graphs::Scaled(p, scale); };
    const int32_t* cmp = reference::scorevalues[graph_view.results_selection];
    const int32_t own[4] = {s.TotalCPU[s.scale_value], s.TotalMemory, s.TotalDisk[0], s.TotalVideo};
    std::map<int, int32_t> value_at;  // bar's left edge (device) -> value
    for (int i = 1; i <= 4; ++i) value_at[S(100 * i - 17)] = own[i - 1], value_at[S(100 * i + 8)] = cmp[i - 1];
    if (s.scaling_efficiency_showing != 0) value_at[S(58)] = s.TotalCPU[1];
    if (s.temp_os_checked != 0) value_at[S(133)] = s.TotalCPU_OS[s.scale_value];
    const graphs::PageItems items = graphs::ItemsOf(dc);
    for (const graphs::PageItems::Text& label : items.texts) {
        if (!(label.cell.left() > S(50) && label.cell.right() < S(450) && label.cell.bottom() < S(500))) continue;
        const QRect* bar = nullptr;
        for (const QRect& f : items.fills) {
            const bool under = f.left() <= label.cell.right() && f.right() >= label.cell.left() && f.top() > label.cell.bottom();
            if (f.left() < S(450) && value_at.count(f.left()) != 0 && under && (bar == nullptr || f.top() < bar->top())) bar = &f;
        }
        const std::string at = where + ", \"" + label.text + "\" at " + std::to_string(label.cell.left()) + "," + std::to_string(label.cell.top());
        ASSERT_NE(bar, nullptr) << at << ": no bar under it";
        EXPECT_EQ(label.text, std::to_string(value_at[bar->left()])) << at << ": it stands nearest over the bar at " << bar->left();
    }
}

// The scaling graph: each efficiency label's nearest point (of both series) is one whose efficiency
// it reads.
void ExpectEfficiencyLabelsAtTheirPoints(const GraphDc& dc, const std::string& where) {
    const ResultStore& s = results;
    const std::vector<int> rows = graphs::ScalingRowCounts(s);
    // The series' points: the chains of connected 3-wide lines of more than one segment, in order.
    std::vector<std::pair<QPoint, std::string>> points;
    const std::vector<PenLine> lines = PenLines(dc);
    const bool from_origin = graph_view.regression == 0 || rows.size() < 2 || s.tested_num_processors < 2;
    int series = 0;
    for (size_t i = 0; i < lines.size();) {
        size_t j = i + 1;
        while (j < lines.size() && lines[i].pen.width == 3 && lines[j].pen == lines[i].pen && lines[j].from == lines[j - 1].to) ++j;
        if (lines[i].pen.width == 3 && j - i >= 2) {
            const float* eff = series == 0 ? s.efficiency : s.efficiency_os;
            std::vector<QPoint> chain;
            if (!from_origin) chain.push_back(lines[i].from);
            for (size_t k = i; k < j; ++k) chain.push_back(lines[k].to);
            for (size_t k = 0; k < chain.size() && k < rows.size(); ++k) {
                const float before = eff[k == 0 ? 0 : rows[k - 1]], now = eff[rows[k]];
                points.push_back({chain[k], StrPrintf(now >= before ? "+%.1f%%" : "%.1f%%", double(now))});
            }
            ++series;
        }
        i = j;
    }
    for (const graphs::PageItems::Text& label : graphs::ItemsOf(dc).texts) {
        if (label.text.back() != '%' || label.text.find(' ') != std::string::npos) continue;
        double nearest = 1e18;
        std::set<std::string> reads;
        for (const auto& [p, text] : points) {
            const QRect& c = label.cell;
            const double dx = std::max({c.left() - p.x(), 0, p.x() - c.right()}), dy = std::max({c.top() - p.y(), 0, p.y() - c.bottom()});
            const double d = std::hypot(dx, dy);
            if (d < nearest - 0.5) nearest = d, reads = {text};
            else if (d <= nearest + 0.5) reads.insert(text);
        }
        EXPECT_TRUE(reads.count(label.text) != 0) << where << ", \"" << label.text << "\" at " << label.cell.left() << ","
                                                  << label.cell.top() << ": nearest to a point of " << *reads.begin();
    }
}

// Every value a page labels stands on it exactly once, from every store, on the screen and on the
// printers: a label with no free place at its own goes to another, or the page's value labels
// narrow, but none is left out. The totals graph keeps every axis label on both sides.
TEST(Graphs, EveryValueOnItsPageOnce) {
    for (const auto& [store_name, store] : kStores) {
        for (const auto& [page_name, draw] : kPages) {
            for (const auto& [screen, horzres] : kDevices) {
                const GraphDc dc = DrawnPage(store, draw, screen, horzres);
                if (!Shown(page_name)) break;
                const std::multiset<std::string> values = ValuesOf(page_name);
                EXPECT_FALSE(values.empty()) << page_name << " at " << store_name;
                EXPECT_EQ(LabelsOn(page_name, dc, screen), values) << page_name << " at " << store_name << " on " << horzres;
                const std::string where = std::string(page_name) + " at " + store_name + " on " + std::to_string(horzres);
                if (page_name == std::string("statistics")) ExpectStatLabelsBesideTheirBars(dc, screen, where);
                else if (page_name == std::string("totals")) ExpectTotalsLabelsOverTheirBars(dc, screen, where);
                else ExpectEfficiencyLabelsAtTheirPoints(dc, where);
                if (page_name != std::string("totals")) continue;
                const int32_t* cmp = reference::scorevalues[graph_view.results_selection];
                const int64_t largest = std::max({cmp[0], cmp[1], cmp[2], results.TotalCPU[results.scale_value], results.TotalMemory,
                                                  results.TotalDisk[0], results.TotalVideo, results.TotalCPU_OS[results.scale_value]});
                const graphs::TotalsScale vs = graphs::TotalsScaleFor(largest, 20);  // a frame top of 600 / 2 / 15
                std::vector<std::string> marks;
                for (int64_t i = 0; i <= vs.steps; i += vs.every) marks.insert(marks.begin(), std::to_string(i * 10));
                EXPECT_EQ(AxisLabels(dc, screen, false), marks) << store_name << " on " << horzres;
                EXPECT_EQ(AxisLabels(dc, screen, true), marks) << store_name << " on " << horzres;
            }
        }
    }
}

// The ladder's boundaries, and past 5400: v/26 with labels while the longest bar ends within 300
// units of its origin, then ceil(h / 200).
// Peaks and troughs at today's scores, saved and read back, are labelled as the report wrote them
// (the read-back figure divides back to the written number or a hair either side of it).
TEST(StatGraphs, PeaksAndTroughsReadBackAreShownAsWritten) {
    const long peak[kTests] = {203020, 203023, 203074, 203074, 203074, 203002, 203017, 203044, 203001};
    const long trough[kTests] = {190020, 190019, 190074, 190074, 190000, 190001, 190026, 190004, 190005};
    std::string text = "Kestrel System Level Benchmark ver. 1.21 (12/96)\r\nLocal Bus Adapter Name/Type:  NVMe\r\n"
                       "Memory Load:  1 MB (Default)\r\n";
    for (int t = 0; t < kTests; ++t) {
        text += StrPrintf("test %d.) Figure:  1.0;  Score:  %ld\r\n", t + 1, peak[t] - 5000);
        text += StrPrintf(kStatsLine, t + 1, 12345.67, peak[t], trough[t]) + "\r\n";
    }
    kt::ClearStore();
    kt::RecordingHost host;
    kp::BoxRecorder boxes;
    DoDataSearch(text.data(), text.size());
    ASSERT_EQ(results.data_from_file, 1);
    EXPECT_DOUBLE_EQ(results.std_dev[1][4], 12345.67);
    for (const auto& [screen, horzres] : {std::pair{1, 1280}, std::pair{0, 4800}}) {
        GraphDc dc(horzres, kt::FixedMeasure);
        DrawStatGraphs(nullptr, QRect(0, 0, 800, 610), dc, 0, screen);
        std::map<std::string, int> labels;
        for (const graphs::GraphOp& op : dc.Ops())
            if (op.kind == graphs::GraphOp::kText) ++labels[op.text];
        for (int t = 0; t < kTests; ++t) {
            for (const long v : {peak[t], trough[t]}) {
                const std::string label = StrPrintf("(%ld)", v);
                const int same = int(std::count(std::begin(peak), std::end(peak), v) +
                                     std::count(std::begin(trough), std::end(trough), v));
                EXPECT_EQ(labels[label], same) << label << " on " << horzres;
            }
        }
    }
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST(StatGraphs, ScoreLadderSteps) {
    struct Case {
        int32_t h;
        int64_t label20, bar_of_h;
        bool labelled;
    } cases[] = {
        {0, 10, 0, false},          {99, 10, 198, false},        {100, 20, 100, false},
        {200, 20, 200, false},      {201, 40, 100, false},       {3400, 340, 200, false},
        {3401, 360, 188, false},    {3700, 360, 205, false},     {3800, 360, 211, false},
        {3801, 380, 200, false},    {4001, 400, 200, false},     {5400, 520, 207, false},
        {5401, 520, 207, true},     {6000, 520, 230, true},      {7825, 520, 300, true},
        {7826, 800, 195, true},     {1000000, 100000, 200, true}, {2147483647, 214748380, 199, true},
    };
    for (const Case& c : cases) {
        const graphs::ScoreLadder l = graphs::ScoreLadderFor(c.h);
        EXPECT_EQ(l.Label(20), c.label20) << c.h;
        EXPECT_EQ(l.Label(2) * 10, c.label20) << c.h;
        EXPECT_EQ(l.Bar(c.h), c.bar_of_h) << c.h;
        EXPECT_EQ(l.labelled, c.labelled) << c.h;
    }
}

TEST(StatGraphs, DeviationDivisors) {
    const std::pair<double, int> cases[] = {{0.0, 8}, {2.5, 8}, {2.6, 4}, {5.0, 4}, {5.1, 2}, {10.6, 2}};
    for (const auto& [largest, d] : cases) EXPECT_EQ(graphs::DeviationDivisor(largest), d) << largest;
}

// The fit over the rows of the store (x the processor count) against data on exact lines, with the
// footer each gives: (N - 1) / N of the slope in percent of the one-processor score, the slope
// itself when that score is 100 (as the reference machines scored). And the line drawn for the
// first: scores 100, 190, 270, 340 at 1..4 processors give 25 + 80x, the line from 105 to 345.
TEST(EfficiencyGraphs, LeastSquaresLineThroughExactData) {
    struct Case {
        int n, step, osflag;
        std::vector<int32_t> scores;  // one per row, in order
        double A, B;
        const char* footer;  // "" with no regression drawn
    } cases[] = {
        {4, 1, 0, {100, 190, 270, 340}, 25, 80, "Average System Scaling Efficiency is:  60.0% per processor"},
        // rows 1, 2, 4, 6, 8 on 30 + 45x: 7/8 x 45 of 75
        {8, 2, 0, {75, 120, 210, 300, 390}, 30, 45, "Average System Scaling Efficiency is:  52.5% per processor"},
        // rows 1, 3, 6, 9 of the OS pass: 8/9 x 110 of 100
        {9, 3, 1, {100, 320, 650, 980}, -10, 110, "Average OS Scaling Efficiency is:  97.8% per processor"},
        // today's scores: 3/4 x 13600 of 32000
        {4, 1, 0, {32000, 45600, 59200, 72800}, 18400, 13600,
         "Average System Scaling Efficiency is:  31.9% per processor"},
        {1, 1, 0, {250}, 250, 0, ""},  // one row: no slope
    };
    for (const Case& c : cases) {
        kt::ClearStore();
        results.tested_num_processors = c.n;
        results.last_test_mode = c.step;
        results.total_scaling_runs = ScalingSteps(c.n, c.step);
        results.temp_os_checked = c.osflag;
        const std::vector<int> rows = graphs::ScalingRowCounts(results);
        ASSERT_EQ(rows.size(), c.scores.size()) << c.n;
        for (size_t k = 0; k < rows.size(); ++k)
            (c.osflag != 0 ? results.TotalCPU_OS : results.TotalCPU)[rows[k]] = c.scores[k];
        double A = -1, B = -1;
        EXPECT_EQ(DoRegression(A, B, c.osflag), 0);
        EXPECT_DOUBLE_EQ(A, c.A) << c.n;
        EXPECT_DOUBLE_EQ(B, c.B) << c.n;
        graph_view.regression = 1;
        const std::string list = ScalingList(1, 800);
        const std::string pass = c.osflag != 0 ? "\"Average OS" : "\"Average System";
        const size_t at = list.find(pass);
        const std::string footer = at == std::string::npos ? "" : list.substr(at + 1, list.find('"', at + 1) - at - 1);
        EXPECT_EQ(footer, c.footer) << c.n << " processors, first score " << c.scores[0];
    }

    kt::ClearStore();
    results.tested_num_processors = 4;
    results.last_test_mode = 1;
    results.total_scaling_runs = ScalingSteps(4, 1);
    const int32_t scores[] = {100, 190, 270, 340};
    for (int k = 0; k < 4; ++k) results.TotalCPU[k + 1] = scores[k];
    graph_view.regression = 1;
    const std::vector<std::string> list = Lines(ScalingList(1, 800));
    // Origin (75, 445), plot 680 by 410, axis top 400: 105 at y 445 - 105/400 x 410 = 337.4,
    // 345 at 91.4.
    const auto at = std::find(list.begin(), list.end(), "pen dashdot geometric round 3 ff00ff");
    ASSERT_NE(at, list.end());
    EXPECT_EQ(*(at + 1), "line 75,337 755,91");
    EXPECT_NE(std::find(list.begin(), list.end(),
                        "text 90,543 \"Average System Scaling Efficiency is:  60.0% per processor\""),
              list.end());
}

// The vertical scale (tick count by N, top by the largest total) and the row labels (bare numbers
// when N / s is 9 or more), read from the list: the grid labels stand between the axis caption and
// the "0" at the origin, each row label right after its tick.
TEST(EfficiencyGraphs, AxisTicksAndRowLabels) {
    struct Case {
        int n, step;
        int32_t largest;
        std::vector<std::string> grid, first_rows;
    } cases[] = {
        {4, 1, 340, {"100", "200", "300", "400"}, {"1 CPU", "2 CPUS"}},
        {12, 1, 99, {"10", "20", "30", "40", "50", "60", "70", "80", "90", "100"}, {"1", "2"}},
        {8, 2, 5401, {"1080", "2160", "3240", "4320", "5400"}, {"1 CPU", "2 CPUS"}},
        {18, 2, 150, {"13", "26", "39", "52", "65", "78", "91", "104", "117", "130", "143", "156", "169", "182", "195"},
         {"1", "2"}},
    };
    for (const Case& c : cases) {
        kt::ClearStore();
        results.tested_num_processors = c.n;
        results.last_test_mode = c.step;
        results.total_scaling_runs = ScalingSteps(c.n, c.step);
        const std::vector<int> rows = graphs::ScalingRowCounts(results);
        for (int count : rows) results.TotalCPU[count] = 1;
        results.TotalCPU[rows.back()] = c.largest;
        const std::vector<std::string> list = Lines(ScalingList(1, 800));
        auto label = [](const std::string& line) {
            const size_t q = line.find('"');
            return line.rfind("text ", 0) == 0 && q != std::string::npos ? line.substr(q + 1, line.size() - q - 2)
                                                                        : std::string();
        };
        std::vector<std::string> grid, first_rows;
        bool in_grid = false;
        for (size_t i = 0; i < list.size(); ++i) {
            const std::string text = label(list[i]);
            if (text == "Number of CPUs") in_grid = true;
            else if (text == "0") in_grid = false;
            else if (in_grid && !text.empty()) grid.push_back(text);
            if (i > 0 && list[i - 1].rfind("line ", 0) == 0 && list[i - 1].find(",445 ") != std::string::npos &&
                list[i - 1].find(",451") != std::string::npos && first_rows.size() < 2)
                first_rows.push_back(text);
        }
        EXPECT_EQ(grid, c.grid) << c.n << " " << c.largest;
        EXPECT_EQ(first_rows, c.first_rows) << c.n;
    }
}

// A run on one processor in regression mode: no count axis (its width over N - 1 processors) and
// no least-squares line; the distribution is drawn as in distribution mode.
TEST(EfficiencyGraphs, OneProcessorDrawsTheDistributionOnly) {
    kt::ClearStore();
    results.scaling_efficiency_showing = 1;
    results.tested_num_processors = 1;
    results.last_test_mode = 1;
    results.total_scaling_runs = ScalingSteps(1, 1);
    results.TotalCPU[1] = 250;
    const std::string distribution = ScalingList(1, 800);
    graph_view.regression = 1;
    const std::string regression = ScalingList(1, 800);
    EXPECT_EQ(regression, distribution);
    EXPECT_EQ(regression.find("Regression"), std::string::npos);
    EXPECT_NE(regression.find("text 408,453 \"1 CPU\""), std::string::npos) << regression;
}

// A store whose step count runs past the rows its run measured (4 processors, step 1, but 9 steps
// and scores beyond row 4): the graph reads and draws rows 1 to 4 alone, as for the right count.
TEST(EfficiencyGraphs, RowsStopAtTheRowsMeasured) {
    for (int32_t regression : {0, 1}) {
        kt::ClearStore();
        graph_view.regression = regression;
        results.tested_num_processors = 4;
        results.last_test_mode = 1;
        for (int row = 1; row <= 10; ++row) results.TotalCPU[row] = row <= 4 ? 100 * row : 99999;
        results.total_scaling_runs = ScalingSteps(4, 1);
        const std::string measured = ScalingList(1, 800);
        results.total_scaling_runs = 9;
        EXPECT_EQ(ScalingList(1, 800), measured) << regression;
        EXPECT_EQ(graphs::ScalingRowCounts(results), (std::vector<int>{1, 2, 3, 4}));
    }
}

}  // namespace

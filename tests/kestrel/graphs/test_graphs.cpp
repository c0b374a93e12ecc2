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

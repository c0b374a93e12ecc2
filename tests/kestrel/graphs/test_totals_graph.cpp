// The totals graph's display lists against golden lists (tests/kestrel/graphs/golden): the
// baseline against empty scores, a scaling run with its OS pass beside the fastest machine on the
// screen and on a printer, and scores at 10^4 times the reference; its vertical scale, the font
// rule, the legend and the reference machines.
#include <gtest/gtest.h>

#include <QDir>
#include <climits>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "kestrel/engine/disk/disk_test.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/graphs/totals_graph.h"
#include "shared/reference_data.h"
#include "tests/kestrel/graphs/graph_fixtures.h"

namespace {

using graphs::GraphDc;
using kt::FixedMeasure;

void ExpectGolden(const std::string& name, const std::string& actual) {
    std::ifstream in(std::string(GOLDEN_DIR) + "/" + name);
    const std::string expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (expected == actual) return;
    QDir().mkpath(QStringLiteral(ACTUAL_DIR));
    const std::string written = std::string(ACTUAL_DIR) + "/" + name;
    std::ofstream(written) << actual;
    std::istringstream e(expected), a(actual);
    std::string le, la;
    int n = 1;
    while (std::getline(e, le) && std::getline(a, la) && le == la) ++n;
    ADD_FAILURE() << name << " differs at line " << n << ": expected \"" << le << "\", drawn \"" << la
                  << "\"; the list drawn is in " << written;
}

GraphDc Drawn(int screen, int horzres = 800, GraphDc::Measure measure = FixedMeasure) {
    GraphDc dc(horzres, std::move(measure));
    DrawGraph(nullptr, dc, QRect(0, 0, 800, 600), results.scaling_efficiency_showing, screen);
    EXPECT_EQ(dc.Pen(), gdi::Pen());
    EXPECT_EQ(dc.Brush(), gdi::Brush());
    EXPECT_EQ(dc.Font(), LogFont());
    return dc;
}

// A stepwise scaling run of four processors with its OS pass; the drive tested is the second
// menu drive, a network one.
void ScalingRun() {
    kt::ClearStore();
    results.scaling_efficiency_showing = 1;
    results.temp_os_checked = 1;
    results.scale_value = 4;
    results.TotalCPU[1] = 90;
    results.TotalCPU[4] = 250;
    results.TotalCPU_OS[4] = 240;
    results.TotalMemory = 120;
    results.TotalDisk[0] = 80;
    results.TotalVideo = 60;
    graph_view.results_selection = 9;
    globaldrives = 2;
    drivemenu = DriveMenu{};
    drivemenu.DRIVECHOSEN[1] = 1;
    drivemenu.network_drive[1] = 1;
    drivemenu.globaldrivechar[1] = "/mnt/";
}

// The user's own bars (magenta on the screen, black on a printer): their top edges.
std::vector<int> OwnBarTops(const GraphDc& dc, QRgb colour) {
    std::vector<int> tops;
    for (const graphs::GraphOp& op : dc.Ops()) {
        if (op.kind == graphs::GraphOp::kFill && op.brush.colour == colour && op.to.x() - op.from.x() > 10) {
            tops.push_back(op.from.y());
        }
    }
    return tops;
}

TEST(TotalsGraph, GoldenLists) {
    kt::ClearStore();
    ExpectGolden("totals-baseline-empty.txt", Drawn(1).Listing());
    ScalingRun();
    ExpectGolden("totals-scaling-os.txt", Drawn(1).Listing());
    ScalingRun();
    ExpectGolden("totals-scaling-os-printer6.txt", Drawn(0, 4800).Listing());
    EXPECT_EQ(graph_view.printscale, 6.0f);
    globaldrives = 0;
    drivemenu = DriveMenu{};
}

// The Part's integer scale while a step is at least a unit high; the exact height beyond.
TEST(TotalsGraph, VerticalScale) {
    struct Case {
        int64_t largest;
        int64_t top, steps, every;
        double unit;
    } cases[] = {
        {0, 110, 11, 1, 43},        // 480 / 11 truncated
        {100, 110, 11, 1, 43},
        {290, 300, 30, 3, 16},      // 31 marks: every third
        {291, 301, 30, 3, 16},
        {4790, 4800, 480, 48, 1},
        {4791, 4801, 480, 48, 1},
        {4800, 4810, 481, 48, 480.0 / 481},
        {1000000, 1000010, 100001, 10000, 480.0 / 100001},
        {INT32_MAX, int64_t(INT32_MAX) + 10, (int64_t(INT32_MAX) + 10) / 10, (int64_t(INT32_MAX) + 10) / 100,
         480.0 / double((int64_t(INT32_MAX) + 10) / 10)},
    };
    for (const Case& c : cases) {
        const graphs::TotalsScale s = graphs::TotalsScaleFor(c.largest, 20);
        EXPECT_EQ(s.top, c.top) << c.largest;
        EXPECT_EQ(s.steps, c.steps) << c.largest;
        EXPECT_EQ(s.every, c.every) << c.largest;
        EXPECT_DOUBLE_EQ(s.unit, c.unit) << c.largest;
    }
}

TEST(TotalsGraph, RemadeFontWidth) {
    const struct {
        int extent, wanted, width;
    } cases[] = {{51, 15, 10}, {52, 15, 10}, {53, 15, 10}, {55, 15, 10}, {56, 9, 9},   {56, 43, 42},
                 {58, 9, 9},   {58, 15, 14}, {61, 9, 7},   {90, 6, 6},   {90, 15, 7}};
    for (const auto& c : cases) {
        EXPECT_EQ(graphs::RemadeFontWidth(c.extent, c.wanted, std::min(10, c.wanted)), c.width) << c.extent;
    }
}

// "012345" measuring 52..55 gives the remake rule no width: the font keeps its own.
TEST(TotalsGraph, FontRemakeWithNoWidthToGive) {
    for (int extent : {52, 53, 54, 55}) {
        kt::ClearStore();
        const GraphDc dc = Drawn(1, 800, [extent](const LogFont& lf, std::string_view t) {
            return t == "012345" ? QSize(extent, lf.Height) : FixedMeasure(lf, t);
        });
        std::vector<int> widths;
        for (const graphs::GraphOp& op : dc.Ops()) {
            if (op.kind == graphs::GraphOp::kFont && op.font.Height != 0) widths.push_back(op.font.Width);
        }
        ASSERT_EQ(widths.size(), 2u) << extent;  // made, then made again
        EXPECT_EQ(widths[0], 10) << extent;
        EXPECT_EQ(widths[1], 10) << extent;
    }
}

// At today's scores (10^4 times the reference, and beyond) every bar still has a height, rising
// with its value, and no coordinate runs away.
TEST(TotalsGraph, ScoresTenThousandTimesTheReference) {
    kt::ClearStore();
    results.scale_value = 1;
    results.TotalCPU[1] = 1000000;
    results.TotalMemory = 145800;
    results.TotalDisk[0] = 18000;
    results.TotalVideo = 500000;
    GraphDc dc = Drawn(1);
    ExpectGolden("totals-10000x.txt", dc.Listing());
    std::vector<int> tops = OwnBarTops(dc, graphs::kMagenta);
    ASSERT_EQ(tops.size(), 4u);
    EXPECT_EQ(tops[0], 20);      // the largest fills the frame
    EXPECT_LT(tops[3], tops[1]);
    EXPECT_LT(tops[1], tops[2]);
    EXPECT_LT(tops[2], 499);     // 18000 marks: 480 x 18000 / 1000010 = 8 units
    // Saturated values: the bars stay within the frame.
    results.TotalCPU[1] = INT32_MAX;
    results.TotalMemory = INT32_MAX;
    dc = Drawn(1);
    tops = OwnBarTops(dc, graphs::kMagenta);
    ASSERT_EQ(tops.size(), 4u);
    EXPECT_EQ(tops[0], 20);
    EXPECT_EQ(tops[1], 20);
    for (const graphs::GraphOp& op : dc.Ops()) {
        EXPECT_GE(op.from.y(), -40);
        EXPECT_LE(op.from.y(), 600);
    }
}

// The left axis labels stay on the page up to marks of 10^7: narrowed to fit, they end where the
// formula's end.
TEST(TotalsGraph, AxisLabelsStayOnThePage) {
    for (int32_t v : {1000, 100000, 1000000, 9999990}) {
        kt::ClearStore();
        results.scale_value = 1;
        results.TotalCPU[1] = v;
        const GraphDc dc = Drawn(1);
        LogFont font;
        int labels = 0;
        for (const graphs::GraphOp& op : dc.Ops()) {
            if (op.kind == graphs::GraphOp::kFont) font = op.font;
            if (op.kind != graphs::GraphOp::kText || op.from.x() >= 50) continue;
            ++labels;
            EXPECT_GE(op.from.x(), 0) << v << " " << op.text;
            EXPECT_LE(op.from.x() + int(op.text.size()) * font.Width, 36) << v << " " << op.text;
        }
        EXPECT_GE(labels, 11) << v;
    }
}

TEST(ReferenceMachines, ListLegendAndTables) {
    EXPECT_EQ(std::string(reference::scores[0]), "Machine Model/Make");
    EXPECT_EQ(std::string(reference::scores[1]), std::string(68, '-'));
    EXPECT_EQ(std::string(reference::scores[4]), "Motorola PowerStack-133  (PPC Risc system)");
    EXPECT_EQ(reference::scorevalues[0][0], 100);
    EXPECT_EQ(reference::scorevalues[9][3], 198);
    EXPECT_EQ(graphs::ComparisonLegend(0), "Micron P100 PowerStation ");
    EXPECT_EQ(graphs::ComparisonLegend(3), "Tyan Titan II (P100-Win95");  // 26 characters
    using reference::Family;
    const struct {
        int row;
        int32_t block;
        bool win95;
        reference::SpecificTable table;
    } cases[] = {
        {2, 4096, true, {Family::BaselineWin95, 4}}, {2, 3000, true, {Family::BaselineWin95, 1}},
        {2, 16384, false, {Family::Baseline, 6}},    {3, 512, false, {Family::Dual, 1}},
        {3, 2048, true, {Family::Dual, 3}},          {4, 4096, false, {Family::Single, 13}},
        {5, 4096, false, {Family::SingleWin95, 7}},  {6, 0, false, {Family::SingleWin95, 8}},
        {11, 0, false, {Family::Single, 18}},        {0, 4096, false, {}},
        {1, 4096, false, {}},                        {-1, 4096, false, {}},
        {12, 4096, false, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(reference::SpecificTableFor(c.row, c.block, c.win95), c.table) << c.row;
}

}  // namespace

// The fractal test: the Mandelbrot arithmetic and the drawing of a view's rows, the pen tables,
// the line art's bouncing and slot counter, and the whole test run headless as the sequencer runs
// it (and failing cleanly when no pen table can be made).
#include <gtest/gtest.h>

#include <QImage>

#include <cmath>
#include <vector>

#include "lumen/figure_tests.h"
#include "lumen/fractal_test.h"
#include "lumen/video_tests.h"
#include "platform/msgbox.h"
#include "platform/ui_thread.h"
#include "platform/workers.h"
#include "shared/helpers.h"
#include "tests/support/qt_test_main.h"

namespace lumen {
namespace {

TEST(Fractal, EscapeCountsOfKnownPoints) {
    struct Case {
        double cr, ci;
        int m;
    };
    // By hand: c = 2 leaves at once (z1 = 6); c = 1: z = 2 (|z|^2 = 4, not outside), then 5;
    // c = 0.5: 0.75, 1.0625, 1.6289, 3.1533; c = -2 stays on the circle (4 is not > 4); 0, -1
    // and i are periodic.
    const Case cases[] = {{2.0, 0.0, 1},   {1.0, 0.0, 2},  {0.5, 0.0, 4},   {-2.0, 0.0, 301},
                          {0.0, 0.0, 301}, {-1.0, 0.0, 301}, {0.0, 1.0, 301}, {0.0, 2.0, 1}};
    for (const Case& c : cases) EXPECT_EQ(EscapeCount(c.cr, c.ci, 300), c.m) << c.cr << "+" << c.ci << "i";
    EXPECT_EQ(EscapeCount(0.0, 0.0, 7), 8);

    const std::vector<gdi::Pen> pens = MakePenTable(PenDisplay{}, 1);
    ASSERT_EQ(pens.size(), 768u);
    EXPECT_EQ(PenOf(1, 300, pens), pens[0]);
    EXPECT_EQ(PenOf(2, 300, pens), pens[2]);
    EXPECT_EQ(PenOf(299, 300, pens), pens[299]);
    EXPECT_EQ(PenOf(300, 300, pens).colour, gdi::RGB(0, 0, 0));
    EXPECT_EQ(PenOf(301, 300, pens).colour, gdi::RGB(0, 0, 0));
    const std::vector<gdi::Pen> few(5, gdi::CreatePen(gdi::PS_SOLID, 1, 0xFF123456u));
    EXPECT_EQ(PenOf(7, 300, few), few[2]);

    _PerWndInfo v;
    bInitInfo(&v);
    EXPECT_EQ(ColumnValue(v, 0, 300), -2.0);
    EXPECT_EQ(ColumnValue(v, 300, 300), 1.0);
    EXPECT_EQ(ColumnValue(v, 150, 300), -0.5);  // a floating-point division
    EXPECT_EQ(RowValue(v, 0, 200), 1.5);
    EXPECT_EQ(RowValue(v, 100, 200), 0.0);
    EXPECT_TRUE(std::isnan(ColumnValue(v, 0, 0)));  // an empty window values NaN, no fault
    EXPECT_EQ(EscapeCount(NAN, 0.0, 300), 301);
}

// Every second row is drawn, every pixel of it (columns 0..W) in the pen of its own value; the
// rows between stay untouched.
TEST(Fractal, ViewRowsPaintEveryPixelInThePenOfItsValue) {
    for (int view = 0; view < 4; ++view) {
        _PerWndInfo v;
        bInitInfo(&v);
        v.xFrom = kViews[view].xFrom;
        v.xTo = kViews[view].xTo;
        v.yFrom = kViews[view].yFrom;
        v.yTo = kViews[view].yTo;
        v.prghPen = MakePenTable(PenDisplay{}, 1);
        const int W = 61, H = 40;
        QImage image(W + 1, H + 1, QImage::Format_RGB32);
        image.fill(0xFF010203u);
        long points = 0;
        int calls = 0;
        {
            gdi::GdiDc dc(&image);
            points = DrawViewRows(v, W, H, [&](const std::function<void(gdi::GdiDc&)>& fn) {
                ++calls;
                fn(dc);
            });
        }
        EXPECT_EQ(points, long(W + 1) * (H / 2 + 1));
        EXPECT_GT(calls, 3 * (H / 2 + 1));
        for (int y = 0; y <= H; ++y) {
            for (int x = 0; x <= W; ++x) {
                const QRgb want = y % 2 == 0
                                      ? PenOf(EscapeCount(ColumnValue(v, x, W), RowValue(v, y, H), 300), 300, v.prghPen).colour
                                      : 0xFF010203u;
                ASSERT_EQ(image.pixel(x, y), want | 0xFF000000u) << "view " << view << " at " << x << "," << y;
            }
        }
    }
}

TEST(Fractal, PenTablesOfEachKindOfDisplay) {
    colorcount = 3;
    // This system's display: no palette, no system entries, 24 bits: 768 pens.
    const std::vector<gdi::Pen> pens = MakePenTable(PenDisplay{}, 1);
    ASSERT_EQ(pens.size(), 768u);
    EXPECT_EQ(pens[0].colour, gdi::RGB(255, 255, 0));
    EXPECT_EQ(pens[63].colour, gdi::RGB(255, 192, 126));
    EXPECT_EQ(pens[64].colour, gdi::RGB(255, 191, 64));
    EXPECT_EQ(pens[150].colour, gdi::RGB(170, 105, 150));
    EXPECT_EQ(pens[255].colour, gdi::RGB(127, 0, 255));
    for (int i = 256; i < 512; ++i) ASSERT_EQ(pens[size_t(i)].colour, colorpoint[3]);
    // The last third walks the colours, the index wrapping from 7 to 0 (entries 8 and 9 unused).
    EXPECT_EQ(pens[512].colour, colorpoint[4]);
    EXPECT_EQ(pens[515].colour, colorpoint[7]);
    EXPECT_EQ(pens[516].colour, colorpoint[0]);
    EXPECT_EQ(colorcount.load(), 3);  // 256 steps of 8
    EXPECT_EQ(PenCount(PenDisplay{}), 768);

    // A palette display with 20 reserved entries: 236 pens, every third a table colour.
    colorcount = 0;
    const PenDisplay palette{true, 8, 0, 20};
    EXPECT_EQ(PenCount(palette), 236);
    const std::vector<gdi::Pen> ramp = MakePenTable(palette, 1);
    ASSERT_EQ(ramp.size(), 236u);
    EXPECT_EQ(ramp[0].colour, colorpoint[1]);
    EXPECT_EQ(ramp[1].colour, RampColour(1, 236));
    EXPECT_EQ(ramp[3].colour, colorpoint[4]);
    EXPECT_EQ(RampColour(0, 236), gdi::RGB(3, 0, -465 & 0xFF));
    EXPECT_EQ(RampColour(78, 236), gdi::RGB(252, 3, (255 - 237) & 0xFF));
    EXPECT_EQ(RampColour(200, 236), gdi::RGB(100, (255 - 3 * 45) & 0xFF, 100));

    // No pens can be made on a 16-colour palette display with 20 reserved entries.
    EXPECT_EQ(PenCount(PenDisplay{true, 4, 0, 20}), -4);
    EXPECT_TRUE(MakePenTable(PenDisplay{true, 4, 0, 20}, 1).empty());
    // A 16-colour display without a palette gets its 16 pens; system entries give one each.
    EXPECT_EQ(MakePenTable(PenDisplay{false, 4, 0, 0}, 1).size(), 16u);
    EXPECT_EQ(MakePenTable(PenDisplay{false, 8, 20, 0}, 1).size(), 20u);
    {
        kp::BoxRecorder boxes;
        EXPECT_TRUE(MakePenTable(PenDisplay{false, 8, 20, 0}, -1).empty());
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, "Unable to Focus the Pen!");
    }
}

TEST(Fractal, LineArtBouncesAndCountsItsSlots) {
    const int w = 2;
    TList(1000, w);
    ScaleTo(100, 60, w);
    LineArt& a = line_art[w];
    EXPECT_EQ(a.X1, 50);
    EXPECT_EQ(a.Y2, 30);
    EXPECT_EQ(a.Line[999].LX2, 50);
    const ArtCall none = [](const std::function<void(gdi::GdiDc&)>&) {};
    // The slot counter runs 0..999, then 1..999: slot 0 keeps its first line.
    std::vector<int> seen;
    for (int i = 0; i < 2000; ++i) {
        seen.push_back(a.CurrentLine);
        LineTick(none, w);
        ASSERT_GE(a.X1, 1);
        ASSERT_LE(a.X1, 100);
        ASSERT_GE(a.Y2, 1);
        ASSERT_LE(a.Y2, 60);
    }
    EXPECT_EQ(seen[0], 0);
    EXPECT_EQ(seen[999], 999);
    EXPECT_EQ(seen[1000], 1);
    EXPECT_EQ(seen[1998], 999);
    EXPECT_EQ(seen[1999], 1);
    // A step that would leave 1..max reverses the delta instead.
    int x = 98, dx = 4;
    AdjustX(&x, &dx, w);
    EXPECT_EQ(x, 98);
    EXPECT_EQ(dx, -4);
    AdjustX(&x, &dx, w);
    EXPECT_EQ(x, 94);
    int y = 2, dy = -2;
    AdjustY(&y, &dy, w);
    EXPECT_EQ(y, 2);
    EXPECT_EQ(dy, 2);
    // The four mirrored lines.
    QPoint p[8];
    QuadLines(TLineRec{10, 5, 30, 20, 0}, 100, 60, p);
    EXPECT_EQ(p[2], QPoint(90, 5));
    EXPECT_EQ(p[5], QPoint(30, 40));
    EXPECT_EQ(p[7], QPoint(70, 40));
    // A new size rescales every stored line (multiplication first).
    a.Line[7] = TLineRec{33, 21, 99, 59, 0};
    ScaleTo(50, 120, w);
    EXPECT_EQ(a.Line[7].LX1, 16);
    EXPECT_EQ(a.Line[7].LY2, 118);
    EXPECT_EQ(a.Xmax, 50);
}

TEST(FractalRun, RunsBothHalvesHeadless) {
    VideoTestSettings s;
    s.processors = 2;
    const VideoTestOutcome out = RunVideoTestForTest("FractalTestDraw", s);
    ASSERT_TRUE(out.finished_in_time);
    EXPECT_GT(out.ms, 0.0);
    for (Window* c : hwndChild) EXPECT_EQ(c, nullptr);  // both halves removed their windows
    for (int w = 0; w < 4; ++w) {
        // Each line-art window ran its 15 passes of 501 ticks.
        EXPECT_EQ(line_art[w].CurrentLine, (15 * 501 - 1000) % 999 + 1) << w;
    }
}

std::vector<int> g_bound;  // the processor of every binding, in order (made on the sequencer)
bool RecordBinding(kp::Worker* worker, int n) {
    g_bound.push_back(n);
    return kp::BindWorker(worker, n);
}

// Three runs of each half; the line-art threads of all three runs are dealt over the processors
// with one count (with 3 processors: 1 2 3 1, 2 3 1 2, 3 1 2 3), as the view threads are.
TEST(FractalRun, RepeatedRunsOfBothHalves) {
    VideoTestSettings s;
    s.repeat = 1;
    s.processors = 3;
    int ends = 0;
    s.at_end = [&] { ++ends; };
    g_bound.clear();
    SetAffinitySetter(&RecordBinding);
    const VideoTestOutcome out = RunVideoTestForTest("FractalTestDraw", s);
    SetAffinitySetter(nullptr);
    ASSERT_TRUE(out.finished_in_time);
    EXPECT_GT(out.ms, 0.0);
    EXPECT_EQ(ends, 2);  // once per half, after its three runs
    for (Window* c : hwndChild) EXPECT_EQ(c, nullptr);
    // 12 view threads, then 12 line-art threads; the line-art count starts at 1.
    ASSERT_EQ(g_bound.size(), 24u);
    const int n = ProcessorCount();  // 3, or fewer on a smaller machine
    for (size_t i = 0; i < 12; ++i) {
        if (i > 0) {
            EXPECT_EQ(g_bound[i], g_bound[i - 1] % n + 1) << "view thread " << i;
        }
        EXPECT_EQ(g_bound[12 + i], int(i) % n + 1) << "line-art thread " << i;
    }
}

// A display on which no pen table can be made: the views end without drawing and the test fails
// with the failure value (not a fault).
TEST(FractalRun, NoPenTableFailsTheTestCleanly) {
    kp::BoxRecorder boxes;
    fractal_display = PenDisplay{true, 4, 0, 20};
    VideoTestSettings s;
    s.deadline_ms = 60000;
    const VideoTestOutcome out = RunVideoTestForTest("FractalTestDraw", s);
    fractal_display = PenDisplay{};
    kp::RunDeferredUiActions();  // the boxes the view threads asked for
    EXPECT_TRUE(out.finished_in_time);
    EXPECT_EQ(out.ms, -1.0);
    for (Window* c : hwndChild) EXPECT_EQ(c, nullptr);
    ASSERT_FALSE(boxes.boxes().empty());
    EXPECT_EQ(boxes.boxes()[0].text, "Pen Service Error!");
}

}  // namespace
}  // namespace lumen

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }

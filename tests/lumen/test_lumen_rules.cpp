// The video tests' rules as plain functions: the three-run choice, the generator, the figure and
// line/arc counters, stop rules and batch geometry, the command line, and the fatal binding.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <thread>
#include <vector>

#include "lumen/draw_rules.h"
#include "lumen/figure_tests.h"
#include "lumen/frame.h"
#include "lumen/generator.h"
#include "lumen/lumen_state.h"
#include "lumen/timing.h"
#include "lumen/video_tests.h"
#include "lumen/windows.h"
#include "platform/msgbox.h"
#include "platform/processors.h"
#include "shared/helpers.h"

namespace lumen {
namespace {

TEST(LumenTiming, ThreeRunsChooseByStrictComparisons) {
    struct Case {
        double a, b, c;
        double chosen;
    };
    const Case cases[] = {
        {150, 120, 180, 150},  // run1 between the others
        {120, 150, 180, 150},  // run2 between
        {120, 180, 150, 150},  // run3 between
        {120, 120, 180, 180},  // a tie takes run3, even when it is the largest
        {180, 120, 120, 120},
        {100, 100, 100, 100},
        {300, 200, 100, 200},
    };
    for (const Case& c : cases) {
        const double runs[3] = {c.a, c.b, c.c};
        int calls = 0;
        const TimedRuns t = RunTimed(1, [&](int run) {
            EXPECT_EQ(run, calls++);
            return runs[run];
        });
        EXPECT_EQ(calls, 3);
        EXPECT_EQ(t.ms, c.chosen) << c.a << " " << c.b << " " << c.c;
        EXPECT_EQ(runs[t.run], c.chosen);
    }
    int calls = 0;
    EXPECT_EQ(RunTimed(0, [&](int) { return 42.0 + calls++; }).ms, 42.0);
    EXPECT_EQ(calls, 1);
    // A failed run ends the series with its value.
    calls = 0;
    const TimedRuns failed = RunTimed(1, [&](int run) {
        ++calls;
        return run == 1 ? -1.0 : 10.0;
    });
    EXPECT_EQ(failed.ms, -1.0);
    EXPECT_EQ(calls, 2);
}

TEST(LumenTiming, ACounterFailureShowsTheTimerBoxAndFails) {
    kp::BoxRecorder boxes;
    use_high_precision = 1;
    Stopwatch watch;
    FailNextCounterReads(1);
    EXPECT_FALSE(watch.Start());
    EXPECT_EQ(watch.Stop(), -1.0);
    ASSERT_TRUE(watch.Start());
    FailNextCounterReads(1);
    EXPECT_EQ(watch.Stop(), -1.0);
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0].text, "Error retrieving high frequency timer counts");
    EXPECT_EQ(boxes.boxes()[0].caption, "VideoKestrel Timer Exception");
    EXPECT_EQ(boxes.boxes()[0].icon, kp::Icon::Stop);
    // The millisecond clock: whole milliseconds, never negative.
    use_high_precision = 0;
    ASSERT_TRUE(watch.Start());
    const double ms = watch.Stop();
    EXPECT_GE(ms, 0.0);
    EXPECT_EQ(ms, std::floor(ms));
    use_high_precision = 1;
}

TEST(LumenGenerator, SequenceFromSeedZero) {
    // seed := seed x 22695477 + 1, value = bits 16..30: 1 -> 0, 22695478 -> 346, ...
    Generator g;
    std::vector<int> values;
    for (int i = 0; i < 6; ++i) values.push_back(g.Next());
    EXPECT_EQ(values, (std::vector<int>{0, 346, 130, 10982, 1090, 11656}));
    Generator h{5};
    EXPECT_EQ(h.Next(), 1731);
    EXPECT_EQ(h.Next(), 32036);
}

TEST(LumenGenerator, EveryDrawingCallTakesASeedOfItsOwn) {
    iRandSeed = 0;
    constexpr int kThreads = 8;
    constexpr int kCalls = 20000;
    std::vector<std::vector<uint32_t>> seeds(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&seeds, t] {
            for (int k = 0; k < kCalls; ++k) {
                SeedThreadGenerator();
                seeds[size_t(t)].push_back(ThreadGenerator().seed);
            }
        });
    }
    for (auto& th : threads) th.join();
    std::set<uint32_t> all;
    for (const auto& s : seeds) all.insert(s.begin(), s.end());
    EXPECT_EQ(all.size(), size_t(kThreads * kCalls));
    EXPECT_EQ(iRandSeed.load(), uint32_t(kThreads * kCalls));
    iRandSeed = 0;
}

TEST(LumenFigures, GroupBoxAndColourDraws) {
    // Seed 0 draws 0, 346, 130, 10982, 1090.
    Generator g;
    const FigureGroup even = MakeFigureGroup(g, 200, 100, 0);
    EXPECT_EQ(even.x1, 0 % 100);
    EXPECT_EQ(even.y1, 346 % 50);
    EXPECT_EQ(even.x2, even.x1 + 100);
    EXPECT_EQ(even.y2, even.y1 + 50);
    EXPECT_EQ(even.r, 130 & 255);
    EXPECT_EQ(even.g, 10982 & 255);
    EXPECT_EQ(even.b, 1090 & 255);
    Generator h;
    const FigureGroup odd = MakeFigureGroup(h, 200, 100, 3);
    EXPECT_EQ(odd.x2, odd.x1 + 50);
    EXPECT_EQ(odd.y2, odd.y1 + 25);
}

TEST(LumenFigures, StopRuleFollowsThePhase) {
    struct Case {
        int counts[4];
        int round;
        bool stop;
    };
    const Case cases[] = {
        {{600, 600, 600, 600}, 1, true},   {{600, 600, 600, 597}, 1, false},
        {{900, 600, 603, 600}, 1, true},   {{900, 600, 603, 600}, 0, false},
        {{1200, 1200, 1200, 1200}, 0, true}, {{1200, 1203, 1200, 1197}, 0, false},
        {{1200, 1200, 1200, 1200}, 1, true}, {{0, 0, 0, 0}, 1, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FigureStopRule(c.counts, c.round), c.stop)
            << c.counts[0] << " " << c.counts[1] << " " << c.counts[2] << " " << c.counts[3] << " round " << c.round;
    }
}

TEST(LumenFigures, StoredCountsTruncate) {
    const int a[4] = {4803, 4800, 4800, 4800};  // 19203 / 4 = 4800.75
    EXPECT_EQ(AverageOfFour(a), 4800);
    const int b[4] = {2205, 2206, 2207, 2207};  // 8825 / 4 = 2206.25
    EXPECT_EQ(AverageOfFour(b), 2206);
    const int big[4] = {2000000000, 2000000000, 2000000000, 2000000000};
    EXPECT_EQ(AverageOfFour(big), 2000000000);
    EXPECT_EQ(NumPointsOf(1234.9), 6170);
    EXPECT_EQ(NumPointsOf(1e12), 2147483647);
}

TEST(LumenCurves, KindSequenceAndCounterSteps) {
    Generator g;
    BezierChain chain;
    const Rect window{0, 0, 1024, 768};
    CurveBatch batch;
    int c = 0;
    std::vector<int> kinds;
    std::vector<int> counters;
    for (int k = 0; k < 8; ++k) {
        MakeCurveBatch(c, g, chain, window, crectfull, &batch);
        kinds.push_back(batch.kind);
        c = batch.count_after;
        counters.push_back(c);
    }
    // 0 -> kind 0 (+6) -> 6: kind 2 (+1) -> 7: kind 3 (+5) -> 12: kind 0 -> 18: kind 2 -> 19:
    // kind 3 -> 24: kind 0 -> 30: kind 2 -> 31.
    EXPECT_EQ(kinds, (std::vector<int>{0, 2, 3, 0, 2, 3, 0, 2}));
    EXPECT_EQ(counters, (std::vector<int>{6, 7, 12, 18, 19, 24, 30, 31}));
    MakeCurveBatch(1, g, chain, window, crectfull, &batch);
    EXPECT_EQ(batch.kind, 1);
    EXPECT_EQ(batch.count_after, 18);
    const int stop_at[4] = {550, 550, 550, 550};
    const int below[4] = {550, 550, 550, 549};
    EXPECT_TRUE(CurveStopRule(stop_at));
    EXPECT_FALSE(CurveStopRule(below));
}

TEST(LumenCurves, BezierChainBatch) {
    Generator g;
    BezierChain chain;  // starts at (0,0), step 50
    CurveBatch b;
    MakeCurveBatch(0, g, chain, Rect{0, 0, 1024, 768}, crectfull, &b);
    ASSERT_EQ(b.nops, 12);
    ASSERT_EQ(b.ops[0].type, CurveOp::kPolyBezier);
    ASSERT_EQ(b.ops[1].type, CurveOp::kPolyBezierTo);
    const std::vector<Pt> first(b.points.begin(), b.points.begin() + 8);
    EXPECT_EQ(first, (std::vector<Pt>{{0, 0}, {50, 50}, {100, 0}, {150, 50},
                                      {150, 50}, {200, 0}, {250, 50}, {300, 0}}));
    // The second pass starts where the first ended.
    EXPECT_EQ(b.points[8], (Pt{150, 50}));
    EXPECT_EQ(b.points[11], (Pt{300, 100}));
    EXPECT_NEAR(b.length, 6 * 3.0 * std::sqrt(2.0 * 50 * 50), 1e-9);
    EXPECT_EQ(chain.pt2[0], (Pt{900, 300}));  // 150 right and 50 down per pass
    // Past the right edge the chain turns back (step -50 - factor) and its next start x becomes 0;
    // past the left edge it turns forward again (factor + 50).
    BezierChain edge;
    edge.pt2[0] = {1000, 10};
    MakeCurveBatch(4, g, edge, Rect{0, 0, 1024, 768}, crectfull, &b);
    EXPECT_EQ(b.points[0], (Pt{1000, 10}));
    EXPECT_EQ(b.points[3], (Pt{1150, 60}));
    EXPECT_EQ(b.points[8], (Pt{0, 60}));
    EXPECT_EQ(b.points[9], (Pt{-50, 10}));
    EXPECT_EQ(b.points[16], (Pt{-150, 10}));
    EXPECT_EQ(b.points[17], (Pt{-100, 60}));
    // Below the bottom: the chain's y restarts at the counter and the bounce offset is 19 c.
    BezierChain low;
    low.pt2[0] = {10, 760};
    MakeCurveBatch(8, g, low, Rect{0, 0, 1024, 768}, crectfull, &b);
    EXPECT_EQ(b.points[8], (Pt{160, 8}));
    EXPECT_EQ(low.factor, 19 * 8);
}

TEST(LumenCurves, LinesAndOctagonBatch) {
    Generator g;  // seed 0: 0, 346, 130, 10982, 1090, 11656, ...
    BezierChain chain;
    CurveBatch b;
    const int c = 1;
    MakeCurveBatch(c, g, chain, Rect{0, 0, 1024, 768}, crectfull, &b);
    EXPECT_EQ(b.r, 0);
    EXPECT_EQ(b.g, 346 % 255);
    EXPECT_EQ(b.b, 130 % 255);
    ASSERT_EQ(b.nops, 36 + 3);
    // j = 0: from (rand mod 10, 768 - 3c) to (c + 610, c); from (c, rand mod 768) to (c + 300, c + 470);
    // from (974 - c, 3c + 200) to (c + 50, 10 + c).
    EXPECT_EQ(b.ops[0].a[0], 10982 % 10);
    EXPECT_EQ(b.ops[0].a[1], 765);
    EXPECT_EQ(b.ops[1].a[0], 611);
    EXPECT_EQ(b.ops[1].a[1], 1);
    EXPECT_EQ(b.ops[2].a[0], 1);
    EXPECT_EQ(b.ops[2].a[1], 1090 % 768);
    EXPECT_EQ(b.ops[5].a[0], 51);
    EXPECT_EQ(b.ops[5].a[1], 11);
    // j = 20: the third line ends at (c + 50, 30 x 21 + c).
    EXPECT_EQ(b.ops[35].a[1], 631);
    const CurveOp& move = b.ops[36];
    EXPECT_EQ(move.type, CurveOp::kMoveTo);
    EXPECT_GE(move.a[0], 300);
    EXPECT_LT(move.a[0], 500);
    EXPECT_GE(move.a[1], 200);
    EXPECT_LT(move.a[1], 400);
    EXPECT_EQ(b.ops[37].type, CurveOp::kPolyDrawLineTo);
    EXPECT_EQ(b.ops[38].type, CurveOp::kPolygon);
    const std::vector<Pt> octagon(b.points.begin(), b.points.begin() + 8);
    EXPECT_EQ(octagon, (std::vector<Pt>{{378, 353}, {550, 301}, {351, 475}, {301, 303},
                                        {475, 351}, {303, 403}, {353, 525}, {403, 403}}));
    double edges = 0.0;
    for (int k = 1; k < 8; ++k) edges += std::hypot(octagon[k].x - octagon[k - 1].x, octagon[k].y - octagon[k - 1].y);
    double lines = 0.0;
    for (int k = 0; k < 36; k += 2) {
        lines += std::hypot(b.ops[k + 1].a[0] - b.ops[k].a[0], b.ops[k + 1].a[1] - b.ops[k].a[1]);
    }
    EXPECT_NEAR(b.length, lines + 2.0 * edges, 1e-6);
}

TEST(LumenCurves, CentredRectangleBatch) {
    Generator g;
    BezierChain chain;
    CurveBatch b;
    MakeCurveBatch(6, g, chain, Rect{0, 0, 800, 600}, crectlaptop, &b);  // 6 is below 800/4 and 600/4
    ASSERT_EQ(b.nops, 1);
    EXPECT_EQ(b.ops[0].type, CurveOp::kRectangle);
    EXPECT_EQ((std::vector<int>(b.ops[0].a.begin(), b.ops[0].a.begin() + 4)), (std::vector<int>{397, 297, 403, 303}));
    EXPECT_NEAR(b.length, std::sqrt(72.0), 1e-9);
    MakeCurveBatch(250, g, chain, Rect{0, 0, 800, 600}, crectlaptop, &b);  // 250 > 200 and > 150
    EXPECT_EQ((std::vector<int>(b.ops[0].a.begin(), b.ops[0].a.begin() + 4)), (std::vector<int>{275, 175, 675, 475}));
    EXPECT_EQ(b.count_after, 251);
}

TEST(LumenCurves, ArcsAndPolylinesBatch) {
    Generator g;
    BezierChain chain;
    CurveBatch b;
    const int c = 3;  // T(3) = table[1][3] = 100
    MakeCurveBatch(c, g, chain, Rect{0, 0, 1024, 768}, crectfull, &b);
    ASSERT_EQ(b.nops, 6);
    EXPECT_EQ(b.ops[0].type, CurveOp::kArc);
    EXPECT_EQ(b.ops[0].a, (std::array<int, 8>{100, 100, 46, 44, 200, 200, 200, 200}));
    EXPECT_EQ(b.points[0], (Pt{91, 42}));    // T(0) + 0 - 9, T2(0) + 0 + 12
    EXPECT_EQ(b.points[1], (Pt{366, 122}));  // T(1) = 360 + 15 - 9, T2(1) = 100 + 10 + 12
    EXPECT_EQ(b.points[47], (Pt{table[1][2] + 705 - 9, table2[1][2] + 470 + 12}));
    EXPECT_EQ(b.points[48], (Pt{0, 0}));
    EXPECT_EQ(b.points[49], (Pt{0, 0}));
    EXPECT_EQ(b.ops[1].type, CurveOp::kPolyline);
    EXPECT_EQ(b.ops[1].n, 50);
    EXPECT_EQ(b.ops[2].type, CurveOp::kPolyPolygon);
    EXPECT_EQ(b.ops[3].a, (std::array<int, 8>{130, 124, 115, 203, 300, 400, 400, 100}));
    EXPECT_EQ(b.ops[4].type, CurveOp::kPie);
    EXPECT_EQ(b.ops[4].a, (std::array<int, 8>{130, 163, 362, 60, 155, 500, 220, 145}));
    EXPECT_EQ(b.ops[5].type, CurveOp::kChord);
    EXPECT_EQ(b.ops[5].a, (std::array<int, 8>{130, 34, 400, 53, 260, 150, 330, 410}));
    double vertices = 0.0;
    for (int k = 0; k < 48; ++k) vertices += 2.0 * (b.points[size_t(k)].x + b.points[size_t(k)].y);
    const double arcs = std::abs(44 - 100) + std::abs(46 - 100) + std::abs(124 - 203) +
                        std::abs(115 - 130) + std::abs(60 - 130) + std::abs(362 - 130) + std::abs(400 - 130) +
                        std::abs(34 - 53);
    EXPECT_NEAR(b.length, vertices + arcs, 1e-6);
    EXPECT_EQ(b.count_after, 8);
}

// The four line/arc threads continue one Bezier chain: each batch reads the chain's end and
// advances it in one step, so no two passes start at the same point and every pass starts where
// one ended.
TEST(LumenCurves, ThreadsContinueOneChainWithoutLosingAPass) {
    bezier_chain = BezierChain{};
    const Rect far{0, 0, 1 << 30, 1 << 30};  // the chain never turns back
    constexpr int kThreads = 4;
    constexpr int kBatches = 5000;
    std::vector<std::vector<Pt>> starts(kThreads);
    std::vector<int> torn(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Generator gen{uint32_t(t)};
            CurveBatch b;
            for (int k = 0; k < kBatches; ++k) {
                NextCurveBatch(0, gen, far, &b);
                for (int pass = 0; pass < 6; ++pass) {
                    const Pt* p = &b.points[size_t(8 * pass)];
                    starts[size_t(t)].push_back(p[0]);
                    // Within a pass: the Bezier's end is the Bezier-to's first point, step 50.
                    if (p[4] != p[3] || p[1] != Pt{p[0].x + 50, p[0].y + 50}) ++torn[size_t(t)];
                    if (pass > 0 && p[0] != b.points[size_t(8 * pass - 5)]) ++torn[size_t(t)];
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    std::set<std::pair<int, int>> distinct;
    for (const auto& v : starts) {
        for (const Pt& p : v) distinct.insert({p.x, p.y});
    }
    EXPECT_EQ(distinct.size(), size_t(kThreads * kBatches * 6));
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(torn[size_t(t)], 0);
    // The chain's end is where the last of all passes ended: 150 right, 50 down per pass.
    EXPECT_EQ(bezier_chain.pt2[0], (Pt{150 * kThreads * kBatches * 6, 50 * kThreads * kBatches * 6}));
    bezier_chain = BezierChain{};
}

TEST(LumenCurves, NoLengthIsLost) {
    iNumPoints = 0.0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int k = 0; k < 200000; ++k) AddLength(1.0);
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(iNumPoints.load(), 800000.0);
    iNumPoints = 0.0;
}

TEST(LumenFrame, DepthBelowEightBitsShowsThePaletteBox) {
    kp::BoxRecorder boxes;
    terminate_flag = 0;
    CheckDepth(24);
    CheckDepth(8);
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(terminate_flag.load(), 0);
    CheckDepth(4);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Not enough system colors in the palette; need at least 256.");
    EXPECT_EQ(boxes.boxes()[0].caption, "Fatal Palette Exception");
    EXPECT_EQ(boxes.boxes()[0].icon, kp::Icon::Stop);
    EXPECT_EQ(terminate_flag.load(), 1);
    terminate_flag = 0;
}

TEST(LumenFrame, ResizeAsksForAPaintOnlyWhenTheClientGrew) {
    struct Case {
        Rect old;
        QSize client;
        bool paint;
    };
    const Case cases[] = {
        {{0, 0, 0, 0}, {800, 600}, true},  {{0, 0, 800, 600}, {800, 600}, false},
        {{0, 0, 800, 600}, {801, 600}, true}, {{0, 0, 800, 600}, {800, 601}, true},
        {{0, 0, 800, 600}, {400, 300}, false}, {{0, 0, 800, 600}, {900, 100}, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ResizeWantsPaint(c.old, c.client), c.paint) << c.client.width() << "x" << c.client.height();
    }
}

TEST(LumenFrame, TestTitlesRunFromZeroTo88Percent) {
    EXPECT_EQ(TestTitle(0), "KESTREL Figure Drawing Test - 0% finished");
    EXPECT_EQ(TestTitle(3), "KESTREL Line/Arc Drawing Test - 33% finished");
    std::vector<int> percents;
    for (int i = 0; i < 9; ++i) {
        const std::string t = TestTitle(i);
        const size_t dash = t.rfind(" - ");
        percents.push_back(std::stoi(t.substr(dash + 3)));
    }
    EXPECT_EQ(percents, (std::vector<int>{0, 11, 22, 33, 44, 55, 66, 77, 88}));
}

TEST(LumenFrame, CommandLineRefusals) {
    struct Case {
        std::vector<std::string> args;
        bool refused;
        int laptop, win95;
    };
    const Case cases[] = {
        {{}, true, 0, 0},
        {{"0", "1"}, true, 0, 0},
        {{"0", "0", "0x3D7E19C4a90458"}, true, 0, 0},
        {{"0", "0", "0x3d7e19c4a90457"}, true, 0, 0},
        {{"0", "0", "0x3D7E19C4a90457"}, false, 0, 0},
        {{"1", "1", "0x3D7E19C4a90457"}, true, 0, 0},
        {{"1", "0", "0x3D7E19C4a90457"}, false, 1, 0},
        {{"1 0 0x3D7E19C4a90457"}, false, 1, 0},
    };
    for (const Case& c : cases) {
        int laptop = -1;
        int win95 = -1;
        const auto box = CheckCommandLine(c.args, &laptop, &win95);
        ASSERT_EQ(box.has_value(), c.refused) << c.args.size();
        if (box) {
            EXPECT_EQ(box->text, "Incorrect version of VideoKestrel.  Use version 1.21 with Kestrel 1.21.");
            EXPECT_EQ(box->caption, "VideoKestrel Exception");
            EXPECT_EQ(box->icon, kp::Icon::Stop);
        } else {
            EXPECT_EQ(laptop, c.laptop);
            EXPECT_EQ(win95, c.win95);
        }
    }
}

TEST(LumenFrame, TextMetricsAndTheNewLinesBand) {
    const TextMetrics variable = MakeTextMetrics(7, 16, 0, true);
    EXPECT_EQ(variable.nYChar, 16);
    EXPECT_EQ(variable.nCaps, 10);  // 3 x 7 / 2
    EXPECT_EQ(variable.nMaxWidth, 40 * 7 + 18 * 10);
    const TextMetrics fixed = MakeTextMetrics(8, 13, 2, false);
    EXPECT_EQ(fixed.nYChar, 15);
    EXPECT_EQ(fixed.nCaps, 8);
    EXPECT_EQ(OutputBand(640, 45, 15, 0, 3), (Rect{0, 30, 640, 60}));
    EXPECT_EQ(OutputBand(640, 45, 15, 2, 3), (Rect{0, 30, 640, 30}));
}

TEST(LumenFrame, ProcessorRotationStaysOnThisMachine) {
    const int n = kp::GetNumProcessors();
    for (int p : {0, -3}) {
        pnumber = p;
        EXPECT_EQ(ProcessorCount(), 1);
        EXPECT_EQ(NextProcessor(1), 1);
    }
    pnumber = 1000;
    EXPECT_EQ(ProcessorCount(), n);
    EXPECT_EQ(NextProcessor(n), 1);
    pnumber = 1;
}

// The window is closed while the sequencer talks to the analyser: the stop waits until the
// sequencer has let go of the link, runs once, and no later turn uses the link.
TEST(LumenFrame, TheAnalyserStopsOnceAfterTheSequencerLetsGoOfTheLink) {
    std::mutex mutex;
    std::vector<std::string> events;
    auto note = [&](const char* what) {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(what);
    };
    SetAnalyserStop([&] { note("analyser stopped"); });
    std::promise<void> holding;
    std::thread sequencer([&] {
        AnalyserTurn turn;
        holding.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the close comes meanwhile
        note("sequencer let go");
    });
    holding.get_future().wait();
    StopAnalyser();  // as the user-interface thread does when the window closes
    sequencer.join();
    StopAnalyser();
    EXPECT_EQ(events, (std::vector<std::string>{"sequencer let go", "analyser stopped"}));
    AnalyserTurn later;
    EXPECT_TRUE(later.Ended());
    SetAnalyserStop(nullptr);
}

bool RefuseBinding(kp::Worker*, int) { return false; }

TEST(LumenFrameDeathTest, AFailedBindingStopsTheAnalyserAndEndsWithAFailureCode) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            SetAffinitySetter(&RefuseBinding);
            SetAnalyserStop([] { std::fprintf(stderr, "analyser stopped\n"); });
            WIN95_SUPPORT_ON = 0;
            SetThreadToProcessor(nullptr, 1);
            std::fprintf(stderr, "went on\n");
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(EXIT_FAILURE), "Process Affinity Error!(.|\n)*analyser stopped");
}

}  // namespace
}  // namespace lumen

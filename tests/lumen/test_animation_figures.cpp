// The animation figures' motion and geometry, and the window invocation test's placement.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "lumen/animation.h"
#include "lumen/window_invocation.h"

namespace {

using namespace lumen;

constexpr double kPi = 3.14159265358979323846;

// The speed after each frame (index f - 1 for frame f).
std::vector<float> Speeds(int w, int frames) {
    FigureMotion m;
    TPoint points[kPointCount][kAnimateWindows];
    std::vector<float> speed;
    for (int f = 0; f < frames; ++f) {
        RotateFigure(m, points, w, Turn::Right, kPointCount);
        speed.push_back(m.speed);
    }
    return speed;
}

// The speed rises from 10 by 1 per frame to 80, falls by 0.25 x (w + 1) to 2, then rises again
// by the same amount.
TEST(AnimationMotion, SpeedTurnsAtEightyAndTwo) {
    struct Row {
        int w;
        float afterFrame100;
        int lowFrame;       // the frame that brings the speed down to 2
        float afterLow;     // the speed one frame later
    };
    const Row rows[] = {{0, 72.5f, 382, 2.25f}, {1, 65.0f, 226, 2.5f}, {2, 57.5f, 174, 2.75f}, {3, 50.0f, 148, 3.0f}};
    for (const Row& row : rows) {
        SCOPED_TRACE("window " + std::to_string(row.w));
        const std::vector<float> speed = Speeds(row.w, 400);
        EXPECT_EQ(speed[0], 11.0f);
        EXPECT_EQ(speed[69], 80.0f);
        EXPECT_EQ(speed[70], 80.0f - 0.25f * float(row.w + 1));
        EXPECT_EQ(speed[99], row.afterFrame100);
        EXPECT_EQ(speed[size_t(row.lowFrame - 1)], 2.0f);
        EXPECT_EQ(speed[size_t(row.lowFrame)], row.afterLow);
        float highest = 0, lowest = 100;
        for (size_t f = 69; f < speed.size(); ++f) {
            highest = std::max(highest, speed[f]);
            lowest = std::min(lowest, speed[f]);
        }
        EXPECT_EQ(highest, 80.0f);
        EXPECT_EQ(lowest, 2.0f);
    }
}

// The angle moves by pi / speed per frame and is brought back by one step, once, and only when it
// has passed a step: a figure turning left has no lower bound.
TEST(AnimationMotion, AngleMovesByPiOverSpeedAndIsBroughtBackOnce) {
    struct Row {
        int w;
        Turn turn;
        FigureMotion start;
        int frames;
        double angle;
    };
    const double a = kPi / 11 + kPi / 12;  // two frames from the start
    const Row rows[] = {
        {0, Turn::Right, {}, 2, a},                               // below the star's step 0.8 pi
        {1, Turn::Right, {}, 2, a - 2 * kPi / 15},                // past the 15-gon's step once
        {1, Turn::Left, {}, 2, -a},                               // no lower bound
        {3, Turn::Right, {1.0f, 0.0f, 0.4f}, 1, 0.4 + kPi / 2 - 2 * kPi / 15},  // still above a step
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("window " + std::to_string(row.w));
        FigureMotion m = row.start;
        TPoint points[kPointCount][kAnimateWindows];
        for (int f = 0; f < row.frames; ++f) RotateFigure(m, points, row.w, row.turn, kPointCount);
        EXPECT_NEAR(m.angle, row.angle, 1e-5);
        // The first point sits at the angle, on the unit circle.
        EXPECT_NEAR(points[0][row.w].X, std::cos(row.angle), 1e-5);
        EXPECT_NEAR(points[0][row.w].Y, std::sin(row.angle), 1e-5);
    }
}

// Windows 0 and 2 draw a star (the 15 points fall on 5 places), windows 1 and 3 a 15-gon.
TEST(AnimationMotion, StarOrFifteenGonPerWindow) {
    const int places[kAnimateWindows] = {5, 15, 5, 15};
    for (int w = 0; w < kAnimateWindows; ++w) {
        SCOPED_TRACE("window " + std::to_string(w));
        FigureMotion m;
        TPoint points[kPointCount][kAnimateWindows];
        for (int f = 0; f < 37; ++f) RotateFigure(m, points, w, Turn::Left, kPointCount);
        std::set<std::pair<long, long>> distinct;
        for (int k = 0; k < kPointCount; ++k) {
            const TPoint p = points[k][w];
            EXPECT_NEAR(double(p.X) * p.X + double(p.Y) * p.Y, 1.0, 1e-5);
            distinct.insert({std::lround(p.X * 1000), std::lround(p.Y * 1000)});
        }
        EXPECT_EQ(int(distinct.size()), places[w]);
        // Neighbouring points are one step apart.
        const double turn = std::atan2(double(points[1][w].Y), double(points[1][w].X)) -
                            std::atan2(double(points[0][w].Y), double(points[0][w].X));
        EXPECT_NEAR(std::remainder(turn - StepOfWindow(w, kPointCount), 2 * kPi), 0.0, 1e-5);
    }
    EXPECT_NEAR(StepOfWindow(0, kPointCount), 0.8 * kPi, 1e-6);
    EXPECT_NEAR(StepOfWindow(1, kPointCount), 2 * kPi / 15, 1e-6);
}

// The titles name each window's turns: the left figure's first, then the right figure's when it
// turns the other way.
TEST(AnimationMotion, ThreadRolesMatchTheWindowTitles) {
    for (int w = 0; w < kAnimateWindows; ++w) {
        const AnimateThreadRole left = RoleOfThread(2 * w);
        const AnimateThreadRole right = RoleOfThread(2 * w + 1);
        EXPECT_EQ(left.window, w);
        EXPECT_EQ(right.window, w);
        EXPECT_FALSE(left.rightFigure);
        EXPECT_TRUE(right.rightFigure);
        auto name = [](Turn t) { return std::string(t == Turn::Right ? "right" : "left"); };
        std::string title = "Rotate " + name(left.turn);
        if (right.turn != left.turn) title += ", " + name(right.turn);
        EXPECT_EQ(TitleOfAnimateWindow(w), title);
    }
}

// Half the client width is the figure's square, half of that its radius; a client narrower than
// 4 pixels gives radius 0, and every line is drawn at (0, 0).
TEST(AnimationFigure, BoxAndVertices) {
    struct Row {
        int clientWidth, S, r;
    };
    for (const Row& row : {Row{0, 0, 0}, Row{1, 0, 0}, Row{3, 1, 0}, Row{4, 2, 1}, Row{7, 3, 1}, Row{511, 255, 127}}) {
        const FigureBox box = FigureBoxOfClientWidth(row.clientWidth);
        EXPECT_EQ(box.S, row.S) << row.clientWidth;
        EXPECT_EQ(box.r, row.r) << row.clientWidth;
    }
    struct Vertex {
        int r;
        TPoint p;
        QPoint at;
    };
    for (const Vertex& v : {Vertex{50, {1, 0}, {100, 50}}, Vertex{50, {0, 1}, {50, 100}}, Vertex{50, {-1, 0}, {0, 50}},
                            Vertex{50, {-0.01f, 0.01f}, {49, 50}}, Vertex{0, {0.7f, -0.7f}, {0, 0}}})
        EXPECT_EQ(FigureVertex(v.r, v.p), v.at) << v.p.X << "," << v.p.Y;

    TPoint points[kPointCount][kAnimateWindows];
    FigureMotion m;
    RotateFigure(m, points, 1, Turn::Right, kPointCount);
    for (int k = 0; k < kPointCount; ++k)
        EXPECT_EQ(FigureVertex(FigureBoxOfClientWidth(3).r, points[k][1]), QPoint(0, 0)) << k;
}

// Windows walk 34 across and 19 down at 1024 x 768 and start again at (i, 0); they are h2 wide
// and w2 high; the position carries over into the next run.
TEST(WindowPlacement, WalksAndStartsAgain) {
    struct Row {
        int W, H, i, x, y;
    };
    const Row rows[] = {
        {1024, 768, 0, 34, 19},  {1024, 768, 14, 510, 285}, {1024, 768, 15, 15, 19},  // x passed: (15, 0) + 19
        {1024, 768, 16, 49, 38}, {1024, 768, 30, 30, 19},   {1024, 768, 99, 99, 19},
        {800, 600, 0, 26, 15},   {800, 600, 15, 15, 15},     {800, 600, 16, 41, 30},
        {59, 40, 18, 19, 19},    {59, 40, 19, 19, 0},         {59, 40, 20, 20, 1},  // y passed: (19, 0)
    };
    for (const Row& row : rows) {
        ChildPlacement at;
        QRect r;
        for (int i = 0; i <= row.i; ++i) r = NextChildPlacement(at, i, row.W, row.H);
        EXPECT_EQ(r, QRect(row.x, row.y, row.H / 2, row.W / 2)) << row.W << "x" << row.H << " #" << row.i;
    }
    ChildPlacement at;
    for (int i = 0; i < kInvokedWindows; ++i) NextChildPlacement(at, i, 1024, 768);
    EXPECT_EQ(NextChildPlacement(at, 0, 1024, 768), QRect(133, 38, 384, 512));
    EXPECT_EQ(TitleOfInvokedWindow(0), QStringLiteral("Window #1"));
    EXPECT_EQ(TitleOfInvokedWindow(99), QStringLiteral("Window #100"));
}

}  // namespace

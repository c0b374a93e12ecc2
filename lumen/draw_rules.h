// What the figure drawing and line/arc tests draw, as plain values: the random figures of one
// group, the curve items of one batch with the length they add, the counters' steps and the stop
// rules. The drawing threads turn these values into drawing calls.
#pragma once

#include <array>

#include "lumen/generator.h"
#include "lumen/lumen_state.h"

namespace lumen {

struct Pt {
    int x = 0;
    int y = 0;
    friend bool operator==(const Pt&, const Pt&) = default;
};

// ---- figure drawing ------------------------------------------------------------------------

// One group of three figures in a client area of width w and height h (both at least 2): the
// rectangle (x1, y1)-(x2, y2); the ellipse and the pie take the box left x1, top x2, right y1,
// bottom y2, and the pie's radial points (2 y1 / 3, 2 y1) and (2 x1 / 3, 2 x1).
struct FigureGroup {
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    int r = 0, g = 0, b = 0;
};
// Draws x1, y1, then r, g, b from the generator; the box is half the client for an even count,
// a quarter for an odd one.
FigureGroup MakeFigureGroup(Generator& gen, int w, int h, int rect_count);

inline constexpr int kFiguresPerGroup = 3;
inline constexpr int kFirstPhaseFigures = 600;
inline constexpr int kSecondPhaseFigures = 1200;
// The figure test's stop rule: all four windows at 600 in the first phase (round 1), at 1200 in
// the second (round 0).
bool FigureStopRule(const int counts[4], int round);

// (a + b + c + d) / 4, truncated: the count a test stores from its four threads' sums.
int AverageOfFour(const int values[4]);

// ---- line/arc drawing ----------------------------------------------------------------------

inline constexpr int table[2][5] = {{100, 150, 300, 350, 480}, {500, 360, 200, 100, 30}};
inline constexpr int table2[2][5] = {{30, 400, 100, 80, 200}, {200, 100, 470, 60, 320}};
inline int T(int n) { return table[n % 2][n % 5]; }
inline int T0(int n) { return table[0][n % 5]; }
inline int T2(int n) { return table2[n % 2][n % 5]; }

inline constexpr int kCurveLimit = 2200;
// The kind of the batch a counter value calls for (0 Bezier chain, 1 lines and an octagon,
// 2 centred rectangle, 3 arcs and polylines) and how far that batch moves the counter.
inline int CurveKind(int c) { return ((c % 4) + 4) % 4; }
int CurveStep(int kind);
// The line/arc stop rule: the four counters sum to at least 2200.
bool CurveStopRule(const int counts[4]);

// The Bezier chain that every thread continues: its last points, its step and bounce offset.
struct BezierChain {
    std::array<Pt, 4> pt2{};
    int inc = 50;
    int factor = 0;
};

struct CurveOp {
    enum Type {
        kPolyBezier,      // points[first .. first + 4)
        kPolyBezierTo,    // points[first .. first + 4)
        kMoveTo,          // a[0], a[1]
        kLineTo,          // a[0], a[1]
        kPolyDrawLineTo,  // points[first .. first + n), every point a line-to
        kPolygon,         // points[first .. first + n)
        kRectangle,       // a[0..4)
        kArc,             // a[0..8)
        kPolyline,        // points[first .. first + n)
        kPolyPolygon,     // points[first ..), three polygons of 16 points
        kPie,             // a[0..8)
        kChord,           // a[0..8)
    };
    Type type = kMoveTo;
    std::array<int, 8> a{};
    int first = 0;
    int n = 0;
};

// One call's batch: the pen colour, the items to draw, the length they add to the running
// total, and the counter after the batch.
struct CurveBatch {
    int kind = 0;
    int r = 0, g = 0, b = 0;
    std::array<Pt, 64> points{};
    int npoints = 0;
    std::array<CurveOp, 40> ops{};
    int nops = 0;
    double length = 0.0;
    int count_after = 0;
};

// Builds the batch for counter value c. The pen colour is drawn first; the window rectangle
// `window` (the main window's place on the screen) bounds the Bezier chain, and `test` is the
// test rectangle crect. The chain is read and advanced only by a batch of kind 0 (the caller
// holds the chain's lock around such a call).
void MakeCurveBatch(int c, Generator& gen, BezierChain& chain, const Rect& window, const Rect& test,
                    CurveBatch* out);

// 5 x the whole part of the length total, saturated at the largest 32-bit value.
int NumPointsOf(double total_length);

}  // namespace lumen

// The animation test: eight pinned threads turn two line figures in each of four "Animate"
// windows, 100 frames each, every frame drawn into the thread's own black-and-white scratch
// image and copied into its half of the window with the window's background colour.
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <array>
#include <atomic>
#include <cstdint>

namespace gdi { class Surface; }

namespace lumen {

inline constexpr int kAnimateWindows = 4;
inline constexpr int kAnimateThreads = 8;
inline constexpr int kAnimateFrames = 100;
// Points per figure (every animation thread sets it to this value).
inline constexpr int kPointCount = 15;

// A point of a figure on the unit circle.
struct TPoint {
    float X = 0.0f;
    float Y = 0.0f;
};

// The motion of one figure of one window: its angular speed control, the change of speed per
// frame and its current angle (radians), all in single precision.
struct FigureMotion {
    float speed = 10.0f;
    float delta = 1.0f;
    float angle = 0.0f;
};

// The two figures of the four windows. Each figure of each window is turned by one thread only.
// It keeps its values for the life of the process, so a repeated run continues the motion.
struct AnimationState {
    // Points per figure: every animation thread stores 15 here as it starts.
    std::atomic<int32_t> PointCount{kPointCount};
    std::array<FigureMotion, kAnimateWindows> left{};   // the figure in the left half
    std::array<FigureMotion, kAnimateWindows> right{};  // the figure in the right half
    TPoint Points[kPointCount][kAnimateWindows]{};      // left figure, [point][window]
    TPoint Points2[kPointCount][kAnimateWindows]{};     // right figure, [point][window]
};
AnimationState& Animation();

enum class Turn { Left = 0, Right = 1 };

// What thread n (0..7) does: its window, the figure it turns, which way, and how it draws.
struct AnimateThreadRole {
    int window;
    bool rightFigure;  // false: the left figure (RotatePoints1 / DrawFigure2)
    Turn turn;
};
AnimateThreadRole RoleOfThread(int n);

// The angle the points of window w are spread over: 4 pi, 2 pi, 4 pi, 2 pi.
float SpanOfWindow(int w);
// The angle between neighbouring points: windows 0 and 2 take three fifths of a turn per point,
// so the points fall on five places (a star); windows 1 and 3 take a fifteenth (a 15-gon).
float StepOfWindow(int w, int pointCount);

// One frame of one figure: the speed turns round at 80 and at 2 (by 0.25 x (w + 1)), the angle
// moves by pi / speed and is brought back by one step once it passes a step; then the points
// are placed from the angle on, one step apart.
void RotateFigure(FigureMotion& motion, TPoint points[][kAnimateWindows], int w, Turn turn,
                  int pointCount);
// The left figure of window w (direction 1 turns right, 0 left).
void RotatePoints1(int direction, int w);
// The right figure of window w.
void RotatePoints2(int direction, int w);

// The side of a figure's square (half the client width) and its radius (half of that).
struct FigureBox {
    int S;
    int r;
};
FigureBox FigureBoxOfClientWidth(int clientWidth);
// The place of a unit-circle point in a figure of radius r.
QPoint FigureVertex(int r, TPoint p);
// Colours of window w: the background colour its threads set before every copy, and the fill
// colour of its right figure.
QRgb BackgroundOfWindow(int w);
QRgb FillOfWindow(int w);
// The class background of "Animate" windows.
inline constexpr QRgb kAnimateClassBackground = 0xFF522E33u;  // red 82, green 46, blue 51

// Titles of the four windows.
const char* TitleOfAnimateWindow(int w);

// One frame of the left (DrawFigure2) or right (DrawFigure3) figure of window w: the figure is
// drawn in black on white into `scratch` (a black-and-white picture of the figure's square, made
// anew for every frame as a fresh monochrome bitmap would be: black outside the part whitened),
// then copied into its half of the surface, white taking the background colour `bk` and black the
// text colour. A surface narrower than 2 pixels has no square: nothing is drawn.
void DrawFigure2(gdi::Surface& surface, int w, QRgb bk, QImage& scratch);
void DrawFigure3(gdi::Surface& surface, int w, QRgb bk, QImage& scratch);

// The animation test: elapsed milliseconds, or a time <= 0 when it failed.
double AnimationDraw();

// For tests: creating thread n fails (-1: none does).
void FailAnimationThreadCreationAt(int n);

}  // namespace lumen

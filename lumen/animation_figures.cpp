// The figures of the animation test: their motion, points, lines and colours.
#include <cmath>

#include "lumen/animation.h"

namespace lumen {

namespace {
constexpr double kPi = 3.14159265358979323846;
}

AnimationState& Animation() {
    static AnimationState state;
    return state;
}

AnimateThreadRole RoleOfThread(int n) {
    // Two threads per window: the even one turns the left figure, the odd one the right figure.
    static constexpr Turn kTurn[kAnimateThreads] = {Turn::Right, Turn::Left,  Turn::Right, Turn::Right,
                                                    Turn::Left,  Turn::Left,  Turn::Left,  Turn::Right};
    return {n / 2, (n % 2) == 1, kTurn[n]};
}

float SpanOfWindow(int w) {
    const float pi = float(kPi);
    return (w % 2) == 0 ? 4.0f * pi : 2.0f * pi;
}

float StepOfWindow(int w, int pointCount) {
    const float span = SpanOfWindow(w);
    return (w % 2) == 0 ? span * 3 / float(pointCount) : span / float(pointCount);
}

void RotateFigure(FigureMotion& m, TPoint points[][kAnimateWindows], int w, Turn turn, int pointCount) {
    const float change = 0.25f * float(w + 1);
    if (m.speed >= 80.0f) m.delta = -change;
    if (m.speed <= 2.0f) m.delta = change;
    m.speed += m.delta;
    // The speed never falls below 2; a negative one would count as 0.
    const double turnBy = kPi / double(std::max(m.speed, 0.0f));
    if (turn == Turn::Right)
        m.angle = float(double(m.angle) + turnBy);
    else
        m.angle = float(double(m.angle) - turnBy);
    const float step = StepOfWindow(w, pointCount);
    // Brought back once, and only from above: a figure turning left keeps a growing negative angle.
    if (m.angle > step) m.angle -= step;
    float a = m.angle;
    for (int k = 0; k < pointCount; ++k) {
        points[k][w] = {float(std::cos(double(a))), float(std::sin(double(a)))};
        a += step;
    }
}

void RotatePoints1(int direction, int w) {
    AnimationState& s = Animation();
    RotateFigure(s.left[size_t(w)], s.Points, w, direction ? Turn::Right : Turn::Left,
                 s.PointCount.load(std::memory_order_relaxed));
}

void RotatePoints2(int direction, int w) {
    AnimationState& s = Animation();
    RotateFigure(s.right[size_t(w)], s.Points2, w, direction ? Turn::Right : Turn::Left,
                 s.PointCount.load(std::memory_order_relaxed));
}

FigureBox FigureBoxOfClientWidth(int clientWidth) {
    const int S = clientWidth / 2;
    return {S, S / 2};
}

QPoint FigureVertex(int r, TPoint p) {
    return {int(std::floor(float(r) * p.X)) + r, int(std::floor(float(r) * p.Y)) + r};
}

QRgb BackgroundOfWindow(int w) {
    static constexpr QRgb kColour[kAnimateWindows] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(255, 255, 255),
                                                      qRgb(255, 255, 0)};
    return kColour[w];
}

QRgb FillOfWindow(int w) {
    static constexpr QRgb kColour[kAnimateWindows] = {qRgb(0, 200, 255), qRgb(255, 0, 255), qRgb(255, 128, 0),
                                                      qRgb(0, 255, 0)};
    return kColour[w];
}

const char* TitleOfAnimateWindow(int w) {
    static constexpr const char* kTitle[kAnimateWindows] = {"Rotate right, left", "Rotate right", "Rotate left",
                                                            "Rotate left, right"};
    return kTitle[w];
}

}  // namespace lumen

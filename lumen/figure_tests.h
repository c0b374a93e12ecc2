// The figure drawing test and the line/arc drawing test: drawing threads bound to processors draw
// into window surfaces until shared counters pass their limits; the time runs from the threads'
// start to their end (with what they drew shown on screen).
#pragma once

#include <atomic>
#include <mutex>

#include "lumen/draw_rules.h"
#include "lumen/lumen_state.h"

namespace lumen {

// Figure test: its four child windows, figures drawn per window, the phase (1 first, 0 second).
extern Window* hwndChild[4];
extern std::atomic<int> iRectCount[4];
extern std::atomic<int> round;
// Line/arc test: items drawn per thread, the drawn length, and the Bezier chain all threads
// continue (with its lock).
extern std::atomic<int> iCurveCount[4];
extern std::atomic<double> iNumPoints;
extern BezierChain bezier_chain;
extern std::mutex bezier_chain_mutex;
// Per thread slot: the sum of the four counters as the thread saw it at its end.
extern std::atomic<int> rectvalue[4];

// The batch for counter value c of a line/arc thread: a batch of the Bezier chain reads and
// advances the shared chain under its lock; the batch itself is the thread's own.
void NextCurveBatch(int c, Generator& gen, const Rect& window, CurveBatch* out);
// Adds a batch's length to the running total (one indivisible step).
void AddLength(double length);

// The drawing threads' routines: one group of figures in child window i, one batch of curve
// items into the main window by thread i.
void DrawProc(int i);
void DrawTheCurves(int i);

// The tests: the time in milliseconds, or -1.0 on failure (a clock failure, a thread that
// could not be made, a window that could not be drawn into). They store rectcount1, and
// rectcount2 and numpoints, in times.
double FigureDraw();
double LineArcDraw();

}  // namespace lumen

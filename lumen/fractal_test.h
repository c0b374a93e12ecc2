// The fractal test: two timed halves, four Mandelbrot views computed and drawn by four threads
// (each thread's own drawing time; the half's time is that of the thread that finished last),
// then four windows of bouncing line art drawn mirrored into their quadrants by four threads.
// The result is the sum of the two halves in milliseconds, or -1.0 after a failure.
#pragma once

#include <QRgb>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "lumen/lumen_state.h"
#include "shared/gdi/dc.h"

namespace lumen {

// ---- Mandelbrot views ---------------------------------------------------------------------------

// One view: the plane's rectangle shown by the window, the iteration limit and the row step.
struct _PerWndInfo {
    double dwElapsed = 0.0;
    double xFrom = -2.0, xTo = 1.0;
    double yFrom = 1.5, yTo = -1.5;
    double c1 = 0.0, c2 = 0.0;
    int iIteration = 300;
    int iStep = 2;
    int iStretchMode = 3;
    int iPen = 0;
    int bStretch = 1;
    std::atomic<int> bDrawing{0};
    Window* hwnd = nullptr;
    std::vector<gdi::Pen> prghPen;  // the view's pen table (owned by the run)
};

struct ViewRect {
    const char* title;
    double xFrom, xTo, yFrom, yTo;
};
extern const ViewRect kViews[4];

// The defaults every view starts from (bInitInfo) and the iteration's constants.
void bInitInfo(_PerWndInfo* info);
inline constexpr int gIteration = 300;
inline constexpr int gStep = 2;

// The value of a point: the first k (1..limit) at which z, iterated from z = c by z*z + c, lies
// outside the circle of radius 2; limit + 1 when none does. All in double precision.
int EscapeCount(double cr, double ci, int limit);
// The point of column x of W (row y of H) of a view: x / W x (xTo - xFrom) + xFrom.
double ColumnValue(const _PerWndInfo& v, int x, int W);
double RowValue(const _PerWndInfo& v, int y, int H);

// The pen of a value m with the table's N = pens.size() pens: m = 1 pen 0, m >= limit black,
// else pen m mod N.
gdi::Pen PenOf(int m, int limit, const std::vector<gdi::Pen>& pens);

// What the drawing of a view does through its window's context, one call at a time.
using ViewCall = std::function<void(const std::function<void(gdi::GdiDc&)>&)>;
// Draws the rows y = 0, iStep, ... <= H of a view of W x H: every column 0..W is valued, runs of
// equal values become lines in the value's pen. Returns the number of points valued.
long DrawViewRows(const _PerWndInfo& v, int W, int H, const ViewCall& call);

// The display the pen table is made for: a palette display (with its reserved entries), or not
// (with the entries its system palette reports). This system's display is fixed: no palette,
// no system entries, 24 bits per pixel (768 pens).
struct PenDisplay {
    bool palette = false;
    int bits_per_pixel = 24;
    int system_entries = 0;
    int reserved = 0;
};
extern PenDisplay fractal_display;

// The ten pen colours and the shared index into them (advanced by pen tables, wrapping at 8).
extern const QRgb colorpoint[10];
extern std::atomic<int> colorcount;
// Advances colorcount (wrapping from 8 to 0) and returns the new value.
int AdvanceColorCount();

// iCreatePenFrPal with no table: the number of pens the display needs (may be 0 or negative,
// as on a 16-colour palette display with 20 reserved entries).
int PenCount(const PenDisplay& d);
// iCreatePenFrPal with a table: the pens (their number is PenCount's, or, for a display of 16
// colours or fewer without system entries, the number of colours); empty when none can be made
// (a count of 0 or less, or a negative width).
std::vector<gdi::Pen> MakePenTable(const PenDisplay& d, int width);
// The palette of a palette display: entry 10 + i of the three-part ramp, i = 0 .. n - 1.
QRgb RampColour(int i, int n);

// The processor the next view thread is bound to (1..pnumber, never reset).
extern int global_k;

// ---- line art ------------------------------------------------------------------------------------

struct TLineRec {
    int LX1 = 0, LY1 = 0, LX2 = 0, LY2 = 0;
    QRgb Color = 0;
};

inline constexpr int kMaxLines = 1000;
struct LineArt {
    TLineRec Line[kMaxLines];
    int X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
    int DeltaX1 = 0, DeltaY1 = 0, DeltaX2 = 0, DeltaY2 = 0;
    int IncrementCount = 0;
    int CurrentLine = 0;
    int Xmax = 0, Ymax = 0;
    int quadon = 1;
};
extern LineArt line_art[4];
extern std::atomic<int> MaxLines;  // shared by the four line-art threads
extern std::atomic<int> MaxDelta;
extern const QRgb backcolor[4];

void TList(int count, int w);
void ScaleTo(int width, int height, int w);
void ResetLines(int w);
void SelectNewDeltaValues(int w);
// The new coordinate when it stays within 1..max, else the delta reverses.
void AdjustX(int* x, int* delta, int w);
void AdjustY(int* y, int* delta, int w);
// The four lines of a stored line mirrored into the window's quadrants.
void QuadLines(const TLineRec& l, int X, int Y, QPoint out[8]);

// What a line-art thread draws with (one call at a time on its window).
using ArtCall = std::function<void(const std::function<void(gdi::GdiDc&)>&)>;
void LineTick(const ArtCall& call, int w);
void DrawQuadLine(const ArtCall& call, int line, int w);
void EraseQuadLine(const ArtCall& call, int line, int w);
void DrawLine(const ArtCall& call, int line, int w);
void EraseLine(const ArtCall& call, int line, int w);

// ---- the test --------------------------------------------------------------------------------------

// runs: 0 for one measurement, 3 with the repeat flag.
double DrawFractalBrot(int runs);
double DrawFractalQix(int runs);
double FractalTestDraw();

}  // namespace lumen

#include "lumen/fractal_test.h"

#include <QPoint>
#include <QSize>

#include <memory>
#include <mutex>

#include "lumen/figure_tests.h"
#include "lumen/frame.h"
#include "lumen/generator.h"
#include "lumen/timing.h"
#include "lumen/windows.h"
#include "platform/msgbox.h"
#include "platform/workers.h"
#include "shared/gdi/present.h"

namespace lumen {

const ViewRect kViews[4] = {
    {"Mother-Mandlebrot view", -2.0, 1.0, 1.5, -1.5},
    {"Groove view", -0.789655, -0.562069, 0.0308642, 0.302469},
    {"Chaotic Swirl view", -0.710027, -0.70966, 0.266247, 0.266992},
    {"Center Swirl view", 0.0625421, 0.0626774, 0.638021, 0.638251},
};

const QRgb colorpoint[10] = {gdi::RGB(0, 0, 255),   gdi::RGB(255, 0, 0),    gdi::RGB(255, 0, 255),
                             gdi::RGB(0, 128, 128), gdi::RGB(0, 0, 0),      gdi::RGB(0, 128, 0),
                             gdi::RGB(128, 25, 128), gdi::RGB(0, 255, 255), gdi::RGB(128, 128, 128),
                             gdi::RGB(0, 255, 0)};
std::atomic<int> colorcount{0};
PenDisplay fractal_display;
int global_k = 1;

LineArt line_art[4];
std::atomic<int> MaxLines{kMaxLines};
std::atomic<int> MaxDelta{10};
const QRgb backcolor[4] = {gdi::RGB(0, 0, 0), gdi::RGB(255, 255, 0), gdi::RGB(255, 0, 0), gdi::RGB(0, 128, 128)};

namespace {

// The pens of the "julia" class: constant values shared by the four views.
const gdi::Pen hpnBlack = gdi::CreatePen(gdi::PS_SOLID, 0, gdi::RGB(0, 0, 0));

// The half's result: the drawing time of the view thread that finished last, with its table's
// highest index (written under the lock by each thread as it ends).
std::mutex g_result_mutex;
double globalelapsed = 0.0;
int gIpen = 0;
std::atomic<int> g_view_failed{0};

Window* globaljulia[4] = {};
// Every "julia" window made (a repeat run makes four new ones); destroyed with the half.
std::vector<Window*> g_julia_made;

const char* const kQixTitles[4] = {"QIX - Black Background", "QIX - White Background", "QIX - Red Background",
                                   "QIX - Turquoise Background"};

// The four child windows in the quadrants of the main window, titled. False when one cannot be
// made (those made are removed again).
bool MakeQuadrantWindows(const char* const titles[4]) {
    const Rect r = hwndParent->ScreenRect();
    const int w = r.right / 2;
    const int h = r.bottom / 2;
    const QPoint at[4] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
    for (int i = 0; i < 4; ++i) {
        hwndChild[i] = CreateWindowOf(WindowClass::KestrelChild, "", Rect{at[i].x(), at[i].y(), at[i].x() + w, at[i].y() + h},
                                      hwndParent);
        if (hwndChild[i] == nullptr) {
            for (auto& c : hwndChild) DestroyWindow(c);
            return false;
        }
        hwndChild[i]->Show();
        hwndChild[i]->SetTitle(titles[i]);
        hwndChild[i]->Update();
    }
    return true;
}

void RemoveQuadrantWindows() {
    for (Window*& j : g_julia_made) DestroyWindow(j);
    g_julia_made.clear();
    for (auto& j : globaljulia) j = nullptr;
    for (auto& c : hwndChild) DestroyWindow(c);
    hwndParent->InvalidateAndUpdate();
}

// The thread of one view.
void StartMandelbrot(_PerWndInfo* v) {
    v->bDrawing = 1;
    const int n = PenCount(fractal_display);
    if (n > 0) v->prghPen = MakePenTable(fractal_display, 1);
    if (v->prghPen.empty()) {
        // No pen table: the view cannot be drawn, and the half has no time.
        kp::MessageBox(kp::Owner::Main, "Pen Service Error!", "Exception", kp::Icon::Exclamation);
        g_view_failed = 1;
        return;
    }
    v->iPen = int(v->prghPen.size()) - 1;
    const QSize client = v->hwnd->ClientSize();
    Stopwatch watch;
    if (!watch.Start()) {
        g_view_failed = 1;
        return;
    }
    Window* w = v->hwnd;
    DrawViewRows(*v, client.width(), client.height(), [w](const std::function<void(gdi::GdiDc&)>& fn) { OneCall(w, fn); });
    gdi::PresentAll();
    const double ms = watch.Stop();
    if (ms < 0.0) {
        g_view_failed = 1;
        return;
    }
    v->dwElapsed += ms;
    std::lock_guard<std::mutex> lock(g_result_mutex);
    globalelapsed = v->dwElapsed;
    gIpen = v->iPen;
}

// Sets view v up in its child window and creates its parked thread in the team.
std::unique_ptr<_PerWndInfo> StartMBrot(int v, kp::WorkerTeam& team) {
    Window* parent = hwndChild[v];
    const QSize q = parent->ClientSize();
    Window* julia = CreateWindowOf(WindowClass::Julia, "", Rect{0, 0, q.width(), q.height()}, parent);
    if (julia == nullptr) return nullptr;
    g_julia_made.push_back(julia);
    globaljulia[v] = julia;
    julia->Show();
    julia->Update();
    auto info = std::make_unique<_PerWndInfo>();
    bInitInfo(info.get());
    info->hwnd = julia;
    julia->Move(Rect{0, 0, q.width(), q.height()});
    info->iStretchMode = 3;
    info->bStretch = 1;
    info->iStep = gStep;
    info->iIteration = gIteration;
    if (v > 0) {
        info->xFrom = kViews[v].xFrom;
        info->xTo = kViews[v].xTo;
        info->yFrom = kViews[v].yFrom;
        info->yTo = kViews[v].yTo;
    }
    _PerWndInfo* raw = info.get();
    const int priority = pnumber <= 2 ? -1 : tpriority;
    if (!team.Create(v, [raw] { StartMandelbrot(raw); }, priority)) return nullptr;
    SetThreadToProcessor(team.worker(v), global_k);
    global_k = NextProcessor(global_k);
    return info;
}

void FillBackground(int w) {
    const QRect area = laptop_mode_on != 0 ? QRect(0, 0, 400, 300) : QRect(0, 0, 512, 384);
    OneCall(hwndChild[w], [&](gdi::GdiDc& dc) { dc.FillRect(area, gdi::CreateSolidBrush(backcolor[w])); });
    hwndChild[w]->Update();
}

void DrawFractalArt(int w) {
    const QSize client = hwndChild[w]->ClientSize();
    TList(kMaxLines, w);
    ScaleTo(client.width(), client.height(), w);
    FillBackground(w);
    Window* win = hwndChild[w];
    const ArtCall call = [win](const std::function<void(gdi::GdiDc&)>& fn) { OneCall(win, fn); };
    for (int pass = 0; pass < 15; ++pass) {
        for (int k = 0; k < 500; ++k) {
            line_art[w].quadon = 1;
            DrawQuadLine(call, k, w);
            LineTick(call, w);
        }
        line_art[w].quadon = 0;
        DrawLine(call, 500, w);
        LineTick(call, w);
    }
}

// A stored line drawn with a pen of its own: made, selected, the lines, the old pen back.
void DrawStored(const ArtCall& call, const TLineRec& l, QRgb colour, int w, bool quad) {
    const gdi::Pen pen = gdi::CreatePen(gdi::PS_SOLID, 1, colour);
    gdi::Pen old;
    call([&](gdi::GdiDc& dc) { old = dc.SelectPen(pen); });
    QPoint p[8];
    QuadLines(l, line_art[w].Xmax, line_art[w].Ymax, p);
    for (int i = 0; i < (quad ? 4 : 1); ++i) {
        call([&](gdi::GdiDc& dc) { dc.MoveToEx(p[2 * i].x(), p[2 * i].y()); });
        call([&](gdi::GdiDc& dc) { dc.LineTo(p[2 * i + 1].x(), p[2 * i + 1].y()); });
    }
    call([&](gdi::GdiDc& dc) { dc.SelectPen(old); });
}

}  // namespace

void bInitInfo(_PerWndInfo* info) {
    info->xFrom = -2.0;
    info->xTo = 1.0;
    info->yFrom = 1.5;
    info->yTo = -1.5;
    info->iIteration = gIteration;
    info->iStep = gStep;
    info->bStretch = 1;
    info->iStretchMode = 3;
    info->iPen = 0;
    info->dwElapsed = 0.0;
    info->prghPen.clear();
    std::lock_guard<std::mutex> lock(g_result_mutex);
    globalelapsed = 0.0;
}

int EscapeCount(double cr, double ci, int limit) {
    double zr = cr;
    double zi = ci;
    for (int k = 1; k <= limit; ++k) {
        const double nr = (zr - zi) * (zr + zi) + cr;
        zi = 2.0 * zr * zi + ci;
        zr = nr;
        if (zr * zr + zi * zi > 4.0) return k;
    }
    return limit + 1;
}

double ColumnValue(const _PerWndInfo& v, int x, int W) { return double(x) / double(W) * (v.xTo - v.xFrom) + v.xFrom; }
double RowValue(const _PerWndInfo& v, int y, int H) { return double(y) / double(H) * (v.yTo - v.yFrom) + v.yFrom; }

gdi::Pen PenOf(int m, int limit, const std::vector<gdi::Pen>& pens) {
    if (m == 1) return pens[0];
    if (m >= limit) return hpnBlack;
    return pens[size_t(m) % pens.size()];
}

long DrawViewRows(const _PerWndInfo& v, int W, int H, const ViewCall& call) {
    long points = 0;
    const int step = v.iStep > 0 ? v.iStep : 1;
    for (int y = 0; y <= H; y += step) {
        call([&](gdi::GdiDc& dc) { dc.MoveToEx(0, y); });
        const double ci = RowValue(v, y, H);
        bool open = false;
        int run = 0;
        int m = 0;
        for (int x = 0; x <= W; ++x) {
            m = EscapeCount(ColumnValue(v, x, W), ci, v.iIteration);
            ++points;
            if (!open) {
                open = true;
                run = m;
            } else if (m != run) {
                const gdi::Pen pen = PenOf(run, v.iIteration, v.prghPen);
                call([&](gdi::GdiDc& dc) { dc.SelectPen(pen); });
                call([&](gdi::GdiDc& dc) { dc.LineTo(x, y); });
                run = m;
            }
        }
        const gdi::Pen pen = PenOf(m, v.iIteration, v.prghPen);
        call([&](gdi::GdiDc& dc) { dc.SelectPen(pen); });
        call([&](gdi::GdiDc& dc) { dc.LineTo(W + 1, y); });
    }
    return points;
}

int AdvanceColorCount() {
    int c = colorcount.load(std::memory_order_relaxed);
    int next = 0;
    do {
        next = c + 1 >= 8 ? 0 : c + 1;
    } while (!colorcount.compare_exchange_weak(c, next, std::memory_order_relaxed));
    return next;
}

QRgb RampColour(int i, int n) {
    const int t = n / 3;
    const int u = 2 * t;
    int r = 0, g = 0, b = 0;
    if (i < t) {
        r = 3 * (i + 1);
        g = i / 2;
        b = 3 * (i + 1 - u);
    } else if (i < u) {
        r = 255 - 3 * (i + 1 - t);
        g = 3 * (i + 1 - t);
        b = 255 - 3 * (i + 1);
    } else {
        r = i / 2;
        g = 255 - 3 * (i + 1 - u);
        b = i / 2;
    }
    return gdi::RGB(r & 0xFF, g & 0xFF, b & 0xFF);
}

int PenCount(const PenDisplay& d) {
    if (d.palette) {
        const int entries = d.bits_per_pixel >= 8 ? 256 : (1 << d.bits_per_pixel);
        return entries - d.reserved;
    }
    if (d.system_entries > 0) return d.system_entries;
    const int colours = d.bits_per_pixel >= 31 ? 1 << 30 : 1 << d.bits_per_pixel;
    return colours <= 16 ? colours : 768;
}

std::vector<gdi::Pen> MakePenTable(const PenDisplay& d, int width) {
    std::vector<gdi::Pen> pens;
    const int n = PenCount(d);
    if (n <= 0) return pens;
    // The nearest-colour rule of displays of 8 bits or fewer maps a colour onto the device's
    // palette; this system draws every colour as it is.
    if (d.palette) {
        for (int i = 0; i < n; ++i) {
            const int c = AdvanceColorCount();
            pens.push_back(gdi::CreatePen(gdi::PS_SOLID, width, i % 3 == 0 ? colorpoint[c] : RampColour(i, n)));
        }
        return pens;
    }
    if (width < 0) {
        kp::MessageBox(kp::Owner::Main, "Unable to Focus the Pen!", "Pen Service Exception", kp::Icon::Exclamation);
        return pens;
    }
    if (d.system_entries > 0 || n <= 16) {
        // One pen per entry (also for a display of 16 colours or fewer, whose table is filled
        // the same way rather than left without pens).
        for (int i = 0; i < n; ++i) {
            pens.push_back(gdi::CreatePen(gdi::PS_SOLID, width, colorpoint[colorcount.load(std::memory_order_relaxed)]));
            AdvanceColorCount();
        }
        return pens;
    }
    for (int i = 0; i < 256; ++i) {
        const double f = i < 100 ? 1.0 : i < 200 ? 1.5 : 2.0;
        const int r = int(255.0 / f) & 0xFF;
        const int g = (255 - i) & 0xFF;
        const int b = (i < 64 ? 2 * i : i) & 0xFF;
        pens.push_back(gdi::CreatePen(gdi::PS_SOLID, width, gdi::RGB(r, g, b)));
    }
    const QRgb same = colorpoint[colorcount.load(std::memory_order_relaxed)];
    for (int i = 256; i < 512; ++i) pens.push_back(gdi::CreatePen(gdi::PS_SOLID, width, same));
    for (int i = 512; i < 768; ++i) pens.push_back(gdi::CreatePen(gdi::PS_SOLID, width, colorpoint[AdvanceColorCount()]));
    return pens;
}

// ---- line art ------------------------------------------------------------------------------------

void TList(int count, int w) {
    MaxLines = count;
    LineArt& a = line_art[w];
    a.CurrentLine = 0;
    a.Xmax = 0;
    a.Ymax = 0;
    a.IncrementCount = 0;
    for (TLineRec& l : a.Line) l.Color = gdi::RGB(128, 128, 128);
    MaxDelta = 10;
    a.quadon = 1;
}

void ResetLines(int w) {
    LineArt& a = line_art[w];
    const int cx = a.Xmax / 2;
    const int cy = a.Ymax / 2;
    for (TLineRec& l : a.Line) l = TLineRec{cx, cy, cx, cy, gdi::RGB(128, 128, 128)};
    a.X1 = a.X2 = cx;
    a.Y1 = a.Y2 = cy;
}

void ScaleTo(int width, int height, int w) {
    LineArt& a = line_art[w];
    if (a.Xmax != 0 && a.Ymax != 0) {
        a.X1 = a.X1 * width / a.Xmax;
        a.X2 = a.X2 * width / a.Xmax;
        a.Y1 = a.Y1 * height / a.Ymax;
        a.Y2 = a.Y2 * height / a.Ymax;
        for (TLineRec& l : a.Line) {
            l.LX1 = l.LX1 * width / a.Xmax;
            l.LX2 = l.LX2 * width / a.Xmax;
            l.LY1 = l.LY1 * height / a.Ymax;
            l.LY2 = l.LY2 * height / a.Ymax;
        }
    } else {
        a.Xmax = width;
        a.Ymax = height;
        ResetLines(w);
    }
    a.Xmax = width;
    a.Ymax = height;
}

void SelectNewDeltaValues(int w) {
    SeedThreadGenerator();
    LineArt& a = line_art[w];
    a.DeltaX1 = Rand() % MaxDelta - MaxDelta / 2;
    a.DeltaX2 = Rand() % MaxDelta - MaxDelta / 2;
    a.DeltaY1 = Rand() % MaxDelta - MaxDelta / 2;
    a.DeltaY2 = Rand() % MaxDelta - MaxDelta / 2;
    a.IncrementCount = 2 * (Rand() % 10);
}

void AdjustX(int* x, int* delta, int w) {
    const int next = *x + *delta;
    if (next >= 1 && next <= line_art[w].Xmax) {
        *x = next;
    } else {
        *delta = -*delta;
    }
}

void AdjustY(int* y, int* delta, int w) {
    const int next = *y + *delta;
    if (next >= 1 && next <= line_art[w].Ymax) {
        *y = next;
    } else {
        *delta = -*delta;
    }
}

void QuadLines(const TLineRec& l, int X, int Y, QPoint out[8]) {
    out[0] = {l.LX1, l.LY1};
    out[1] = {l.LX2, l.LY2};
    out[2] = {X - l.LX1, l.LY1};
    out[3] = {X - l.LX2, l.LY2};
    out[4] = {l.LX1, Y - l.LY1};
    out[5] = {l.LX2, Y - l.LY2};
    out[6] = {X - l.LX1, Y - l.LY1};
    out[7] = {X - l.LX2, Y - l.LY2};
}

void DrawQuadLine(const ArtCall& call, int line, int w) {
    DrawStored(call, line_art[w].Line[line], line_art[w].Line[line].Color, w, true);
}
void EraseQuadLine(const ArtCall& call, int line, int w) {
    DrawStored(call, line_art[w].Line[line], backcolor[w], w, true);
}
void DrawLine(const ArtCall& call, int line, int w) {
    DrawStored(call, line_art[w].Line[line], line_art[w].Line[line].Color, w, false);
}
void EraseLine(const ArtCall& call, int line, int w) { DrawStored(call, line_art[w].Line[line], backcolor[w], w, false); }

void LineTick(const ArtCall& call, int w) {
    LineArt& a = line_art[w];
    const int c = a.CurrentLine;
    if (a.quadon == 1) {
        EraseQuadLine(call, c, w);
    } else {
        EraseLine(call, c, w);
    }
    if (a.IncrementCount == 0) SelectNewDeltaValues(w);
    AdjustX(&a.X1, &a.DeltaX1, w);
    AdjustX(&a.X2, &a.DeltaX2, w);
    AdjustY(&a.Y1, &a.DeltaY1, w);
    AdjustY(&a.Y2, &a.DeltaY2, w);
    const int r = Rand() % 254 + 1;
    const int g = Rand() % 254 + 1;
    const int b = Rand() % 254 + 1;
    a.Line[c] = TLineRec{a.X1, a.Y1, a.X2, a.Y2, gdi::RGB(r, g, b)};
    a.CurrentLine += 1;
    if (a.CurrentLine >= MaxLines) a.CurrentLine = 1;
    a.IncrementCount -= 1;
    SeedThreadGenerator();
}

// ---- the test --------------------------------------------------------------------------------------

double DrawFractalBrot(int runs) {
    const char* const titles[4] = {kViews[0].title, kViews[1].title, kViews[2].title, kViews[3].title};
    if (!MakeQuadrantWindows(titles)) return 0.0;
    g_view_failed = 0;
    const TimedRuns t = RunTimed(runs, [&](int) {
        kp::WorkerTeam team(4);
        std::unique_ptr<_PerWndInfo> views[4];
        for (int v = 0; v < 4; ++v) {
            views[v] = StartMBrot(v, team);
            if (views[v] == nullptr) return -1.0;
        }
        team.ReleaseAll();
        team.Join();
        // The views' pen tables and records end with the run.
        if (g_view_failed != 0) return -1.0;
        double ms = 0.0;
        {
            std::lock_guard<std::mutex> lock(g_result_mutex);
            ms = globalelapsed;
        }
        if (runs != 0) {
            for (Window* c : hwndChild) c->InvalidateAndUpdate();
        }
        return ms;
    });
    AtTestEnd();
    RemoveQuadrantWindows();
    return t.ms;
}

double DrawFractalQix(int runs) {
    if (!MakeQuadrantWindows(kQixTitles)) return 0.0;
    // One processor count for the whole call: the runs go on where the previous one stopped.
    int p = 1;
    const TimedRuns t = RunTimed(runs, [&](int) {
        kp::WorkerTeam team(4);
        for (int w = 0; w < 4; ++w) {
            if (!team.Create(w, [w] { DrawFractalArt(w); }, -1)) return -1.0;
            SetThreadToProcessor(team.worker(w), p);
            p = NextProcessor(p);
        }
        Stopwatch watch;
        if (!watch.Start()) return -1.0;
        team.ReleaseAll();
        team.Join();
        gdi::PresentAll();
        const double ms = watch.Stop();
        if (runs != 0 && ms >= 0.0) {
            for (Window* c : hwndChild) c->InvalidateAndUpdate();
        }
        return ms;
    });
    AtTestEnd();
    RemoveQuadrantWindows();
    return t.ms;
}

double FractalTestDraw() {
    resize(hwndParent);
    const int runs = count != 0 ? 3 : 0;
    const double brot = DrawFractalBrot(runs);
    if (brot < 0.0) return -1.0;
    const double qix = DrawFractalQix(runs);
    if (qix < 0.0) return -1.0;
    return brot + qix;
}

}  // namespace lumen

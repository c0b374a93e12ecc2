#include "lumen/figure_tests.h"

#include <QPoint>

#include <array>

#include "lumen/frame.h"
#include "lumen/generator.h"
#include "lumen/timing.h"
#include "lumen/windows.h"
#include "platform/msgbox.h"
#include "platform/workers.h"
#include "shared/gdi/present.h"

namespace lumen {

Window* hwndChild[4] = {};
std::atomic<int> iRectCount[4] = {};
std::atomic<int> round{0};
std::atomic<int> iCurveCount[4] = {};
std::atomic<double> iNumPoints{0.0};
BezierChain bezier_chain;
std::mutex bezier_chain_mutex;
std::atomic<int> rectvalue[4] = {};

namespace {

bool AnyRunning() {
    for (const auto& t : terminate) {
        if (t.load(std::memory_order_relaxed) == 0) return true;
    }
    return false;
}

template <class Counters>
int SumOf(const Counters& counters) {
    int64_t sum = 0;
    for (const auto& c : counters) sum += c.load(std::memory_order_relaxed);
    return int(sum);
}

template <class Counters>
void Snapshot(const Counters& counters, int out[4]) {
    for (int k = 0; k < 4; ++k) out[k] = counters[k].load(std::memory_order_relaxed);
}

void ClearFlags() {
    for (int i = 0; i < 4; ++i) {
        rectvalue[i] = 0;
        terminate[i] = 0;
    }
}

// ---- figure drawing ------------------------------------------------------------------------

void StartFigureThread(int i) {
    while (AnyRunning()) DrawProc(i);
    rectvalue[i] = SumOf(iRectCount);
}

Rect VerticalTile(int i) {
    const int w = crect.right / 4;
    return Rect{crect.left + i * w, crect.top, crect.left + i * w + w, crect.top + crect.bottom};
}

Rect HorizontalTile(int i) {
    const int w = crect.right / 2;
    const int h = crect.bottom / 2;
    const int x = i % 2 == 0 ? 0 : crect.right / 2;
    const int y = i < 2 ? 0 : crect.bottom / 2;
    return Rect{x, y, x + w, y + h};
}

// One measured run: 8 threads in two phases. p is the processor rotation, kept across runs.
double FigureRun(int& p) {
    kp::WorkerTeam first(4);
    kp::WorkerTeam second(4);
    for (int i = 0; i < 4; ++i) {
        iRectCount[i] = 0;
        // Threads that were made are let go unrun and joined when the teams end.
        if (!first.Create(i, [i] { StartFigureThread(i); }, tpriority)) return -1.0;
        if (!second.Create(i, [i] { StartFigureThread(i); }, tpriority)) return -1.0;
        SetThreadToProcessor(first.worker(i), p);
        SetThreadToProcessor(second.worker(i), p);
        p = NextProcessor(p);
    }
    draw_failed = 0;
    // The windows are moved to the second phase's tiles inside the time; their pictures for that
    // size are made ahead, as for the size they have.
    for (int i = 0; i < 4; ++i) {
        const Rect tile = HorizontalTile(i);
        hwndChild[i]->surface().Reserve(gdi::ChildFrame::ClientRectFor(QSize(tile.Width(), tile.Height())).size());
    }
    Stopwatch watch;
    if (!watch.Start()) return -1.0;
    round = 1;
    first.ReleaseAll();
    first.Join();
    if (draw_failed != 0) return -1.0;
    for (int i = 0; i < 4; ++i) {
        terminate[i] = 0;
        hwndChild[i]->Move(HorizontalTile(i));
        hwndChild[i]->SetTitle("Horizontal Tiles");
        hwndChild[i]->Update();
    }
    round = 0;
    second.ReleaseAll();
    second.Join();
    gdi::PresentAll();
    const double ms = watch.Stop();
    if (draw_failed != 0) return -1.0;
    return ms;
}

// ---- line/arc drawing ----------------------------------------------------------------------

void StartLineThread(int i) {
    while (AnyRunning()) DrawTheCurves(i);
    rectvalue[i] = SumOf(iCurveCount);
}

void DrawBatch(Window* w, const CurveBatch& b) {
    std::array<QPoint, 64> pts;
    for (int k = 0; k < b.npoints; ++k) pts[size_t(k)] = QPoint(b.points[size_t(k)].x, b.points[size_t(k)].y);
    static constexpr uint8_t kLineTo[8] = {gdi::PT_LINETO, gdi::PT_LINETO, gdi::PT_LINETO, gdi::PT_LINETO,
                                           gdi::PT_LINETO, gdi::PT_LINETO, gdi::PT_LINETO, gdi::PT_LINETO};
    static constexpr int kPolygons[3] = {16, 16, 16};
    for (int k = 0; k < b.nops; ++k) {
        const CurveOp& op = b.ops[size_t(k)];
        const auto& a = op.a;
        const QPoint* p = &pts[size_t(op.first)];
        // The main window's context is shared by the four threads, one call at a time.
        gdi::Surface::Dc held = w->GetDC();
        gdi::GdiDc& dc = *held;
        switch (op.type) {
            case CurveOp::kPolyBezier: dc.PolyBezier(p, op.n); break;
            case CurveOp::kPolyBezierTo: dc.PolyBezierTo(p, op.n); break;
            case CurveOp::kMoveTo: dc.MoveToEx(a[0], a[1]); break;
            case CurveOp::kLineTo: dc.LineTo(a[0], a[1]); break;
            case CurveOp::kPolyDrawLineTo: dc.PolyDraw(p, kLineTo, op.n); break;
            case CurveOp::kPolygon: dc.Polygon(p, op.n); break;
            case CurveOp::kRectangle: dc.Rectangle(a[0], a[1], a[2], a[3]); break;
            case CurveOp::kArc: dc.Arc(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]); break;
            case CurveOp::kPolyline: dc.Polyline(p, op.n); break;
            case CurveOp::kPolyPolygon: dc.PolyPolygon(p, kPolygons, 3); break;
            case CurveOp::kPie: dc.Pie(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]); break;
            case CurveOp::kChord: dc.Chord(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]); break;
        }
    }
}

double LineArcRun(int& p) {
    kp::WorkerTeam team(4);
    for (int i = 0; i < 4; ++i) {
        iCurveCount[i] = 0;
        if (!team.Create(i, [i] { StartLineThread(i); }, tpriority)) return -1.0;
        SetThreadToProcessor(team.worker(i), p);
        p = NextProcessor(p);
    }
    draw_failed = 0;
    Stopwatch watch;
    if (!watch.Start()) return -1.0;
    team.ReleaseAll();
    team.Join();
    gdi::PresentAll();
    const double ms = watch.Stop();
    if (draw_failed != 0) return -1.0;
    return ms;
}

}  // namespace

void NextCurveBatch(int c, Generator& gen, const Rect& window, CurveBatch* out) {
    if (CurveKind(c) == 0) {
        std::lock_guard<std::mutex> lock(bezier_chain_mutex);
        MakeCurveBatch(c, gen, bezier_chain, window, crect, out);
    } else {
        MakeCurveBatch(c, gen, bezier_chain, window, crect, out);
    }
}

void AddLength(double length) { iNumPoints.fetch_add(length, std::memory_order_relaxed); }

void DrawProc(int i) {
    SeedThreadGenerator();
    Window* w = hwndChild[i];
    const QSize client = w->ClientSize();
    if (client.width() < 2 || client.height() < 2) {
        // Nothing can be drawn, so the counters would never reach the stop rule.
        FailDrawing();
        return;
    }
    // The window's context is shared by the threads drawing into it, one call at a time.
    const FigureGroup f = MakeFigureGroup(ThreadGenerator(), client.width(), client.height(),
                                          iRectCount[i].load(std::memory_order_relaxed));
    const gdi::Brush old = OneCall(w, [&](gdi::GdiDc& dc) {
        return dc.SelectBrush(gdi::CreateSolidBrush(gdi::RGB(f.r, f.g, f.b)));
    });
    OneCall(w, [&](gdi::GdiDc& dc) { dc.Rectangle(f.x1, f.y1, f.x2, f.y2); });
    OneCall(w, [&](gdi::GdiDc& dc) { dc.Ellipse(f.x1, f.x2, f.y1, f.y2); });
    OneCall(w, [&](gdi::GdiDc& dc) {
        dc.Pie(f.x1, f.x2, f.y1, f.y2, 2 * f.y1 / 3, 2 * f.y1, 2 * f.x1 / 3, 2 * f.x1);
    });
    OneCall(w, [&](gdi::GdiDc& dc) { dc.SelectBrush(old); });
    iRectCount[i].fetch_add(kFiguresPerGroup, std::memory_order_relaxed);
    int counts[4];
    Snapshot(iRectCount, counts);
    if (FigureStopRule(counts, round.load(std::memory_order_relaxed))) {
        hwndParent->Repaint();
        terminate[i] = 1;
    }
}

void DrawTheCurves(int i) {
    const Rect window = hwndParent->ScreenRect();
    SeedThreadGenerator();
    if (hwndParent->ClientSize().isEmpty()) {
        FailDrawing();
        return;
    }
    CurveBatch batch;
    NextCurveBatch(iCurveCount[i].load(std::memory_order_relaxed), ThreadGenerator(), window, &batch);
    const gdi::Pen pen = gdi::ExtCreatePen(
        gdi::PS_GEOMETRIC | gdi::PS_INSIDEFRAME | gdi::PS_ENDCAP_FLAT | gdi::PS_JOIN_MITER, 5,
        gdi::RGB(batch.r, batch.g, batch.b));
    const gdi::Pen old = OneCall(hwndParent, [&](gdi::GdiDc& dc) { return dc.SelectPen(pen); });
    DrawBatch(hwndParent, batch);
    OneCall(hwndParent, [&](gdi::GdiDc& dc) { dc.SelectPen(old); });
    iCurveCount[i].store(batch.count_after, std::memory_order_relaxed);
    AddLength(batch.length);
    int counts[4];
    Snapshot(iCurveCount, counts);
    if (CurveStopRule(counts)) terminate[i] = 1;
}

double FigureDraw() {
    for (int i = 0; i < 4; ++i) {
        hwndChild[i] = CreateWindowOf(WindowClass::KestrelChild, "", VerticalTile(i), hwndParent);
        if (hwndChild[i] == nullptr) {
            kp::MessageBox(kp::Owner::Main, "Cannot Create Windows for Figure Draw Test", "Window Exception",
                           kp::Icon::Stop);
            gdi::RunOnGuiThread([] { Main_OnDestroy(); });
            return -1.0;
        }
        hwndChild[i]->SetTitle("Vertical Tiles");
        hwndChild[i]->Update();
        terminate[i] = 0;
        hwndChild[i]->Show();
        hwndChild[i]->Update();
    }
    int p = 1;
    int counts[3] = {};
    const TimedRuns t = RunTimed(count, [&](int run) {
        if (count != 0) {
            hwndParent->Repaint();
            for (int i = 0; i < 4; ++i) {
                hwndChild[i]->Move(VerticalTile(i));
                hwndChild[i]->SetTitle("Vertical Tiles");
                hwndChild[i]->Update();
            }
        }
        const double ms = FigureRun(p);
        int values[4];
        Snapshot(rectvalue, values);
        counts[run] = AverageOfFour(values);
        if (count != 0) {
            ClearFlags();
            hwndParent->InvalidateAndUpdate();
        }
        return ms;
    });
    if (t.ms >= 0.0) times.rectcount1 = counts[t.run];
    AtTestEnd();
    for (auto& child : hwndChild) DestroyWindow(child);
    hwndParent->Repaint();
    for (auto& f : terminate) f = 0;
    return t.ms;
}

double LineArcDraw() {
    int p = 1;
    int count2[3] = {};
    int points[3] = {};
    const TimedRuns t = RunTimed(count, [&](int run) {
        iNumPoints = 0.0;
        const double ms = LineArcRun(p);
        int values[4];
        Snapshot(rectvalue, values);
        count2[run] = AverageOfFour(values);
        points[run] = NumPointsOf(iNumPoints.load());
        if (count != 0) {
            ClearFlags();
            hwndParent->InvalidateAndUpdate();
        }
        return ms;
    });
    if (t.ms >= 0.0) {
        times.rectcount2 = count2[t.run];
        times.numpoints = points[t.run];
    }
    AtTestEnd();
    for (auto& f : terminate) f = 0;
    return t.ms;
}

}  // namespace lumen

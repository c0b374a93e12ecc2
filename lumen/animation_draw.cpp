// The animation test's drawing: each figure goes through a black-and-white scratch picture into
// its half of the window.
#include "lumen/animation.h"
#include "shared/gdi/dc.h"
#include "shared/gdi/surface.h"

namespace lumen {

namespace {

// The pen of both figures: cosmetic, solid, black, 3 pixels wide.
const gdi::Pen& FigurePen() {
    static const gdi::Pen pen = gdi::ExtCreatePen(gdi::PS_COSMETIC | gdi::PS_SOLID, 3, gdi::RGB(0, 0, 0));
    return pen;
}

void DrawFigure(gdi::Surface& surface, const TPoint points[][kAnimateWindows], int w, bool right, QRgb bk,
                QImage& scratch) {
    const FigureBox box = FigureBoxOfClientWidth(surface.Size().width());
    const int S = box.S;
    const int r = box.r;
    if (S <= 0) return;
    if (scratch.size() != QSize(S, S) || scratch.format() != QImage::Format_RGB32)
        scratch = QImage(S, S, QImage::Format_RGB32);
    scratch.fill(0xFF000000u);  // a fresh monochrome bitmap holds 0 bits
    {
        gdi::GdiDc mem(&scratch, nullptr, /*mono=*/true);
        mem.PatBlt(0, 0, 2 * r, 2 * r, gdi::WHITENESS);
        mem.SelectPen(FigurePen());
        if (right) mem.SelectBrush(gdi::CreateSolidBrush(FillOfWindow(w)));
        mem.Ellipse(0, 0, S, S);
        const int n = Animation().PointCount.load(std::memory_order_relaxed);
        for (int i = 0; i < n; ++i) {
            for (int j = i + 1; j < n; ++j) {
                const QPoint a = FigureVertex(r, points[i][w]);
                const QPoint b = FigureVertex(r, points[j][w]);
                mem.MoveToEx(a.x(), a.y());
                mem.LineTo(b.x(), b.y());
            }
        }
    }
    gdi::Surface::Dc dc = surface.GetDC();
    dc->SetBkColor(bk);
    dc->BitBlt(right ? S : 0, 0, S, S, scratch, 0, 0, gdi::SRCCOPY, /*src_mono=*/true);
}

}  // namespace

void DrawFigure2(gdi::Surface& surface, int w, QRgb bk, QImage& scratch) {
    DrawFigure(surface, Animation().Points, w, false, bk, scratch);
}

void DrawFigure3(gdi::Surface& surface, int w, QRgb bk, QImage& scratch) {
    DrawFigure(surface, Animation().Points2, w, true, bk, scratch);
}

}  // namespace lumen

#include "shared/gdi/dc.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QPainterPath>
#include <QTransform>
#include <QVarLengthArray>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <utility>

namespace gdi {

namespace {

constexpr QRgb kBlack = 0xFF000000u;

// A pen's width in pixels as drawn (0 is 1). A cosmetic pen is drawn at its width too: the
// animation's figures ask for a 3-pixel cosmetic pen and get one.
int DrawnWidth(const Pen& p) { return std::max(1, p.width); }

bool IsNullPen(const Pen& p) { return (p.style & PS_STYLE_MASK) == PS_NULL; }

Qt::PenStyle QtStyle(uint32_t style) {
    switch (style & PS_STYLE_MASK) {
        case PS_DASH: return Qt::DashLine;
        case PS_DOT: return Qt::DotLine;
        case PS_DASHDOT: return Qt::DashDotLine;
        case PS_DASHDOTDOT: return Qt::DashDotDotLine;
        case PS_NULL: return Qt::NoPen;
        default: return Qt::SolidLine;
    }
}

QPen MakeQtPen(const Pen& p, QRgb ink) {
    const int w = DrawnWidth(p);
    Qt::PenCapStyle cap = Qt::SquareCap;  // one-pixel lines: both ends drawn (see StrokeLines)
    Qt::PenJoinStyle join = Qt::MiterJoin;
    if (w > 1) {
        switch (p.style & PS_ENDCAP_MASK) {
            case PS_ENDCAP_SQUARE: cap = Qt::SquareCap; break;
            case PS_ENDCAP_FLAT: cap = Qt::FlatCap; break;
            default: cap = Qt::RoundCap; break;
        }
        switch (p.style & PS_JOIN_MASK) {
            case PS_JOIN_BEVEL: join = Qt::BevelJoin; break;
            case PS_JOIN_MITER: join = Qt::MiterJoin; break;
            default: join = Qt::RoundJoin; break;
        }
    }
    QPen pen(QBrush(QColor::fromRgb(ink)), w, QtStyle(p.style), cap, join);
    return pen;
}

}  // namespace

const QPen& DefaultQtPen() {
    static const QPen pen(QBrush(QColor::fromRgb(kBlack)), 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    return pen;
}

const QBrush& DefaultQtBrush() {
    static const QBrush brush(QColor::fromRgb(0xFFFFFFFFu));
    return brush;
}

Pen CreatePen(uint32_t style, int width, QRgb colour) {
    Pen p;
    p.style = (style & PS_STYLE_MASK) | (width > 1 ? PS_GEOMETRIC : PS_COSMETIC);
    p.width = std::max(0, width);
    p.colour = colour;
    return p;
}

Pen ExtCreatePen(uint32_t style, int width, QRgb colour) {
    Pen p;
    p.style = style;
    p.width = std::max(0, width);
    p.colour = colour;
    return p;
}

ArcAngles RadialToQtAngles(const QRectF& box, QPointF start, QPointF end) {
    const QRectF b = box.normalized();
    const double rx = b.width() / 2, ry = b.height() / 2;
    if (rx <= 0 || ry <= 0) return {};
    const QPointF c = b.center();
    auto angle16 = [&](QPointF p) {
        const double t = std::atan2((c.y() - p.y()) / ry, (p.x() - c.x()) / rx);
        int a = int(std::lround(t * 180.0 / std::numbers::pi * 16.0)) % 5760;
        return a < 0 ? a + 5760 : a;
    };
    ArcAngles a;
    a.start16 = angle16(start);
    int span = angle16(end) - a.start16;
    if (span <= 0) span += 5760;
    a.span16 = span;
    return a;
}

GdiDc::GdiDc(QImage* image, DcState* state, bool mono)
    : image_(image), state_(state != nullptr ? state : &own_), mono_(mono), painter_(own_painter_) {
    if (image_ != nullptr && !image_->isNull()) painter_.begin(image_);
    if (mono_) {
        // Colours of the state as the monochrome picture draws them.
        state_->qt_pen = MakeQtPen(state_->pen, Ink(state_->pen.colour));
        state_->qt_brush = QBrush();
    }
}

GdiDc::GdiDc(QPainter& painter)
    : image_(&no_image_), state_(&own_), mono_(false), painter_(painter), borrowed_(true) {
    if (painter_.isActive()) painter_.save();
}

GdiDc::~GdiDc() { End(); }

void GdiDc::End() {
    if (borrowed_) {
        if (!ended_ && painter_.isActive()) painter_.restore();
    } else if (painter_.isActive()) {
        painter_.end();
    }
    ended_ = true;
}

Pen GdiDc::SelectPen(const Pen& pen) {
    const Pen old = std::exchange(state_->pen, pen);
    state_->qt_pen = MakeQtPen(pen, Ink(pen.colour));
    return old;
}

Brush GdiDc::SelectBrush(const Brush& brush) {
    const Brush old = std::exchange(state_->brush, brush);
    if (!(old == brush) || brush.style == BS_HATCHED) state_->qt_brush = QBrush();  // remade on use
    UseBrush(state_->brush);
    return old;
}

QFont GdiDc::SelectFont(const QFont& font) { return std::exchange(state_->font, font); }
QRgb GdiDc::SetBkColor(QRgb c) { return std::exchange(state_->bk_colour, c); }
int GdiDc::SetBkMode(int mode) { return std::exchange(state_->bk_mode, mode); }
QRgb GdiDc::SetTextColor(QRgb c) { return std::exchange(state_->text_colour, c); }
int GdiDc::SetPolyFillMode(int mode) { return std::exchange(state_->poly_fill_mode, mode); }

void GdiDc::UsePen() { painter_.setPen(state_->qt_pen); }

void GdiDc::UseBrush(const Brush& b) {
    DcState& s = *state_;
    if (&b == &s.brush) {
        // The selected brush: its painter form is kept while it stays valid.
        const bool hatched = b.style == BS_HATCHED;
        const bool stale = s.qt_brush.style() == Qt::NoBrush && b.style != BS_NULL;
        const bool bk_changed = hatched && (s.qt_brush_bk != s.bk_colour || s.qt_brush_mode != s.bk_mode);
        if (stale || bk_changed || (b.style == BS_NULL && s.qt_brush.style() != Qt::NoBrush)) {
            if (b.style == BS_NULL) {
                s.qt_brush = QBrush();
            } else if (!hatched) {
                s.qt_brush = QBrush(QColor::fromRgb(Ink(b.colour)));
            } else {
                QImage cell(8, 8, QImage::Format_ARGB32_Premultiplied);
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x)
                        cell.setPixel(x, y, HatchBit(b.hatch, x, y) ? Ink(b.colour)
                                            : s.bk_mode == OPAQUE ? Ink(s.bk_colour) : 0u);
                s.qt_brush = QBrush(cell);
                s.qt_brush_bk = s.bk_colour;
                s.qt_brush_mode = s.bk_mode;
            }
        }
        if (painter_.isActive()) painter_.setBrush(s.qt_brush);
        return;
    }
    // Any other brush (FillRect): made for this call.
    if (b.style == BS_NULL) {
        painter_.setBrush(Qt::NoBrush);
    } else if (b.style == BS_HATCHED) {
        QImage cell(8, 8, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                cell.setPixel(x, y, HatchBit(b.hatch, x, y) ? Ink(b.colour)
                                    : s.bk_mode == OPAQUE ? Ink(s.bk_colour) : 0u);
        painter_.setBrush(QBrush(cell));
    } else {
        painter_.setBrush(QColor::fromRgb(Ink(b.colour)));
    }
}

void GdiDc::Touch(const QRectF& r) {
    const int pad = DrawnWidth(state_->pen) + 1;
    touched_ |= r.toAlignedRect().adjusted(-pad, -pad, pad, pad);
}

QRectF GdiDc::FigureBox(int l, int t, int r, int b) const {
    if (l > r) std::swap(l, r);
    if (t > b) std::swap(t, b);
    // Qt outlines a box one pixel wider than it fills: the box of pixels l..r-1 is (l, t) with
    // size (r - l - 1, b - t - 1), which a null pen fills one pixel smaller, as it should.
    QRectF box(l, t, std::max(0, r - l - 1), std::max(0, b - t - 1));
    const Pen& p = state_->pen;
    if ((p.style & PS_STYLE_MASK) == PS_INSIDEFRAME && DrawnWidth(p) > 1) {
        const double h = (DrawnWidth(p) - 1) / 2.0;
        box.adjust(h, h, -h, -h);
        if (box.width() < 0) box.setWidth(0);
        if (box.height() < 0) box.setHeight(0);
    }
    return box;
}

void GdiDc::StrokeLines(const QPoint* pts, int count) {
    if (IsNullPen(state_->pen) || count < 2) return;
    UsePen();
    QRect bounds(pts[0], pts[0]);
    for (int i = 1; i < count; ++i) bounds |= QRect(pts[i], pts[i]);
    Touch(bounds);
    if (DrawnWidth(state_->pen) > 1) {
        painter_.drawPolyline(pts, count);
        return;
    }
    // A one-pixel line leaves out its last pixel: each segment is drawn, both ends included, to
    // the point one step short of its end along the same slope (the painter's own half-open rule
    // leaves out the right or lower end whatever the direction).
    for (int i = 1; i < count; ++i) {
        const QPoint a = pts[i - 1], b = pts[i];
        const int steps = std::max(std::abs(b.x() - a.x()), std::abs(b.y() - a.y()));
        if (steps == 0) continue;
        if (steps == 1) {
            painter_.drawPoint(a);
            continue;
        }
        const double f = double(steps - 1) / steps;
        painter_.drawLine(QPointF(a), QPointF(a.x() + (b.x() - a.x()) * f, a.y() + (b.y() - a.y()) * f));
    }
}

QPoint GdiDc::MoveToEx(int x, int y) { return std::exchange(state_->position, QPoint(x, y)); }

bool GdiDc::LineTo(int x, int y) {
    if (!IsOpen()) return false;
    const QPoint line[2] = {state_->position, QPoint(x, y)};
    StrokeLines(line, 2);
    state_->position = line[1];
    return true;
}

bool GdiDc::Polyline(const QPoint* pts, int count) {
    if (!IsOpen() || count < 2) return false;
    StrokeLines(pts, count);
    return true;
}

bool GdiDc::PolylineTo(const QPoint* pts, int count) {
    if (!IsOpen() || count < 1) return false;
    QVarLengthArray<QPoint, 64> line;
    line.append(state_->position);
    line.append(pts, count);
    StrokeLines(line.data(), int(line.size()));
    state_->position = pts[count - 1];
    return true;
}

bool GdiDc::PolyBezier(const QPoint* pts, int count) {
    if (!IsOpen() || count < 4 || (count - 1) % 3 != 0) return false;
    QPainterPath path(pts[0]);
    for (int i = 1; i + 2 < count; i += 3) path.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
    if (!IsNullPen(state_->pen)) {
        painter_.strokePath(path, state_->qt_pen);
        Touch(path.boundingRect());
    }
    return true;
}

bool GdiDc::PolyBezierTo(const QPoint* pts, int count) {
    if (!IsOpen() || count < 1) return false;
    QPainterPath path(state_->position);
    const int whole = count / 3 * 3;
    for (int i = 0; i + 2 < whole; i += 3) path.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
    if (whole > 0 && !IsNullPen(state_->pen)) {
        painter_.strokePath(path, state_->qt_pen);
        Touch(path.boundingRect());
    }
    state_->position = pts[count - 1];
    return true;
}

bool GdiDc::PolyDraw(const QPoint* pts, const uint8_t* types, int count) {
    if (!IsOpen() || count < 0) return false;
    // Checked whole first: a bad type draws nothing.
    for (int i = 0; i < count; ++i) {
        const uint8_t t = types[i] & ~PT_CLOSEFIGURE;
        if (t == PT_BEZIERTO) {
            if (i + 2 >= count || (types[i + 1] & ~PT_CLOSEFIGURE) != PT_BEZIERTO ||
                (types[i + 2] & ~PT_CLOSEFIGURE) != PT_BEZIERTO)
                return false;
            i += 2;
        } else if (t != PT_MOVETO && t != PT_LINETO) {
            return false;
        }
    }
    QPainterPath path(state_->position);
    QPointF figure_start = state_->position;
    for (int i = 0; i < count; ++i) {
        const uint8_t t = types[i] & ~PT_CLOSEFIGURE;
        bool close = (types[i] & PT_CLOSEFIGURE) != 0;
        if (t == PT_MOVETO) {
            path.moveTo(pts[i]);
            figure_start = pts[i];
        } else if (t == PT_LINETO) {
            path.lineTo(pts[i]);
        } else {
            path.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
            close = (types[i + 2] & PT_CLOSEFIGURE) != 0;
            i += 2;
        }
        if (close) {
            path.lineTo(figure_start);
            path.moveTo(figure_start);
        }
        state_->position = path.currentPosition().toPoint();
    }
    if (!IsNullPen(state_->pen)) {
        painter_.strokePath(path, state_->qt_pen);
        Touch(path.boundingRect());
    }
    return true;
}

bool GdiDc::Rectangle(int l, int t, int r, int b) {
    if (!IsOpen()) return false;
    const QRectF box = FigureBox(l, t, r, b);
    UsePen();
    UseBrush(state_->brush);
    painter_.drawRect(box);
    Touch(box);
    return true;
}

bool GdiDc::Ellipse(int l, int t, int r, int b) {
    if (!IsOpen()) return false;
    const QRectF box = FigureBox(l, t, r, b);
    UsePen();
    UseBrush(state_->brush);
    painter_.drawEllipse(box);
    Touch(box);
    return true;
}

bool GdiDc::RoundRect(int l, int t, int r, int b, int corner_w, int corner_h) {
    if (!IsOpen()) return false;
    const QRectF box = FigureBox(l, t, r, b);
    UsePen();
    UseBrush(state_->brush);
    painter_.drawRoundedRect(box, std::abs(corner_w) / 2.0, std::abs(corner_h) / 2.0);
    Touch(box);
    return true;
}

bool GdiDc::ClosedArc(int kind, int l, int t, int r, int b, int x1, int y1, int x2, int y2) {
    if (!IsOpen()) return false;
    const QRectF box = FigureBox(l, t, r, b);
    // The radial lines start at the centre of the box as given.
    const QRectF given = QRectF(QPointF(l, t), QPointF(r, b)).normalized();
    const QPointF shift = box.center() - given.center();
    const ArcAngles a = RadialToQtAngles(box, QPointF(x1, y1) + shift, QPointF(x2, y2) + shift);
    QPainterPath path;
    const double start = a.start16 / 16.0, span = a.span16 / 16.0;
    if (kind == 1) {  // pie
        path.moveTo(box.center());
        path.arcTo(box, start, span);
        path.closeSubpath();
    } else {
        path.arcMoveTo(box, start);
        path.arcTo(box, start, span);
        if (kind == 2) path.closeSubpath();  // chord
    }
    UsePen();
    if (kind == 0) {
        painter_.setBrush(Qt::NoBrush);
    } else {
        UseBrush(state_->brush);
    }
    painter_.drawPath(path);
    Touch(box);
    return true;
}

bool GdiDc::Arc(int l, int t, int r, int b, int x1, int y1, int x2, int y2) {
    return ClosedArc(0, l, t, r, b, x1, y1, x2, y2);
}
bool GdiDc::Pie(int l, int t, int r, int b, int x1, int y1, int x2, int y2) {
    return ClosedArc(1, l, t, r, b, x1, y1, x2, y2);
}
bool GdiDc::Chord(int l, int t, int r, int b, int x1, int y1, int x2, int y2) {
    return ClosedArc(2, l, t, r, b, x1, y1, x2, y2);
}

bool GdiDc::Polygon(const QPoint* pts, int count) {
    if (!IsOpen() || count < 2) return false;
    UsePen();
    UseBrush(state_->brush);
    painter_.drawPolygon(pts, count, state_->poly_fill_mode == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
    QRect bounds(pts[0], pts[0]);
    for (int i = 1; i < count; ++i) bounds |= QRect(pts[i], pts[i]);
    Touch(bounds);
    return true;
}

bool GdiDc::PolyPolygon(const QPoint* pts, const int* counts, int polygons) {
    if (!IsOpen() || polygons < 1) return false;
    QPainterPath path;
    path.setFillRule(state_->poly_fill_mode == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
    int at = 0;
    for (int k = 0; k < polygons; ++k) {
        if (counts[k] < 2) return false;
        path.moveTo(pts[at]);
        for (int i = 1; i < counts[k]; ++i) path.lineTo(pts[at + i]);
        path.closeSubpath();
        at += counts[k];
    }
    UsePen();
    UseBrush(state_->brush);
    painter_.drawPath(path);
    Touch(path.boundingRect());
    return true;
}

bool GdiDc::FillRect(const QRect& r, const Brush& brush) {
    if (!IsOpen()) return false;
    const QRect box = r.normalized();
    if (box.isEmpty()) return true;
    painter_.setPen(Qt::NoPen);
    UseBrush(brush);
    painter_.drawRect(box);
    touched_ |= box;
    return true;
}

TextMetrics GdiDc::GetTextMetrics() const {
    const QFontMetrics fm(state_->font);
    TextMetrics m;
    m.ascent = fm.ascent();
    m.descent = fm.descent();
    m.height = m.ascent + m.descent;
    m.external_leading = std::max(0, fm.leading());
    m.ave_char_width = fm.averageCharWidth();
    m.max_char_width = fm.maxWidth();
    m.fixed_pitch = QFontInfo(state_->font).fixedPitch();
    return m;
}

QSize GdiDc::GetTextExtent(const QString& text) const {
    const QFontMetrics fm(state_->font);
    return QSize(fm.horizontalAdvance(text), fm.ascent() + fm.descent());
}

bool GdiDc::TextOut(int x, int y, const QString& text) {
    return ExtTextOut(x, y, 0, nullptr, text);
}

bool GdiDc::TextOut(int x, int y, std::string_view latin1) {
    return TextOut(x, y, QString::fromLatin1(latin1.data(), qsizetype(latin1.size())));
}

bool GdiDc::ExtTextOut(int x, int y, uint32_t options, const QRect* rect, const QString& text) {
    if (!IsOpen()) return false;
    QFont font = state_->font;
    if (mono_) font.setStyleStrategy(QFont::NoAntialias);
    painter_.setFont(font);
    const QFontMetrics fm(font);
    const QRect box = rect != nullptr ? rect->normalized() : QRect();
    if ((options & ETO_OPAQUE) != 0 && rect != nullptr) {
        painter_.fillRect(box, QColor::fromRgb(Ink(state_->bk_colour)));
        touched_ |= box;
    }
    const bool clipped = (options & ETO_CLIPPED) != 0 && rect != nullptr;
    // Clipped text whose cell lies above, below or right of the rectangle draws nothing there:
    // it is not laid out.
    const int cell_height = fm.ascent() + fm.descent();
    if (clipped && (y + cell_height <= box.top() || y > box.bottom() || x > box.right())) return true;
    const QRect cell(x, y, fm.horizontalAdvance(text), cell_height);
    if (clipped) painter_.setClipRect(box);
    if (state_->bk_mode == OPAQUE) painter_.fillRect(cell, QColor::fromRgb(Ink(state_->bk_colour)));
    painter_.setPen(QColor::fromRgb(Ink(state_->text_colour)));
    painter_.drawText(QPoint(x, y + fm.ascent()), text);
    if (clipped) painter_.setClipping(false);
    touched_ |= clipped ? (cell & box) : cell;
    return true;
}

bool GdiDc::TextOutTurned(int x, int y, int escapement, const QString& text) {
    if (escapement % 3600 == 0) return TextOut(x, y, text);
    if (!IsOpen()) return false;
    QFont font = state_->font;
    if (mono_) font.setStyleStrategy(QFont::NoAntialias);
    const QFontMetrics fm(font);
    const QRect cell(0, 0, fm.horizontalAdvance(text), fm.ascent() + fm.descent());
    QTransform turn;
    turn.translate(x, y);
    turn.rotate(-escapement / 10.0);
    painter_.save();
    painter_.setTransform(turn, true);
    painter_.setFont(font);
    if (state_->bk_mode == OPAQUE) painter_.fillRect(cell, QColor::fromRgb(Ink(state_->bk_colour)));
    painter_.setPen(QColor::fromRgb(Ink(state_->text_colour)));
    painter_.drawText(QPoint(0, fm.ascent()), text);
    painter_.restore();
    touched_ |= turn.mapRect(cell).adjusted(-1, -1, 1, 1);
    return true;
}

BlitTarget GdiDc::Target() const {
    BlitTarget t;
    t.image = image_;
    t.mono = mono_;
    t.text_colour = state_->text_colour;
    t.background_colour = state_->bk_colour;
    const Brush& b = state_->brush;
    if (b.style == BS_HATCHED) {
        t.pattern = Pattern::Hatch(b.hatch, b.colour, state_->bk_colour);
    } else {
        t.pattern = Pattern::Solid(b.style == BS_NULL ? kBlack : b.colour);
    }
    return t;
}

bool GdiDc::Blit(const QRect& rect, const BlitSource* src, QPoint sp, const QImage* mask, QPoint mp, uint32_t rop,
                 bool masked) {
    if (!IsOpen() || image_->isNull()) return false;
    // The raster painter draws at once into the image, so our own pixel code can write the same
    // pixels between its calls.
    const BlitTarget target = Target();
    const bool ok = masked ? gdi::MaskBlt(target, rect, src, sp, mask, mp, rop) : gdi::BitBlt(target, rect, src, sp, rop);
    if (ok) touched_ |= rect.normalized();
    return ok;
}

bool GdiDc::BitBlt(int x, int y, int w, int h, const GdiDc* src, int sx, int sy, uint32_t rop) {
    if (src == nullptr) return Blit(QRect(x, y, w, h), nullptr, {}, nullptr, {}, rop, false);
    const BlitSource s{src->image_, src->mono_, src->state_->bk_colour};
    return Blit(QRect(x, y, w, h), &s, QPoint(sx, sy), nullptr, {}, rop, false);
}

bool GdiDc::BitBlt(int x, int y, int w, int h, const QImage& src, int sx, int sy, uint32_t rop, bool src_mono,
                   QRgb src_bk) {
    const BlitSource s{&src, src_mono, src_bk};
    return Blit(QRect(x, y, w, h), &s, QPoint(sx, sy), nullptr, {}, rop, false);
}

bool GdiDc::PatBlt(int x, int y, int w, int h, uint32_t rop) {
    if (UsesSource(RopCode(rop))) return false;
    return Blit(QRect(x, y, w, h), nullptr, {}, nullptr, {}, rop, false);
}

bool GdiDc::MaskBlt(int x, int y, int w, int h, const GdiDc* src, int sx, int sy, const QImage& mask, int mx,
                    int my, uint32_t rop4) {
    if (src == nullptr) return Blit(QRect(x, y, w, h), nullptr, {}, &mask, QPoint(mx, my), rop4, true);
    const BlitSource s{src->image_, src->mono_, src->state_->bk_colour};
    return Blit(QRect(x, y, w, h), &s, QPoint(sx, sy), &mask, QPoint(mx, my), rop4, true);
}

bool GdiDc::MaskBlt(int x, int y, int w, int h, const QImage& src, int sx, int sy, const QImage& mask, int mx,
                    int my, uint32_t rop4, bool src_mono, QRgb src_bk) {
    const BlitSource s{&src, src_mono, src_bk};
    return Blit(QRect(x, y, w, h), &s, QPoint(sx, sy), &mask, QPoint(mx, my), rop4, true);
}

bool GdiDc::SetDIBitsToDevice(int x, int y, const QImage& src) {
    if (!IsOpen() || src.isNull()) return false;
    painter_.save();
    painter_.setCompositionMode(QPainter::CompositionMode_Source);
    painter_.drawImage(QPoint(x, y), src);
    painter_.restore();
    touched_ |= QRect(QPoint(x, y), src.size());
    return true;
}

bool GdiDc::PlgBlt(const QPoint (&pts)[3], const QImage& src, int sx, int sy, int w, int h) {
    if (!IsOpen() || w == 0 || h == 0) return false;
    const QPointF p0 = pts[0], p1 = pts[1], p2 = pts[2];
    const QTransform m((p1.x() - p0.x()) / w, (p1.y() - p0.y()) / w, (p2.x() - p0.x()) / h, (p2.y() - p0.y()) / h,
                       p0.x(), p0.y());
    painter_.save();
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter_.setCompositionMode(QPainter::CompositionMode_Source);
    painter_.setTransform(m);
    painter_.drawImage(QRectF(0, 0, w, h), src, QRectF(sx, sy, w, h));
    painter_.restore();
    touched_ |= m.mapRect(QRectF(0, 0, w, h)).toAlignedRect();
    return true;
}

QRgb GdiDc::GetPixel(int x, int y) const {
    if (!image_->rect().contains(x, y)) return 0xFFFFFFFFu;  // outside: no colour
    return image_->pixel(x, y) | kBlack;
}

void ScrollPixels(QImage& image, int dx, int dy, QRgb fill) {
    const int w = image.width(), h = image.height();
    if (std::abs(dx) >= w || std::abs(dy) >= h) {
        image.fill(fill);
        return;
    }
    uchar* bits = image.bits();
    const qsizetype bpl = image.bytesPerLine();
    const int n = w - std::abs(dx);
    const int from_x = std::max(0, -dx), to_x = std::max(0, dx);
    auto move_row = [&](int y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(bits + y * bpl);
        const int sy = y - dy;
        if (sy < 0 || sy >= h) {
            std::fill(row, row + w, fill);
            return;
        }
        const uint32_t* src = reinterpret_cast<const uint32_t*>(bits + sy * bpl);
        std::memmove(row + to_x, src + from_x, size_t(n) * 4);
        std::fill(row + (dx > 0 ? 0 : n), row + (dx > 0 ? dx : w), fill);
    };
    // Rows are moved in the order that reads every source row before it is written.
    if (dy > 0) {
        for (int y = h - 1; y >= 0; --y) move_row(y);
    } else {
        for (int y = 0; y < h; ++y) move_row(y);
    }
}

bool GdiDc::ScrollImage(int dx, int dy, QRgb fill) {
    if (!IsOpen() || image_->isNull()) return false;
    const int w = image_->width(), h = image_->height();
    const QRect all = image_->rect();
    ScrollPixels(*image_, dx, dy, Ink(fill));
    if (std::abs(dx) >= w || std::abs(dy) >= h) {
        touched_ |= all;
        return true;
    }
    scrolled_ += QPoint(dx, dy);
    touched_ = touched_.translated(dx, dy) & all;
    if (dx != 0) touched_ |= QRect(dx > 0 ? 0 : w + dx, 0, std::abs(dx), h);
    if (dy != 0) touched_ |= QRect(0, dy > 0 ? 0 : h + dy, w, std::abs(dy));
    return true;
}

QRgb GdiDc::SetPixel(int x, int y, QRgb c) {
    if (!IsOpen() || !image_->rect().contains(x, y)) return 0xFFFFFFFFu;
    painter_.setPen(QColor::fromRgb(Ink(c)));
    painter_.drawPoint(x, y);
    touched_ |= QRect(x, y, 1, 1);
    return Ink(c);
}

}  // namespace gdi

// The drawing context: a QPainter on a QImage plus the drawing state of a window's device context
// (pen, brush, font, background colour and mode, text colour, current position), with the
// geometry rules of that model:
// - Rectangle, Ellipse, RoundRect, Pie, Chord and Arc take a bounding box whose right and bottom
//   edges are outside the figure (a box (0,0)-(10,10) with a 1-pixel pen covers pixels 0..9);
//   swapped corners are put in order. With a null pen the filled box is one pixel smaller still.
//   An inside-frame pen keeps a wide outline inside the box.
// - Pie, Chord and Arc run counter-clockwise from the radial line through the first point to the
//   radial line through the second; equal directions give the whole ellipse.
// - LineTo, Polyline and PolyDraw's line segments leave out the last pixel of a 1-pixel pen's line.
// - Text is placed by the top left corner of its cell.
// Colours are QRgb (0xAARRGGBB; alpha is ignored). A context on a monochrome picture draws every
// colour as black or white by luminance (rop.h).
//
// A context belongs to one thread at a time; it draws only while open (the painter ends in End()
// or the destructor). Each drawing call adds what it touched to Touched(), which Surface uses as
// the part of the picture to show again.
#pragma once

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QBrush>
#include <QPen>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRgb>
#include <QString>
#include <cstdint>
#include <string_view>

#include "shared/gdi/rop.h"

namespace gdi {

constexpr QRgb RGB(int r, int g, int b) { return qRgb(r, g, b); }

// Pen styles, end caps, joins and types (the bits of a pen's style word).
inline constexpr uint32_t PS_SOLID = 0, PS_DASH = 1, PS_DOT = 2, PS_DASHDOT = 3, PS_DASHDOTDOT = 4,
                          PS_NULL = 5, PS_INSIDEFRAME = 6, PS_STYLE_MASK = 0x0F;
inline constexpr uint32_t PS_ENDCAP_ROUND = 0x000, PS_ENDCAP_SQUARE = 0x100, PS_ENDCAP_FLAT = 0x200,
                          PS_ENDCAP_MASK = 0xF00;
inline constexpr uint32_t PS_JOIN_ROUND = 0x0000, PS_JOIN_BEVEL = 0x1000, PS_JOIN_MITER = 0x2000,
                          PS_JOIN_MASK = 0xF000;
inline constexpr uint32_t PS_COSMETIC = 0x00000, PS_GEOMETRIC = 0x10000, PS_TYPE_MASK = 0xF0000;

// A pen: style word, width in pixels (0 is 1) and colour. One-pixel pens draw both ends of a
// curve and leave out the last pixel of a line; wider pens (cosmetic ones too: a cosmetic pen is
// drawn at the width it asks for) have the caps and joins of their style word.
struct Pen {
    uint32_t style = PS_SOLID;
    int width = 1;
    QRgb colour = 0xFF000000u;
    bool operator==(const Pen&) const = default;
};
// A pen as made by the plain constructor (round caps and joins, geometric when wider than 1).
Pen CreatePen(uint32_t style, int width, QRgb colour);
// A pen with the full style word (type, caps, joins).
Pen ExtCreatePen(uint32_t style, int width, QRgb colour);

inline constexpr int BS_SOLID = 0, BS_NULL = 1, BS_HOLLOW = 1, BS_HATCHED = 2;

// A brush: solid, hatched (hatch lines in the colour over the background colour, aligned to the
// picture's origin) or null.
struct Brush {
    int style = BS_SOLID;
    QRgb colour = 0xFFFFFFFFu;
    int hatch = HS_HORIZONTAL;
    bool operator==(const Brush&) const = default;
};
inline Brush CreateSolidBrush(QRgb colour) { return {BS_SOLID, colour, 0}; }
inline Brush CreateHatchBrush(int hatch, QRgb colour) { return {BS_HATCHED, colour, hatch}; }
inline Brush NullBrush() { return {BS_NULL, 0xFF000000u, 0}; }

inline constexpr int TRANSPARENT = 1, OPAQUE = 2;
inline constexpr int ALTERNATE = 1, WINDING = 2;
inline constexpr uint8_t PT_CLOSEFIGURE = 0x01, PT_LINETO = 0x02, PT_BEZIERTO = 0x04, PT_MOVETO = 0x06;
inline constexpr uint32_t ETO_OPAQUE = 0x0002, ETO_CLIPPED = 0x0004;

// The figures of the selected font that the text layout reads.
struct TextMetrics {
    int height = 0;            // ascent + descent
    int ascent = 0;
    int descent = 0;
    int external_leading = 0;  // the gap between lines
    int ave_char_width = 0;
    int max_char_width = 0;
    bool fixed_pitch = false;
    int LineHeight() const { return height + external_leading; }
};

// Qt's angles (1/16 degree, counter-clockwise from three o'clock, parametric on the ellipse) of
// the arc from the radial line through `start` counter-clockwise to the radial line through `end`,
// on the ellipse inscribed in `box`. The span is in (0, 5760]; equal directions give 5760.
struct ArcAngles {
    int start16 = 0;
    int span16 = 5760;
};
ArcAngles RadialToQtAngles(const QRectF& box, QPointF start, QPointF end);

// The painter's pen and brush for the defaults (shared, so that a default state costs no
// allocation).
const QPen& DefaultQtPen();
const QBrush& DefaultQtBrush();

// The state a context draws with. A thread may keep one across several openings of a surface's
// context (Surface::GetDC(state)), as a window's own device context keeps its state.
struct DcState {
    Pen pen;
    Brush brush;
    QFont font;                      // the application font unless one is selected
    QRgb bk_colour = 0xFFFFFFFFu;
    int bk_mode = OPAQUE;
    QRgb text_colour = 0xFF000000u;
    QPoint position;                 // the current position
    int poly_fill_mode = ALTERNATE;
    // The painter's forms of pen and brush, made when they are selected (change the pen and brush
    // through a context's Select calls, not here).
    QPen qt_pen = DefaultQtPen();
    QBrush qt_brush = DefaultQtBrush();
    QRgb qt_brush_bk = 0xFFFFFFFFu;  // a hatched brush's background as made
    int qt_brush_mode = OPAQUE;
};

// Moves the pixels of a 32-bit picture by (dx, dy) in place (positive: right, down), filling what
// is uncovered with `fill`. A move of the picture's size or more fills all of it.
void ScrollPixels(QImage& image, int dx, int dy, QRgb fill);

class GdiDc {
public:
    // Opens a context on `image` (Format_RGB32 or ARGB32_Premultiplied). `state`, when given, is
    // the state drawn with and kept (it must outlive the context); otherwise the context has its
    // own, starting from the defaults (black 1-pixel pen, white brush, white opaque background,
    // black text). `mono`: the picture is monochrome (colours by luminance, text not smoothed).
    explicit GdiDc(QImage* image, DcState* state = nullptr, bool mono = false);
    // Opens a context on a painter that is already open on another device (a printer's page):
    // its drawing calls go to that painter, blits and pixels find no picture and do nothing.
    // The painter's own state is saved here and given back by End(); it stays open.
    explicit GdiDc(QPainter& painter);
    ~GdiDc();
    GdiDc(const GdiDc&) = delete;
    GdiDc& operator=(const GdiDc&) = delete;

    // Ends the painter (no drawing afterwards). The destructor does it too.
    void End();
    bool IsOpen() const { return !ended_ && painter_.isActive(); }

    QImage* Image() const { return image_; }
    bool IsMono() const { return mono_; }
    QPainter& Painter() { return painter_; }
    DcState& State() { return *state_; }
    // The part of the picture the drawing calls touched since the context opened (or the last
    // ClearTouched), clipped to the picture.
    QRect Touched() const { return touched_ & image_->rect(); }
    void ClearTouched() { touched_ = QRect(); }
    // The picture's size.
    QSize Size() const { return image_->size(); }

    // State. Each Select/Set returns what was there before.
    Pen SelectPen(const Pen& pen);
    Brush SelectBrush(const Brush& brush);
    QFont SelectFont(const QFont& font);
    QRgb SetBkColor(QRgb c);
    int SetBkMode(int mode);
    QRgb SetTextColor(QRgb c);
    int SetPolyFillMode(int mode);
    QRgb GetBkColor() const { return state_->bk_colour; }
    QRgb GetTextColor() const { return state_->text_colour; }

    // Lines and curves.
    QPoint MoveToEx(int x, int y);  // returns the old current position
    QPoint GetCurrentPosition() const { return state_->position; }
    bool LineTo(int x, int y);
    bool Polyline(const QPoint* pts, int count);
    bool PolylineTo(const QPoint* pts, int count);
    // Cubic segments: the first point, then three points per segment.
    bool PolyBezier(const QPoint* pts, int count);
    // From the current position, three points per segment. A count that is not a multiple of
    // three draws the whole segments it has; the last point given becomes the current position.
    bool PolyBezierTo(const QPoint* pts, int count);
    // PT_MOVETO / PT_LINETO / PT_BEZIERTO (three points) with PT_CLOSEFIGURE; false on a bad type
    // (nothing drawn).
    bool PolyDraw(const QPoint* pts, const uint8_t* types, int count);
    bool Arc(int l, int t, int r, int b, int x1, int y1, int x2, int y2);

    // Closed figures: outlined with the pen, filled with the brush.
    bool Rectangle(int l, int t, int r, int b);
    bool Ellipse(int l, int t, int r, int b);
    bool RoundRect(int l, int t, int r, int b, int corner_w, int corner_h);
    bool Pie(int l, int t, int r, int b, int x1, int y1, int x2, int y2);
    bool Chord(int l, int t, int r, int b, int x1, int y1, int x2, int y2);
    bool Polygon(const QPoint* pts, int count);
    bool PolyPolygon(const QPoint* pts, const int* counts, int polygons);
    // Fills [l, r) x [t, b) with a brush (not the selected one), no outline.
    bool FillRect(const QRect& r, const Brush& brush);

    // Text with its cell's top left corner at (x, y). Opaque background mode fills the cell with
    // the background colour first.
    bool TextOut(int x, int y, const QString& text);
    bool TextOut(int x, int y, std::string_view latin1);
    // ETO_OPAQUE fills `rect` with the background colour; ETO_CLIPPED keeps the text inside it.
    bool ExtTextOut(int x, int y, uint32_t options, const QRect* rect, const QString& text);
    // Text turned counter-clockwise by `escapement` tenths of a degree about its cell's top left
    // corner at (x, y), as a font with that escapement writes it: 900 runs upwards from (x, y),
    // its cell to the right of x.
    bool TextOutTurned(int x, int y, int escapement, const QString& text);
    TextMetrics GetTextMetrics() const;
    // The width and height of a text's cell.
    QSize GetTextExtent(const QString& text) const;

    // Blits (rop.h) with this context's pattern, colours and monochrome flag. The source is
    // another open context's picture or any image (`src_mono`: an RGB32 black-and-white picture).
    bool BitBlt(int x, int y, int w, int h, const GdiDc* src, int sx, int sy, uint32_t rop);
    bool BitBlt(int x, int y, int w, int h, const QImage& src, int sx, int sy, uint32_t rop,
                bool src_mono = false, QRgb src_bk = 0xFFFFFFFFu);
    bool PatBlt(int x, int y, int w, int h, uint32_t rop);
    bool MaskBlt(int x, int y, int w, int h, const GdiDc* src, int sx, int sy, const QImage& mask, int mx,
                 int my, uint32_t rop4);
    bool MaskBlt(int x, int y, int w, int h, const QImage& src, int sx, int sy, const QImage& mask, int mx,
                 int my, uint32_t rop4, bool src_mono = false, QRgb src_bk = 0xFFFFFFFFu);
    // Draws a picture of any format (an indexed one through its colour table) at (x, y) in its
    // own size, replacing what is there.
    bool SetDIBitsToDevice(int x, int y, const QImage& src);
    // The source rectangle mapped onto the parallelogram whose corners are pts[0] (the source's
    // top left), pts[1] (top right) and pts[2] (bottom left); no smoothing.
    bool PlgBlt(const QPoint (&pts)[3], const QImage& src, int sx, int sy, int w, int h);

    // Moves the whole picture by (dx, dy) (positive: right, down), filling what is uncovered with
    // `fill`: the scrolling of a text window's picture. What was touched before moves along, and
    // only the uncovered bands are touched; Scrolled() adds up the moves.
    bool ScrollImage(int dx, int dy, QRgb fill);
    // The sum of the moves of ScrollImage since the context opened (none when a move left nothing
    // of the picture: that touches all of it).
    QPoint Scrolled() const { return scrolled_; }

    // Pixels.
    QRgb GetPixel(int x, int y) const;
    QRgb SetPixel(int x, int y, QRgb c);

    // The blit target this context describes (its pattern, colours and monochrome flag).
    BlitTarget Target() const;

private:
    QRgb Ink(QRgb c) const { return mono_ ? MonoOf(c) : (c | 0xFF000000u); }
    // Sets the painter's pen and brush for a closed figure (false: nothing to draw).
    void UsePen();
    void UseBrush(const Brush& b);
    // The figure box of a closed figure (normalised, edges exclusive, inside-frame applied).
    QRectF FigureBox(int l, int t, int r, int b) const;
    void Touch(const QRectF& r);
    // Lines through the points with the pen (one-pixel pens leave out each end pixel).
    void StrokeLines(const QPoint* pts, int count);
    bool ClosedArc(int kind, int l, int t, int r, int b, int x1, int y1, int x2, int y2);
    bool Blit(const QRect& rect, const BlitSource* src, QPoint sp, const QImage* mask, QPoint mp, uint32_t rop,
              bool masked);

    QImage no_image_;  // the picture of a context on another device's painter: none
    QImage* image_;
    DcState own_;
    DcState* state_;
    bool mono_;
    QPainter own_painter_;
    QPainter& painter_;  // own_painter_, or the painter the context was opened on
    bool borrowed_ = false;
    bool ended_ = false;
    QRect touched_;
    QPoint scrolled_;
};

}  // namespace gdi

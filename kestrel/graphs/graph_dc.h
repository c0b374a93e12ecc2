// The device context the graphs draw on. The drawing routines ask it for the device's width
// (for the print scale) and make their drawing calls on it in device coordinates; it keeps the
// calls in order as a display list, which tests read and PlayGraph draws on the window's picture
// or straight on a printer page's painter.
//
// Its state starts as a fresh context's: a black 1-pixel solid pen, no font of its own (the
// device's default), black text.
#pragma once

#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QRgb>
#include <QSize>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "shared/gdi/dc.h"
#include "shared/logfont.h"

namespace graphs {

// One entry of the display list.
struct GraphOp {
    enum Kind { kPen, kFont, kTextColour, kLine, kText, kBrush, kRectangle, kFill };
    Kind kind = kLine;
    gdi::Pen pen;          // kPen: the pen selected
    gdi::Brush brush;      // kBrush: the brush selected; kFill: the brush filled with
    LogFont font;          // kFont: the font selected
    QRgb colour = 0;       // kTextColour
    QPoint from, to;       // kLine: its ends; kText: the cell's top left corner in `from`;
                           // kRectangle, kFill: the corners (right and bottom outside)
    std::string text;      // kText
    int escapement = 0;    // kText: tenths of a degree counter-clockwise
};

class GraphDc {
public:
    // The width and height of a text's cell in a font (GetTextExtentPoint).
    using Measure = std::function<QSize(const LogFont&, std::string_view)>;

    // `horzres`: the device's width in pixels (GetDeviceCaps(HORZRES)). `measure`: how text is
    // measured (by default with the font GraphFont gives; tests give fixed metrics).
    explicit GraphDc(int horzres = 800, Measure measure = {});

    int HorzRes() const { return horzres_; }
    // The cell of `text` in the selected font.
    QSize GetTextExtent(std::string_view text) const { return measure_(font_, text); }

    // State; each returns what was there before.
    gdi::Pen SelectPen(const gdi::Pen& pen);
    LogFont SelectFont(const LogFont& font);
    QRgb SetTextColor(QRgb colour);
    gdi::Brush SelectBrush(const gdi::Brush& brush);
    const gdi::Pen& Pen() const { return pen_; }
    const gdi::Brush& Brush() const { return brush_; }
    const LogFont& Font() const { return font_; }
    QRgb TextColour() const { return text_colour_; }

    // Drawing.
    QPoint MoveToEx(int x, int y);
    void LineTo(int x, int y);
    void TextOut(int x, int y, std::string_view text);
    void TextOutTurned(int x, int y, int escapement, std::string_view text);
    // Outlined with the pen and filled with the selected brush; (r, b) lies outside.
    void Rectangle(int l, int t, int r, int b);
    // [l, r) x [t, b) filled with `brush`, no outline.
    void FillRect(int l, int t, int r, int b, const gdi::Brush& brush);

    const std::vector<GraphOp>& Ops() const { return ops_; }
    // The display list as text, one entry a line ("line 100,230 100,30", "pen solid geometric
    // flat 5 ff00ff", "text 8,30 "MBitOperations"", ...).
    std::string Listing() const;

private:
    int horzres_;
    Measure measure_;
    gdi::Pen pen_;
    gdi::Brush brush_;
    LogFont font_;
    QRgb text_colour_ = 0xFF000000u;
    QPoint position_;
    std::vector<GraphOp> ops_;
};

// The font a graph's record asks for ("Tms Rmn" is the serif face; the width field narrows or
// widens it to that average width).
QFont GraphFont(const LogFont& lf);
// Draws the display list on an open context, in order.
void PlayGraph(const GraphDc& graph, gdi::GdiDc& dc);
// Draws the display list on a painter open on any device (a printer's page), in its coordinates,
// with no background: what the painter holds stays visible around the lines and text, which stay
// lines and text on a vector device. The painter's state is as it was afterwards.
void PlayGraph(const GraphDc& graph, QPainter& painter);
// A white picture of `size` with the display list drawn on it.
QImage GraphPicture(const GraphDc& graph, QSize size);

}  // namespace graphs

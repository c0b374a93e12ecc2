// The device context the graphs draw on. The drawing routines ask it for the device's width
// (for the print scale) and make their drawing calls on it in device coordinates; it keeps the
// calls in order as a display list, which tests read and PlayGraph draws on the window's picture
// or straight on a printer page's painter.
//
// Its state starts as a fresh context's: a black 1-pixel solid pen, no font of its own (the
// device's default), black text.
//
// Texts that may move (value labels) are drawn with PlacedText inside DrawPlaced: they go to the
// first place offered where they stand clear of everything else on the page. None is left out.
#pragma once

#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QRect>
#include <QRgb>
#include <QSize>
#include <functional>
#include <optional>
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
    // The cell of `text` in any font, as this context measures it.
    QSize TextExtent(const LogFont& font, std::string_view text) const { return measure_(font, text); }

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
    // A text in the selected font that stands at the first of `places` where its cell meets no
    // other text (a blank's width apart side by side), no line and no filled area of the page and
    // lies within `bounds`; where none is free, at its first place all the same. Texts of a lower
    // `rank` are placed first, then in the order drawn. Used inside DrawPlaced, which finds the
    // places; anywhere else the text stands at its first place. Where none of `places` is free,
    // the first of `swept` from which a free place lies to the right within `bounds`, the nearest.
    void PlacedText(const std::vector<QPoint>& places, QRect bounds, int rank, std::string_view text,
                    const std::vector<QPoint>& swept = {});
    // Appends another display list, `dy` pixels lower (the other's state changes come with it).
    void Append(const GraphDc& other, int dy);

    const std::vector<GraphOp>& Ops() const { return ops_; }
    // The display list as text, one entry a line ("line 100,230 100,30", "pen solid geometric
    // flat 5 ff00ff", "text 8,30 "MBitOperations"", ...).
    std::string Listing() const;

    // Draws a page whose texts drawn with PlacedText go where there is room for them: `draw` runs
    // once on a scratch context with their places left open, to see what else stands on the page
    // and where, and once more on this context with the places found.
    void DrawPlaced(const std::function<void(GraphDc&)>& draw);
    // The same for a page that can be drawn `ways` ways (0, 1, ..., each with smaller value labels
    // than the one before): the first way whose placed texts all find a free place is drawn, or
    // else the last.
    void DrawPlacedFirstFit(int ways, const std::function<void(GraphDc&, int way)>& draw);

private:
    struct PlaceRequest {
        std::vector<QPoint> places;
        QRect bounds;
        int rank = 0;
        LogFont font;
        std::string text;
        std::vector<QPoint> swept;
    };
    enum class Placing { kFirst, kAsk, kGiven };
    // DrawPlaced; how many placed texts found no free place. With `only_if_all_fit` a page where
    // one found none is not drawn.
    int Place(const std::function<void(GraphDc&)>& draw, bool only_if_all_fit);

    int horzres_;
    Measure measure_;
    gdi::Pen pen_;
    gdi::Brush brush_;
    LogFont font_;
    QRgb text_colour_ = 0xFF000000u;
    QPoint position_;
    std::vector<GraphOp> ops_;
    Placing placing_ = Placing::kFirst;
    std::vector<PlaceRequest> requests_;           // kAsk: the texts to place, in the order drawn
    std::vector<std::optional<QPoint>> given_;     // kGiven: where each stands (none: left out)
    size_t next_given_ = 0;
};

// What stands where on a recorded page, in device pixels: each text's cell (its corner and the
// extent the recording's own measure gives in the font then selected; a turned text's cell turned
// with it), each line with its pen's half width (a one-pixel line without its last pixel, as it is
// drawn; a rectangle's outline as its four sides), and each filled area.
struct PageItems {
    struct Text {
        QRect cell;
        std::string text;
    };
    struct Line {
        QPointF from, to;  // pixel centres
        double half_width = 0.5;
    };
    std::vector<Text> texts;
    std::vector<Line> lines;
    std::vector<QRect> fills;
};
PageItems ItemsOf(const GraphDc& page);
// Whether a line runs through a cell: it comes nearer to the cell's pixels than half its width.
bool LineThrough(const PageItems::Line& line, const QRect& cell);
// Where on a page a text lies over another text or on a filled area, or a line runs through a
// text: one description a place; none when every text stands clear.
std::vector<std::string> Clashes(const GraphDc& page);

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

#include "kestrel/graphs/graph_dc.h"

#include <QFont>
#include <QFontMetrics>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <utility>

#include "shared/gdi/font.h"

namespace graphs {

namespace {

const char* StyleName(uint32_t style) {
    switch (style & gdi::PS_STYLE_MASK) {
        case gdi::PS_SOLID: return "solid";
        case gdi::PS_DASH: return "dash";
        case gdi::PS_DOT: return "dot";
        case gdi::PS_DASHDOT: return "dashdot";
        case gdi::PS_DASHDOTDOT: return "dashdotdot";
        case gdi::PS_NULL: return "null";
        default: return "insideframe";
    }
}

const char* CapName(uint32_t style) {
    switch (style & gdi::PS_ENDCAP_MASK) {
        case gdi::PS_ENDCAP_FLAT: return "flat";
        case gdi::PS_ENDCAP_SQUARE: return "square";
        default: return "round";
    }
}

std::string Rgb(QRgb c) {
    char s[8];
    std::snprintf(s, sizeof s, "%06x", unsigned(c & 0xFFFFFFu));
    return s;
}

std::string BrushText(const gdi::Brush& b) {
    static const char* const kHatch[] = {"horizontal", "vertical", "fdiagonal", "bdiagonal", "cross", "diagcross"};
    if (b.style == gdi::BS_NULL) return "null";
    if (b.style == gdi::BS_HATCHED) return std::string("hatch ") + kHatch[std::clamp(b.hatch, 0, 5)] + " " + Rgb(b.colour);
    return "solid " + Rgb(b.colour);
}

}  // namespace

// The font a graph's record asks for: "Tms Rmn" takes the installed serif family, and the width
// field narrows or widens it (both in the one record-to-font helper).
QFont GraphFont(const LogFont& lf) { return FontFromLogFont(lf, QFont()); }

GraphDc::GraphDc(int horzres, Measure measure) : horzres_(horzres), measure_(std::move(measure)) {
    if (!measure_) {
        measure_ = [](const LogFont& lf, std::string_view text) {
            const QFontMetrics fm(GraphFont(lf));
            const QString s = QString::fromLatin1(text.data(), qsizetype(text.size()));
            return QSize(fm.horizontalAdvance(s), fm.height());
        };
    }
}

gdi::Brush GraphDc::SelectBrush(const gdi::Brush& brush) {
    GraphOp op;
    op.kind = GraphOp::kBrush;
    op.brush = brush;
    ops_.push_back(op);
    return std::exchange(brush_, brush);
}

void GraphDc::Rectangle(int l, int t, int r, int b) {
    GraphOp op;
    op.kind = GraphOp::kRectangle;
    op.from = QPoint(l, t);
    op.to = QPoint(r, b);
    ops_.push_back(op);
}

void GraphDc::FillRect(int l, int t, int r, int b, const gdi::Brush& brush) {
    GraphOp op;
    op.kind = GraphOp::kFill;
    op.from = QPoint(l, t);
    op.to = QPoint(r, b);
    op.brush = brush;
    ops_.push_back(op);
}

gdi::Pen GraphDc::SelectPen(const gdi::Pen& pen) {
    GraphOp op;
    op.kind = GraphOp::kPen;
    op.pen = pen;
    ops_.push_back(op);
    return std::exchange(pen_, pen);
}

LogFont GraphDc::SelectFont(const LogFont& font) {
    GraphOp op;
    op.kind = GraphOp::kFont;
    op.font = font;
    ops_.push_back(op);
    return std::exchange(font_, font);
}

QRgb GraphDc::SetTextColor(QRgb colour) {
    GraphOp op;
    op.kind = GraphOp::kTextColour;
    op.colour = colour;
    ops_.push_back(op);
    return std::exchange(text_colour_, colour);
}

QPoint GraphDc::MoveToEx(int x, int y) { return std::exchange(position_, QPoint(x, y)); }

void GraphDc::LineTo(int x, int y) {
    GraphOp op;
    op.kind = GraphOp::kLine;
    op.from = position_;
    op.to = position_ = QPoint(x, y);
    ops_.push_back(op);
}

void GraphDc::TextOut(int x, int y, std::string_view text) { TextOutTurned(x, y, 0, text); }

void GraphDc::TextOutTurned(int x, int y, int escapement, std::string_view text) {
    GraphOp op;
    op.kind = GraphOp::kText;
    op.from = QPoint(x, y);
    op.text = std::string(text);
    op.escapement = escapement;
    ops_.push_back(op);
}

std::string GraphDc::Listing() const {
    std::string out;
    char line[160];
    for (const GraphOp& op : ops_) {
        switch (op.kind) {
            case GraphOp::kPen:
                std::snprintf(line, sizeof line, "pen %s %s%s%s %d %s", StyleName(op.pen.style),
                              (op.pen.style & gdi::PS_TYPE_MASK) == gdi::PS_GEOMETRIC ? "geometric" : "cosmetic",
                              (op.pen.style & gdi::PS_TYPE_MASK) == gdi::PS_GEOMETRIC ? " " : "",
                              (op.pen.style & gdi::PS_TYPE_MASK) == gdi::PS_GEOMETRIC ? CapName(op.pen.style) : "",
                              op.pen.width, Rgb(op.pen.colour).c_str());
                out += line;
                break;
            case GraphOp::kFont:
                std::snprintf(line, sizeof line, "font \"%s\" %dx%d w%d", op.font.FaceName.c_str(), op.font.Height,
                              op.font.Width, op.font.Weight);
                out += line;
                break;
            case GraphOp::kTextColour:
                out += "textcolour " + Rgb(op.colour);
                break;
            case GraphOp::kLine:
                std::snprintf(line, sizeof line, "line %d,%d %d,%d", op.from.x(), op.from.y(), op.to.x(), op.to.y());
                out += line;
                break;
            case GraphOp::kText:
                if (op.escapement != 0) std::snprintf(line, sizeof line, "text@%d %d,%d ", op.escapement, op.from.x(), op.from.y());
                else std::snprintf(line, sizeof line, "text %d,%d ", op.from.x(), op.from.y());
                out += line;
                out += "\"" + op.text + "\"";
                break;
            case GraphOp::kBrush:
                out += "brush " + BrushText(op.brush);
                break;
            case GraphOp::kRectangle:
                std::snprintf(line, sizeof line, "rect %d,%d %d,%d", op.from.x(), op.from.y(), op.to.x(), op.to.y());
                out += line;
                break;
            case GraphOp::kFill:
                std::snprintf(line, sizeof line, "fill %d,%d %d,%d ", op.from.x(), op.from.y(), op.to.x(), op.to.y());
                out += line + BrushText(op.brush);
                break;
        }
        out += '\n';
    }
    return out;
}

void PlayGraph(const GraphDc& graph, gdi::GdiDc& dc) {
    for (const GraphOp& op : graph.Ops()) {
        switch (op.kind) {
            case GraphOp::kPen: dc.SelectPen(op.pen); break;
            case GraphOp::kFont: dc.SelectFont(GraphFont(op.font)); break;
            case GraphOp::kTextColour: dc.SetTextColor(op.colour); break;
            case GraphOp::kLine:
                dc.MoveToEx(op.from.x(), op.from.y());
                dc.LineTo(op.to.x(), op.to.y());
                break;
            case GraphOp::kText:
                dc.TextOutTurned(op.from.x(), op.from.y(), op.escapement, QString::fromLatin1(op.text));
                break;
            case GraphOp::kBrush: dc.SelectBrush(op.brush); break;
            case GraphOp::kRectangle: dc.Rectangle(op.from.x(), op.from.y(), op.to.x(), op.to.y()); break;
            case GraphOp::kFill:
                dc.FillRect(QRect(op.from, op.to - QPoint(1, 1)), op.brush);
                break;
        }
    }
}

void PlayGraph(const GraphDc& graph, QPainter& painter) {
    gdi::GdiDc dc(painter);
    dc.SetBkMode(gdi::TRANSPARENT);
    PlayGraph(graph, dc);
    dc.End();
}

QImage GraphPicture(const GraphDc& graph, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    gdi::GdiDc dc(&image);
    PlayGraph(graph, dc);
    dc.End();
    return image;
}

}  // namespace graphs

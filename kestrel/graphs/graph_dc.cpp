#include "kestrel/graphs/graph_dc.h"

#include <QFont>
#include <QFontMetrics>
#include <QString>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
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

void GraphDc::PlacedText(const std::vector<QPoint>& places, QRect bounds, int rank, std::string_view text,
                         const std::vector<QPoint>& swept) {
    switch (placing_) {
        case Placing::kFirst:
            if (!places.empty()) TextOut(places.front().x(), places.front().y(), text);
            break;
        case Placing::kAsk:
            requests_.push_back({places, bounds, rank, font_, std::string(text), swept});
            break;
        case Placing::kGiven:
            if (next_given_ < given_.size()) {
                const std::optional<QPoint> at = given_[next_given_++];
                if (at) TextOut(at->x(), at->y(), text);
            }
            break;
    }
}

void GraphDc::Append(const GraphDc& other, int dy) {
    for (GraphOp op : other.ops_) {
        switch (op.kind) {
            case GraphOp::kPen: pen_ = op.pen; break;
            case GraphOp::kFont: font_ = op.font; break;
            case GraphOp::kTextColour: text_colour_ = op.colour; break;
            case GraphOp::kBrush: brush_ = op.brush; break;
            case GraphOp::kLine:
            case GraphOp::kText:
            case GraphOp::kRectangle:
            case GraphOp::kFill:
                op.from.ry() += dy;
                op.to.ry() += dy;
                break;
        }
        ops_.push_back(std::move(op));
    }
}

namespace {

// Whether a line or filled area meets a text's cell.
bool Blocks(const PageItems& items, const QRect& cell) {
    for (const PageItems::Line& l : items.lines) {
        // Lines whose reach lies wholly beside the cell are passed over at once.
        const double reach = l.half_width + 1;
        if (std::max(l.from.x(), l.to.x()) + reach < cell.left() || std::min(l.from.x(), l.to.x()) - reach > cell.right() ||
            std::max(l.from.y(), l.to.y()) + reach < cell.top() || std::min(l.from.y(), l.to.y()) - reach > cell.bottom())
            continue;
        if (LineThrough(l, cell)) return true;
    }
    for (const QRect& f : items.fills) {
        if (f.intersects(cell)) return true;
    }
    return false;
}

// The first x from `place`'s x rightwards where a cell of `extent` on `place`'s row lies within
// `bounds`, meets no line or filled area and stands a `gap` apart from
// every text; none when there is no such x. The x that the page's items close to the row rule out
// are found first (a line by the part of it that comes near the row), then each x they leave open
// is checked in full.
std::optional<int> FreeX(const PageItems& items, QPoint place, QSize extent, int gap, QRect bounds) {
    const int top = place.y(), bottom = place.y() + extent.height() - 1, w = extent.width();
    std::vector<std::pair<double, double>> shut;  // x strictly between the two are ruled out
    for (const PageItems::Text& t : items.texts) {
        if (t.cell.bottom() >= top && t.cell.top() <= bottom) shut.push_back({t.cell.left() - gap - w, t.cell.right() + gap + 1});
    }
    for (const QRect& f : items.fills) {
        if (f.bottom() >= top && f.top() <= bottom) shut.push_back({f.left() - w, f.right() + 1});
    }
    for (const PageItems::Line& l : items.lines) {
        const double hw = l.half_width, lo = top - hw, hi = bottom + hw;
        QPointF a = l.from, b = l.to;
        if (a.y() > b.y()) std::swap(a, b);
        if (b.y() <= lo || a.y() >= hi) continue;
        double x1 = a.x(), x2 = b.x();
        if (b.y() > a.y()) {
            const auto at = [&](double y) { return a.x() + (b.x() - a.x()) * (y - a.y()) / (b.y() - a.y()); };
            x1 = at(std::max(a.y(), lo));
            x2 = at(std::min(b.y(), hi));
        }
        shut.push_back({std::min(x1, x2) - hw - w + 1, std::max(x1, x2) + hw});
    }
    std::sort(shut.begin(), shut.end());
    const int last = bounds.right() - w + 1;
    int x = std::max(place.x(), bounds.left());
    while (x <= last) {
        // Past every span that rules x out.
        bool moved = false;
        for (const auto& [from, to] : shut) {
            if (from < x && x < to) {
                x = int(std::ceil(to));
                moved = true;
            }
        }
        if (moved) continue;
        const QRect cell(QPoint(x, top), extent);
        const QRect wide = cell.adjusted(-gap, 0, gap, 0);
        if (bounds.contains(cell) && !Blocks(items, cell) &&
            std::none_of(items.texts.begin(), items.texts.end(), [&](const PageItems::Text& t) { return t.cell.intersects(wide); }))
            return x;
        ++x;
    }
    return std::nullopt;
}

}  // namespace

void GraphDc::DrawPlaced(const std::function<void(GraphDc&)>& draw) { Place(draw, false); }

void GraphDc::DrawPlacedFirstFit(int ways, const std::function<void(GraphDc&, int way)>& draw) {
    for (int way = 0; way < ways; ++way) {
        const bool last = way == ways - 1;
        if (Place([&](GraphDc& dc) { draw(dc, way); }, !last) == 0 || last) return;
    }
}

int GraphDc::Place(const std::function<void(GraphDc&)>& draw, bool only_if_all_fit) {
    GraphDc scratch(horzres_, measure_);
    scratch.SelectPen(pen_);
    scratch.SelectBrush(brush_);
    scratch.SelectFont(font_);
    scratch.SetTextColor(text_colour_);
    scratch.position_ = position_;
    scratch.placing_ = Placing::kAsk;
    draw(scratch);

    // Lower ranks first, then in the order drawn; each text placed becomes part of the page.
    PageItems items = ItemsOf(scratch);
    const std::vector<PlaceRequest>& asked = scratch.requests_;
    std::vector<size_t> order(asked.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return asked[a].rank < asked[b].rank; });
    std::vector<std::optional<QPoint>> given(asked.size());
    int crowded_out = 0;
    for (size_t k : order) {
        const PlaceRequest& r = asked[k];
        const QSize extent = measure_(r.font, r.text);
        const int gap = measure_(r.font, " ").width();
        for (const QPoint& place : r.places) {
            const QRect cell(place, extent);
            if (!r.bounds.contains(cell) || Blocks(items, cell)) continue;
            const QRect wide = cell.adjusted(-gap, 0, gap, 0);
            const bool crowded = std::any_of(items.texts.begin(), items.texts.end(),
                                             [&](const PageItems::Text& t) { return t.cell.intersects(wide); });
            if (crowded) continue;
            given[k] = cell.topLeft();
            items.texts.push_back({cell, r.text});
            break;
        }
        for (size_t i = 0; !given[k] && i < r.swept.size(); ++i) {
            const std::optional<int> x = FreeX(items, r.swept[i], extent, gap, r.bounds);
            if (!x) continue;
            given[k] = QPoint(*x, r.swept[i].y());
            items.texts.push_back({QRect(*given[k], extent), r.text});
        }
        if (!given[k]) {
            ++crowded_out;
            if (!r.places.empty()) given[k] = r.places.front();
        }
    }
    if (only_if_all_fit && crowded_out > 0) return crowded_out;

    placing_ = Placing::kGiven;
    given_ = std::move(given);
    next_given_ = 0;
    draw(*this);
    placing_ = Placing::kFirst;
    given_.clear();
    return crowded_out;
}

PageItems ItemsOf(const GraphDc& page) {
    PageItems items;
    gdi::Pen pen;
    LogFont font;
    const auto add_line = [&](QPoint a, QPoint b, bool whole) {
        if ((pen.style & gdi::PS_STYLE_MASK) == gdi::PS_NULL) return;
        const int width = std::max(1, pen.width);
        QPointF end(b);
        if (width == 1 && !whole) {
            // Drawn up to the pixel before its end.
            const int steps = std::max(std::abs(b.x() - a.x()), std::abs(b.y() - a.y()));
            if (steps == 0) return;
            const double f = double(steps - 1) / steps;
            end = QPointF(a.x() + (b.x() - a.x()) * f, a.y() + (b.y() - a.y()) * f);
        }
        items.lines.push_back({QPointF(a), end, width / 2.0});
    };
    for (const GraphOp& op : page.Ops()) {
        switch (op.kind) {
            case GraphOp::kPen: pen = op.pen; break;
            case GraphOp::kFont: font = op.font; break;
            case GraphOp::kLine: add_line(op.from, op.to, false); break;
            case GraphOp::kText: {
                const QSize extent = page.TextExtent(font, op.text);
                QRect cell(op.from, extent);
                if (op.escapement % 3600 != 0) {
                    QTransform turn;
                    turn.translate(op.from.x(), op.from.y());
                    turn.rotate(-op.escapement / 10.0);
                    cell = turn.mapRect(QRect(QPoint(0, 0), extent));
                }
                items.texts.push_back({cell, op.text});
                break;
            }
            case GraphOp::kRectangle: {
                const QPoint tl = op.from, br = op.to - QPoint(1, 1);
                add_line(tl, QPoint(br.x(), tl.y()), true);
                add_line(QPoint(br.x(), tl.y()), br, true);
                add_line(br, QPoint(tl.x(), br.y()), true);
                add_line(QPoint(tl.x(), br.y()), tl, true);
                break;
            }
            case GraphOp::kFill: items.fills.push_back(QRect(op.from, op.to - QPoint(1, 1))); break;
            case GraphOp::kTextColour:
            case GraphOp::kBrush: break;
        }
    }
    return items;
}

namespace {

double PointToBox(QPointF p, const QRectF& box) {
    const double dx = std::max({box.left() - p.x(), 0.0, p.x() - box.right()});
    const double dy = std::max({box.top() - p.y(), 0.0, p.y() - box.bottom()});
    return std::hypot(dx, dy);
}

double PointToSegment(QPointF p, QPointF a, QPointF b) {
    const QPointF d = b - a;
    const double len2 = QPointF::dotProduct(d, d);
    const double t = len2 > 0 ? std::clamp(QPointF::dotProduct(p - a, d) / len2, 0.0, 1.0) : 0.0;
    const QPointF q = a + t * d - p;
    return std::hypot(q.x(), q.y());
}

// Whether the segment enters the closed box (Liang-Barsky).
bool SegmentMeetsBox(QPointF a, QPointF b, const QRectF& box) {
    double t0 = 0, t1 = 1;
    const double dx = b.x() - a.x(), dy = b.y() - a.y();
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x() - box.left(), box.right() - a.x(), a.y() - box.top(), box.bottom() - a.y()};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0) t0 = std::max(t0, t);
        else t1 = std::min(t1, t);
        if (t0 > t1) return false;
    }
    return true;
}

}  // namespace

bool LineThrough(const PageItems::Line& line, const QRect& cell) {
    if (cell.isEmpty()) return false;
    // The cell's pixel centres.
    const QRectF box(QPointF(cell.left(), cell.top()), QPointF(cell.right(), cell.bottom()));
    if (SegmentMeetsBox(line.from, line.to, box)) return true;
    double d = std::min(PointToBox(line.from, box), PointToBox(line.to, box));
    for (QPointF corner : {box.topLeft(), box.topRight(), box.bottomLeft(), box.bottomRight()})
        d = std::min(d, PointToSegment(corner, line.from, line.to));
    return d < line.half_width;
}

std::vector<std::string> Clashes(const GraphDc& page) {
    const PageItems items = ItemsOf(page);
    std::vector<std::string> found;
    char where[120];
    for (size_t i = 0; i < items.texts.size(); ++i) {
        const PageItems::Text& t = items.texts[i];
        for (size_t j = i + 1; j < items.texts.size(); ++j) {
            if (t.cell.intersects(items.texts[j].cell)) found.push_back("\"" + t.text + "\" over \"" + items.texts[j].text + "\"");
        }
        for (const PageItems::Line& l : items.lines) {
            if (!LineThrough(l, t.cell)) continue;
            std::snprintf(where, sizeof where, "line %g,%g %g,%g through ", l.from.x(), l.from.y(), l.to.x(), l.to.y());
            found.push_back(where + ("\"" + t.text + "\""));
        }
        for (const QRect& f : items.fills) {
            if (!f.intersects(t.cell)) continue;
            std::snprintf(where, sizeof where, " on the area %d,%d %d,%d", f.left(), f.top(), f.right(), f.bottom());
            found.push_back("\"" + t.text + "\"" + where);
        }
    }
    return found;
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

#include "lumen/draw_rules.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace lumen {

FigureGroup MakeFigureGroup(Generator& gen, int w, int h, int rect_count) {
    FigureGroup f;
    f.x1 = gen.Next() % (w / 2);
    f.y1 = gen.Next() % (h / 2);
    if (rect_count % 2 == 0) {
        f.x2 = f.x1 + w / 2;
        f.y2 = f.y1 + h / 2;
    } else {
        f.x2 = f.x1 + w / 4;
        f.y2 = f.y1 + h / 4;
    }
    f.r = gen.Next() & 255;
    f.g = gen.Next() & 255;
    f.b = gen.Next() & 255;
    return f;
}

bool FigureStopRule(const int counts[4], int round) {
    bool first = true;
    bool second = true;
    for (int i = 0; i < 4; ++i) {
        first = first && counts[i] >= kFirstPhaseFigures;
        second = second && counts[i] >= kSecondPhaseFigures;
    }
    return (first && round == 1) || (second && round == 0);
}

int AverageOfFour(const int values[4]) {
    const int64_t sum = int64_t(values[0]) + values[1] + values[2] + values[3];
    return int(sum / 4);
}

int CurveStep(int kind) {
    static constexpr int kSteps[4] = {6, 17, 1, 5};
    return kSteps[kind & 3];
}

bool CurveStopRule(const int counts[4]) {
    return int64_t(counts[0]) + counts[1] + counts[2] + counts[3] >= kCurveLimit;
}

namespace {

double Length(int x1, int y1, int x2, int y2) {
    const double dx = double(x2) - x1;
    const double dy = double(y2) - y1;
    return std::sqrt(dx * dx + dy * dy);
}

class BatchWriter {
public:
    explicit BatchWriter(CurveBatch* b) : b_(b) {}
    int Point(int x, int y) {
        b_->points[size_t(b_->npoints)] = Pt{x, y};
        return b_->npoints++;
    }
    CurveOp& Op(CurveOp::Type type) {
        CurveOp& op = b_->ops[size_t(b_->nops++)];
        op = CurveOp{};
        op.type = type;
        return op;
    }
    void Ints(CurveOp::Type type, std::initializer_list<int> values) {
        CurveOp& op = Op(type);
        size_t k = 0;
        for (int v : values) op.a[k++] = v;
    }
    void Points(CurveOp::Type type, int first, int n) {
        CurveOp& op = Op(type);
        op.first = first;
        op.n = n;
    }

private:
    CurveBatch* b_;
};

// Six passes of the chain: each a 4-point Bezier from the chain's end and a 4-point Bezier-to.
void BezierChainBatch(int c, BezierChain& chain, const Rect& window, CurveBatch* b) {
    BatchWriter w(b);
    for (int pass = 0; pass < 6; ++pass) {
        std::array<Pt, 4> point;
        point[0] = chain.pt2[0];
        if (point[0].x > window.right) point[0].x = 0;
        const int inc = chain.inc;
        point[1] = {point[0].x + inc, point[0].y + inc};
        point[2] = {point[1].x + inc, point[0].y};
        point[3] = {point[2].x + inc, point[0].y + inc};
        auto& pt2 = chain.pt2;
        pt2[0] = point[3];
        pt2[1] = {pt2[0].x + inc, point[0].y};
        pt2[2] = {pt2[1].x + inc, pt2[0].y};
        pt2[3] = {pt2[2].x + inc, pt2[1].y};
        const int first = b->npoints;
        for (const Pt& p : point) w.Point(p.x, p.y);
        w.Points(CurveOp::kPolyBezier, first, 4);
        const int second = b->npoints;
        for (const Pt& p : pt2) w.Point(p.x, p.y);
        w.Points(CurveOp::kPolyBezierTo, second, 4);
        b->length += 3.0 * std::sqrt(2.0 * double(inc) * double(inc));
        const int x = pt2[0].x;
        const int y = pt2[0].y;
        if (x > window.right) chain.inc = -50 - chain.factor;
        if (x < window.left) chain.inc = chain.factor + 50;
        if (y > window.bottom) {
            pt2[0].y = c;
            chain.factor = 19 * c;
        }
        if (y < window.top) {
            pt2[0].y = 55 * c;
            chain.factor = c + 30;
        }
        c += 1;
    }
    b->count_after = c;
}

void LinesAndOctagonBatch(int c, Generator& gen, const Rect& test, CurveBatch* b) {
    BatchWriter w(b);
    auto line = [&](int x1, int y1, int x2, int y2) {
        w.Ints(CurveOp::kMoveTo, {x1, y1});
        w.Ints(CurveOp::kLineTo, {x2, y2});
        b->length += Length(x1, y1, x2, y2);
    };
    for (int j = 0; j <= 20; j += 4) {
        line(gen.Next() % 10, 768 - 3 * c, c + 610, 2 * j * (j + 1) + c);
        line(c, gen.Next() % test.bottom, 4 * j + c + 300, c + 470);
        line(974 - c, 3 * c + 200, c + 50, (j + 10) * (j + 1) + c);
    }
    const int y = gen.Next() % 200 + 200;  // the y value is drawn first
    const int x = gen.Next() % 200 + 300;
    w.Ints(CurveOp::kMoveTo, {x, y});
    const int first = b->npoints;
    w.Point(3 * c + 375, 3 * c + 350);
    w.Point(T0(c) + 400, c + 300);
    w.Point(c + 350, T0(c) + 325);
    w.Point(c + 300, 3 * c + 300);
    w.Point(T0(c) + 325, c + 350);
    w.Point(3 * c + 300, 3 * c + 400);
    w.Point(3 * c + 350, T0(c) + 375);
    w.Point(3 * c + 400, 3 * c + 400);
    w.Points(CurveOp::kPolyDrawLineTo, first, 8);
    w.Points(CurveOp::kPolygon, first, 8);
    for (int k = 1; k < 8; ++k) {
        const Pt& p = b->points[size_t(first + k - 1)];
        const Pt& q = b->points[size_t(first + k)];
        b->length += 2.0 * Length(p.x, p.y, q.x, q.y);
    }
    b->count_after = c + 17;
}

void CentredRectangleBatch(int c, const Rect& test, CurveBatch* b) {
    BatchWriter w(b);
    const int wd = test.right;
    const int ht = test.bottom;
    const int left = wd / 2 - c / 2;
    const int top = ht / 2 - c / 2;
    const int right = wd / 2 + (c > wd / 4 ? wd / 2 - c / 2 : c / 2);
    const int bottom = ht / 2 + (c > ht / 4 ? ht / 2 - c / 2 : c / 2);
    w.Ints(CurveOp::kRectangle, {left, top, right, bottom});
    b->length += Length(left, top, right, bottom);
    b->count_after = c + 1;
}

void ArcsBatch(int c, CurveBatch* b) {
    BatchWriter w(b);
    const int t = T(c);
    w.Ints(CurveOp::kArc, {t, t, 12 * c + 10, 8 * c + 20, 200, 200, 200, 200});
    b->length += std::abs(8 * c + 20 - t) + std::abs(12 * c + 10 - t);
    const int first = b->npoints;
    for (int k = 0; k < 48; ++k) {
        const int x = T(k) + 15 * k - 3 * c;
        const int y = T2(k) + 10 * k + 4 * c;
        w.Point(x, y);
        b->length += 2.0 * (double(x) + double(y));
    }
    // The polyline takes 50 points: the 48 vertices and two that were never written, (0,0).
    w.Point(0, 0);
    w.Point(0, 0);
    w.Points(CurveOp::kPolyline, first, 50);
    w.Points(CurveOp::kPolyPolygon, first, 48);
    w.Ints(CurveOp::kArc, {t + 10 * c, t + 8 * c, 5 * c + 100, c + 200, 300, 400, 400, 100});
    w.Ints(CurveOp::kPie, {t + 10 * c, t + 21 * c, 4 * c + 350, 20 * c, 155, 500, 220, 145});
    w.Ints(CurveOp::kChord, {t + 10 * c, 3 * c + 25, 400, c + 50, 260, 150, 330, 410});
    b->length += std::abs(t + 8 * c - (c + 200)) + std::abs(5 * c + 100 - (t + 10 * c));
    b->length += std::abs(20 * c - (t + 10 * c)) + std::abs(4 * c + 350 - (t + 10 * c));
    b->length += std::abs(400 - (t + 10 * c)) + std::abs(3 * c + 25 - (c + 50));
    b->count_after = c + 5;
}

}  // namespace

void MakeCurveBatch(int c, Generator& gen, BezierChain& chain, const Rect& window, const Rect& test,
                    CurveBatch* out) {
    out->npoints = 0;
    out->nops = 0;
    out->length = 0.0;
    out->kind = CurveKind(c);
    out->r = gen.Next() % 255;
    out->g = gen.Next() % 255;
    out->b = gen.Next() % 255;
    switch (out->kind) {
        case 0: BezierChainBatch(c, chain, window, out); break;
        case 1: LinesAndOctagonBatch(c, gen, test, out); break;
        case 2: CentredRectangleBatch(c, test, out); break;
        default: ArcsBatch(c, out); break;
    }
}

int NumPointsOf(double total_length) {
    const double v = 5.0 * std::trunc(total_length);
    if (v >= double(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    return int(v);
}

}  // namespace lumen

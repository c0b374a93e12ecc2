#include "install/setup_pictures.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

#include "install/setup_rules.h"

QImage BackdropPicture(bool large) {
    const std::array<uint32_t, 64> grey = CreateGreyPalette();
    const auto g = [&](int i) { return QColor::fromRgb(grey[size_t(i)]); };
    const int w = large ? 420 : 260, h = large ? 300 : 186;
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // A panel shaded from light to dark grey, with a frame.
    for (int y = 0; y < h; ++y) {
        p.setPen(g(56 - y * 24 / h));
        p.drawLine(0, y, w - 1, y);
    }
    p.setPen(QPen(g(8), large ? 4 : 3));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(1.5, 1.5, w - 3, h - 3));

    // Eight bars rising to the right, each shaded from its top.
    const int bars = 8;
    const double base = h * 0.88, left = w * 0.08, step = w * 0.84 / bars;
    for (int i = 0; i < bars; ++i) {
        const double top = base - (h * 0.14 + i * h * 0.065);
        const QRectF bar(left + i * step + step * 0.15, top, step * 0.7, base - top);
        QLinearGradient shade(bar.topLeft(), bar.topRight());
        shade.setColorAt(0, g(20 + i * 3));
        shade.setColorAt(1, g(6 + i * 3));
        p.setPen(Qt::NoPen);
        p.setBrush(shade);
        p.drawRect(bar);
    }
    p.setPen(QPen(g(4), 2));
    p.drawLine(QPointF(left, base), QPointF(w - left, base));

    // A stopwatch at the upper left: face, crown, ticks and a hand.
    const double r = h * 0.17;
    const QPointF c(w * 0.2, h * 0.26);
    p.setBrush(g(62));
    p.setPen(QPen(g(10), large ? 4 : 3));
    p.drawEllipse(c, r, r);
    p.setBrush(g(10));
    p.drawRect(QRectF(c.x() - r * 0.15, c.y() - r * 1.35, r * 0.3, r * 0.25));
    p.setPen(QPen(g(12), 2));
    for (int i = 0; i < 12; ++i) {
        const double a = i * M_PI / 6;
        p.drawLine(QPointF(c.x() + std::sin(a) * r * 0.8, c.y() - std::cos(a) * r * 0.8),
                   QPointF(c.x() + std::sin(a) * r * 0.95, c.y() - std::cos(a) * r * 0.95));
    }
    p.setPen(QPen(g(0), large ? 4 : 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, QPointF(c.x() + r * 0.62, c.y() - r * 0.45));
    return image;
}

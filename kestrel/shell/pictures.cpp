#include "kestrel/shell/pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cmath>

namespace {

void Page(QPainter& p) {
    p.setPen(Qt::black);
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygonF({{4, 1}, {13, 1}, {17, 5}, {17, 19}, {4, 19}}));
    p.drawLine(13, 1, 13, 5);
    p.drawLine(13, 5, 17, 5);
}

}  // namespace

QPixmap ButtonPicture(int k) {
    QPixmap pm(20, 20);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    switch (k) {
        case 0:  // New Test: a sheet and a start mark
            Page(p);
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0, 150, 0));
            p.drawPolygon(QPolygonF({{8, 8}, {14, 12}, {8, 16}}));
            break;
        case 1:  // Open: a folder
            p.setPen(Qt::black);
            p.setBrush(QColor(240, 200, 60));
            p.drawRect(2, 6, 16, 11);
            p.drawRect(2, 4, 6, 2);
            break;
        case 2:  // Save: a diskette
            p.setPen(Qt::black);
            p.setBrush(QColor(40, 70, 160));
            p.drawRect(2, 2, 16, 16);
            p.setBrush(Qt::white);
            p.drawRect(5, 2, 10, 6);
            p.setBrush(Qt::lightGray);
            p.drawRect(6, 12, 8, 6);
            break;
        case 3:  // Close: a sheet crossed out
            Page(p);
            p.setPen(QPen(QColor(200, 0, 0), 2));
            p.drawLine(7, 8, 14, 16);
            p.drawLine(14, 8, 7, 16);
            break;
        case 4:  // Mail: an envelope
            p.setPen(Qt::black);
            p.setBrush(Qt::white);
            p.drawRect(2, 5, 16, 11);
            p.drawPolyline(QPolygonF({{2, 5}, {10, 12}, {18, 5}}));
            break;
        case 5:  // Print: a printer
            p.setPen(Qt::black);
            p.setBrush(Qt::white);
            p.drawRect(5, 2, 10, 6);
            p.setBrush(Qt::lightGray);
            p.drawRect(2, 8, 16, 7);
            p.setBrush(Qt::white);
            p.drawRect(5, 13, 10, 5);
            break;
        case 6:  // Help: a question mark
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(30, 90, 200));
            p.drawEllipse(1, 1, 18, 18);
            p.setPen(Qt::white);
            p.setFont(QFont(p.font().family(), 11, QFont::Bold));
            p.drawText(QRect(0, 0, 20, 20), Qt::AlignCenter, QStringLiteral("?"));
            break;
        case 7:  // Exit: an arrow out of a door
            p.setPen(Qt::black);
            p.setBrush(QColor(150, 100, 50));
            p.drawRect(3, 2, 8, 16);
            p.setPen(QPen(QColor(0, 120, 0), 2));
            p.drawLine(8, 10, 18, 10);
            p.drawLine(14, 6, 18, 10);
            p.drawLine(14, 14, 18, 10);
            break;
        case 8: {  // Stop: a red octagon
            QPolygonF octagon;
            for (int i = 0; i < 8; ++i) {
                const double a = (22.5 + 45.0 * i) * 3.14159265358979 / 180.0;
                octagon << QPointF(10 + 9 * std::cos(a), 10 + 9 * std::sin(a));
            }
            p.setPen(Qt::white);
            p.setBrush(QColor(200, 0, 0));
            p.drawPolygon(octagon);
            p.drawLine(6, 10, 14, 10);
            break;
        }
        default: {  // the viewer: an eye
            QPainterPath eye;
            eye.moveTo(1, 10);
            eye.quadTo(10, 1, 19, 10);
            eye.quadTo(10, 19, 1, 10);
            p.setPen(Qt::black);
            p.setBrush(Qt::white);
            p.drawPath(eye);
            p.setBrush(QColor(30, 90, 200));
            p.drawEllipse(QPointF(10, 10), 3.5, 3.5);
            break;
        }
    }
    return pm;
}

QPixmap OpeningPicture(int kind, int screen_width) {
    // "opening4" for the splash; "opening", "opening2" and "opening3" for wide, 1024 and
    // narrower screens.
    QSize size(400, 240);
    if (kind != 0) size = screen_width > 1024 ? QSize(520, 312) : screen_width == 1024 ? QSize(440, 264) : QSize(360, 216);
    QPixmap pm(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor(20, 40, 110));
    sky.setColorAt(1, QColor(90, 150, 220));
    p.fillRect(pm.rect(), sky);
    // A row of rising bars, the suite's scores.
    const int w = size.width(), h = size.height();
    for (int i = 0; i < 8; ++i) {
        const int bh = h / 8 + i * h / 20;
        p.fillRect(QRect(w / 12 + i * w / 11, h - h / 12 - bh, w / 16, bh), QColor(255, 200, 60, 200));
    }
    p.setPen(Qt::white);
    QFont title(p.font().family(), 1, QFont::Bold);
    title.setPixelSize(h / 5);
    p.setFont(title);
    p.drawText(QRect(0, h / 12, w, h / 4), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("KESTREL"));
    QFont line(p.font().family(), 1);
    line.setPixelSize(h / 14);
    p.setFont(line);
    p.drawText(QRect(0, h / 3, w, h / 10), Qt::AlignCenter, QStringLiteral("System Level Benchmark"));
    p.drawText(QRect(0, h / 3 + h / 10, w, h / 10), Qt::AlignCenter, QStringLiteral("version 1.21"));
    return pm;
}

QIcon ProgramIcon() {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 40, 110));
    p.drawRoundedRect(0, 0, 32, 32, 6, 6);
    p.setPen(Qt::white);
    QFont f(p.font().family(), 1, QFont::Bold);
    f.setPixelSize(22);
    p.setFont(f);
    p.drawText(pm.rect(), Qt::AlignCenter, QStringLiteral("K"));
    return QIcon(pm);
}

QPixmap TabPicture() {
    // A small gauge: a dial with its needle over a tab's outline.
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 60), 1.5));
    p.setBrush(QColor(230, 230, 240));
    p.drawRoundedRect(QRectF(2, 6, 28, 22), 3, 3);
    p.setBrush(QColor(40, 90, 170));
    p.drawPie(QRectF(6, 9, 20, 20), 0, 180 * 16);
    p.setPen(QPen(QColor(250, 200, 40), 2));
    p.drawLine(QPointF(16, 19), QPointF(22, 12));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 30, 30));
    p.drawEllipse(QPointF(16, 19), 2, 2);
    return pm;
}

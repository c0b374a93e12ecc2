#include "glance/pictures.h"

#include <QPainter>
#include <QPainterPath>

namespace glance {

namespace {

void Page(QPainter& p, const QRectF& r) {
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::white);
    p.drawRect(r);
    p.setPen(QPen(QColor(0, 0, 128), 1));
    for (qreal y = r.top() + 3; y < r.bottom() - 1; y += 3) p.drawLine(QPointF(r.left() + 2, y), QPointF(r.right() - 2, y));
}

void Envelope(QPainter& p, const QRectF& r) {
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(255, 255, 192));
    p.drawRect(r);
    p.drawLine(r.topLeft(), QPointF(r.center().x(), r.center().y() + 1));
    p.drawLine(r.topRight(), QPointF(r.center().x(), r.center().y() + 1));
}

}  // namespace

QPixmap ToolPicture(int resource) {
    const int h = resource == 1207 ? 22 : 30;
    QPixmap pm(22, h);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, false);
    const qreal mid = h / 2.0;
    switch (resource) {
        case 1201: {  // open: a folder
            p.setPen(Qt::black);
            p.setBrush(QColor(224, 192, 64));
            p.drawRect(QRectF(2, mid - 6, 17, 12));
            p.drawRect(QRectF(2, mid - 8, 7, 2));
            break;
        }
        case 1210: {  // reference results: a stack of disks
            p.setPen(Qt::black);
            p.setBrush(QColor(64, 160, 64));
            for (int k = 2; k >= 0; --k) p.drawEllipse(QRectF(3, mid - 8 + 5 * k, 15, 6));
            break;
        }
        case 1202: {  // save as: a diskette
            p.setPen(Qt::black);
            p.setBrush(QColor(48, 48, 160));
            p.drawRect(QRectF(3, mid - 8, 15, 16));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(6, mid - 8, 9, 6));
            p.setBrush(QColor(192, 192, 192));
            p.drawRect(QRectF(6, mid + 2, 9, 6));
            break;
        }
        case 1203: {  // close: a page with a cross
            Page(p, QRectF(3, mid - 9, 14, 18));
            p.setPen(QPen(QColor(192, 0, 0), 2));
            p.drawLine(QPointF(9, mid - 1), QPointF(19, mid + 9));
            p.drawLine(QPointF(19, mid - 1), QPointF(9, mid + 9));
            break;
        }
        case 1204: Envelope(p, QRectF(2, mid - 6, 17, 12)); break;  // mail
        case 1211:                                                  // mail all: two envelopes
            Envelope(p, QRectF(1, mid - 9, 15, 10));
            Envelope(p, QRectF(5, mid - 2, 15, 10));
            break;
        case 1205: {  // print: a printer
            Page(p, QRectF(6, mid - 9, 10, 8));
            p.setPen(Qt::black);
            p.setBrush(QColor(160, 160, 160));
            p.drawRect(QRectF(2, mid - 1, 18, 8));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(6, mid + 5, 10, 4));
            break;
        }
        case 1206: {  // help: a question mark
            QFont f;
            f.setPixelSize(18);
            f.setBold(true);
            p.setFont(f);
            p.setPen(QColor(0, 0, 160));
            p.drawText(QRectF(0, 0, 22, h), Qt::AlignCenter, QStringLiteral("?"));
            break;
        }
        case 1207: {  // exit: a door and an arrow
            p.setPen(Qt::black);
            p.setBrush(QColor(160, 96, 32));
            p.drawRect(QRectF(3, 2, 9, 17));
            p.setPen(QPen(QColor(192, 0, 0), 2));
            p.drawLine(QPointF(10, 11), QPointF(20, 11));
            p.drawLine(QPointF(20, 11), QPointF(16, 7));
            p.drawLine(QPointF(20, 11), QPointF(16, 15));
            break;
        }
        default: break;
    }
    return pm;
}

QIcon GlanceIcon() {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    Page(p, QRectF(4, 2, 20, 26));
    p.setPen(QPen(Qt::black, 3));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(14, 12, 12, 12));
    p.drawLine(QPointF(24, 22), QPointF(30, 29));
    return QIcon(pm);
}

}  // namespace glance

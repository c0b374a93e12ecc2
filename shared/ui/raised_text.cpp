#include "shared/ui/raised_text.h"

#include <QPainter>

void DrawRaisedText(QPainter& p, int x, int y, const QString& text, const QColor& face, const QColor& shade) {
    const bool white = face == QColor(Qt::white);
    p.setPen(Qt::black);
    p.drawText(x + 2, y + 2, text);
    p.setPen(white ? QColor(Qt::black) : shade);
    p.drawText(x + 1, y + 1, text);
    p.setPen(white ? Qt::black : Qt::white);
    p.drawText(x, y, text);
}

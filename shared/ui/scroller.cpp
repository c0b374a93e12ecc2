#include "shared/ui/scroller.h"

#include <QFontMetrics>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>

ScrollerGeometry ScrollerLayout(const QRect& client, double globalpercent) {
    const int L = client.left(), T = client.top();
    const int R = client.left() + client.width(), B = client.top() + client.height();
    const int H = B - T;
    const double m = (R - L) / 28.0;
    const int mi = int(m);
    ScrollerGeometry g;
    g.bar = QRect(QPoint(L + mi, T + H / 6), QPoint(int(R - m) - 1, B - H / 6 - 1));
    int right = L + int((R - m) * globalpercent + m) - mi + 1;
    right = std::max(right, mi);
    g.filled = QRect(QPoint(g.bar.left(), g.bar.top()), QPoint(right - 1, g.bar.bottom()));
    g.penWidth = std::max(0, (B - 15) - (T + 10));
    return g;
}

int ScrollerPercent(double globalpercent, bool longTest) {
    return int(globalpercent * 100.0 + (longTest ? 0.5 : 0.1));
}

Scroller::Scroller(const QString& caption, bool longTest, QWidget* parent)
    : CaptionWindow(parent), longTest_(longTest) {
    setWindowTitle(caption);
    setAttribute(Qt::WA_OpaquePaintEvent);
    Reset();
}

void Scroller::Reset() {
    const QSize client = ClientRect().size().expandedTo(QSize(1, 1));
    surface_ = QImage(client, QImage::Format_RGB32);
    surface_.fill(QColor(192, 192, 192));
    QPainter p(&surface_);
    p.fillRect(ScrollerLayout(surface_.rect(), 0.0).bar, Qt::white);
    p.end();
    frame_ = true;
    shown_whole_ = false;  // all of it is new
    shown_fill_right_ = -1;
    shown_label_.clear();
    shown_label_rect_ = QRect();
    DrawLabel(QStringLiteral("0 %"), Qt::white, Qt::black, false);
}

QRect Scroller::DrawLabel(const QString& text, const QColor& box, const QColor& ink, bool fillBox) {
    QPainter p(&surface_);
    const QFontMetrics fm(font());
    const int c = int(text.size()), a = fm.averageCharWidth();
    const int e = fm.leading(), h = fm.height() + e;
    const int R = surface_.width(), B = surface_.height();
    const QRect labelBox(QPoint(R / 2 - (c + a / 2 + 1), B / 2 - (h / 2 - e) + 3),
                         QPoint(R / 2 + 4 * c + a / 2 - 1, B / 2 + h / 2 - e - 1));
    const QPoint at(labelBox.left() + 2, labelBox.top() - 3 + fm.ascent());
    // The box also covers the text itself, so no earlier number shows through where a wider font
    // reaches past it.
    const QRect covered = labelBox.united(fm.boundingRect(text).translated(at).adjusted(-1, -1, 1, 1));
    if (fillBox) p.fillRect(covered, box);
    p.setClipRect(surface_.rect());
    p.setPen(ink);
    p.drawText(at, text);
    return covered;
}

void Scroller::Paint() {
    if (surface_.size() != ClientRect().size().expandedTo(QSize(1, 1))) Reset();  // resized while hidden
    const ScrollerGeometry g = ScrollerLayout(surface_.rect(), globalpercent_);
    {
        QPainter p(&surface_);
        if (frame_) {
            // The frame's pen lies inside the bar area; its width covers the whole bar.
            const int w = g.penWidth;
            p.setPen(QPen(Qt::white, w, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
            if (w > 0) {
                const QRectF inner = QRectF(g.bar).adjusted(w / 2.0, w / 2.0, -w / 2.0, -w / 2.0);
                if (inner.width() > 0 && inner.height() > 0) p.drawRect(inner);
                else p.fillRect(g.bar, Qt::white);
            }
            frame_ = false;
        }
        p.fillRect(g.filled, Qt::black);
    }
    const int percent = truncate_ ? int(globalpercent_ * 100.0) : ScrollerPercent(globalpercent_, longTest_);
    const QString label = QStringLiteral("%1 %").arg(percent);
    // Only what changed is shown: a repaint of what the window already shows would make the
    // next paint wait for the display to have taken the last one.
    QRegion changed;
    if (!shown_whole_) changed = surface_.rect();
    if (g.filled.right() > shown_fill_right_) {
        changed += QRect(QPoint(std::max(g.filled.left(), shown_fill_right_ + 1), g.filled.top()),
                         g.filled.bottomRight());
    }
    const QString shown = (globalpercent_ > 0.53 ? QStringLiteral("b") : QStringLiteral("w")) + label;
    if (globalpercent_ != 0.53) {
        const QRect covered = globalpercent_ > 0.53 ? DrawLabel(label, Qt::black, Qt::white, true)
                                                    : DrawLabel(label, Qt::white, Qt::black, true);
        if (shown != shown_label_) changed += QRegion(covered) + shown_label_rect_;  // a wider label before
        shown_label_ = shown;
        shown_label_rect_ = covered;
    } else if (!shown_label_.isEmpty()) {
        // No label this time: the filled part may have covered the one shown.
        changed += shown_label_rect_ & g.filled;
        shown_label_.clear();
    }
    shown_whole_ = true;
    shown_fill_right_ = std::max(shown_fill_right_, g.filled.right());
    if (!changed.isEmpty()) repaint(changed.translated(ClientRect().topLeft()));
}

void Scroller::SetPercent(double globalpercent) {
    globalpercent_ = globalpercent;
    Paint();
}

void Scroller::ScrollProc(int command) {
    if (command == 10) {
        globalpercent_ = 0.0;
        Reset();
        setWindowTitle(QStringLiteral("Starting Next Test ..."));
    }
    Paint();
}

void Scroller::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(ClientRect().topLeft(), surface_);
    PaintCaption(p);
}

void Scroller::resizeEvent(QResizeEvent*) {
    Reset();
    Paint();
}

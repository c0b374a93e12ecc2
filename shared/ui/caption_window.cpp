#include "shared/ui/caption_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {

// The caption's font: the window's own, bold.
QFont CaptionFont(const QFont& base) {
    QFont f = base;
    f.setBold(true);
    return f;
}

constexpr int kCaptionMargin = 4;  // around the caption's text

}  // namespace

CaptionWindow::CaptionWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint) {
    setCursor(Qt::ArrowCursor);
}

int CaptionWindow::CaptionHeight() const { return QFontMetrics(CaptionFont(font())).height() + kCaptionMargin; }

QRect CaptionWindow::ClientRect() const {
    const int caption = CaptionHeight();
    return QRect(1, caption, std::max(0, width() - 2), std::max(0, height() - caption - 1));
}

QRect CaptionWindow::WindowRectFor(const QRect& client) const {
    const int caption = CaptionHeight();
    return QRect(client.x() - 1, client.y() - caption, client.width() + 2, client.height() + caption + 1);
}

int CaptionWindow::CaptionWidth(const QString& caption) {
    return QFontMetrics(CaptionFont(QApplication::font("QWidget"))).horizontalAdvance(caption) + 2 * kCaptionMargin + 2;
}

void CaptionWindow::PaintCaption(QPainter& p) {
    p.save();
    p.setClipRect(rect());
    // The title on the selection colour, a frame line around the whole window.
    const int caption = CaptionHeight();
    p.fillRect(QRect(0, 0, width(), caption), palette().color(QPalette::Active, QPalette::Highlight));
    p.setFont(CaptionFont(font()));
    p.setPen(palette().color(QPalette::Active, QPalette::HighlightedText));
    p.drawText(QRect(kCaptionMargin + 1, 0, width() - 2 * kCaptionMargin - 2, caption), Qt::AlignLeft | Qt::AlignVCenter,
               windowTitle());
    p.setPen(palette().color(QPalette::Shadow));
    p.setBrush(Qt::NoBrush);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    p.restore();
}

void CaptionWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowTitleChange) update(0, 0, width(), CaptionHeight());
    QWidget::changeEvent(event);
}

void CaptionWindow::closeEvent(QCloseEvent* event) { event->ignore(); }

void CaptionWindow::mousePressEvent(QMouseEvent* event) {
    grabbed_ = event->button() == Qt::LeftButton && event->position().y() < CaptionHeight()
                   ? event->globalPosition().toPoint() - pos()
                   : QPoint(-1, -1);
}

void CaptionWindow::mouseMoveEvent(QMouseEvent* event) {
    if ((event->buttons() & Qt::LeftButton) && grabbed_ != QPoint(-1, -1)) move(event->globalPosition().toPoint() - grabbed_);
}

// A small top-most window with a caption and nothing else of a frame: the window manager is told
// to draw no frame, so no close, minimise or maximise box shows under any manager (some ignore a
// request for a title bar without them). The window draws its caption itself, in the selection
// colour with a frame line around the whole window, moves by it, and does not close on request:
// the program that opened it closes it.
#pragma once

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

class QPainter;

class CaptionWindow : public QWidget {
public:
    explicit CaptionWindow(QWidget* parent = nullptr);

    // The height of the drawn caption.
    int CaptionHeight() const;
    // The area inside the frame line below the caption.
    QRect ClientRect() const;
    // The window rectangle whose client area is `client` (the caption above it).
    QRect WindowRectFor(const QRect& client) const;
    // The width a window needs to show `caption` whole, in the application's font.
    static int CaptionWidth(const QString& caption);

protected:
    // Draws the caption and the frame line over what the window has painted.
    void PaintCaption(QPainter& p);

    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QPoint grabbed_;  // where the caption was taken, while it is dragged
};

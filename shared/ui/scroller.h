// The progress window (window class "Scroller"): a small top-most window with a caption only (see
// CaptionWindow) over the main window whose bar fills with the fraction of the current test done (or, in the viewer, of the lines
// printed or the message sent) and shows it as a percentage.
//
// It paints as a window surface that keeps what was drawn: the bar's frame is drawn once after
// creation or the next-test command, the filled part only grows, and the label box is redrawn
// only when the fraction is on one side of 0.53. The surface is kept in an image of the client
// area that the window shows under its caption; a paint shows only the part of the image that
// changed.
#pragma once

#include <QImage>
#include <QRect>
#include <QString>

#include "shared/ui/caption_window.h"

struct ScrollerGeometry {
    QRect bar;     // the bar area
    QRect filled;  // the filled part
    int penWidth;  // width of the frame's pen
};

// The bar area, the filled part and the pen for a client rectangle and a fraction done.
ScrollerGeometry ScrollerLayout(const QRect& client, double globalpercent);
// The label's number: rounded half up in a long test, up from .9 in a short one.
int ScrollerPercent(double globalpercent, bool longTest);

class Scroller : public CaptionWindow {
public:
    Scroller(const QString& caption, bool longTest, QWidget* parent = nullptr);
    // The label shows the whole-number part of the percentage (the viewer's window).
    void TruncateLabel() { truncate_ = true; }

    // The fraction of the current test done (globalpercent); paints at once what changed (a
    // fraction that moves neither the filled part nor the label shows nothing new).
    void SetPercent(double globalpercent);
    // The handler of the window's commands: 10 is the next test (the bar starts again), any
    // other command paints.
    void ScrollProc(int command);

    double percent() const { return globalpercent_; }
    // The client area's picture.
    const QImage& surface() const { return surface_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Reset();  // light grey client, white bar area, the label "0 %"
    void Paint();
    // Draws the label; the part of the surface it covered.
    QRect DrawLabel(const QString& text, const QColor& box, const QColor& ink, bool fillBox);

    QImage surface_;
    // What the window shows: the whole surface needs showing (after a reset), the right edge of
    // the filled part shown, the label shown (text and box) and where it lies.
    bool shown_whole_ = false;
    int shown_fill_right_ = -1;
    QString shown_label_;
    QRect shown_label_rect_;
    double globalpercent_ = 0.0;
    bool longTest_ = false;
    bool frame_ = true;
    bool truncate_ = false;
};

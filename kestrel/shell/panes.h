// The main window's panes: the button bar at the top (window class "TextTop", with its bitmap
// buttons "ttwnd"), the report pane in the middle ("NewClass") and the status pane at the bottom
// ("TextBottom"); beside them the splash and About window ("opening").
#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QWidget>
#include <functional>
#include <vector>

class QAbstractButton;
class QLabel;

// The status pane: one line of help, or one of the bottom-text lines that the mouse buttons
// step through.
class StatusPane : public QWidget {
public:
    explicit StatusPane(QWidget* parent);
    int lHeight() const { return lHeight_; }
    void SetText(const QString& text);
    QString Text() const { return text_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QFont hFont_;
    int lHeight_ = 22;
    QString text_;
};

// The rows of one band of a report-pane scroll bar painted during a run: fewer than Qt's raster
// engine fills on the calling thread alone, with a few spans per row for antialiased edges.
inline constexpr int kPaintBandRows = 16;

// The report pane: the report lines under a caption, with both scroll bars. Lines 0 to
// headernum are not shown; during a run the newest line is kept in view.
class ReportPane : public QAbstractScrollArea {
public:
    explicit ReportPane(QWidget* parent);

    void SetCaption(const QString& caption);
    QString Caption() const;
    // The report font changed: measure it again.
    void ApplyFont();
    // The main window's client size, which the page step and the horizontal limit follow.
    void SetMainClient(int width, int height);
    // Lines were appended; during a run the newest one is brought into view.
    void LinesChanged(bool testRunning);
    // The lines were cleared: back to the top.
    void LinesCleared();

    // The pixel row of line z in the pane (lines 0 to headernum have none: -1).
    int LineTop(int z) const;
    QFont ReportFont() const { return font_; }

    int nXChar = 8, nYChar = 16, nCaps = 8, nMaxWidth = 0;
    int nVPos = 0, nHPos = 0, nVMax = 0, nHMax = 0;
    std::function<void()> on_mouse_move;  // the pointer moved over the lines

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void UpdateRanges();
    void VerticalAction(int action);
    void HorizontalAction(int action);
    void ShowPositions();

    QLabel* caption_;
    QFont font_;
    int nXClnt_ = 800, nYClnt_ = 600;
};

// One button of the bar in bitmap mode: a framed window holding a one-button tool bar.
class BitmapButton : public QWidget {
public:
    BitmapButton(int k, QWidget* parent);
    QAbstractButton* button() const { return button_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QAbstractButton* button_;
};

// The button bar: nine text buttons, or ten bitmap buttons (the preference "Button Type").
// Stop is carried out at once; while a test runs every other button is refused.
class ButtonBar : public QWidget {
public:
    ButtonBar(QWidget* parent, StatusPane* status, std::function<void(int)> send);

    // Builds the buttons again for the current button style.
    void Rebuild();
    // The push button of bar position k, or nullptr.
    QAbstractButton* Button(int k) const;
    int ButtonCount() const { return int(buttons_.size()); }
    // The status pane was cleared by someone else: the next hover shows its text again.
    void ForgetHover() { lastchanged_ = -1; lastHwnd_ = -1; }

    static int CommandOf(int k);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Build();
    void Pressed(int k);
    void ShowHelp(int k);

    StatusPane* status_;
    std::function<void(int)> send_;
    std::vector<QWidget*> buttons_;
    bool bitmaps_ = true;
    int lastchanged_ = -1;  // text mode: the slot whose help is shown
    int lastHwnd_ = -1;     // bitmap mode: the button whose help is shown
};

// The splash (kind 0) and the About window (kind 1): the program's picture at 150, 150.
class OpeningWindow : public QWidget {
public:
    OpeningWindow(int kind, QWidget* owner);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap picture_;
};

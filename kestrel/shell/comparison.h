// The comparison list "Other Results" (the reference machines) and the view "Other Results,
// Specific" (the chosen machine's report), shown beside the report pane of the enlarged main
// window. Each sits in a captioned pane; closing the view's pane closes both.
#pragma once

#include <QAbstractScrollArea>
#include <QFrame>
#include <QListWidget>
#include <functional>
#include <span>

class QToolButton;

// A child window around its contents: a caption with minimise, maximise and close boxes and a
// sizing frame. Minimised it is its caption alone, at the bottom of its parent (left to right in
// the order its siblings were minimised); maximised it fills its parent.
class CaptionedPane : public QFrame {
    Q_OBJECT

public:
    enum class State { Normal, Minimised, Maximised };
    CaptionedPane(QWidget* parent, const char* caption, QWidget* contents);
    QWidget* Contents() const { return contents_; }
    std::function<void()> on_close;  // the close box
    // The pane's place when it is neither minimised nor maximised; the place it takes follows its
    // state (the parent's layout calls this on every resize).
    void Place(const QRect& normal);
    State state() const { return state_; }
    void SetState(State state);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    Qt::Edges EdgesAt(const QPoint& pos) const;
    void Apply();
    QWidget* contents_;
    QToolButton* minimise_;
    QToolButton* maximise_;
    State state_ = State::Normal;
    QRect normal_;
    int slot_ = 0;  // minimised: its place from the left
    // Sizing: the edges held and where the drag started.
    Qt::Edges held_;
    QPoint grab_;
    QRect start_;
};

// The scroll rule of the view: the position after a request of `delta` from `pos` in 0..`max`;
// a request that the range would cut short is not carried out.
int ScrollTo(int pos, int max, int delta);

class SpecificView : public QAbstractScrollArea {
    Q_OBJECT

public:
    // `row`: the list row chosen (the table shown).
    SpecificView(QWidget* parent, std::function<int()> row);
    // Takes the report font's metrics and the scroll ranges again.
    void Measure();
    // The lines of the table the list's selection picks (all of them are drawn).
    std::span<const char* const> Lines() const;
    int vmax() const { return vmax_; }
    int hmax() const { return hmax_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void OnAction(QScrollBar* bar, int action, int page);
    std::function<int()> row_;
    int xchar_ = 8, ychar_ = 16, maxwidth_ = 0, vmax_ = 0, hmax_ = 0;
};

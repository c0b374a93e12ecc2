// The frame that holds the Preferences pages or the Configuration pages (window class "tabs"):
// a child of the report pane with a caption and a sizing border, filled by a tab control
// (1400) with one tab and one page per kind of setting. Only one frame is open at a time.
#pragma once

#include <QFrame>
#include <functional>
#include <vector>

class QLabel;
class QSizeGrip;
class QTabWidget;
class QToolButton;

// tab_window_type: the kind of an open frame.
inline constexpr int kPreferencesFrame = 0;
inline constexpr int kConfigurationFrame = 1;
// The tab control's identifier.
inline constexpr int kTabControlId = 1400;

// The tab texts of a kind, in page order.
const std::vector<const char*>& TabTexts(int kind);
// The frame's title: "Preferences" or "Configuration".
const char* TabFrameTitle(int kind);
// The frame is 567 wide and 330 high, or 345 high when the caption's buttons are 32 pixels wide
// or more.
inline constexpr int kTabFrameWidth = 567;
inline int TabFrameHeight(int caption_button_width) { return caption_button_width >= 32 ? 345 : 330; }

class TabFrame : public QFrame {
    Q_OBJECT

public:
    // Makes the pages of a frame, in tab order; the frame adds them to its tab control.
    using PageMaker = std::function<std::vector<QWidget*>(TabFrame& frame)>;

    // Builds the frame of the kind on the report pane at 5, 5 and shows its first page.
    TabFrame(int kind, QWidget* report_pane, const PageMaker& make_pages);

    int Kind() const { return kind_; }
    QTabWidget* Tabs() const { return tabs_; }
    int PageCount() const;
    QWidget* Page(int s) const;
    // The page shown.
    int focus() const { return focus_; }
    // Shows page s, as a click on its tab does.
    void ShowPage(int s);
    // Ends the frame with its tab control and pages. Closing() is true from then on.
    void Close();
    bool Closing() const { return closing_; }

signals:
    void closed();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void ToggleMaximised();

    int kind_;
    int focus_ = 0;
    bool closing_ = false;
    QWidget* caption_ = nullptr;
    QLabel* title_ = nullptr;
    QToolButton* maximise_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    QSizeGrip* grip_ = nullptr;
    QRect normal_;          // the placement before maximising
    QPoint drag_offset_;    // where the caption was taken, while it is dragged
    bool dragging_ = false;
};

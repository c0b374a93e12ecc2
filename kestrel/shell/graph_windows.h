// The graph windows: the totals window "Results" (the user's scores beside a reference machine,
// with its selection boxes), the statistics window and the scaling window it opens. Each is a
// stay-on-top window of its own and exists at most once; the view selections they change are in
// graph_view and the result store.
#pragma once

#include <QComboBox>
#include <QPointer>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "kestrel/graphs/graph_dc.h"

class QPainter;

// A selection box with the drop height its window gave it (pixels; the list shows as many items
// as fit).
class GraphCombo : public QComboBox {
public:
    GraphCombo(QWidget* parent, const char* name, int drop_height);
    int DropHeight() const { return drop_height_; }

private:
    int drop_height_;
};

// What the windows share: the client rectangle kept at creation, the buttons, and painting the
// drawing routine's display list.
class GraphWindow : public QWidget {
    Q_OBJECT

public:
    // The display list as the window draws it (screen flag 1) on a device `horzres` wide.
    virtual void Draw(graphs::GraphDc& dc, int screen) = 0;
    graphs::GraphDc Drawn(int screen = 1, int horzres = 800, const graphs::GraphDc::Measure& measure = {});
    QPushButton* Button(const char* text) const;
    GraphCombo* Combo(const char* name) const;
    // Prints the graph (the print dialog, the page with its header line).
    void PrintGraph();
    // The printed page laid out, its text measured by `measure` (the device's default font is the
    // font record of zeros): the header line at x 10, y LineNumber x TextHeight, and the graph
    // drawn for the page's width, 40 pixels lower in the totals and scaling windows (none in the
    // statistics window), or as much lower as it takes to keep it clear of the header line.
    struct PrintedPage {
        graphs::GraphDc graph;  // the graph as drawn, from the page's top
        int offset = 0;         // how much lower it stands on the page
        graphs::GraphDc page;   // the whole page: the header line, then the graph at its offset
    };
    PrintedPage LayOutPage(QSize page, const std::string& header, const graphs::GraphDc::Measure& measure);
    // Draws the printed page on a painter open on a device of `page`'s size, laid out as above with
    // the device's fonts: the header line, then the graph on the same painter with no background,
    // clipped to the page below its offset.
    void PrintPage(QPainter& painter, QSize page, const std::string& header);

protected:
    GraphWindow(const char* class_name, const char* title, int x, int y, int w, int h);
    QPushButton* AddButton(const char* text, int x, int y, int w, int h, const std::function<void()>& on_click);
    void paintEvent(QPaintEvent* event) override;
    // The totals and scaling windows offset the printed graph by 40 device pixels.
    virtual bool PrintOffset() const { return false; }
    QRect kept_;  // the client rectangle at creation (the totals window draws with its current one)
};

class TotalsWindow : public GraphWindow {
    Q_OBJECT

public:
    TotalsWindow(int x, int y);
    ~TotalsWindow() override;
    void Draw(graphs::GraphDc& dc, int screen) override;
    // The boxes (nullptr when the store does not call for them).
    GraphCombo* Others() const { return others_; }
    GraphCombo* Smp() const { return smp_; }
    GraphCombo* Processors() const { return cpus_; }
    GraphCombo* Drives() const { return drives_; }
    // Selects machine r (0..9) in "Other Results" and repaints.
    void ShowMachine(int r);
    void ShowStatistics();
    void ShowScaling();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool PrintOffset() const override { return true; }

private:
    GraphCombo* others_ = nullptr;
    GraphCombo* smp_ = nullptr;
    GraphCombo* cpus_ = nullptr;
    GraphCombo* drives_ = nullptr;
};

class StatisticsWindow : public GraphWindow {
    Q_OBJECT

public:
    StatisticsWindow(int x, int y, int w, int h);
    void Draw(graphs::GraphDc& dc, int screen) override;
    GraphCombo* Smp() const { return smp_; }
    GraphCombo* Processors() const { return cpus_; }

private:
    GraphCombo* smp_ = nullptr;
    GraphCombo* cpus_ = nullptr;
};

class ScalingWindow : public GraphWindow {
    Q_OBJECT

public:
    ScalingWindow(int x, int y, int w, int h);
    ~ScalingWindow() override;
    void Draw(graphs::GraphDc& dc, int screen) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool PrintOffset() const override { return true; }
};

// The open windows (hWndGraph, hGraphButtonWnd, hWndScaleEfficiency), nullptr when closed.
TotalsWindow* TotalsGraphWindow();
StatisticsWindow* StatisticsGraphWindow();
ScalingWindow* ScalingGraphWindow();
// Opens the totals window unless it is open (screens narrower than 800 pixels get the box instead).
void OpenTotalsWindow();
// Closes the totals window and with it the other two.
void CloseGraphWindows();

// The rows of the boxes, for the windows and their tests.
struct BoxItem {
    std::string text;
    int value = 0;  // the processor count (SMP), number + 1 (processor)
};
std::vector<BoxItem> SmpItems();
std::vector<BoxItem> ProcessorItems();
std::vector<std::string> DriveItems();

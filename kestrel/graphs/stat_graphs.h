// The statistics page of the nine processor tests: four horizontal bar graphs, "Peak Scores
// (x10)", "Trough Scores (x10)", "% deviation" and "Standard Deviation", one bar per test and bar
// set, drawn from the result store and the view selection alone (nothing is kept between calls).
// Peaks and troughs are drawn in percent of the reference machine's result for the same test at
// the run's memory level; deviations as stored. The score axes label every second tick, or only
// as many ticks as their labels leave room for side by side (measured in the context's font).
#pragma once

#include <QRect>
#include <cstdint>

#include "kestrel/graphs/graph_dc.h"

class QWidget;

// Draws the page on `hDC`. `hWnd` and `brect` (the window and its client rectangle at creation)
// are taken and not used. `efficiency_showing`: the store holds a scaling run
// (scaling_efficiency_showing); `DCTYPE`: 1 the screen, 0 a printer (its scale and colours).
// The pen, font and text colour of `hDC` are as they were when it returns, but for the text
// colour, which is black.
void DrawStatGraphs(QWidget* hWnd, QRect brect, graphs::GraphDc& hDC, int32_t efficiency_showing, int DCTYPE);

namespace graphs {

// The scale of the two score graphs for the largest peak percentage h drawn: the value of the
// label at even tick i (0..20) and the length in page units of a bar of v percent. Up to 5400
// the steps are those of the page's ladder; above it each bar is v/26 and labelled with its
// value while the longest bar ends within its graph's half of the page (300 units from the
// origin), and beyond that the step grows on as ceil(h / 200), every bar still labelled.
struct ScoreLadder {
    int step = 1;           // k: labels k x i, bars v / k
    bool half = false;      // below 100: labels i / 2, bars 2v
    bool labelled = false;  // every bar carries "(%ld)"
    int64_t Label(int i) const { return half ? i / 2 : int64_t(step) * i; }
    int64_t Bar(int32_t v) const { return half ? 2 * int64_t(v) : v / step; }
};
ScoreLadder ScoreLadderFor(int32_t highest_score);

// The divisor d of a deviation graph for the largest deviation drawn: 2 above 5.0, 4 above 2.5,
// else 8 (the 200-unit axis then reads 10, 5 or 2.5).
int DeviationDivisor(double largest);

}  // namespace graphs

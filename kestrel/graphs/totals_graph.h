// The totals graph: the user's four total scores (processor, memory, disk, video) as bars beside
// those of the chosen reference machine, with the uniprocessor and OS processor scores of a
// scaling run and an OS run, on the screen or on a printer.
#pragma once

#include <QRect>
#include <cstdint>
#include <string>
#include <vector>

#include "kestrel/graphs/graph_dc.h"

class QWidget;

// Draws the graph on `DC` for a window whose client rectangle is `client` (its height sets the
// frame's top). `scaling`: the store holds a scaling run (scaling_efficiency_showing); `screen` 1
// the screen, 0 a printer. Keeps the scale in graph_view.printscale. The pen, brush, font and
// text colour of `DC` are as they were when it returns, but for the text colour, which is black.
// `controls`: the window's selection boxes (in the window's pixels), which the right axis's
// labels keep clear of on the screen.
void DrawGraph(QWidget* window, graphs::GraphDc& DC, QRect client, int32_t scaling, int screen,
               const std::vector<QRect>& controls = {});

namespace graphs {

// The vertical scale of the totals graph for its largest value (the comparison's processor,
// memory and disk marks and the user's five values) and the frame's top T: the top value
// (largest + 10, or 110), the steps of 10 marks, the height of a step (the integer height while
// it is at least 1, else the exact quotient, so that large scores still get bars) and every
// how-many-th step is marked.
struct TotalsScale {
    int64_t top = 110;
    int64_t steps = 11;
    double unit = 0;   // page units per step of 10 marks
    int64_t every = 1;
};
TotalsScale TotalsScaleFor(int64_t largest, int frame_top);

// The font's width once "012345" has measured `extent` (unscaled) in the font made `made` wide
// for the wanted width `wanted`: `made` below 52 and where the rule has no width to give (extent
// 52..55); else the narrow width 42 / min(extent - 55, 6) when `wanted` exceeds it, else `wanted`.
int RemadeFontWidth(int extent, int wanted, int made);

// The legend's text of the comparison machine: its name, at most 25 characters.
std::string ComparisonLegend(int results_selection);

}  // namespace graphs

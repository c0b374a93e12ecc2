// What the graph routines share: the view selection of the graph windows, the drawing scale,
// the font record and the colours of the series, and the processor-count rows of a scaling run.
#pragma once

#include <QRgb>
#include <cstdint>
#include <vector>

#include "kestrel/engine/report/line_format.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/graphs/graph_dc.h"
#include "shared/logfont.h"

// The view selection of the graph windows that the drawing routines read (the processor, SMP and
// drive choices live in the result store: current_cpu_selected, scale_value, current_disk_selected).
struct GraphView {
    int32_t regression = 0;         // the scaling graph draws its least-squares lines ("Regression")
    int32_t results_selection = 0;  // the comparison machine of the totals graph, 0..9
    float printscale = 1.0f;        // the totals graph's drawing scale, kept at its start
};

extern GraphView graph_view;

namespace graphs {

// Colours of the series (the "gold" of the statistics graphs is the "yellow" of the others).
inline constexpr QRgb kMagenta = 0xFFFF00FFu;
inline constexpr QRgb kBlue = 0xFF0000FFu;
inline constexpr QRgb kBlack = 0xFF000000u;
inline constexpr QRgb kGrey = 0xFF808080u;
inline constexpr QRgb kYellow = 0xFFFFE600u;

// The drawing scale: 1 on the screen; on a printer its width in pixels / 800 (a division, exact
// for multiples of 800), at least 1.
float DrawingScale(const GraphDc& dc, int screen);
// A page coordinate on the device: p x scale, truncated toward zero.
inline int Scaled(double p, float scale) { return Saturate<int>(p * double(scale)); }
// The graphs' "Tms Rmn" record: height, width and weight times the scale (truncated), the weight
// held to the largest a font has (1000).
LogFont TmsRmn(int height, int width, int weight, float scale);

// The processor counts of the rows of the scaling run in the store, in the order measured: 1, then
// 2, 3, ... N with step 1, s, 2s, ... up to N with step s > 1, and N in the two-pass form (step 0).
// At most total_scaling_runs + 1 rows, none above 32: a shape the store does not hold (a count or
// step outside its range) gives row 1 alone.
std::vector<int> ScalingRowCounts(const ResultStore& s);

}  // namespace graphs

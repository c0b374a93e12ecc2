// The scaling graph of a scaling run: the processor score of each processor-count row against
// the processor count, as a distribution line labelled with each step's scaling efficiency, and,
// once the user asks for the regression (graph_view.regression), with the least-squares line
// through the scores and the average gain per processor that its slope gives, in percent of the
// one-processor score (as the report's "per CPU" figure is).
#pragma once

#include "kestrel/graphs/graph_dc.h"

class QWidget;

// The least-squares line through the rows' scores (x the processor count, y TotalCPU, or
// TotalCPU_OS when `osflag` is 1): intercept `A`, slope `B`. With fewer than two rows there is no
// line: A is the mean score (0 without rows) and B is 0. Returns 0.
int DoRegression(double& A, double& B, int osflag);

// Draws the graph on `DC` in the rectangle (the scaling window's client rectangle); `window` is
// taken and not used; `screen` 1 the screen, 0 a printer (its scale and colours). Regression mode
// needs two rows at least: with fewer the distribution is drawn. The pen, font and text colour of
// `DC` are as they were when it returns, but for the text colour, which is black.
void DrawEfficiencyGraphs(QWidget* window, graphs::GraphDc& DC, int screen, int left, int top, int right,
                          int bottom);

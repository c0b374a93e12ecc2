// Report lines: printf-style formatting into a string (shared/strformat.h), and the one
// conversion of a computed figure into an integer.
#pragma once

#include <cmath>
#include <limits>
#include <string>

#include "shared/strformat.h"

// Truncates toward zero into Int, saturating at Int's limits instead of overflowing; NaN gives 0.
// Half-up rounding of a figure is Saturate<Int>(v + 0.5).
template <class Int>
Int Saturate(double v) {
    if (std::isnan(v)) return 0;
    if (v >= double(std::numeric_limits<Int>::max())) return std::numeric_limits<Int>::max();
    if (v <= double(std::numeric_limits<Int>::min())) return std::numeric_limits<Int>::min();
    return Int(v);
}

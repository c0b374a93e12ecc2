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

// A peak or trough as the report writes it: a whole percentage of the test's reference result,
// truncated. A figure read back from a report (the written number times the reference over 100)
// divides back to within a few units of the last place of that number, on either side; a quotient
// that close to a whole number is that number, not the one below it.
template <class Int>
Int PercentOfReference(double value, double reference) {
    const double quotient = value / reference * 100.0;
    const double whole = std::round(quotient);
    return Saturate<Int>(std::fabs(quotient - whole) <= std::fabs(whole) * 1e-12 ? whole : quotient);
}

// The least, middle and greatest of a benchmark's rounds.
#pragma once

#include <algorithm>
#include <vector>

struct Spread {
    double min, median, max;
};

inline Spread Of(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v.front(), v[v.size() / 2], v.back()};
}

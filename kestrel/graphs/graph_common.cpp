#include "kestrel/graphs/graph_common.h"

#include <algorithm>

GraphView graph_view;

namespace graphs {

float DrawingScale(const GraphDc& dc, int screen) {
    if (screen != 0) return 1.0f;
    return float(std::max(1.0, dc.HorzRes() / 800.0));
}

LogFont TmsRmn(int height, int width, int weight, float scale) {
    LogFont lf;
    lf.Height = Scaled(height, scale);
    lf.Width = Scaled(width, scale);
    lf.Weight = std::min(Scaled(weight, scale), 1000);
    lf.FaceName = "Tms Rmn";
    return lf;
}

std::vector<int> ScalingRowCounts(const ResultStore& s) {
    std::vector<int> rows{1};
    const int n = s.tested_num_processors, step = s.last_test_mode;
    if (n < 1 || n >= kRows || step < 0 || step >= kRows) return rows;
    const int wanted = std::clamp(s.total_scaling_runs, 0, kRows - 1) + 1;
    for (int k = 1; int(rows.size()) < wanted; ++k) {
        const int count = step == 0 ? n : step == 1 ? k + 1 : step * k;
        if (count > n || count <= rows.back() || (step == 0 && k > 1)) break;
        rows.push_back(count);
    }
    return rows;
}

}  // namespace graphs

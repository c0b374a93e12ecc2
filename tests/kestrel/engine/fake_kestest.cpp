// A stand-in for the counter library's sort-and-search entry: counts its calls.
#include <atomic>
#include <cstdint>

namespace {
std::atomic<int> g_calls{0};
std::atomic<uint32_t> g_columns{0};
std::atomic<int> g_level_sum{0};
}  // namespace

extern "C" {
__attribute__((visibility("default"))) int DoSort(int sizeLevel, int column) {
    g_calls.fetch_add(1);
    if (column >= 0 && column < 32) g_columns.fetch_or(uint32_t(1) << column);
    g_level_sum.fetch_add(sizeLevel);
    return 0;
}
__attribute__((visibility("default"))) int FakeSortCalls() { return g_calls.load(); }
__attribute__((visibility("default"))) uint32_t FakeSortColumns() { return g_columns.load(); }
__attribute__((visibility("default"))) int FakeSortLevelSum() { return g_level_sum.load(); }
}

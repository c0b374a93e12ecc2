#include "shared/reference_data.h"

namespace reference {

const char* const scores[kListRows] = {
    "Machine Model/Make",
    "--------------------------------------------------------------------",
    "Micron P100 PowerStation (baseline system)",
    "Micronics M54Pe 2-P100   (Dual CPU system)",
    "Motorola PowerStack-133  (PPC Risc system)",
    "Tyan Titan II (P100-Win95)",
    "Acer P5133 clocked @ 150CPU/75bus MHz",
    "Gigabyte i430HX P133 w/ 11disk RAID 0",
    "Gigabyte i430HX P133 w/o RAID 0",
    "Gigabyte i430HX P133 w/ Iomega Jaz",
    "Dell XPS Pro200 i440KX A0 Stepping",
    "Dell XPS Pro200 i440FX B0 Stepping",
};

const int32_t scorevalues[kMachines][4] = {
    {100, 100, 100, 100}, {158, 100, 100, 100}, {193, 83, 121, 54},  {111, 135, 177, 98},
    {154, 177, 184, 131}, {150, 185, 216, 54},  {150, 185, 159, 54}, {150, 185, 159, 46},
    {270, 137, 117, 149}, {291, 167, 148, 198},
};

namespace {
constexpr int32_t kBlockSizes[6] = {512, 1024, 2048, 4096, 8192, 16384};
}

SpecificTable SpecificTableFor(int row, int32_t block_size, bool win95) {
    if (row == 2 || row == 3) {
        int k = 1;
        for (int i = 0; i < 6; ++i) {
            if (kBlockSizes[i] == block_size) k = i + 1;
        }
        if (row == 3) return {Family::Dual, k};
        return {win95 ? Family::BaselineWin95 : Family::Baseline, k};
    }
    switch (row) {
        case 4: return {Family::Single, 13};
        case 5: return {Family::SingleWin95, 7};
        case 6: return {Family::SingleWin95, 8};
        case 7: return {Family::Single, 14};
        case 8: return {Family::Single, 15};
        case 9: return {Family::Single, 16};
        case 10: return {Family::Single, 17};
        case 11: return {Family::Single, 18};
        default: return {};
    }
}

std::span<const char* const> SpecificLines(SpecificTable) { return {}; }

}  // namespace reference

#include "shared/reference_data.h"

#include <algorithm>
#include <string>

#include "shared/reference_texts.h"

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

namespace {

// The name of a table's text ("specifics1" .. "specifics18", "specifics7_win95", ...); empty for a
// table that is not built.
std::string TextName(SpecificTable t) {
    switch (t.family) {
        case Family::Baseline:
            if (t.table >= 1 && t.table <= 6) return "specifics" + std::to_string(t.table);
            break;
        case Family::Dual:
            if (t.table >= 1 && t.table <= 6) return "specifics" + std::to_string(t.table + 6);
            break;
        case Family::Single:
            if (t.table >= 13 && t.table <= 18) return "specifics" + std::to_string(t.table);
            break;
        case Family::SingleWin95:
            if (t.table == 7 || t.table == 8) return "specifics" + std::to_string(t.table) + "_win95";
            break;
        case Family::BaselineWin95:
        case Family::None:
            break;
    }
    return {};
}

}  // namespace

std::span<const char* const> SpecificLines(SpecificTable table) {
    const std::string name = TextName(table);
    if (name.empty()) return {};
    for (size_t i = 0; i < embedded_text_count; ++i) {
        if (name == embedded_texts[i].name) return {embedded_texts[i].lines, embedded_texts[i].count};
    }
    return {};
}

SpecificTable ViewerTable(int row) {
    if (row >= 2 && row <= 7) return {Family::Baseline, row - 1};
    if (row >= 8 && row <= 13) return {Family::Dual, row - 7};
    switch (row) {
        case 14: return {Family::Single, 13};
        case 15: return {Family::SingleWin95, 7};
        case 16: return {Family::SingleWin95, 8};
        case 17: return {Family::Single, 14};
        case 18: return {Family::Single, 15};
        case 19: return {Family::Single, 16};
        case 20: return {Family::Single, 17};
        case 21: return {Family::Single, 18};
        default: return {};
    }
}

std::span<const char* const> ViewerLines(int row) {
    const std::span<const char* const> lines = SpecificLines(ViewerTable(row));
    // The viewer's copy of this machine's report ends before its configuration block.
    if (row == 16) return lines.first(std::min<size_t>(lines.size(), 85));
    return lines;
}

}  // namespace reference

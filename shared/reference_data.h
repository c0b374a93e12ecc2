// The ten reference machines that results are compared with: the comparison list's rows (a
// heading, a rule and the machine names) and each machine's four marks. The main program's
// comparison list and totals graph and the viewer read them.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace reference {

inline constexpr int kListRows = 12;   // heading, rule, ten machines
inline constexpr int kMachines = 10;
inline constexpr int kFirstMachineRow = 2;

// The list's rows: "Machine Model/Make", 68 dashes, then the machine names.
extern const char* const scores[kListRows];
// The marks of machine r (list row r + 2): Processor, Memory, Disk, Video.
extern const int32_t scorevalues[kMachines][4];

// The report text of a machine (the "specific" view): the family and the table within it. The
// block-size families (the baseline on either system, the dual-processor machine) have six tables
// by disk block size; the other machines have one.
enum class Family { None, Baseline, BaselineWin95, Dual, Single, SingleWin95 };
struct SpecificTable {
    Family family = Family::None;
    int table = 0;  // 1..6 in a block-size family; 13..18 (Single) or 7, 8 (SingleWin95) otherwise
    bool operator==(const SpecificTable&) const = default;
};
// The table shown for list row `row` (rows 0 and 1 and rows outside the list show nothing): rows
// 2 and 3 pick by the disk block size (the first table for a size not in the table of sizes), row
// 2 by the running system too.
SpecificTable SpecificTableFor(int row, int32_t block_size, bool win95);
// The lines of a table: the machine's whole report ("Overall Results" first), one element per
// line, an empty string for an empty line; 128 lines in the block-size families, 122 for table 13,
// 94 for the others. The Windows 95 baseline family is not built (no such system here): its
// tables are empty, as is Family::None.
std::span<const char* const> SpecificLines(SpecificTable table);

// The viewer's reference list: 22 rows, a heading, a rule, then one row per report: rows 2 to 7
// the baseline machine by disk block size (512 bytes to 16 KB), rows 8 to 13 the dual-processor
// machine the same way, then one row each for tables 13, 7 (Windows 95), 8 (Windows 95), 14, 15,
// 16, 17 and 18.
inline constexpr int kViewerRows = 22;
// The table behind viewer row `row`; Family::None for rows 0 and 1 and rows outside the list.
// Rows 2 to 7 take the Windows NT set, the only baseline family built.
SpecificTable ViewerTable(int row);
// The report lines the viewer appends for row `row` (after its own title line): the row's table,
// except row 16, which shows the first 85 of its table's 94 lines (kestrel's view draws all
// 94). Empty for rows 0 and 1 and rows outside the list.
std::span<const char* const> ViewerLines(int row);

}  // namespace reference

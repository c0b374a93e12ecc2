// The reference machines' report texts: their line counts and first lines, the marks of their
// "Overall Results" block, the baseline machine's values against the engine's reference
// constants, and no measurement in the other machines' reports.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kestrel/engine/disk/disk_test.h"
#include "kestrel/engine/memory/memory_test.h"
#include "kestrel/engine/processor/processor_tables.h"
#include "kestrel/engine/report/report_tables.h"
#include "kestrel/engine/report/video_tables.h"
#include "shared/reference_data.h"
#include "shared/strformat.h"

namespace {

using reference::Family;
using reference::SpecificTable;
using Lines = std::span<const char* const>;

constexpr std::string_view kNotRecorded = "not recorded";

// The text after `label` at the start of `line`, without its leading blanks; nothing when the line
// does not start with the label.
std::optional<std::string_view> After(std::string_view line, std::string_view label) {
    if (!line.starts_with(label)) return std::nullopt;
    line.remove_prefix(label.size());
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    return line;
}

// A number written at the start of `text` and the count of its decimals.
struct Written {
    double value = 0;
    int decimals = 0;
};
std::optional<Written> NumberAt(std::string_view text) {
    Written w;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), w.value);
    if (ec != std::errc() || end == text.data()) return std::nullopt;
    const std::string_view number(text.data(), size_t(end - text.data()));
    const size_t dot = number.find('.');
    w.decimals = dot == std::string_view::npos ? 0 : int(number.size() - dot - 1);
    return w;
}

// The value of a labelled line of the "Overall Results" block: a whole number, or nothing for
// "not recorded" (a malformed line fails the test).
std::optional<int> Mark(std::string_view text) {
    if (text == kNotRecorded) return std::nullopt;
    const std::optional<Written> w = NumberAt(text);
    EXPECT_TRUE(w && w->decimals == 0) << text;
    return w ? std::optional<int>(int(w->value)) : std::nullopt;
}

// The "Overall Results" block at the head of a report.
struct Overall {
    std::optional<int> processor, cpu, fpu, memory, disk, video;
};
std::optional<Overall> ParseOverall(Lines lines) {
    if (lines.size() < 8 || std::string_view(lines[0]) != "Overall Results" || lines[1] != std::string(33, '-') ||
        !std::string_view(lines[7]).empty()) {
        return std::nullopt;
    }
    const auto p = After(lines[2], "Kes ProcessorMarks:");
    const auto m = After(lines[4], "Kes MemoryMarks:");
    const auto d = After(lines[5], "Kes DiskMarks:");
    const auto v = After(lines[6], "Kes VideoMarks:");
    const auto cpu_fpu = After(lines[3], "CPUMark:");
    if (!p || !m || !d || !v || !cpu_fpu) return std::nullopt;
    const size_t split = cpu_fpu->find("; FPUMark:");
    if (split == std::string_view::npos) return std::nullopt;
    const auto fpu = After(cpu_fpu->substr(split), "; FPUMark:");
    return Overall{Mark(*p), Mark(cpu_fpu->substr(0, split)), Mark(*fpu), Mark(*m), Mark(*d), Mark(*v)};
}

bool Has(Lines lines, const std::string& line) {
    for (const char* l : lines) {
        if (line == l) return true;
    }
    return false;
}

// The line that starts with `label`, or an empty view.
std::string_view Find(Lines lines, std::string_view label) {
    for (const char* l : lines) {
        if (std::string_view(l).starts_with(label)) return l;
    }
    return {};
}

// The machines' tables: the list row whose marks they carry, their size, the block size of the
// run where the list names it, and the CPUMark and FPUMark where they are known.
struct Case {
    SpecificTable table;
    int machine;  // row of reference::scorevalues
    size_t count;
    int block;    // 0: not recorded
    std::optional<int> cpu, fpu;
};
std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (int k = 1; k <= 6; ++k) {
        cases.push_back({{Family::Baseline, k}, 0, 128, blocksize_table[k - 1], 100, 100});
        cases.push_back({{Family::Dual, k}, 1, 128, blocksize_table[k - 1], {}, {}});
    }
    cases.push_back({{Family::Single, 13}, 2, 122, 4096, {}, {}});
    cases.push_back({{Family::SingleWin95, 7}, 3, 94, 0, {}, {}});
    cases.push_back({{Family::SingleWin95, 8}, 4, 94, 0, {}, {}});
    for (int t = 14; t <= 16; ++t) cases.push_back({{Family::Single, t}, t - 9, 94, 0, {}, {}});
    cases.push_back({{Family::Single, 17}, 8, 94, 0, 230, 369});
    cases.push_back({{Family::Single, 18}, 9, 94, 0, {}, {}});
    return cases;
}

std::string Name(const SpecificTable& t) {
    return "family " + std::to_string(int(t.family)) + " table " + std::to_string(t.table);
}

TEST(ReferenceTexts, EveryReportHasItsSizeItsRowsMarksAndNoMeasurementOfItsOwn) {
    const std::vector<Case> cases = Cases();
    ASSERT_EQ(cases.size(), 20u);
    for (const Case& c : cases) {
        SCOPED_TRACE(Name(c.table));
        const Lines lines = reference::SpecificLines(c.table);
        ASSERT_EQ(lines.size(), c.count);
        const int32_t* marks = reference::scorevalues[c.machine];
        const std::optional<Overall> overall = ParseOverall(lines);
        ASSERT_TRUE(overall);
        EXPECT_EQ(overall->processor, marks[0]);
        EXPECT_EQ(overall->memory, marks[1]);
        EXPECT_EQ(overall->disk, marks[2]);
        EXPECT_EQ(overall->video, marks[3]);
        EXPECT_EQ(overall->cpu, c.cpu);
        EXPECT_EQ(overall->fpu, c.fpu);
        EXPECT_TRUE(After(lines[8], "Memory Load:"));
        EXPECT_EQ(std::string_view(lines.back()), "Local Bus Adapter Name/Type:  not recorded");

        // The totals of the sections repeat the marks.
        EXPECT_TRUE(Find(lines, StrPrintf("Total Processor Score: %d Kes ProcessorMarks  CPUMark:", marks[0])).size());
        EXPECT_TRUE(Has(lines, StrPrintf(kTotalMemoryLine, long(marks[1]))));
        EXPECT_TRUE(Has(lines, StrPrintf(kTotalDiskLine, long(marks[2]))));
        EXPECT_TRUE(Has(lines, StrPrintf(kTotalVideoLine, long(marks[3]))));
        EXPECT_TRUE(Has(lines, c.block ? StrPrintf(kBlocksizeLine, c.block) : "Blocksize set to:  not recorded"));
        EXPECT_TRUE(Find(lines, "System Configuration:").size());

        if (c.machine == 0) continue;
        // Past the marks, another machine's report states no value but its block size and its
        // totals: everything after a line's label is "not recorded".
        for (size_t i = 8; i < lines.size(); ++i) {
            const std::string_view line = lines[i];
            const size_t colon = line.find(':');
            if (colon == std::string_view::npos || line.starts_with(kLabelBlocksize) ||
                (line.starts_with("Total ") && line.find(" Score:") != std::string_view::npos)) {
                continue;
            }
            const std::string_view value = line.substr(colon + 1);
            if (value.empty()) continue;  // a heading
            EXPECT_EQ(value.find_first_of("0123456789"), std::string_view::npos) << line;
            EXPECT_TRUE(line.ends_with(kNotRecorded)) << line;
        }
    }
}

// A written value stands for `expected` when it is that value rounded to the decimals shown.
void ExpectWritten(std::string_view line, std::string_view label, double expected) {
    const std::optional<std::string_view> text = After(line, label);
    ASSERT_TRUE(text) << label;
    const std::optional<Written> w = NumberAt(*text);
    ASSERT_TRUE(w) << line;
    EXPECT_LE(std::fabs(w->value - expected), 0.5 * std::pow(10.0, -w->decimals) + 1e-9) << line;
}

TEST(ReferenceTexts, TheBaselineReportsCarryTheReferenceValuesOfTheTests) {
    const std::vector<std::string> head = {
        "Overall Results", std::string(33, '-'), "Kes ProcessorMarks:  100", "CPUMark:  100; FPUMark:  100",
        "Kes MemoryMarks:  100", "Kes DiskMarks:  100", "Kes VideoMarks:  100", "", "Memory Load:  1 MB"};
    // The reference of full-screen 24-bit video is the one the baseline's video lines stand for.
    const VideoReference video = ChooseVideoReference(false, 1024, 24);
    ASSERT_NE(video.table, nullptr);
    const double* t = video.table;  // ms, except the rates of tests 1 and 6
    const struct {
        const char* label;
        double value;
    } video_lines[] = {
        {"test 1.) Figure Drawing Test:", t[0]},
        {"test 2.) Animation Test:", pixels[1] / (t[1] * 0.001)},
        {"test 3.) Font Scrolling Test:", pixels[2] / (t[2] * 0.001)},
        {"test 4.) Line/Arc Drawing Test:", t[3] / 100.0},
        {"test 5.) BMP Drawing Test:", pixels[4] / (t[4] * 0.001)},
        {"test 6.) Special Effects Test:", t[5]},
        {"test 7.) Window Invocation Test:", pixels[6] / (t[6] * 0.001)},
        {"test 8.) Fractal Draw Test:", pixels[7] / (t[7] * 0.001)},
        {"test 9a.) 3-D Rendering Test:", pixels[8] / (t[8] * 0.001)},
        {"test 9b.) 3-D Rendering Test:", double(video.quads)},
        {"test 9c.) 3-D Animation Test:", pixels[9] / (t[9] * 0.001)},
    };
    for (int k = 1; k <= 6; ++k) {
        SCOPED_TRACE(k);
        const Lines lines = reference::SpecificLines({Family::Baseline, k});
        ASSERT_GE(lines.size(), head.size());
        for (size_t i = 0; i < head.size(); ++i) EXPECT_EQ(lines[i], head[i]);

        // The nine processor tests as the report writer prints the reference row of 1 MB.
        for (int i = 0; i < 9; ++i) {
            const ScoreLine& s = score_lines[i];
            const float mean = float(bindex_1meg[i]);
            const char* format = s.format3 != nullptr && mean <= 0.01f ? s.format3 : s.format;
            EXPECT_TRUE(Has(lines, StrPrintf(format, i + 1, double(mean) * s.scale, 100L))) << i;
        }
        ExpectWritten(Find(lines, "Total Memory Throughput Achieved is:"), "Total Memory Throughput Achieved is:",
                      memoryscore);
        EXPECT_TRUE(Has(lines, StrPrintf(kBlocksizeLine, blocksize_table[k - 1])));
        ExpectWritten(Find(lines, "Total Disk I/O performance is:"), "Total Disk I/O performance is:",
                      diskscores[k - 1]);

        EXPECT_TRUE(Has(lines, "Video Test Resolution:  1024x768"));
        EXPECT_TRUE(Has(lines, "Video Depth:  24 bits/pixel"));
        for (const auto& v : video_lines) {
            const std::string_view line = Find(lines, v.label);
            ExpectWritten(line, v.label, v.value);
            EXPECT_TRUE(line.ends_with("; Score:  100")) << line;
        }
        const std::string_view animation = Find(lines, "test 2.) Animation Test:");
        const size_t frames = animation.find("per second; ");
        ASSERT_NE(frames, std::string_view::npos);
        ExpectWritten(animation.substr(frames), "per second;", double(framesnt) / (t[1] * 0.001));
    }
}

TEST(ReferenceTexts, TheViewerRowsShowTheirTables) {
    const struct {
        int row;
        SpecificTable table;
        size_t count;
    } rows[] = {
        {-1, {}, 0},
        {0, {}, 0},
        {1, {}, 0},
        {2, {Family::Baseline, 1}, 128},
        {7, {Family::Baseline, 6}, 128},
        {8, {Family::Dual, 1}, 128},
        {13, {Family::Dual, 6}, 128},
        {14, {Family::Single, 13}, 122},
        {15, {Family::SingleWin95, 7}, 94},
        {16, {Family::SingleWin95, 8}, 85},
        {17, {Family::Single, 14}, 94},
        {20, {Family::Single, 17}, 94},
        {21, {Family::Single, 18}, 94},
        {22, {}, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.row);
        EXPECT_EQ(reference::ViewerTable(r.row), r.table);
        const Lines shown = reference::ViewerLines(r.row);
        const Lines whole = reference::SpecificLines(r.table);
        ASSERT_EQ(shown.size(), r.count);
        // The viewer shows the head of the same table kestrel's view draws whole.
        EXPECT_EQ(shown.data(), whole.data());
    }
    size_t total = 0;
    for (int row = 0; row < reference::kViewerRows; ++row) total += reference::ViewerLines(row).size();
    EXPECT_EQ(total, 12 * 128 + 122 + 85 + 6 * 94u);
    // The Windows 95 baseline family is not built.
    EXPECT_TRUE(reference::SpecificLines({Family::BaselineWin95, 1}).empty());
    // Table 20 opens as its figures say.
    const Lines dell = reference::ViewerLines(20);
    const std::vector<std::string> head = {"Overall Results", std::string(33, '-'), "Kes ProcessorMarks:  270",
                                           "CPUMark:  230; FPUMark:  369", "Kes MemoryMarks:  137"};
    for (size_t i = 0; i < head.size(); ++i) EXPECT_EQ(dell[i], head[i]);
}

}  // namespace

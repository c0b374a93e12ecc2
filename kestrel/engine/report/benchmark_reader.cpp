#include "kestrel/engine/report/benchmark_reader.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "kestrel/engine/run/host.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/report/report_tables.h"
#include "kestrel/engine/run/result_store.h"
#include "platform/msgbox.h"
#include "platform/pages.h"

namespace {

constexpr size_t npos = std::string_view::npos;
constexpr std::string_view kLineEnd = "\r\n";
constexpr int kMaxRow = kRows - 1;  // rows 1 to 32

constexpr bool Carries(const char* line, std::string_view label) {
    return std::string_view(line).find(label) != npos;
}
static_assert(Carries(kVersionLine, kLabelVersion) && Carries(kAdapterLine, kLabelNameType));
static_assert(Carries(kMemoryLoadLine, kLabelMemoryLoad));
static_assert(Carries(kScalingLine, kLabelScaling) && Carries(kScalingStepwiseLine, kLabelScaling));
static_assert(Carries(kOSScalingLine, kLabelOSScaling) && !Carries(kOSScalingLine, kLabelScaling));
static_assert(Carries(kOSScalingStepwiseLine, kLabelOSScaling));
static_assert(Carries(kProcessorsLine, kLabelProcessors) && Carries(kProcessorsLine, kLabelStepwise));
static_assert(Carries(kSystemScalingStartLine, kLabelSystemScaling));
static_assert(Carries(kSystemEfficiencyLine, kLabelEfficiency) &&
              Carries(kOSEfficiencyLine, kLabelEfficiency));
static_assert(Carries(kProcessorsToTestLine, kLabelProcessorsToTest) &&
              !Carries(kProcessorsToTestLine, kLabelProcessors));
static_assert(Carries(kTestingProcessorLine, kLabelTestingProcessor));
static_assert(Carries(kStatsLine, kLabelDeviation) && Carries(kStatsLine, kLabelPeak) &&
              Carries(kStatsLine, kLabelTrough));
static_assert(Carries(kTotalProcessorLine, kLabelProcessorScore));
static_assert(Carries(kBlocksizeLine, kLabelBlocksize) && Carries(kDrivesTestedLine, kLabelDrivesTested));
static_assert(Carries(kTotalDiskLine, kLabelDiskScore) && Carries(kTotalMemoryLine, kLabelMemoryScore));
static_assert(Carries(kTotalVideoLine, kLabelVideoScore));

// ---- Searching and converting ----

// The position just past the first occurrence of the label at or after `from`; npos when none.
size_t Next(std::string_view tail, std::string_view label, size_t from = 0) {
    size_t at = tail.find(label, from);
    return at == npos ? npos : at + label.size();
}

// The start of the label's last occurrence; npos when none. The label's first character is
// found from the end with memrchr and the rest compared only there (std::string_view::rfind
// compares the whole label at every position).
size_t FindLast(std::string_view text, std::string_view label) {
    if (label.empty() || label.size() > text.size()) return npos;
    const char* const base = text.data();
    size_t limit = text.size() - label.size() + 1;  // the positions a whole label fits at
    while (limit > 0) {
        const void* hit = memrchr(base, label.front(), limit);
        if (hit == nullptr) return npos;
        const size_t at = size_t(static_cast<const char*>(hit) - base);
        if (std::memcmp(base + at + 1, label.data() + 1, label.size() - 1) == 0) return at;
        limit = at;
    }
    return npos;
}

// The text from the last character of the label's last occurrence to the end.
bool CutAtLast(std::string_view text, std::string_view label, std::string_view* tail) {
    size_t at = FindLast(text, label);
    if (at == npos) return false;
    *tail = text.substr(at + label.size() - 1);
    return true;
}

// The characters after a label ending at `end`: from offset `from`, at most `count` of them,
// ending before the first of `stops`, never past the tail.
std::string_view After(std::string_view tail, size_t end, size_t from, size_t count,
                       std::string_view stops = {}) {
    if (end > tail.size() || from > tail.size() - end) return {};
    std::string_view w = tail.substr(end + from, count);
    return w.substr(0, w.find_first_of(stops));
}

// The same, up to the blank before the first `letter` (the unit word after a score).
std::string_view BeforeUnit(std::string_view tail, size_t end, size_t from, size_t count, char letter) {
    std::string_view w = After(tail, end, from, count);
    size_t at = w.find(letter);
    return at == npos ? w : w.substr(0, at == 0 ? 0 : at - 1);
}

std::string_view SkipBlanks(std::string_view w) {
    size_t i = 0;
    while (i < w.size() && (w[i] == ' ' || (w[i] >= '\t' && w[i] <= '\r'))) ++i;
    return w.substr(i);
}

bool TakeSign(std::string_view* w) {
    if (w->empty() || (w->front() != '+' && w->front() != '-')) return false;
    bool negative = w->front() == '-';
    w->remove_prefix(1);
    return negative;
}

// A whole number as far as the characters form one, leading blanks skipped; 0 when they form
// none. Very long digit runs stop growing (the value is clamped where it is stored).
long long ToInteger(std::string_view w) {
    w = SkipBlanks(w);
    bool negative = TakeSign(&w);
    long long value = 0;
    for (char c : w) {
        if (c < '0' || c > '9') break;
        if (value < 1000000000000000LL) value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

// A decimal number as far as the characters form one, leading blanks skipped; 0 when they form
// none or it is out of range. Independent of the numeric locale.
double ToDecimal(std::string_view w) {
    w = SkipBlanks(w);
    bool negative = TakeSign(&w);
    if (w.empty() || !((w[0] >= '0' && w[0] <= '9') || w[0] == '.')) return 0;
    double value = 0;
    if (std::from_chars(w.data(), w.data() + w.size(), value).ec != std::errc()) return 0;
    return negative ? -value : value;
}

int32_t ToInt32(long long v) { return int32_t(std::clamp<long long>(v, INT32_MIN, INT32_MAX)); }
float ToFloat(double v) { return float(std::clamp<double>(v, -FLT_MAX, FLT_MAX)); }

bool InRange(long long v, long long low, long long high) { return v >= low && v <= high; }

// ---- Rows of the processor values ----

struct Rows {
    int row[kMaxRow] = {};
    int count = 0;
    void Add(int r) {
        if (count < kMaxRow) row[count++] = r;
    }
};

Rows PlainRows() {
    Rows rows;
    rows.Add(1);
    return rows;
}

// The r-th processor tested goes to the row of its processor number (0: passed over).
Rows UniRows() {
    Rows rows;
    const int n = std::clamp(results.temp_num_cpus_selected_for_uniproc, 0, kMaxRow);
    for (int r = 0; r < n; ++r) rows.Add(results.tempdata[r]);
    return rows;
}

// The rows of a scaling pass in the order the run measured them: row 1, then one row per step
// (two-pass: all processors; stepwise value 1: 2, 3, ...; s >= 2: s, 2s, ...). The system pass of
// an OS scaling file starts at the second of these rows.
Rows ScalingRows(int OS) {
    const int s = results.last_test_mode;
    const int n = results.tested_num_processors;
    Rows all;
    all.Add(1);
    if (InRange(s, 0, kMaxRow) && InRange(n, 1, kMaxRow)) {
        for (int k = 1; k <= results.total_scaling_runs; ++k) {
            const int row = s == 0 ? n : s == 1 ? k + 1 : s * k;
            if (row > kMaxRow || all.count == kMaxRow) break;
            all.Add(row);
        }
    }
    if (OS == 0) return all;
    Rows system;
    for (int i = 1; i < all.count; ++i) system.Add(all.row[i]);
    return system;
}

// Walks the occurrences of a label in groups: `per_row` values for each row in turn, `skip`
// occurrences passed over after each complete group. Ends with the rows or with the tail. A row
// outside 1..32 reads its group and stores nothing.
template <typename Store>
void ReadGroups(std::string_view tail, std::string_view label, const Rows& rows, int per_row,
                int skip, Store store) {
    size_t at = 0;
    for (int g = 0; g < rows.count; ++g) {
        const int row = rows.row[g];
        for (int k = 0; k < per_row; ++k) {
            if ((at = Next(tail, label, at)) == npos) return;
            if (InRange(row, 1, kMaxRow)) store(row, k, at);
        }
        for (int i = 0; i < skip; ++i)
            if ((at = Next(tail, label, at)) == npos) return;
    }
}

const double* Reference() { return ReferenceRow(results.last_memory_load_value); }

// The whole number up to its ';' (a deviation of any size the run can give fits the characters
// looked at).
void ReadStdDev(std::string_view tail, const Rows& rows) {
    ReadGroups(tail, kLabelDeviation, rows, kTests, 0, [&](int row, int k, size_t at) {
        results.std_dev[row][k] = ToDecimal(After(tail, at, 2, 64, ";\r"));
    });
}

void ReadPeak(std::string_view tail, const Rows& rows) {
    const double* reference = Reference();
    ReadGroups(tail, kLabelPeak, rows, kTests, 0, [&](int row, int k, size_t at) {
        results.second_high_score[row][k] = ToDecimal(After(tail, at, 1, 10, ";")) * reference[k] * 0.01;
    });
}

void ReadTrough(std::string_view tail, const Rows& rows) {
    const double* reference = Reference();
    ReadGroups(tail, kLabelTrough, rows, kTests, 0, [&](int row, int k, size_t at) {
        results.second_low_score[row][k] = ToDecimal(After(tail, at, 2, 10, kLineEnd)) * reference[k] * 0.01;
    });
}

int32_t ProcessorScore(std::string_view tail, size_t at) {
    return ToInt32(ToInteger(BeforeUnit(tail, at, 1, 15, 'K')));
}

void ReadProc(std::string_view tail, const Rows& rows) {
    if (tail.find(kLabelProcessorScore) == npos) {
        // Reports without processor totals carry an overall score instead.
        size_t at = Next(tail, kLabelOverallScore);
        if (at != npos) results.TotalCPU[1] = ProcessorScore(tail, at);
        return;
    }
    ReadGroups(tail, kLabelProcessorScore, rows, 1, 0, [&](int row, int, size_t at) {
        results.TotalCPU[row] = ProcessorScore(tail, at);
    });
}

// The percent deviations of a row, once all nine scores of its group are read. `skip` passes
// over the score inside the group's processor total line.
void ReadScores(std::string_view tail, const Rows& rows, int skip) {
    double score[kTests] = {};
    ReadGroups(tail, kLabelScore, rows, kTests, skip, [&](int row, int k, size_t at) {
        score[k] = ToDecimal(After(tail, at, 2, 10, kLineEnd));
        if (k < kTests - 1) return;
        for (int t = 0; t < kTests; ++t)
            results.percent_deviation[row][t] = results.std_dev[row][t] / (score[t] == 0 ? 1 : score[t]) * 100;
    });
}

// The first score of an area, at most `count` characters looked at.
void AreaScore(std::string_view tail, std::string_view label, size_t count, int32_t* score) {
    size_t at = Next(tail, label);
    if (at != npos) *score = ToInt32(ToInteger(BeforeUnit(tail, at, 2, count, 'K')));
}

void Refuse(const char* text) {
    kp::MessageBox(kp::Owner::Progress, text, "File Exception", kp::Icon::Exclamation);
    Host().CloseProgress();
}

constexpr const char* kScalingRefused =
    "Database file is either corrupt or pre-version 1.20!  Cannot parse data";

}  // namespace

// ---- Mode tests ----

int TestForVersion(std::string_view text) {
    size_t at = Next(text, kLabelVersion);
    return at != npos && ToDecimal(After(text, at, 1, 5)) >= 1.2 ? 1 : 0;
}

int TestForOSScalingEfficiency(std::string_view tail) {
    const int found = tail.find(kLabelOSScaling) != npos ? 1 : 0;
    results.temp_os_checked = found;
    results.scaling_efficiency_showing = found;
    return found;
}

int TestForScalingEfficiency(std::string_view tail) {
    const int found = tail.find(kLabelScaling) != npos ? 1 : 0;
    results.scaling_efficiency_showing = found;
    return found;
}

int TestForUniProcessorEmulation(std::string_view tail) {
    size_t at = Next(tail, kLabelProcessorsToTest);
    if (at == npos) return 0;
    long long count = ToInteger(After(tail, at, 2, 3));
    if (InRange(count, 1, kMaxRow)) results.temp_num_cpus_selected_for_uniproc = int(count);
    results.tempuniprocemulation = 1;
    return 1;
}

// ---- Header and run shape ----

void GetMemoryLoadValue(std::string_view tail) {
    size_t at = Next(tail, kLabelMemoryLoad);
    if (at == npos) return;
    long long megabytes = ToInteger(After(tail, at, 2, 2));
    for (int level = 0; level < kMemoryLevels; ++level)
        if (megabytes == ToInteger(memory_load_names[level])) results.last_memory_load_value = level;
}

// A processor count outside 1..32, or a stepwise value missing or outside 0..32, leaves the shape
// unknown: no scaling steps, so only row 1 is read. An accepted stepwise value still gives
// scale_value (s + 1, or the processor count for s = 0), never more than 32: it indexes the
// 33-row arrays.
void TestForScalingEfficiencyType(std::string_view tail) {
    ResultStore& s = results;
    bool count_known = true;
    size_t at = Next(tail, kLabelProcessors);
    if (at != npos) {
        long long n = ToInteger(After(tail, at, 2, 2, ";"));
        if (InRange(n, 1, kMaxRow)) s.tested_num_processors = int(n);
        else count_known = false;
    }
    at = Next(tail, kLabelStepwise);
    long long step = at == npos ? -1 : ToInteger(After(tail, at, 2, 3));
    s.total_scaling_runs = 0;
    if (!InRange(step, 0, kMaxRow)) return;
    s.last_test_mode = int(step);
    const int n = s.tested_num_processors;
    const int st = s.last_test_mode;
    s.scale_value = std::min(st != 0 ? st + 1 : n, kMaxRow);
    if (count_known) s.total_scaling_runs = ScalingSteps(n, st);
}

// The k-th efficiency of a pass belongs to its k-th step (row 0 in a two-pass file, which has none).
void GetScalingEfficiencies(std::string_view tail) {
    const Rows rows = ScalingRows(0);
    size_t at = 0;
    for (int k = 1; k < rows.count; ++k) {
        if ((at = Next(tail, kLabelEfficiency, at)) == npos) return;
        const int row = results.last_test_mode == 0 ? 0 : rows.row[k];
        results.efficiency[row] = ToFloat(ToDecimal(After(tail, at, 2, npos, "%")));
    }
}

// Processor numbers outside 1..32 are passed over, with the values of their group.
void GetUniProcProcessors(std::string_view tail) {
    ResultStore& s = results;
    const int count = std::clamp(s.temp_num_cpus_selected_for_uniproc, 0, kMaxRow);
    size_t at = 0;
    for (int r = 0; r < count; ++r) {
        if ((at = Next(tail, kLabelTestingProcessor, at)) == npos) return;
        long long n = ToInteger(After(tail, at, 1, 2));
        if (!InRange(n, 1, kMaxRow)) continue;
        s.tempdata[r] = int(n);
        s.temp_cpus_selected[n - 1] = 1;
    }
}

// ---- Processor values ----

void DoStdDev(std::string_view tail) { ReadStdDev(tail, PlainRows()); }
void DoPeak(std::string_view tail) { ReadPeak(tail, PlainRows()); }
void DoTrough(std::string_view tail) { ReadTrough(tail, PlainRows()); }
void DoProc(std::string_view tail) { ReadProc(tail, PlainRows()); }
void DoGetScore(std::string_view tail) { ReadScores(tail, PlainRows(), 0); }

void DoUniStdDev(std::string_view tail) { ReadStdDev(tail, UniRows()); }
void DoUniPeak(std::string_view tail) { ReadPeak(tail, UniRows()); }
void DoUniTrough(std::string_view tail) { ReadTrough(tail, UniRows()); }
void DoUniProc(std::string_view tail) { ReadProc(tail, UniRows()); }
void DoUniGetScore(std::string_view tail) { ReadScores(tail, UniRows(), 1); }

void DoStdDev2(std::string_view tail, int OS) { ReadStdDev(tail, ScalingRows(OS)); }
void DoPeak2(std::string_view tail, int OS) { ReadPeak(tail, ScalingRows(OS)); }
void DoTrough2(std::string_view tail, int OS) { ReadTrough(tail, ScalingRows(OS)); }
void DoProc2(std::string_view tail, int OS) { ReadProc(tail, ScalingRows(OS)); }
void DoGetScore2(std::string_view tail, int OS) { ReadScores(tail, ScalingRows(OS), 1); }

// ---- Memory, disk and video ----

void DoMemorySearch(std::string_view tail) { AreaScore(tail, kLabelMemoryScore, 14, &results.TotalMemory); }
void DoVideoSearch(std::string_view tail) { AreaScore(tail, kLabelVideoScore, 13, &results.TotalVideo); }

void DoBlockSizeSearch(std::string_view tail) {
    size_t at = Next(tail, kLabelBlocksize);
    if (at != npos) results.global_block_size_for_graphs = ToInt32(ToInteger(BeforeUnit(tail, at, 2, 12, 'B')));
}

// The drive count is kept as written (a negative one is refused); at most 26 drives are read. The
// descriptions are this file's alone: a drive the file does not describe has none (not that of a
// file read before).
void DoDiskSearch(std::string_view tail) {
    ResultStore& s = results;
    std::memset(s.global_drive_filebuffer, 0, sizeof s.global_drive_filebuffer);
    size_t at = Next(tail, kLabelDrivesTested);
    if (at != npos) {
        long long n = ToInteger(After(tail, at, 2, 3));
        if (n >= 0) s.disks_selected = ToInt32(n);
    }
    const int drives = std::clamp(s.disks_selected, 0, kDrives);
    at = 0;
    for (int i = 0; i < drives; ++i) {
        if ((at = Next(tail, kLabelDrive, at)) == npos) break;
        // The rest of the line without its closing period.
        std::string_view name = After(tail, at, 0, 50, kLineEnd);
        if (!name.empty()) name.remove_suffix(1);
        const size_t length = std::min(name.size(), sizeof s.global_drive_filebuffer[i] - 1);
        std::memcpy(s.global_drive_filebuffer[i], name.data(), length);
        s.global_drive_filebuffer[i][length] = '\0';
    }
    at = 0;
    for (int i = 0; i < drives; ++i) {
        if ((at = Next(tail, kLabelDiskScore, at)) == npos) break;
        s.TotalDisk[i] = ToInt32(ToInteger(BeforeUnit(tail, at, 2, 12, 'K')));
    }
}

// ---- The whole file ----

namespace {

// The parse itself: nullptr when the file is read, else the text of the box that refuses it (the
// progress window is then still open; Refuse closes it).
const char* Search(std::string_view text) {
    SetDefaults();
    EngineHost& host = Host();
    // Each reader is followed by the progress it has brought.
    auto run = [&host](auto reader, double fraction) {
        reader();
        host.SetProgress(fraction);
    };

    host.OpenProgress(kProcessingDataCaption);
    host.SetProgress(0);
    std::string_view tail;
    if (!CutAtLast(text, kLabelNameType, &tail)) return "Database file is corrupt!  Cannot parse data";
    host.SetProgress(0.05);
    host.SetProgress(0.08);
    results.scaling_efficiency_showing = 0;
    if (!TestForVersion(text)) return "File version is pre-1.20!  Cannot parse data.";
    GetMemoryLoadValue(tail);
    host.SetProgress(0.15);

    // The kind of run decides the readers, their rows and their progress.
    // Progress after the four area readers: plain or uniprocessor, processor scaling, OS scaling.
    static constexpr double kAreaSteps[3][4] = {
        {0.75, 0.80, 0.85, 0.90}, {0.70, 0.75, 0.80, 0.88}, {0.78, 0.81, 0.84, 0.91}};
    const double* area = kAreaSteps[0];
    if (TestForOSScalingEfficiency(tail)) {
        if (!CutAtLast(text, kLabelOSScaling, &tail)) return kScalingRefused;
        host.SetProgress(0.20);
        host.SetProgress(0.24);
        run([&] { TestForScalingEfficiencyType(tail); }, 0.30);
        run([&] { GetScalingEfficiencies(tail); }, 0.33);
        run([&] { DoStdDev2(tail, 0); }, 0.36);
        run([&] { DoPeak2(tail, 0); }, 0.39);
        run([&] { DoTrough2(tail, 0); }, 0.42);
        run([&] { DoProc2(tail, 0); }, 0.45);
        run([&] { DoGetScore2(tail, 0); }, 0.48);
        run([&] { CopyOStoCPU(); }, 0.51);
        if (!CutAtLast(text, kLabelSystemScaling, &tail)) return kScalingRefused;
        host.SetProgress(0.54);
        host.SetProgress(0.57);
        run([&] { GetScalingEfficiencies(tail); }, 0.60);
        run([&] { DoStdDev2(tail, 1); }, 0.63);
        run([&] { DoPeak2(tail, 1); }, 0.66);
        run([&] { DoTrough2(tail, 1); }, 0.69);
        run([&] { DoProc2(tail, 1); }, 0.72);
        run([&] { DoGetScore2(tail, 1); }, 0.75);
        area = kAreaSteps[2];
    } else {
        host.SetProgress(0.18);
        if (TestForScalingEfficiency(tail)) {
            if (!CutAtLast(text, kLabelScaling, &tail)) return kScalingRefused;
            host.SetProgress(0.24);
            host.SetProgress(0.30);
            run([&] { TestForScalingEfficiencyType(tail); }, 0.35);
            run([&] { GetScalingEfficiencies(tail); }, 0.40);
            run([&] { DoStdDev2(tail, 0); }, 0.45);
            run([&] { DoPeak2(tail, 0); }, 0.50);
            run([&] { DoTrough2(tail, 0); }, 0.55);
            run([&] { DoProc2(tail, 0); }, 0.60);
            run([&] { DoGetScore2(tail, 0); }, 0.65);
            area = kAreaSteps[1];
        } else {
            host.SetProgress(0.24);
            if (TestForUniProcessorEmulation(tail)) {
                run([&] { GetUniProcProcessors(tail); }, 0.30);
                run([&] { DoUniStdDev(tail); }, 0.37);
                run([&] { DoUniPeak(tail); }, 0.44);
                run([&] { DoUniTrough(tail); }, 0.51);
                run([&] { DoUniProc(tail); }, 0.58);
                run([&] { DoUniGetScore(tail); }, 0.70);
            } else {
                run([&] { DoStdDev(tail); }, 0.30);
                run([&] { DoPeak(tail); }, 0.40);
                run([&] { DoTrough(tail); }, 0.50);
                run([&] { DoProc(tail); }, 0.60);
                run([&] { DoGetScore(tail); }, 0.70);
            }
        }
    }
    run([&] { DoMemorySearch(tail); }, area[0]);
    run([&] { DoBlockSizeSearch(tail); }, area[1]);
    run([&] { DoDiskSearch(tail); }, area[2]);
    run([&] { DoVideoSearch(tail); }, area[3]);

    host.SetProgress(1.0);
    results.data_from_file = 1;
    host.CloseProgress();
    return nullptr;
}

}  // namespace

void DoDataSearch(const char* data_buffer, size_t filesize) {
    const char* refused =
        Search(data_buffer != nullptr ? std::string_view(data_buffer, filesize) : std::string_view());
    if (refused != nullptr) Refuse(refused);
}

void DoDataSearch(std::string* text) {
    const char* refused = Search(*text);
    if (refused == nullptr) return;
    // Nothing of a refused text is needed for its box: its memory goes back first (a text
    // the size of the memory left would otherwise stay held while the box is up).
    std::string().swap(*text);
    kp::TrimHeap();
    Refuse(refused);
}

void InstallBenchmarkReader() { SetReportReader([](std::string* text) { DoDataSearch(text); }); }

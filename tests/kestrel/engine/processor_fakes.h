// Stand-ins for the nine processor drivers: each stores the next of its planted rates in its
// test's result record, and can be told to fail, to press Stop, or to take some real time.
// Also the masking of numbers in report lines for golden comparisons.
#pragma once

#include <algorithm>
#include <cctype>
#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/processor/funcpointer.h"
#include "kestrel/engine/processor/kernel_records.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "platform/ui_thread.h"

namespace kt {

struct FakeDrivers {
    double rates[9][8] = {};
    int runs[9] = {};
    int fail_test = -1;  // this test's driver fails ...
    int fail_run = -1;   // ... on this run (0-based)
    int stop_test = -1;  // Stop is pressed during this test's run ...
    int stop_run = -1;
    int busy_ms = 0;     // real time each run takes
};

inline FakeDrivers fake_drivers;

// The result record of each test, written the way the real drivers do.
inline void StoreRate(int fid, double v) {
    switch (fid) {
        case 0: global_bitopstruct.bitopspersec = v; break;
        case 1: global_numsortstruct.sortspersec = v; break;
        case 2: global_flopstruct.flops = v; break;
        case 3: global_fourierstruct.fflops = v; break;
        case 4: global_fftstruct.fflops = v; break;
        case 5: global_assignstruct.iterspersec = v; break;
        case 6: global_sspstruct.iterspersec = v; break;
        case 7: global_elimstruct.iterspersec = v; break;
        default: global_matrixopsstruct.iterspersec = v; break;
    }
}

template <int F>
int FakeDriver() {
    FakeDrivers& f = fake_drivers;
    const int r = f.runs[F]++;
    if (f.busy_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(f.busy_ms));
    StoreRate(F, f.rates[F][std::min(r, 7)]);
    if (F == f.stop_test && r == f.stop_run) run.testend = 1;
    return F == f.fail_test && r == f.fail_run ? -1 : 0;
}

// Puts the stand-ins into the driver table for the life of the object, then puts back what was
// there.
class FakeDriverTable {
public:
    FakeDriverTable() {
        std::copy(std::begin(funcpointer), std::end(funcpointer), saved_);
        const DriverFn fakes[9] = {&FakeDriver<0>, &FakeDriver<1>, &FakeDriver<2>, &FakeDriver<3>, &FakeDriver<4>,
                                   &FakeDriver<5>, &FakeDriver<6>, &FakeDriver<7>, &FakeDriver<8>};
        std::copy(std::begin(fakes), std::end(fakes), funcpointer);
        fake_drivers = FakeDrivers{};
        for (int fid = 0; fid < 9; ++fid) StoreRate(fid, 0.0);
    }
    ~FakeDriverTable() { std::copy(std::begin(saved_), std::end(saved_), funcpointer); }
    FakeDriverTable(const FakeDriverTable&) = delete;
    FakeDriverTable& operator=(const FakeDriverTable&) = delete;

private:
    DriverFn saved_[9] = {};
};

// Every number becomes "#", its decimals "#" each: "Score:  12.50" -> "Score:  #.##". Digits
// that are part of a name ("P100") stay.
// The engine's state as a processor part starts on one processor.
inline void ResetForProcessorPart() {
    kp::MarkUiThread();
    report = ReportText{};
    results = ResultStore{};
    prefs = Preferences{};
    pchk = PerfMonData{};
    run.testend = 0;
    run.globalpercent = 0;
    run.IDM_SCALING_CHECKED = 0;
    run.real_num_processors = 1;
}

inline std::string MaskNumbers(const std::string& line) {
    static const std::regex number(R"([A-Za-z]?\d+(\.\d+)?)");
    std::string out;
    auto last = line.cbegin();
    for (std::sregex_iterator it(line.begin(), line.end(), number), end; it != end; ++it) {
        out.append(last, (*it)[0].first);
        last = (*it)[0].second;
        if (std::isalpha(static_cast<unsigned char>(*(*it)[0].first))) {
            out += (*it)[0].str();
            continue;
        }
        out += '#';
        if ((*it)[1].matched) out += "." + std::string(size_t((*it)[1].length() - 1), '#');
    }
    out.append(last, line.cend());
    return out;
}

inline std::vector<std::string> MaskNumbers(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& l : lines) out.push_back(MaskNumbers(l));
    return out;
}

}  // namespace kt

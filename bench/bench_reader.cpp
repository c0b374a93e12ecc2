// The benchmark file reader on a saved report of a 32-processor stepwise run (step 1) with the
// OS pass, long test, beside one forward scan of the same text for a label it does not hold
// (the least any reader that searches the text must do) and beside the reader's three marker
// searches done with std::string_view::rfind (which compares the label at every byte).
//
// The report is written by the engine's own sequencer, driver and report writers: stand-in
// processor drivers store their rates, and this program, started again by the analyser link as
// "loadmeter", answers as the analyser, so the report carries its counter lines and
// load-balance tables as a real run's does. The fixed pauses of the run are skipped.
//
//   bench_reader [rounds] [file]     (default 50 rounds; the report is also saved in the file)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/report/benchmark_reader.h"
#include "kestrel/engine/disk/disk_test.h"
#include "kestrel/engine/processor/funcpointer.h"
#include "kestrel/engine/run/host.h"
#include "kestrel/engine/processor/kernel_records.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/report/report_tables.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/sequencer.h"
#include "kestrel/engine/run/settings.h"
#include "platform/local_socket.h"
#include "platform/msgbox.h"
#include "platform/ui_thread.h"
#include "shared/perf_link.h"
#include "shared/records.h"
#include "bench/spread.h"
#include "tests/kestrel/engine/processor_fakes.h"

namespace fs = std::filesystem;

namespace {

constexpr int kProcessors = 32;
constexpr int kStep = 1;

// ---- The analyser, when this program is started as one ----

int AnswerAsAnalyser() {
    int fd = -1;
    for (int tries = 0; tries < 500 && fd < 0; ++tries) {
        fd = kp::ConnectLocal(kPerfSocketName);
        if (fd < 0) usleep(10000);
    }
    if (fd < 0) return 2;
    PerfMonData rec;
    if (kp::ReadExact(fd, &rec, sizeof rec, -1) != kp::IoResult::Ok) return 3;  // the settings
    for (int interval = 0;; ++interval) {
        if (kp::ReadExact(fd, &rec, sizeof rec, -1) != kp::IoResult::Ok) return 0;
        if (rec.end == 1) return 0;
        // Loads and rates that differ from processor to processor and from interval to interval.
        for (int i = 0; i < 32; ++i) {
            rec.cpu_scores_1[i] = 60.0f + float((i * 7 + interval) % 40) + 0.3f;
            rec.cpu_scores_2[i] = 100.0f + float((i * 13 + interval) % 900);
        }
        for (int j = 0; j < 6; ++j) rec.score[j] = float(j == 0 ? 80 + interval % 17 : j * 1000 + interval % 17);
        if (kp::WriteAll(fd, &rec, sizeof rec, -1) != kp::IoResult::Ok) return 0;
    }
}

// ---- The run that writes the report ----

class BenchHost : public EngineHost {
public:
    void Sleep(int) override {}  // the analyser's measuring pauses are not what is measured here
};

// Each stand-in driver stores a rate in its test's record: the reference machine's rate, grown
// with the processors used and varied from run to run so that the statistics lines vary too.
template <int F>
int StandInDriver() {
    static int runs = 0;
    constexpr double kSpread[8] = {1.0, 1.3, 0.9, 1.1, 1.0, 1.05, 0.95, 1.2};
    const double rate = ReferenceRow(prefs.memory_load_value)[F] * (1.0 + 0.45 * (run.numprocessors - 1)) *
                        kSpread[runs++ % 8] * (results.testing_os != 0 ? 0.97 : 1.0);
    kt::StoreRate(F, rate);
    return 0;
}

// A private home, configuration, runtime and temporary folder, and the folder the engine takes
// the analyser and the counter library from: this program as "loadmeter", the built library.
std::string Isolate(const char* self) {
    std::string root = fs::temp_directory_path().string() + "/kestrel-bench-reader-XXXXXX";
    if (mkdtemp(root.data()) == nullptr) return {};
    for (const char* sub : {"home", "config", "data", "runtime", "tmp", "bin"}) fs::create_directories(root + "/" + sub);
    fs::permissions(root + "/runtime", fs::perms::owner_all, fs::perm_options::replace);
    setenv("HOME", (root + "/home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    setenv("TMPDIR", (root + "/tmp").c_str(), 1);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");  // the user's screen saver is left alone
    std::error_code ec;
    fs::create_symlink(fs::canonical(self, ec), root + "/bin/" + kLoadmeterProgram, ec);
    fs::create_symlink(KESTREL_COUNTER_LIBRARY, root + "/bin/" + kCounterLibrary, ec);
    perflink.program_directory = root + "/bin";
    return root;
}

std::string WriteReport() {
    const DriverFn drivers[9] = {&StandInDriver<0>, &StandInDriver<1>, &StandInDriver<2>,
                                 &StandInDriver<3>, &StandInDriver<4>, &StandInDriver<5>,
                                 &StandInDriver<6>, &StandInDriver<7>, &StandInDriver<8>};
    std::copy(std::begin(drivers), std::end(drivers), funcpointer);
    prefs.valuelongtest = 1;
    prefs.use_high_precision = 1;
    prefs.memory_load_value = 0;
    prefs.stepwise_scaling = kStep;
    run.real_num_processors = kProcessors;
    run.numprocessors = kProcessors;
    run.TestValue = 1;
    run.CPU_TEST_CHECKED = 1;
    run.IDM_SCALING_CHECKED = 1;
    run.OSEFFICIENCY_CHECKED = 1;
    globaldrives = 1;
    drivemenu.globaldrivechar[0] = "/";
    machine.harddisk[0] = "Disk 0";
    machine.adapter[0] = "NVMe";
    StartTesting();
    std::string text;
    for (const std::string& line : report.szGreeting) text += line + "\r\n";
    return text;
}

double Ms(std::chrono::steady_clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], kLoadmeterToken) == 0) return AnswerAsAnalyser();
    std::setlocale(LC_NUMERIC, "C");
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;

    std::printf("DoDataSearch on a generated %d-processor stepwise (step %d) OS scaling report, long test, "
                "beside one forward scan of the same text and the three marker searches by string_view::rfind; "
                "%d rounds, milliseconds min / median / max\n",
                kProcessors, kStep, rounds);
    const std::string root = Isolate(argv[0]);
    if (root.empty()) {
        std::fprintf(stderr, "no private folder could be made\n");
        return 1;
    }
    kp::MarkUiThread();
    std::vector<std::string> boxes;
    kp::SetMessageBoxBackend([&boxes](const kp::BoxRequest& box) {
        boxes.push_back(box.caption + ": " + box.text);
        return kp::DefaultAnswer(box);
    });
    BenchHost host;
    SetEngineHost(&host);

    const std::string text = WriteReport();
    const ResultStore ran = results;
    std::error_code ec;
    fs::remove_all(root, ec);
    if (argc > 2) {
        if (FILE* f = std::fopen(argv[2], "wb")) {
            std::fwrite(text.data(), 1, text.size(), f);
            std::fclose(f);
        }
    }
    const bool clean = boxes.empty() && run.test_interrupted == 0;
    for (const std::string& b : boxes) std::fprintf(stderr, "box during the run: %s\n", b.c_str());
    std::printf("report: %zu lines, %.0f KB%s\n", report.szGreeting.size(), double(text.size()) / 1024.0,
                clean ? "" : " (the run did not end cleanly)");

    std::vector<double> reader(static_cast<size_t>(rounds)), scan(static_cast<size_t>(rounds)),
        markers(static_cast<size_t>(rounds));
    int parsed = 0;
    bool same = true;
    const std::string_view whole(text);
    for (int r = 0; r < rounds; ++r) {
        // Alternating, so that both see the same state of the machine.
        auto t0 = std::chrono::steady_clock::now();
        DoDataSearch(text.data(), text.size());
        auto t1 = std::chrono::steady_clock::now();
        volatile size_t at = whole.find("Kestrel System Level Benchmark ver. 9");
        (void)at;
        auto t2 = std::chrono::steady_clock::now();
        for (std::string_view label : {kLabelNameType, kLabelOSScaling, kLabelSystemScaling}) {
            volatile size_t last = whole.rfind(label);
            (void)last;
        }
        auto t3 = std::chrono::steady_clock::now();
        reader[size_t(r)] = Ms(t1 - t0);
        scan[size_t(r)] = Ms(t2 - t1);
        markers[size_t(r)] = Ms(t3 - t2);
        parsed += results.data_from_file;
        for (int row = 0; row < kRows; ++row)
            same = same && results.TotalCPU[row] == ran.TotalCPU[row] && results.TotalCPU_OS[row] == ran.TotalCPU_OS[row];
    }
    const Spread a = Of(reader), b = Of(scan), c = Of(markers);
    std::printf("  DoDataSearch           %8.3f %8.3f %8.3f\n", a.min, a.median, a.max);
    std::printf("  forward scan (find)    %8.3f %8.3f %8.3f\n", b.min, b.median, b.max);
    std::printf("  markers by rfind       %8.3f %8.3f %8.3f\n", c.min, c.median, c.max);
    std::printf("  DoDataSearch / forward scan, medians  %8.1f\n", b.median > 0 ? a.median / b.median : 0.0);
    std::printf("  %d of %d parses read the file; the processor totals of every row %s the run's\n", parsed, rounds,
                same ? "equal" : "DIFFER FROM");
    return clean && same && parsed == rounds ? 0 : 1;
}

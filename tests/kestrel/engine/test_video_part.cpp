// The video part of a run: the hand-over to the video test program (the stand-in of
// tests/fakes/lumen, and the real `lumen`), the report lines and scores made of the record it
// hands back, the aborted runs, and the screen checks.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/run/host.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/engine/run/video_test.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/processors.h"
#include "tests/kestrel/engine/processor_fakes.h"
#include "tests/support/isolation.h"
#include "tests/support/recording_host.h"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

class VideoPart : public ::testing::Test {
protected:
    void SetUp() override {
        kp::MarkUiThread();
        report = ReportText{};
        prefs = Preferences{};
        results = ResultStore{};
        run.testrunning = 1;
        run.real_num_processors = 1;
        run.numprocessors = 1;
        host.screen = {1024, 768, 32};
        SetEngineHost(&host);
        videolink.program_directory = kp::ProgramDirectory() + "/fakes";
        setenv("FAKE_LUMEN_MODE", "answer", 1);
        setenv("FAKE_LUMEN_ARGS", args_file_.c_str(), 1);
        setenv("FAKE_LUMEN_RECORD", record_file_.c_str(), 1);
    }
    void TearDown() override { SetEngineHost(nullptr); }

    // The lines the part wrote (after the lines there were before).
    Lines Written(size_t from = 0) const { return Lines(report.szGreeting.begin() + long(from), report.szGreeting.end()); }
    TIMES Sent() const {
        TIMES t{};
        std::ifstream in(record_file_, std::ios::binary);
        in.read(reinterpret_cast<char*>(&t), sizeof t);
        return t;
    }

    kt::RecordingHost host;
    kp::BoxRecorder boxes;
    const std::string args_file_ = kt::TempDir() + "/lumen-args.txt";
    const std::string record_file_ = kt::TempDir() + "/lumen-record.bin";
};

// The video program starts at the program's own priority, not at the lowered one of the
// user-interface thread that starts it.
TEST_F(VideoPart, TheVideoProgramStartsAtTheProgramsPriority) {
    const std::string nice_file = kt::TempDir() + "/lumen-nice.txt";
    setenv("FAKE_LUMEN_NICE", nice_file.c_str(), 1);
    const int start = kp::CurrentThreadNice();
    if (start > 19 - kp::NiceOffsetOfPriority(-1)) GTEST_SKIP() << "started too low to be lowered";
    ASSERT_TRUE(kp::SetCurrentThreadPriority(-1));
    ASSERT_EQ(kp::CurrentThreadNice(), start + kp::NiceOffsetOfPriority(-1));
    EXPECT_EQ(StartProcess(), 1);
    kp::SetCurrentThreadPriority(0);
    unsetenv("FAKE_LUMEN_NICE");
    std::ifstream in(nice_file);
    int nice = 100;
    in >> nice;
    EXPECT_EQ(nice, start);
}

// The stand-in's record: every line of the part, with the analyser block of two processors.
TEST_F(VideoPart, ReportLinesAndScoresOfTheRecordHandedBack) {
    prefs.show_perf_data = 1;
    prefs.perf_counters[0] = 1;
    prefs.perf_counters[1] = 1;
    prefs.perf_counters[5] = 1;
    prefs.niceness = 2;
    prefs.show_graphs = 1;
    prefs.valuelongtest = 1;
    prefs.use_high_precision = 1;
    run.real_num_processors = 2;
    run.numprocessors = 2;
    results.times.priority = 1;
    ASSERT_EQ(DoVIDEOTest(1), 0);

    EXPECT_EQ(kt::ReadFile(args_file_), "0\n0\n0x3D7E19C4a90457\n");
    const TIMES sent = Sent();
    EXPECT_EQ(sent.count, 1);
    EXPECT_EQ(sent.processor_number, 2);
    EXPECT_EQ(sent.priority, 1);
    EXPECT_EQ(sent.bits_per_pixel, 32);
    EXPECT_EQ(sent.show_perf_data, 1);
    EXPECT_EQ(sent.use_highfreq_timer, 1);
    EXPECT_EQ(std::string(sent.install_directory), videolink.program_directory);
    EXPECT_EQ(sent.pchk.countertime, 800);
    EXPECT_EQ(sent.pchk.show_graphs, 1);
    EXPECT_EQ(sent.pchk.indices[0], 0);
    EXPECT_EQ(sent.pchk.indices[1], 768);
    EXPECT_EQ(sent.pchk.indices[2], 0);  // a screen 768 high has no room below the window
    EXPECT_EQ((std::vector<int>(sent.pchk.perfData, sent.pchk.perfData + 6)), (std::vector<int>{1, 1, 0, 0, 0, 1}));

    const Lines expected = {
        "Performing Long Video Test...",
        "",
        "Video Screen Resolution:  1024x768",
        "Video Test Resolution:  1024x768",
        "Video Depth:  32 bits/pixel",
        "Z-Buffer Depth set at:  32 bits",
        "",
        "test 1.) Figure Drawing Test:  3000 figures drawn per second; Score:  188",
        "Idle Processor Load:  0.0",
        "Average CPU Usage:  1.0% per CPU",
        "CPU 0:  0.5%; CPU 1:  1.5%; ",
        "Average Interrupts/sec.:  2 per CPU",
        "CPU 0:  100; CPU 1:  101; ",
        "Average Available Memory:  6",
        "",
        "test 2.) Animation Test:  52.00 animations per second; 800.0 frames/sec; Score:  11465",
        "Idle Processor Load:  0.5",
        "Average CPU Usage:  11.0% per CPU",
        "CPU 0:  0.5%; CPU 1:  1.5%; ",
        "Average Interrupts/sec.:  12 per CPU",
        "CPU 0:  100; CPU 1:  101; ",
        "Average Available Memory:  16",
        "",
    };
    const Lines lines = Written();
    ASSERT_GE(lines.size(), expected.size());
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + long(expected.size())), expected);
    // The score lines of all ten tests and the total.
    Lines scores;
    for (const std::string& l : lines) {
        if (l.rfind("test ", 0) == 0 || l.find("Video") != std::string::npos) scores.push_back(l);
    }
    EXPECT_EQ(scores, (Lines{
                          "Performing Long Video Test...",
                          "Video Screen Resolution:  1024x768",
                          "Video Test Resolution:  1024x768",
                          "Video Depth:  32 bits/pixel",
                          "test 1.) Figure Drawing Test:  3000 figures drawn per second; Score:  188",
                          "test 2.) Animation Test:  52.00 animations per second; 800.0 frames/sec; Score:  11465",
                          "test 3.) Font Scrolling Test:  28.07 screens scrolled per second; Score:  1964",
                          "test 4.) Line/Arc Drawing Test:  4.0 MegaPixels drawn per second; Score:  9",
                          "test 5.) BMP Drawing Test:  500.0 BMPs drawn per second; Score:  469",
                          "test 6.) Special Effects Test:  12.00 Effects drawn per second; Score:  198",
                          "test 7.) Window Invocation Test:  400000.0 windows drawn per second; Score:  6709400",
                          "test 8.) Fractal Draw Test:  6500.0 Fractals drawn per second; Score:  6197",
                          "test 9a.) 3-D Rendering Test:  163.00 3-D renders per second; Score:  2909",
                          "test 9b.) 3-D Rendering Test:  700 3-D Quadrangles rendered per second; Score:  112",
                          "test 9c.) 3-D Animation Test:  71.75 3-D Frames per second; Score:  7754",
                          "Total Video Score:  338585 Kes VideoMarks",
                          "This Video subsystem is 338485.3% faster than a Matrox Millennium (with Micron P100)",
                      }));
    // The 3-D test's analyser block follows its "c" line with row 8.
    const auto c = std::find(lines.begin(), lines.end(), scores[14]);
    ASSERT_NE(c, lines.end());
    EXPECT_EQ(*(c + 1), "Idle Processor Load:  4.0");
    EXPECT_EQ(*(c + 2), "Average CPU Usage:  81.0% per CPU");
    EXPECT_EQ(results.TotalVideo, 338585);
    EXPECT_EQ(run.testrunning, 1);
    EXPECT_TRUE(boxes.boxes().empty());
}

// A test the video program could not measure (time 0 or below) gets its line without a figure,
// scores 0 and adds nothing; test 1 not measured starts the sum at 0.
TEST_F(VideoPart, NotMeasuredTestsScoreNothing) {
    setenv("FAKE_LUMEN_MODE", "unmeasured", 1);
    ASSERT_EQ(DoVIDEOTest(0), 0);
    const Lines lines = Written();
    auto has = [&](const std::string& l) { return std::find(lines.begin(), lines.end(), l) != lines.end(); };
    EXPECT_TRUE(has("test 2.) Animation Test:  not measured; Score:  0"));
    EXPECT_TRUE(has("test 9a.) 3-D Rendering Test:  not measured; Score:  0"));
    EXPECT_TRUE(has("test 9b.) 3-D Rendering Test:  not measured; Score:  0"));
    EXPECT_TRUE(has("test 9c.) 3-D Animation Test:  71.75 3-D Frames per second; Score:  7754"));
    // The sum of the answer record less tests 2 and 9a: 3385853 - 11465 - 2909.
    EXPECT_EQ(videoglobal, 3371479);
    EXPECT_EQ(results.TotalVideo, 337148);

    results.times.elapsed1 = -1.0;
    videoglobal = 500;
    DoVideoInput(0, 0, 1591, 1250);
    EXPECT_EQ(report.szGreeting.back(), "test 1.) Figure Drawing Test:  not measured; Score:  0");
    EXPECT_EQ(videoglobal, 0);
}

// Rates divide the work by the time in seconds and time-based scores divide by the time in
// milliseconds, both with one guard: a time below one millisecond counts as one millisecond. A
// test of a second or more (the reference machines') rates and scores as it always did.
TEST_F(VideoPart, RatesAndScoresOfTimesBelowAndAboveOneSecond) {
    struct Case {
        int i;
        double ms;
        const char* line;
        long score;
    };
    const Case cases[] = {
        {0, 0.4, "test 1.) Figure Drawing Test:  5581000 figures drawn per second; Score:  350785", 350785},
        {0, 51, "test 1.) Figure Drawing Test:  109431 figures drawn per second; Score:  6878", 6878},
        {0, 1000, "test 1.) Figure Drawing Test:  5581 figures drawn per second; Score:  350", 350},
        {0, 2500, "test 1.) Figure Drawing Test:  2232 figures drawn per second; Score:  140", 140},
        {1, 0.4, "test 2.) Animation Test:  26000.00 animations per second; 400000.0 frames/sec; Score:  5732800",
         5732800},
        {1, 51, "test 2.) Animation Test:  509.80 animations per second; 7843.1 frames/sec; Score:  112407", 112407},
        {1, 2500, "test 2.) Animation Test:  10.40 animations per second; 160.0 frames/sec; Score:  2293", 2293},
        {3, 51, "test 4.) Line/Arc Drawing Test:  58.8 MegaPixels drawn per second; Score:  136", 136},
        {3, 2500, "test 4.) Line/Arc Drawing Test:  1.2 MegaPixels drawn per second; Score:  2", 2},
        {4, 0.4, "test 5.) BMP Drawing Test:  2000000.0 BMPs drawn per second; Score:  1876600", 1876600},
        {4, 51, "test 5.) BMP Drawing Test:  39215.7 BMPs drawn per second; Score:  36796", 36796},
        {4, 1000, "test 5.) BMP Drawing Test:  2000.0 BMPs drawn per second; Score:  1876", 1876},
        {5, 51, "test 6.) Special Effects Test:  235.29 Effects drawn per second; Score:  3895", 3895},
        {5, 2500, "test 6.) Special Effects Test:  4.80 Effects drawn per second; Score:  79", 79},
    };
    const double reference[6] = {1591, 57328, 29469, 4310, 18766, 6.04};  // the 24/32-bit full-mode table
    const double work[6] = {1250, 26, 42.1, 420, 2000, 3.3};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        results.times = TIMES{};
        results.times.rectcount1 = 5581;
        results.times.numpoints = 3000000;
        results.times.num_effects_rendered = 12;
        double* times[6] = {&results.times.elapsed1, &results.times.elapsed2, &results.times.elapsed3,
                            &results.times.elapsed4, &results.times.elapsed5, &results.times.elapsed6};
        *times[c.i] = c.ms;
        videoglobal = 7;
        DoVideoInput(c.i, 0, reference[c.i], work[c.i]);
        EXPECT_EQ(report.szGreeting.back(), c.line);
        EXPECT_EQ(videoglobal, c.i == 0 ? c.score : 7 + c.score);
    }
}

// Every failed hand-over ends the part as an aborted run, never with the results of an earlier
// run, and never waits on a program that has ended. A program that is ending (a signal, the end
// of the session) starts no video program, or ends the one waited on at once, without a box.
TEST_F(VideoPart, FailedHandOversAreAbortedRunsWithoutStaleResults) {
    enum class Ending { No, BeforeTheStart, OnceItHasTheRecord };
    struct Case {
        const char* mode;
        bool missing_program;
        Ending ending;
        std::vector<std::string> boxes;
    };
    const Case cases[] = {
        {"refuse", false, Ending::No, {}},
        {"silent", false, Ending::No, {"Connection with VideoKestrel was broken!"}},
        {"short", false, Ending::No, {"Connection with VideoKestrel was broken!"}},
        {"aborted", false, Ending::No, {}},
        {"answer", true, Ending::No, {"Cannot Fild File lumen or lumen!  Exit and Restart Kestrel."}},
        {"answer", false, Ending::BeforeTheStart, {}},
        {"stall", false, Ending::OnceItHasTheRecord, {}},
    };
    const std::string release = kt::TempDir() + "/lumen-release";
    setenv("FAKE_LUMEN_RELEASE", release.c_str(), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        // A good run first: its results are in the record.
        videolink.program_directory = kp::ProgramDirectory() + "/fakes";
        setenv("FAKE_LUMEN_MODE", "answer", 1);
        ASSERT_EQ(DoVIDEOTest(0), 0);
        ASSERT_EQ(results.times.elapsed2, 500.0);
        boxes.Clear();
        report = ReportText{};
        run.testrunning = 1;
        std::remove(args_file_.c_str());
        std::remove(record_file_.c_str());
        std::remove(release.c_str());

        setenv("FAKE_LUMEN_MODE", c.mode, 1);
        if (c.missing_program) videolink.program_directory = kt::FreshDir("no-lumen");
        run.ending = c.ending == Ending::BeforeTheStart ? 1 : 0;
        // Once the stand-in holds the record, the program ends; should the part go on waiting
        // for it regardless, the stand-in is let go after many more passes of the wait.
        int pumps_when_ending = 0;
        host.on_pump = [&](int pump) {
            if (c.ending != Ending::OnceItHasTheRecord) return;
            if (run.ending == 0) {
                std::error_code error;
                if (fs::file_size(record_file_, error) == sizeof(TIMES)) {
                    run.ending = 1;
                    pumps_when_ending = pump;
                }
            } else if (pump - pumps_when_ending == 100) {
                kt::WriteFile(release, "");
            }
        };
        EXPECT_EQ(DoVIDEOTest(0), -1);
        host.on_pump = nullptr;
        EXPECT_EQ(Written(), (Lines{"Performing Short Video Test...", "", "Test aborted"}));
        EXPECT_EQ(run.testrunning, 0);
        EXPECT_EQ(results.times.elapsed1, 0.0);
        // Nothing of the earlier run is left (a record handed back with test 1 at 0.0 holds
        // this run's other figures).
        const bool handed_back = std::string(c.mode) == "aborted";
        EXPECT_EQ(results.times.elapsed2, handed_back ? 500.0 : 0.0);
        EXPECT_EQ(results.times.rectcount1, handed_back ? 6000 : 0);
        EXPECT_EQ(results.times.perf_scores[0][0], handed_back ? 1.0f : 0.0f);
        std::vector<std::string> texts;
        for (const kp::BoxRequest& b : boxes.boxes()) texts.push_back(b.text);
        EXPECT_EQ(texts, c.boxes);
        // Ending before the start: no video program; ending during the wait: it was ended.
        if (c.ending == Ending::BeforeTheStart) {
            EXPECT_FALSE(fs::exists(args_file_));
        }
        if (c.ending == Ending::OnceItHasTheRecord) {
            EXPECT_FALSE(fs::exists(release)) << "waited until it was let go";
        }
        run.ending = 0;
    }
}

// The screen checks, the laptop question and the reference each screen takes.
TEST_F(VideoPart, ScreenChecksLaptopQuestionAndReferences) {
    struct Case {
        int laptop;
        ScreenFacts screen;
        std::vector<kp::Answer> answers;
        int result;
        int boxes;
        const char* laptop_arg;   // nullptr: not started
        const char* first_score;  // the Figure Drawing line, or the line the part ends with
    };
    const Case cases[] = {
        {1, {640, 480, 32}, {}, -1, 1, nullptr, nullptr},
        {0, {800, 600, 32}, {kp::Answer::Ok, kp::Answer::No}, -1, 2, nullptr, nullptr},
        {0, {800, 600, 16}, {kp::Answer::Ok, kp::Answer::Yes}, 0, 2, "1",
         "test 1.) Figure Drawing Test:  3000 figures drawn per second; Score:  147"},
        {1, {1280, 1024, 16}, {}, 0, 0, "1", "test 1.) Figure Drawing Test:  3000 figures drawn per second; Score:  151"},
        {0, {1280, 1024, 8}, {}, 0, 0, "0", "test 1.) Figure Drawing Test:  3000 figures drawn per second; Score:  160"},
        {0, {1280, 1024, 24}, {}, 0, 0, "0", "test 1.) Figure Drawing Test:  3000 figures drawn per second; Score:  188"},
        // 30-bit deep colour has no reference table: no test is scored.
        {0, {1280, 1024, 30}, {}, 0, 0, "0", "Total Video Score:  0 Kes VideoMarks"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.screen.width * 100 + c.screen.bitsPerPixel);
        report = ReportText{};
        boxes.Clear();
        boxes.Script(c.answers);
        std::remove(args_file_.c_str());
        prefs.laptop_settings_on = c.laptop;
        host.screen = c.screen;
        run.testrunning = 1;
        EXPECT_EQ(DoVIDEOTest(0), c.result);
        EXPECT_EQ(int(boxes.boxes().size()), c.boxes);
        EXPECT_EQ(run.testrunning, c.result == 0 ? 1 : 0);
        EXPECT_EQ(prefs.laptop_settings_on, c.laptop);  // a Yes holds for this run only
        if (c.laptop_arg == nullptr) {
            EXPECT_NE(access(args_file_.c_str(), F_OK), 0);
            continue;
        }
        EXPECT_EQ(kt::ReadFile(args_file_), std::string(c.laptop_arg) + "\n0\n0x3D7E19C4a90457\n");
        const Lines lines = Written();
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.first_score), lines.end());
    }
    // A depth without a reference table scores nothing, whatever an earlier part summed.
    report = ReportText{};
    host.screen = {1280, 1024, 15};
    ASSERT_EQ(DoVIDEOTest(0), 0);
    const Lines lines = Written();
    EXPECT_EQ(Lines(lines.end() - 3, lines.end()),
              (Lines{"Total Video Score:  0 Kes VideoMarks",
                     "This Video subsystem is 100.0% slower than a  Matrox Millennium (with Micron P100)",
                     std::string(78, '*')}));
}

// ---- With the real video test program ----

// The nine tests of `lumen` (offscreen, in the 800 x 600 window, no repeat, pauses cut): the
// record goes out, comes back with a time for every test built, and becomes the report lines.
TEST_F(VideoPart, RealVideoProgramRunsItsTestsAndHandsTheRecordBack) {
    videolink.program_directory = LUMEN_DIR;
    const std::string box_log = kt::TempDir() + "/lumen-boxes.txt";
    setenv("KESTREL_TEST_MSGBOX_LOG", box_log.c_str(), 1);
    prefs.laptop_settings_on = 1;
    prefs.use_high_precision = 1;
    host.screen = {1024, 768, 24};
    ASSERT_EQ(DoVIDEOTest(0), 0);
    unsetenv("KESTREL_TEST_MSGBOX_LOG");

    const TIMES& t = results.times;
    const double built[8] = {t.elapsed1, t.elapsed2, t.elapsed3, t.elapsed4,
                             t.elapsed5, t.elapsed6, t.elapsed7, t.elapsed8};
    for (double ms : built) EXPECT_GT(ms, 0.0);
    EXPECT_GT(t.rectcount1, 0);
    EXPECT_GT(t.numpoints, 0);
    EXPECT_GT(t.num_effects_rendered, 0);
    EXPECT_GT(t.bits_per_pixel, 0);  // the program's own screen
    const Lines lines = kt::MaskNumbers(Written());
    const Lines expected = {
        "Performing Short Video Test...",
        "",
        "Video Screen Resolution:  #x768",
        "Video Test Resolution:  #x600",
        "Video Depth:  # bits/pixel",
        "Z-Buffer Depth set at:  # bits",
        "",
        "test #.) Figure Drawing Test:  # figures drawn per second; Score:  #",
        "test #.) Animation Test:  #.## animations per second; #.# frames/sec; Score:  #",
        "test #.) Font Scrolling Test:  #.## screens scrolled per second; Score:  #",
        "test #.) Line/Arc Drawing Test:  #.# MegaPixels drawn per second; Score:  #",
        "test #.) BMP Drawing Test:  #.# BMPs drawn per second; Score:  #",
        "test #.) Special Effects Test:  #.## Effects drawn per second; Score:  #",
        "test #.) Window Invocation Test:  #.# windows drawn per second; Score:  #",
        "test #.) Fractal Draw Test:  #.# Fractals drawn per second; Score:  #",
    };
    ASSERT_GE(lines.size(), expected.size() + 7);
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + long(expected.size())), expected);
    EXPECT_EQ(Written()[3], "Video Test Resolution:  800x600");
    EXPECT_EQ(lines[lines.size() - 3], "Total Video Score:  # Kes VideoMarks");
    // The 3-D test's three lines follow, measured or not.
    EXPECT_EQ(lines[expected.size()].rfind("test #a.) #-D Rendering Test:  ", 0), 0u) << lines[expected.size()];
    EXPECT_EQ(lines[expected.size() + 1].rfind("test #b.) #-D Rendering Test:  ", 0), 0u);
    EXPECT_EQ(lines[expected.size() + 2].rfind("test #c.) #-D Animation Test:  ", 0), 0u);
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(access(box_log.c_str(), F_OK) == 0 ? kt::ReadFile(box_log) : "", "");
}

// `lumen` refuses a start with a wrong token, and one in the file exchange mode: it shows the
// version box and ends with exit code 1 without touching the exchange, and the video part ends
// as an aborted run instead of waiting for a connection.
TEST_F(VideoPart, RefusedVideoProgramEndsThePartAsAborted) {
    const char* const starts[] = {"\"$1\" \"$2\" 0x3D7E19C4a90456", "\"$1\" 1 \"$3\""};
    for (const char* words : starts) {
        SCOPED_TRACE(words);
        const std::string dir = kt::FreshDir("refusing");
        const std::string code_file = dir + "/code.txt";
        kt::WriteFile(dir + "/lumen", "#!/bin/sh\n" LUMEN_DIR "/lumen " + std::string(words) + "\necho $? > " +
                                          code_file + "\n");
        ASSERT_EQ(chmod((dir + "/lumen").c_str(), 0755), 0);
        const std::string box_log = dir + "/boxes.txt";
        setenv("KESTREL_TEST_MSGBOX_LOG", box_log.c_str(), 1);
        videolink.program_directory = dir;
        report = ReportText{};
        run.testrunning = 1;
        EXPECT_EQ(DoVIDEOTest(0), -1);
        unsetenv("KESTREL_TEST_MSGBOX_LOG");
        EXPECT_EQ(Written(), (Lines{"Performing Short Video Test...", "", "Test aborted"}));
        EXPECT_EQ(run.testrunning, 0);
        EXPECT_EQ(kt::ReadFile(code_file), "1\n");
        const std::string logged = kt::ReadFile(box_log);
        EXPECT_NE(logged.find("Incorrect version of VideoKestrel.  Use version 1.21 with Kestrel 1.21."), std::string::npos)
            << logged;
        EXPECT_NE(logged.find("VideoKestrel Exception"), std::string::npos) << logged;
    }
    EXPECT_TRUE(boxes.boxes().empty());
}

// With counter data wanted, `lumen` runs the stand-in analyser beside its tests (found where the
// record says the programs are) and fills the analyser rows of every test; at the end it stops
// the analyser with the end flag before the thread that started it ends.
TEST_F(VideoPart, RealVideoProgramSamplesTheAnalyserForEveryTest) {
    const std::string dir = kt::FreshDir("programs");
    ASSERT_EQ(symlink(LUMEN_DIR "/lumen", (dir + "/lumen").c_str()), 0);
    ASSERT_EQ(symlink((kp::ProgramDirectory() + "/fakes/loadmeter").c_str(), (dir + "/loadmeter").c_str()), 0);
    videolink.program_directory = dir;
    setenv("FAKE_LOADMETER_MODE", "answer", 1);
    setenv("FAKE_LOADMETER_ARGS", (kt::TempDir() + "/loadmeter-args.txt").c_str(), 1);
    prefs.laptop_settings_on = 1;
    prefs.show_perf_data = 1;
    const int counters[6] = {1, 1, 1, 0, 0, 1};
    std::copy(std::begin(counters), std::end(counters), prefs.perf_counters);
    ASSERT_EQ(DoVIDEOTest(0), 0);

    // The stand-in answers 1 to 6 for the six averages, 50 % and 7 interrupts/s per processor.
    const TIMES& t = results.times;
    const int cpus = std::min(int(sysconf(_SC_NPROCESSORS_ONLN)), 32);
    for (int i = 0; i < 9; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ((std::vector<float>(t.perf_scores[i], t.perf_scores[i] + 6)),
                  (std::vector<float>{1, 2, 3, 0, 0, 6}));
        EXPECT_EQ(t.perf_cpuloads[i][0], 50.0f);
        EXPECT_EQ(t.perf_cpuloads2[i][0], 7.0f);
        EXPECT_EQ(t.perf_cpuloads[i][31], cpus == 32 ? 50.0f : 0.0f);
        EXPECT_FLOAT_EQ(t.initial_processor_load[i], 1.0f / 3.0f);
    }
    const Lines lines = Written();
    const auto first = std::find(lines.begin(), lines.end(), "Z-Buffer Depth set at:  32 bits");
    ASSERT_NE(first, lines.end());
    EXPECT_EQ(Lines(first + 3, first + 9), (Lines{"Idle Processor Load:  0.3", "Average CPU Usage:  1.0%",
                                                  "Average Interrupts/sec.:  2", "Average Context Switches/sec.:  3",
                                                  "Average Available Memory:  6", ""}));
    EXPECT_TRUE(boxes.boxes().empty());
    const std::string stand_in = kt::ReadFile(kt::TempDir() + "/loadmeter-args.txt");
    EXPECT_TRUE(stand_in.size() >= 4 && stand_in.compare(stand_in.size() - 4, 4, "end\n") == 0) << stand_in;
}

// With today's memory the free memory the analyser averages is many times 2^31 bytes: it comes
// from the analyser that `lumen` started, through the record, into each test's line whole.
TEST_F(VideoPart, RealVideoProgramCarriesAvailableMemoryAboveFourGigabytes) {
    const std::string dir = kt::FreshDir("programs");
    ASSERT_EQ(symlink(LUMEN_DIR "/lumen", (dir + "/lumen").c_str()), 0);
    ASSERT_EQ(symlink((kp::ProgramDirectory() + "/fakes/loadmeter").c_str(), (dir + "/loadmeter").c_str()), 0);
    videolink.program_directory = dir;
    setenv("FAKE_LOADMETER_MODE", "big-memory", 1);
    setenv("FAKE_LOADMETER_ARGS", (kt::TempDir() + "/loadmeter-args.txt").c_str(), 1);
    prefs.laptop_settings_on = 1;
    prefs.show_perf_data = 1;
    prefs.perf_counters[2] = 1;
    prefs.perf_counters[5] = 1;
    ASSERT_EQ(DoVIDEOTest(0), 0);

    for (int i = 0; i < 9; ++i) EXPECT_EQ(results.times.perf_scores[i][5], 6144000000.0f) << i;
    Lines memory;
    for (const std::string& l : Written()) {
        if (l.rfind("Average Available Memory:", 0) == 0) memory.push_back(l);
    }
    EXPECT_EQ(memory, Lines(9, "Average Available Memory:  6144000000"));
    EXPECT_TRUE(boxes.boxes().empty());
}

// Tests whose own analyser `lumen` lost, or never had, get no readings, with the one line at the
// first of them that says so: the stand-in analyser that `lumen` started is killed after
// answering test 1 (test 1 keeps its readings), or it cannot be started at all (it ends without
// connecting, or there is none).
TEST_F(VideoPart, RealVideoProgramLeavesOutTheReadingsAfterItsAnalyserIsKilledOrFailsToStart) {
    const std::string lost = "Performance data not measured from this test on: the connection with Loadmeter was broken.";
    const Lines untouched = {"test 3.)", "", "test 4.)", "", "test 5.)", "", "test 6.)", "",
                             "test 7.)", "", "test 8.)", "", "test 9c.)", ""};
    const struct {
        const char* mode;  // nullptr: no analyser in the programs' folder
        Lines first_two;   // the lines of tests 1 and 2
        std::string box;   // the box `lumen` showed (its start, with the analyser's path)
    } rows[] = {
        {"die-after-one", {"test 1.)", "Average Context Switches/sec.:  3", "", "test 2.)", lost, ""},
         "Connection with Loadmeter was broken!"},
        {"exit", {"test 1.)", lost, "", "test 2.)", ""}, "Connection refused ("},
        {nullptr, {"test 1.)", lost, "", "test 2.)", ""}, "No such file or directory ("},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mode != nullptr ? row.mode : "no analyser");
        AllowPerfRestarts();  // each row a run of its own
        report = ReportText{};
        run.testrunning = 1;
        const std::string dir = kt::FreshDir("programs");
        ASSERT_EQ(symlink(LUMEN_DIR "/lumen", (dir + "/lumen").c_str()), 0);
        if (row.mode != nullptr) {
            ASSERT_EQ(symlink((kp::ProgramDirectory() + "/fakes/loadmeter").c_str(), (dir + "/loadmeter").c_str()), 0);
            setenv("FAKE_LOADMETER_MODE", row.mode, 1);
        }
        videolink.program_directory = dir;
        setenv("FAKE_LOADMETER_ARGS", (kt::TempDir() + "/loadmeter-args.txt").c_str(), 1);
        const std::string box_log = dir + "/boxes.txt";
        setenv("KESTREL_TEST_MSGBOX_LOG", box_log.c_str(), 1);
        prefs.laptop_settings_on = 1;
        prefs.show_perf_data = 1;
        const int counters[6] = {0, 0, 1, 0, 0, 0};  // no idle sample: test 1's reading is the one answer
        std::copy(std::begin(counters), std::end(counters), prefs.perf_counters);
        ASSERT_EQ(DoVIDEOTest(0), 0);
        unsetenv("KESTREL_TEST_MSGBOX_LOG");

        Lines after;  // the lines after each test's score line, up to the next test
        const Lines lines = Written();
        for (auto it = lines.begin(); it != lines.end(); ++it) {
            if (it->rfind("test ", 0) != 0 || it->find("3-D Rendering") != std::string::npos) continue;
            after.push_back(*it);
            for (auto next = it + 1; next != lines.end() && next->rfind("test ", 0) != 0 && next->rfind("Total", 0) != 0;
                 ++next)
                after.push_back(*next);
        }
        for (std::string& l : after)
            if (l.rfind("test ", 0) == 0) l = l.substr(0, l.find(".)") + 2);
        Lines expected = row.first_two;
        expected.insert(expected.end(), untouched.begin(), untouched.end());
        ASSERT_GE(after.size(), expected.size());  // the part's closing lines follow
        EXPECT_EQ(Lines(after.begin(), after.begin() + long(expected.size())), expected);
        for (const std::string& l : lines) EXPECT_EQ(l.find("throttled"), std::string::npos) << l;
        EXPECT_NE(kt::ReadFile(box_log).find(row.box), std::string::npos) << kt::ReadFile(box_log);
    }
}

// After the link broke in an earlier part of the run (the line was written there), the video
// program is asked for readings all the same: it measures with an analyser of its own. The line
// is written again only where that analyser is lost after its readings, at the first test
// without readings; without a reading since the earlier line, that line stands for the video
// tests too.
TEST_F(VideoPart, AfterTheLinkBrokeInAnEarlierPartTheVideoProgramMeasuresAnew) {
    const std::string lost = "Performance data not measured from this test on: the connection with Loadmeter was broken.";
    const struct {
        const char* mode;
        Lines first_four;  // the lines after the score lines of tests 1 to 4
        long lines_said;   // the lines that say so in the video part
    } rows[] = {
        {"answer", {"Average Context Switches/sec.:  3", "", "Average Context Switches/sec.:  13", "",
                    "Average Context Switches/sec.:  23", "", "Average Context Switches/sec.:  33", ""}, 0},
        {"lost-from-3", {"Average Context Switches/sec.:  3", "", "Average Context Switches/sec.:  13", "", lost, "", ""}, 1},
        {"lost-from-1", {"", "", "", ""}, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mode);
        setenv("FAKE_LUMEN_MODE", row.mode, 1);
        report = ReportText{};
        run.testrunning = 1;
        prefs.show_perf_data = 1;
        prefs.perf_counters[2] = 1;
        perflink.lost = perflink.lost_told = true;
        ASSERT_EQ(DoVIDEOTest(1), 0);
        AllowPerfRestarts();
        EXPECT_EQ(Sent().show_perf_data, 1);
        const Lines lines = Written();
        const auto first = std::find(lines.begin(), lines.end(), "test 1.) Figure Drawing Test:  3000 figures drawn per second; Score:  188");
        ASSERT_NE(first, lines.end());
        Lines after;
        for (auto it = first + 1; it != lines.end() && after.size() < row.first_four.size(); ++it) {
            if (it->rfind("test ", 0) != 0) after.push_back(*it);
        }
        EXPECT_EQ(after, row.first_four);
        EXPECT_EQ(std::count(lines.begin(), lines.end(), lost), row.lines_said);
        // Nothing measured since the earlier line: no video test shows a reading.
        if (std::string(row.mode) == "lost-from-1")
            for (const std::string& l : lines) EXPECT_EQ(l.find("Average"), std::string::npos) << l;
    }
}

}  // namespace

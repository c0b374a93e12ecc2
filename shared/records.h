// The two records exchanged whole between the programs of the suite: the analyser record
// PerfMonData (336 bytes) and the video test's settings-and-results record TIMES (3536 bytes).
// Both are little-endian with no padding; "long" fields are 32-bit.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

struct PerfMonData {
    float cpu_scores_1[32];     // reply: per processor, average % processor time
    float cpu_scores_2[32];     // reply: per processor, average interrupts per second
    float score[6];             // reply: averages of the six quantities, in perfData order
    int32_t indices[3];         // request: strip of the counter windows: left, right, top
    int32_t numprocessors;      // request: processors to sample (at most 32 used)
    int32_t countertime;        // request: sampling period in ms (1600, 1200 or 800)
    int32_t perfData[6];        // request: % CPU, interrupts/s, context switches/s,
                                //          page faults/s, pages/s, available memory
    int32_t show_graphs;        // request: show the analyser's counter windows
    int32_t end;                // request: last write; no reply, the analyser ends
    int32_t disk_test_running;  // request: sample at the highest priority
};

static_assert(sizeof(PerfMonData) == 336);
static_assert(offsetof(PerfMonData, score) == 256);
static_assert(offsetof(PerfMonData, indices) == 280);
static_assert(offsetof(PerfMonData, numprocessors) == 292);
static_assert(offsetof(PerfMonData, countertime) == 296);
static_assert(offsetof(PerfMonData, perfData) == 300);
static_assert(offsetof(PerfMonData, show_graphs) == 324);
static_assert(offsetof(PerfMonData, end) == 328);
static_assert(offsetof(PerfMonData, disk_test_running) == 332);

// Video tests, in the order of every per-test array: Figure Drawing, Animation, Font Scrolling,
// Line/Arc Drawing, BMP Drawing, Special Effects, Window Invocation, Fractal Draw, 3-D Rendering.
struct TIMES {
    double elapsed1;  // test times in ms; elapsed1 0.0 after a run means the tests were aborted
    double elapsed2;
    double elapsed3;
    double elapsed4;
    double elapsed5;
    double elapsed6;
    double elapsed7;
    double elapsed8;
    double elapsed9;
    double elapsed10_animation;       // 3-D Animation, ms
    PerfMonData pchk;                 // the video program's own analyser request
    float perf_scores[9][6];          // per test, the six analyser averages
    float perf_cpuloads[9][32];       // per test and processor: % processor time
    float perf_cpuloads2[9][32];      // per test and processor: interrupts per second
    float initial_processor_load[9];  // per test: idle load before the test
    int32_t rectcount1;               // Figure Drawing: figures drawn
    int32_t rectcount2;               // Line/Arc Drawing: second count
    int32_t numpoints;                // Line/Arc Drawing: pixels drawn
    int32_t triangles_per_sec;        // 3-D Rendering: triangles
    int32_t quads_per_sec;            // 3-D Rendering: quadrangles
    int32_t num_effects_rendered;     // Special Effects: effects drawn
    int32_t bits_per_pixel;           // colour depth of the screen
    int32_t processor_number;         // processors the tests use
    int32_t count;                    // 1 = long test
    int32_t priority;                 // drawing threads' priority
    char install_directory[512];      // directory of the programs, NUL-terminated
    int32_t zbuffer;                  // 1 = 16-bit depth buffer
    int32_t show_perf_data;           // 1 = run the analyser during the tests
    int32_t use_highfreq_timer;       // 1 = time with the high-resolution counter
};

static_assert(sizeof(TIMES) == 3536);

// A video test's six averages in `perf_scores` when the analyser's link broke before they were
// read: not numbers, so that no earlier reading passes for this test's.
inline constexpr float kNotMeasured = std::numeric_limits<float>::quiet_NaN();
inline bool NotMeasured(const float* six) { return std::isnan(six[0]); }
static_assert(offsetof(TIMES, elapsed10_animation) == 72);
static_assert(offsetof(TIMES, pchk) == 80);
static_assert(offsetof(TIMES, perf_scores) == 416);
static_assert(offsetof(TIMES, perf_cpuloads) == 632);
static_assert(offsetof(TIMES, perf_cpuloads2) == 1784);
static_assert(offsetof(TIMES, initial_processor_load) == 2936);
static_assert(offsetof(TIMES, rectcount1) == 2972);
static_assert(offsetof(TIMES, bits_per_pixel) == 2996);
static_assert(offsetof(TIMES, install_directory) == 3012);
static_assert(offsetof(TIMES, zbuffer) == 3524);
static_assert(offsetof(TIMES, use_highfreq_timer) == 3532);

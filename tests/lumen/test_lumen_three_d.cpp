// The 3-D render test: its arithmetic (rates, frame sequences, places, the wave surface, pixel
// formats, the 8-bit palette), and whole runs on the platform the tests run on (offscreen: EGL
// pbuffers read back into the windows), with the frames each scene showed.
#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/syscall.h>
#include <unistd.h>

#include "lumen/frame.h"
#include "lumen/gl_surface.h"
#include "lumen/lumen_state.h"
#include "lumen/three_d_rules.h"
#include "lumen/three_d_test.h"
#include "lumen/video_tests.h"
#include "platform/msgbox.h"
#include "platform/processors.h"
#include "tests/support/qt_test_main.h"

namespace lumen {
namespace {

TEST(ThreeDRules, RatesFromCountsAndTimes) {
    struct Row {
        long objects;
        double ms;
        long rate;
    };
    const Row rows[] = {
        {9520, 2000.0, 4760}, {9520, 4000.0, 2380}, {9520, 3000.0, 3173},  // truncated toward zero
        {9520, 0.0, 0},       {9520, -1.0, 0},      {9520, std::numeric_limits<double>::quiet_NaN(), 0},
        {0, 250.0, 0},
    };
    for (const Row& r : rows) EXPECT_EQ(ObjectsPerSecond(r.objects, r.ms), r.rate) << r.objects << " in " << r.ms;
    // The stored quadrangle figure is the mean of the two rates.
    EXPECT_EQ(MeanRate(4760, 2380), 3570);
    EXPECT_EQ(MeanRate(4760, 2381), 3570);
    EXPECT_EQ(MeanRate(0, 0), 0);
}

TEST(ThreeDRules, FrameSequences) {
    const std::vector<int> rotate = DoRotateAngles();
    ASSERT_EQ(rotate.size(), 180u);
    EXPECT_EQ(rotate.front(), 2);
    EXPECT_EQ(rotate[89], 180);
    EXPECT_EQ(rotate[90], 178);
    EXPECT_EQ(rotate.back(), 0);
    struct Row {
        int mode;
        size_t frames;
        int last;
    };
    for (const Row& r : {Row{1, 6, 12}, Row{2, 13, 26}, Row{3, 90, 180}, Row{4, 16, 32}, Row{5, 16, 32}}) {
        const std::vector<int> angles = DoRotate2Angles(r.mode);
        EXPECT_EQ(angles.size(), r.frames) << "mode " << r.mode;
        EXPECT_EQ(angles.front(), 2) << "mode " << r.mode;
        EXPECT_EQ(angles.back(), r.last) << "mode " << r.mode;
    }
}

TEST(ThreeDRules, ObjectsPerFrame) {
    const int first_field[6] = {245, 1085, 1925, 2765, 3605, 4445};
    for (int f = 0; f < 6; ++f) {
        EXPECT_EQ(PlacesOf(1, kFirstKnumber + f * kKnumberStep).Count(), first_field[f]) << "frame " << f;
    }
    EXPECT_EQ(PlacesOf(2, 0).Count(), 153);
    for (int mode = 3; mode <= 5; ++mode) EXPECT_EQ(PlacesOf(mode, 0).Count(), 595);
    EXPECT_EQ(int(DoRotate2Angles(4).size()) * PlacesOf(4, 0).Count(), 9520);
}

TEST(ThreeDRules, WaveSurface) {
    EXPECT_FLOAT_EQ(solve(0.7f, 0.6f, 0.0f, 0.0f), 1.2f);
    EXPECT_NEAR(solve(0.3f, 0.2f, 0.0f, float(M_PI) * 0.3f), 0.0f, 1e-6f);
    struct Row {
        float p0[3], p1[3], p2[3], n[3];
    };
    const Row rows[] = {
        {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, -1}},
        {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, 1}},
        {{1, 1, 1}, {1, 1, 3}, {4, 1, 1}, {0, -6, 0}},
    };
    for (const Row& r : rows) {
        float n[3];
        CalculateVectorNormal(r.p0, r.p1, r.p2, &n[0], &n[1], &n[2]);
        for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(n[i], r.n[i]) << i;
    }
}

TEST(ThreeDRules, PixelFormats) {
    struct Row {
        int bits_per_pixel, colour_bits;
    };
    for (const Row& r : {Row{4, 8}, Row{8, 8}, Row{15, 16}, Row{16, 16}, Row{24, 24}, Row{32, 24}}) {
        EXPECT_EQ(ColourBitsOf(r.bits_per_pixel), r.colour_bits) << r.bits_per_pixel;
    }
    struct Format {
        PixelFormat in;
        int red, green, blue;
        QSurfaceFormat::SwapBehavior swap;
    };
    const Format formats[] = {
        {{24, 32, false}, 8, 8, 8, QSurfaceFormat::SingleBuffer},
        {{16, 16, true}, 5, 6, 5, QSurfaceFormat::DoubleBuffer},
        {{8, 32, true}, 3, 3, 2, QSurfaceFormat::DoubleBuffer},
    };
    for (const Format& f : formats) {
        const QSurfaceFormat s = SurfaceFormatOf(f.in);
        EXPECT_EQ(s.redBufferSize(), f.red);
        EXPECT_EQ(s.greenBufferSize(), f.green);
        EXPECT_EQ(s.blueBufferSize(), f.blue);
        EXPECT_EQ(s.depthBufferSize(), f.in.depth_bits);
        EXPECT_EQ(s.swapBehavior(), f.swap);
    }
}

TEST(ThreeDRules, EightBitPalette) {
    const int three[8] = {0, 36, 73, 109, 146, 182, 219, 255};
    for (int v = 0; v < 8; ++v) EXPECT_EQ(ComponentFromIndex(v << 3, 3, 3), three[v]) << v;
    const int two[4] = {0, 85, 170, 255};
    for (int v = 0; v < 4; ++v) EXPECT_EQ(ComponentFromIndex(v << 6, 2, 6), two[v]) << v;
    EXPECT_EQ(ComponentFromIndex(1, 1, 0), 255);
    EXPECT_EQ(ComponentFromIndex(0xFF, 4, 0), 0);  // other widths give 0

    const std::vector<PaletteColour> p = CreateRGBPalette(8, 3, 0, 3, 3, 2, 6);
    ASSERT_EQ(p.size(), 256u);
    EXPECT_EQ(p[0], (PaletteColour{0, 0, 0}));
    EXPECT_EQ(p[255], (PaletteColour{255, 255, 255}));
    EXPECT_EQ(p[3], (PaletteColour{128, 0, 0}));
    EXPECT_EQ(p[173], (PaletteColour{192, 192, 192}));
    EXPECT_EQ(p[91], (PaletteColour{128, 128, 128}));
    EXPECT_EQ(p[1], (PaletteColour{36, 0, 0}));  // not overridden
    // Another channel layout keeps the computed colours.
    const std::vector<PaletteColour> q = CreateRGBPalette(8, 3, 5, 3, 2, 2, 0);
    EXPECT_EQ(q[3], (PaletteColour{0, 0, 255}));
}

// The frames the scenes showed, by scene: the last one of each.
struct Frames {
    std::mutex mutex;
    std::map<std::string, QImage> last;
    std::map<std::string, int> count;
};

// Pixels of a frame that are not the black the scenes clear to.
int DrawnPixels(const QImage& frame) {
    int n = 0;
    for (int y = 0; y < frame.height(); y += 2) {
        for (int x = 0; x < frame.width(); x += 2) n += (frame.pixel(x, y) & 0xFFFFFFu) != 0 ? 1 : 0;
    }
    return n;
}

VideoTestOutcome RunWithFrames(Frames* frames, int repeat = 0) {
    SetGlFrameHook([frames](const std::string& scene, const QImage& frame) {
        std::lock_guard<std::mutex> lock(frames->mutex);
        frames->last[scene] = frame;
        ++frames->count[scene];
    });
    VideoTestSettings s;
    s.processors = 2;
    s.repeat = repeat;
    VideoTestOutcome out = RunVideoTestForTest("Three_D_Draw", s);
    SetGlFrameHook(nullptr);
    return out;
}

// A whole run renders every scene and gives positive rates from the fixed object counts.
TEST(ThreeDDraw, RendersEveryScene) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    Frames frames;
    const VideoTestOutcome out = RunWithFrames(&frames);
    ASSERT_TRUE(out.finished_in_time);
    EXPECT_GT(out.ms, 0.0);
    EXPECT_EQ(out.record.elapsed9, out.ms);
    EXPECT_GT(out.record.elapsed10_animation, 0.0);
    EXPECT_GT(out.record.triangles_per_sec, 0);
    EXPECT_GT(out.record.quads_per_sec, 0);
    EXPECT_EQ(numtriags[0], 9520);
    EXPECT_EQ(numquads[0], 9520);
    EXPECT_EQ(out.record.triangles_per_sec, ObjectsPerSecond(9520, tps1[0]));
    EXPECT_EQ(out.record.quads_per_sec, MeanRate(ObjectsPerSecond(9520, tps1[0]), ObjectsPerSecond(9520, tps2[0])));
    // Frames shown: 4 wave frames, 6 city frames, 16 + 16 objects-per-second frames; in "GL2"
    // 180 rotating-solid frames and 6 + 13 + 90 pyramid-field frames.
    EXPECT_EQ(frames.count["saddle"], 4);
    EXPECT_EQ(frames.count["gl_city"], 6);
    EXPECT_EQ(frames.count["InitTriags"], 180);
    EXPECT_EQ(frames.count["TPS"], 32 + 6 + 13 + 90);
    ASSERT_TRUE(QDir().mkpath(QStringLiteral(SCREENSHOT_DIR)));
    for (const char* scene : {"saddle", "gl_city", "InitTriags", "TPS"}) {
        const QImage& f = frames.last[scene];
        ASSERT_FALSE(f.isNull()) << scene;
        EXPECT_EQ(f.size(), QSize(800, 600)) << scene;
        EXPECT_GT(DrawnPixels(f), 2000) << scene << ": nothing drawn";
        f.save(QStringLiteral(SCREENSHOT_DIR "/three_d-offscreen-%1.png").arg(QLatin1String(scene)));
    }
    // The renderer goes into the program's text list.
    const std::string renderer = "GL renderer: " + GlRenderer();
    EXPECT_EQ(text_list.szGreeting.back(), renderer);
    EXPECT_NE(renderer.find("llvmpipe"), std::string::npos) << renderer;
}

// With the repeat flag the three runs each count their own objects, and the record's animation
// time and both rates come from one run: the one whose part-A time was chosen.
TEST(ThreeDDraw, RepeatModeKeepsTheChosenRunsFigures) {
    Frames frames;
    const VideoTestOutcome out = RunWithFrames(&frames, 1);
    ASSERT_TRUE(out.finished_in_time);
    EXPECT_GT(out.ms, 0.0);
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(numtriags[r], 9520) << r;
        EXPECT_EQ(numquads[r], 9520) << r;
        EXPECT_GT(animation_ms[r], 0.0) << r;
    }
    EXPECT_EQ(frames.count["gl_city"], 18);
    int chosen = -1;
    for (int r = 0; r < 3; ++r) {
        if (animation_ms[r] == out.record.elapsed10_animation) chosen = r;
    }
    ASSERT_GE(chosen, 0);
    const long triangles = ObjectsPerSecond(9520, tps1[chosen]);
    EXPECT_EQ(out.record.triangles_per_sec, triangles);
    EXPECT_EQ(out.record.quads_per_sec, MeanRate(triangles, ObjectsPerSecond(9520, tps2[chosen])));
}

// The CPUs a thread of this process may run on, as the system lists them ("0-7", "3").
std::string AllowedList(const std::string& task) {
    std::ifstream status("/proc/self/task/" + task + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Cpus_allowed_list:", 0) == 0) return line.substr(line.find_first_not_of(" \t", 18));
    }
    return {};
}

// A wave thread stays bound to its processor, but the drawing threads that the software
// rasteriser starts with its context are not confined to that processor with it.
TEST(ThreeDDraw, TheWaveContextsOwnThreadsAreNotBoundToTheWaveThreadsProcessor) {
    if (kp::GetNumProcessors() < 2) GTEST_SKIP() << "one processor: every thread runs on it";
    std::string wave_cpus;
    std::vector<std::string> helper_cpus;
    wave_thread_hook = [&](int k) {
        if (k != 0) return;
        wave_cpus = AllowedList(std::to_string(syscall(SYS_gettid)));
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
            std::ifstream comm(task.path() / "comm");
            std::string name;
            std::getline(comm, name);
            if (name.rfind("llvmpipe", 0) == 0) helper_cpus.push_back(AllowedList(task.path().filename()));
        }
    };
    Frames frames;
    const VideoTestOutcome out = RunWithFrames(&frames);
    wave_thread_hook = nullptr;
    EXPECT_GT(out.ms, 0.0);
    EXPECT_EQ(wave_cpus, std::to_string(kp::CpuOfProcessor(1)));
    ASSERT_FALSE(helper_cpus.empty()) << "the rasteriser started no threads of its own";
    for (const std::string& cpus : helper_cpus) EXPECT_NE(cpus, wave_cpus);
}

// Wave threads that have not ended when the wait for them runs out (here they hold until the
// sequencer stops them): the test fails as a failed context does, with no time and no 3-D figures
// in the record, in single and in repeat mode, and draws nothing after that frame.
TEST(ThreeDDraw, WaveThreadsThatOutlastTheirWaitFailTheTest) {
    const int kept = wave_wait_ms;
    wave_wait_ms = 50;
    wave_thread_hook = [](int) {
        while (wave_stop.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    for (int repeat : {0, 1}) {
        SCOPED_TRACE(repeat);
        Frames frames;
        const VideoTestOutcome out = RunWithFrames(&frames, repeat);
        ASSERT_TRUE(out.finished_in_time);
        EXPECT_EQ(out.ms, -1.0);
        EXPECT_EQ(out.record.elapsed9, -1.0);
        EXPECT_EQ(out.record.elapsed10_animation, 0.0);
        EXPECT_EQ(out.record.triangles_per_sec, 0);
        EXPECT_EQ(out.record.quads_per_sec, 0);
        EXPECT_EQ(frames.count["gl_city"], 0);
        EXPECT_EQ(frames.count["TPS"], 0);
    }
    wave_thread_hook = nullptr;
    wave_wait_ms = kept;
}

// A context that cannot be had: the box names the scene, the test answers the failure value
// and leaves the record's 3-D figures alone; the program goes on (run in a child process, so that
// a program that ended at the box, even with code 0, fails here), and the next run draws.
void RunAFailedContextThenAGoodOne() {
    kp::BoxRecorder boxes;
    FailNextPixelFormats(1);
    Frames frames;
    const VideoTestOutcome out = RunWithFrames(&frames);
    FailNextPixelFormats(0);
    kp::RunDeferredUiActions();  // the box asked for on the test's thread
    const bool failed_alone = out.finished_in_time && out.ms == -1.0 && out.record.triangles_per_sec == 0 &&
                              out.record.quads_per_sec == 0 && out.record.elapsed10_animation == 0.0;
    const bool box = boxes.boxes().size() == 1 &&
                     boxes.boxes()[0].text == "Failed to Get Pixel information for func saddle!" &&
                     boxes.boxes()[0].caption == "Pallette Exception";
    const VideoTestOutcome again = RunWithFrames(&frames);
    const bool next_draws = again.ms > 0.0 && again.record.triangles_per_sec > 0;
    std::fprintf(stderr, "failed alone %d, box %d, next run draws %d\n", failed_alone, box, next_draws);
    std::fflush(stderr);
    std::_Exit(failed_alone && box && next_draws ? 42 : 1);
}

TEST(ThreeDDrawDeathTest, AContextThatCannotBeHadFailsTheTestOnly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(RunAFailedContextThenAGoodOne(), testing::ExitedWithCode(42),
                "failed alone 1, box 1, next run draws 1");
}

}  // namespace
}  // namespace lumen

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }

// The special effects test: the fade arithmetic, the brushes and raster operations the blit loops
// walk, the pictures each window takes, and the whole test run headless as the sequencer runs it.
#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "lumen/bitmaps/bitmaps.h"
#include "lumen/effects_test.h"
#include "lumen/video_tests.h"
#include "lumen/windows.h"
#include "platform/clock.h"
#include "tests/support/qt_test_main.h"

namespace lumen {
namespace {

gdi::Dib TablePicture(int colours) {
    std::vector<gdi::RGBQUAD> table;
    for (int i = 0; i < colours; ++i) table.push_back({uint8_t(i), uint8_t(255 - i), uint8_t((i * 7) & 0xFF), 0});
    return *gdi::Dib::Make(4, 4, 8, false, table);
}

TEST(SpecialEffects, FadeStepsAndColours) {
    EXPECT_EQ(FadeSteps(256, 16), 11);
    EXPECT_EQ(FadeSteps(256, 2), 81);
    EXPECT_EQ(FadeSteps(96, 16), 1);
    EXPECT_EQ(FadeSteps(95, 16), 0);

    std::vector<gdi::PALETTEENTRY> c = {{20, 5, 255, 1}, {0, 16, 17, 1}};
    FadeOnce(c, 16);
    EXPECT_EQ(c[0], (gdi::PALETTEENTRY{4, 0, 239, 1}));
    EXPECT_EQ(c[1], (gdi::PALETTEENTRY{0, 0, 1, 1}));
    const std::vector<gdi::PALETTEENTRY> target = {{10, 200, 255, 1}, {0, 20, 17, 1}};
    BrightenOnce(c, target, 16);
    EXPECT_EQ(c[0], (gdi::PALETTEENTRY{10, 16, 255, 1}));
    EXPECT_EQ(c[1], (gdi::PALETTEENTRY{0, 16, 17, 1}));

    // A fade of a 256-colour picture: 11 steps each way; the fade-out ends 176 darker (not below
    // 0), the fade-in ends with the picture's own colours.
    const gdi::Dib picture = TablePicture(256);
    const std::vector<gdi::PALETTEENTRY> own = gdi::CopyColorTable(picture, gdi::PC_RESERVED);
    std::vector<std::vector<gdi::PALETTEENTRY>> drawn;
    const FadeDraw record = [&](const std::vector<gdi::PALETTEENTRY>& colours) { drawn.push_back(colours); };
    EXPECT_EQ(FadeOut(picture, record), 1);
    ASSERT_EQ(drawn.size(), 11u);
    for (size_t i = 0; i < own.size(); ++i) {
        EXPECT_EQ(drawn.back()[i].peRed, std::max(0, own[i].peRed - 176));
        EXPECT_EQ(drawn.back()[i].peGreen, std::max(0, own[i].peGreen - 176));
        EXPECT_EQ(drawn.back()[i].peFlags, gdi::PC_RESERVED);
    }
    drawn.clear();
    std::vector<gdi::PALETTEENTRY> final_colours;
    EXPECT_EQ(FadeIn(picture, record, &final_colours), 1);
    ASSERT_EQ(drawn.size(), 11u);
    EXPECT_EQ(drawn.front()[255], (gdi::PALETTEENTRY{16, 0, 16, gdi::PC_RESERVED}));
    EXPECT_EQ(drawn.back()[200].peGreen, 55);    // reached
    EXPECT_EQ(drawn.back()[200].peBlue, 176);    // still on its way to 200
    EXPECT_EQ(final_colours, own);

    // Fewer than 96 colours: no steps; the fade-in still ends with the final colours.
    drawn.clear();
    const gdi::Dib few = TablePicture(95);
    EXPECT_EQ(FadeOut(few, record), 1);
    EXPECT_EQ(FadeIn(few, record, &final_colours), 1);
    EXPECT_TRUE(drawn.empty());
    EXPECT_EQ(final_colours.size(), 95u);
}

TEST(SpecialEffects, BrushesAndOperationsOfTheBlitLoops) {
    // Mode 0: hatched for k = 0, 1 at every colour, and for k = c, c + 1 when below 8.
    std::set<std::pair<int, int>> hatched;
    for (int c = 4; c <= 9; ++c) {
        for (int k = 0; k < 8; ++k) {
            const BrushChoice b = ModeBrush(0, c, k);
            EXPECT_EQ(b.color, c);
            if (b.style == kStyleHatched) {
                hatched.insert({c, k});
                EXPECT_EQ(b.hatch, k % 6);
            } else {
                EXPECT_EQ(b.style, kStyleSolid);
            }
        }
    }
    const std::set<std::pair<int, int>> want = {{4, 0}, {4, 1}, {4, 4}, {4, 5}, {5, 0}, {5, 1}, {5, 5}, {5, 6}, {6, 0},
                                                {6, 1}, {6, 6}, {6, 7}, {7, 0}, {7, 1}, {7, 7}, {8, 0}, {8, 1}, {9, 0},
                                                {9, 1}};
    EXPECT_EQ(hatched, want);
    // Mode 2: solid at colour 8, vertical hatches otherwise; mode 3 hatched below 8.
    EXPECT_EQ(ModeBrush(2, 8, 3).style, kStyleSolid);
    EXPECT_EQ(ModeBrush(2, 9, 3).style, kStyleHatched);
    EXPECT_EQ(hatches[ModeBrush(2, 7, 0).hatch], gdi::HS_VERTICAL);
    EXPECT_EQ(ModeBrush(3, 7, 0).style, kStyleHatched);
    EXPECT_EQ(ModeBrush(3, 8, 0).style, kStyleSolid);

    // The background list and the pair of operations of a blit.
    const uint32_t backgrounds[8] = {gdi::NOTSRCERASE, gdi::SRCERASE, gdi::DSTINVERT, gdi::PATINVERT,
                                     gdi::SRCAND,      gdi::MERGEPAINT, gdi::MERGECOPY, gdi::PATCOPY};
    for (int k = 0; k < 8; ++k) EXPECT_EQ(sources[WROPLIST[k]], backgrounds[k]);
    current[1] = sources[10];
    background_rop[1] = sources[WROPLIST[7]];
    EXPECT_EQ(BlitRop4(1), 0xF0CC0020u);
    EXPECT_EQ(gdi::ForegroundCode(BlitRop4(1)), gdi::code::SRCCOPY);
    EXPECT_EQ(gdi::BackgroundCode(BlitRop4(1)), gdi::code::PATCOPY);
    // Brushes record themselves in their slot.
    EXPECT_EQ(GetBrush(kStyleHatched, 9, 5, 3), gdi::CreateHatchBrush(gdi::HS_VERTICAL, gdi::RGB(255, 255, 0)));
    EXPECT_EQ(*hb1[3], gdi::CreateHatchBrush(gdi::HS_VERTICAL, gdi::RGB(255, 255, 0)));
    EXPECT_EQ(GetBrush(kStyleSolid, 8, 0, 3).colour, gdi::RGB(255, 127, 0));
}

TEST(SpecialEffects, EachWindowTakesItsPictures) {
    EXPECT_STREQ(SourceName(0, 24, 0), "varden");
    EXPECT_STREQ(SourceName(0, 8, 0), "varden2");
    EXPECT_STREQ(SourceName(0, 32, 1), "vardensmall");
    EXPECT_STREQ(SourceName(2, 8, 1), "GALLERY");
    EXPECT_STREQ(SourceName(3, 8, 0), "pentium");
    // Every name a window or a fade uses exists; window 3's blit is the overlap of picture and
    // mask (512 x 384 of the 575 x 574 mask).
    for (int laptop = 0; laptop < 2; ++laptop) {
        for (int w : {0, 2, 3}) {
            for (int bits : {8, 24}) EXPECT_FALSE(FindBitmapResource(SourceName(w, bits, laptop)).empty());
            EXPECT_FALSE(FindBitmapResource(MaskName(w, laptop)).empty());
        }
        for (int s = 0; s < 7; ++s) {
            std::optional<gdi::Dib> fade = LoadDIBResource(FadeName(s, laptop));
            ASSERT_TRUE(fade) << FadeName(s, laptop);
            EXPECT_EQ(gdi::GetNumColors(fade->header()), 256u);
        }
    }
    const QImage source = LoadBitmapResource(SourceName(3, 24, 0));
    const std::optional<gdi::Dib> mask = LoadDIBResource(MaskName(3, 0));
    ASSERT_TRUE(mask);
    EXPECT_EQ(std::min(source.width(), mask->Width()), 512);
    EXPECT_EQ(std::min(source.height(), mask->Height()), 384);
}

TEST(SpecialEffectsRun, RunsHeadlessAndCountsItsEffects) {
    VideoTestSettings s;
    s.processors = 2;
    const VideoTestOutcome out = RunVideoTestForTest("DoSpecEffect", s);
    ASSERT_TRUE(out.finished_in_time);
    EXPECT_GT(out.ms, 0.0);
    // Window 2's one pass sets the length; the count is every blit and fade of the four threads.
    EXPECT_EQ(effects_by_window[2].load(), 312);
    long sum = 0;
    for (const auto& e : effects_by_window) sum += e.load();
    EXPECT_EQ(out.record.num_effects_rendered, sum);
    EXPECT_EQ(num_effects_rendered, sum);
    EXPECT_GE(out.record.num_effects_rendered, 312);
    for (Window* w : mask_windows) EXPECT_EQ(w, nullptr);
    for (const QImage& i : hbmSource) EXPECT_TRUE(i.isNull());
    for (const auto& p : pDIBCurrent) EXPECT_FALSE(p.has_value());
    EXPECT_EQ(terminated.load(), 0);
}

// Repeat mode: the windows are made once and kept between runs (their pictures released), and
// removed after the third; the count kept is one run's, not a sum.
TEST(SpecialEffectsRun, RepeatedRunsKeepOneRunsCount) {
    VideoTestSettings s;
    s.repeat = 1;
    s.processors = 2;
    std::vector<Window*> seen;
    s.at_end = [&] { seen.assign(std::begin(mask_windows), std::end(mask_windows)); };
    const VideoTestOutcome out = RunVideoTestForTest("DoSpecEffect", s);
    ASSERT_TRUE(out.finished_in_time);
    EXPECT_GT(out.ms, 0.0);
    EXPECT_EQ(effects_by_window[2].load(), 312);  // the last run's
    for (long n : effects_of_run) EXPECT_GE(n, 312);
    const long r = out.record.num_effects_rendered;
    EXPECT_TRUE(r == effects_of_run[0] || r == effects_of_run[1] || r == effects_of_run[2]) << r;
    ASSERT_EQ(seen.size(), 4u);
    for (Window* w : seen) EXPECT_NE(w, nullptr);
    for (Window* w : mask_windows) EXPECT_EQ(w, nullptr);
}

std::mutex g_pauses_mutex;
std::vector<int> g_pauses;
void RecordPause(int ms) {
    std::lock_guard<std::mutex> lock(g_pauses_mutex);
    g_pauses.push_back(ms);
}
std::vector<int> TakePauses() {
    std::lock_guard<std::mutex> lock(g_pauses_mutex);
    return std::exchange(g_pauses, {});
}

// The test's pauses go through the program's one sleep: 100 ms after each file-exchange-mode blit
// on a display of 8 bits or fewer, 500 ms at the end of the test on an 8-bit display.
TEST(SpecialEffectsRun, PausesOnFewColoursGoThroughTheOneSleep) {
    kp::SetSleepObserver(&RecordPause);
    struct Case {
        int win95, bits;
        std::vector<int> blit_pauses;
    };
    for (const Case& c : {Case{1, 8, {100}}, Case{1, 4, {100}}, Case{1, 24, {}}, Case{0, 8, {}}}) {
        Window* main = CreateMainWindow();
        WIN95_SUPPORT_ON = c.win95;
        times.bits_per_pixel = c.bits;
        TakePauses();
        DoMaskBlt(main, 0);
        EXPECT_EQ(TakePauses(), c.blit_pauses) << c.win95 << " " << c.bits;
        WIN95_SUPPORT_ON = 0;
    }
    for (int bits : {8, 24}) {
        VideoTestSettings s;
        s.before = [bits] {
            times.bits_per_pixel = bits;
            TakePauses();
        };
        const VideoTestOutcome out = RunVideoTestForTest("DoSpecEffect", s);
        EXPECT_GT(out.ms, 0.0);
        EXPECT_EQ(TakePauses(), bits == 8 ? std::vector<int>{500} : std::vector<int>{}) << bits;
    }
    kp::SetSleepObserver(nullptr);
}

}  // namespace
}  // namespace lumen

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }

// The font scrolling and bitmap tests run headless (offscreen) as the sequencer runs them.
#include <gtest/gtest.h>

#include <QImage>
#include <QPoint>

#include <string>
#include <vector>

#include "lumen/font_bitmap_tests.h"
#include "lumen/frame.h"
#include "lumen/lumen_state.h"
#include "lumen/timing.h"
#include "lumen/video_tests.h"
#include "lumen/windows.h"
#include "platform/msgbox.h"
#include "platform/ui_thread.h"
#include "shared/gdi/dc.h"
#include "tests/support/qt_test_main.h"

namespace lumen {
namespace {

// Five passes of the four faces over the 38 lines of the laptop window's 16-pixel cell.
constexpr int kLaptopLines = 38;
constexpr int kLinesPerRun = kWeightPasses * 4 * kLaptopLines;

struct FontRunSeen {
    int num = -1;
    int vpos = -1;
    std::vector<std::string> lines;
    TextCell cell;
};

FontRunSeen RunFontTest(int repeat, double* ms) {
    FontRunSeen seen;
    VideoTestSettings s;
    s.repeat = repeat;
    s.at_end = [&] {
        std::lock_guard<std::mutex> lock(text_list.mutex);
        seen.num = text_list.num;
        seen.vpos = nVPos;
        seen.lines = text_list.szGreeting;
        seen.cell = TextCell{nXChar, nYChar, nCaps, nMaxWidth};
    };
    const VideoTestOutcome out = RunVideoTestForTest("FontScrollDraw", s);
    EXPECT_TRUE(out.finished_in_time);
    *ms = out.ms;
    return seen;
}

TEST(LumenFontScrollRun, OneRunWritesEveryLineAndScrolls) {
    double ms = 0.0;
    const FontRunSeen seen = RunFontTest(0, &ms);
    EXPECT_GT(ms, 0.0);
    EXPECT_EQ(seen.num, kLinesPerRun);
    ASSERT_EQ(seen.lines.size(), size_t(kLinesPerRun));
    EXPECT_EQ(seen.lines.front(), textbuf()[0]);
    EXPECT_EQ(seen.lines.back(), textbuf()[size_t(kLaptopLines - 1)]);
    // The list passed the text window's bottom: the window scrolled a line per line below it.
    EXPECT_GT(seen.vpos, kLinesPerRun / 2);
    EXPECT_LT(seen.vpos, kLinesPerRun);
    // The start metrics are back after the run; the list and the text window are gone after the test.
    EXPECT_EQ(seen.cell, StartCell());
    EXPECT_EQ(text_list.num, 0);
    EXPECT_TRUE(text_list.szGreeting.empty());
    EXPECT_FALSE(hFont.has_value());
    EXPECT_EQ(nVPos, 0);
}

TEST(LumenFontScrollRun, RepeatedRunsStartFromAnEmptyList) {
    double ms = 0.0;
    const FontRunSeen seen = RunFontTest(1, &ms);
    EXPECT_GT(ms, 0.0);
    // After every run the lines are emptied and the count and scroll position go back to 0, so
    // the second and third runs wrote over the first run's lines instead of after them.
    EXPECT_EQ(seen.num, 0);
    EXPECT_EQ(seen.vpos, 0);
    EXPECT_EQ(seen.cell, StartCell());
    ASSERT_EQ(seen.lines.size(), size_t(kLinesPerRun));
    for (const std::string& line : seen.lines) EXPECT_TRUE(line.empty());
}

TEST(LumenBitmapRun, RunsWithAPositiveTime) {
    VideoTestSettings s;
    const VideoTestOutcome out = RunVideoTestForTest("BMPDraw", s);
    ASSERT_TRUE(out.finished_in_time);
    EXPECT_GT(out.ms, 0.0);
    for (const char* name : kBitmapNames) EXPECT_FALSE(LoadTestBitmap(name).isNull()) << name;
}

// A clock failure gives the failure value and the timer box, in both tests (the font test's clock
// runs on the user-interface thread, the bitmap test's on the sequencer).
TEST(LumenFontBitmapRun, AClockFailureFailsTheTest) {
    for (const char* name : {"FontScrollDraw", "BMPDraw"}) {
        kp::BoxRecorder boxes;
        FailNextCounterReads(1);
        const VideoTestOutcome out = RunVideoTestForTest(name, VideoTestSettings{});
        kp::RunDeferredUiActions();
        FailNextCounterReads(0);
        ASSERT_TRUE(out.finished_in_time) << name;
        EXPECT_EQ(out.ms, -1.0) << name;
        ASSERT_EQ(boxes.boxes().size(), 1u) << name;
        EXPECT_EQ(boxes.boxes()[0].text, "Error retrieving high frequency timer counts");
        EXPECT_EQ(boxes.boxes()[0].caption, "VideoKestrel Timer Exception");
        // The font test's window and list are gone all the same.
        EXPECT_EQ(text_list.num, 0);
    }
}

// A transfer of a source rectangle larger than the picture maps the picture only: the rest of the
// parallelogram keeps what was there.
TEST(LumenBitmapRun, WhatTheSourceTakesFromOutsideThePictureIsLeftUntouched) {
    QImage picture(4, 4, QImage::Format_RGB32);
    picture.fill(0xFF0000FFu);
    QImage target(40, 40, QImage::Format_RGB32);
    target.fill(0xFF00FF00u);
    {
        gdi::GdiDc dc(&target);
        // The source rectangle 8 x 8 onto a 16 x 16 square at (4, 4): the picture covers 8 x 8 of it.
        const QPoint pts[3] = {QPoint(4, 4), QPoint(20, 4), QPoint(4, 20)};
        ASSERT_TRUE(dc.PlgBlt(pts, picture, 0, 0, 8, 8));
    }
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 40; ++x) {
            const bool picture_part = x >= 4 && x < 12 && y >= 4 && y < 12;
            EXPECT_EQ(target.pixel(x, y), picture_part ? 0xFF0000FFu : 0xFF00FF00u) << x << "," << y;
        }
    }
}

}  // namespace
}  // namespace lumen

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }

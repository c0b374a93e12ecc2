// The animation and window invocation tests run headless: what they draw, what they create and
// destroy, and how they end when threads cannot be made.
#include <gtest/gtest.h>

#include <QImage>

#include "lumen/animation.h"
#include "shared/gdi/surface.h"
#include "tests/support/qt_test_main.h"

namespace {

using namespace lumen;

constexpr QRgb kBlack = 0xFF000000u;

// White of the scratch picture takes the window's background colour and black the text colour
// (black): the figures' insides show the background colour, or black where the right figure's
// fill colour is dark. An odd square leaves its last row and column black.
TEST(AnimationFigure, WhiteTakesTheWindowColourAndBlackTheTextColour) {
    struct Row {
        int w;
        int clientWidth;
        QRgb rightCentre;  // the right figure's fill colour, as black or white becomes
    };
    const Row rows[] = {{0, 200, qRgb(255, 0, 0)}, {1, 200, kBlack}, {2, 202, qRgb(255, 255, 255)}, {3, 202, kBlack}};
    for (const Row& row : rows) {
        SCOPED_TRACE("window " + std::to_string(row.w));
        const QRgb bk = BackgroundOfWindow(row.w);
        gdi::Surface surface(QSize(row.clientWidth, 150), kAnimateClassBackground);
        RotatePoints1(1, row.w);
        RotatePoints2(0, row.w);
        QImage scratch;
        DrawFigure2(surface, row.w, bk, scratch);
        DrawFigure3(surface, row.w, bk, scratch);
        QImage shown;
        ASSERT_TRUE(surface.TakeChanges(shown, true).has_value());
        const int S = row.clientWidth / 2;
        const int r = S / 2;
        int black = 0;
        for (int y = 0; y < S; ++y)
            for (int x = 0; x < 2 * S; ++x) {
                const QRgb c = shown.pixel(x, y) | 0xFF000000u;
                ASSERT_TRUE(c == bk || c == kBlack) << x << "," << y;
                black += c == kBlack;
            }
        EXPECT_GT(black, 0);
        for (int half = 0; half < 2; ++half) {
            const int x0 = half * S;
            EXPECT_EQ(shown.pixel(x0 + 1, 1) | 0xFF000000u, bk);  // outside the circle
            EXPECT_EQ(shown.pixel(x0 + r, r) | 0xFF000000u, half == 0 ? bk : row.rightCentre);
            // Only 2r x 2r is whitened.
            EXPECT_EQ(shown.pixel(x0 + S - 1, 1) | 0xFF000000u, S == 2 * r ? bk : kBlack);
        }
        // Below the squares the window keeps its class background.
        EXPECT_EQ(shown.pixel(row.clientWidth / 2, 149) | 0xFF000000u, kAnimateClassBackground);
    }
}

}  // namespace

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }

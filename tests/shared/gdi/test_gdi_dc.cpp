// The drawing context's geometry rules on the pixels of small pictures (no glyph pixels are
// looked at), the arc angles, and the monochrome picture path of the animation.
#include <gtest/gtest.h>

#include <QImage>
#include <string>
#include <vector>

#include "shared/gdi/dc.h"
#include "tests/support/qt_test_main.h"

namespace {

using namespace gdi;

constexpr QRgb kWhite = 0xFFFFFFFFu, kBlack = 0xFF000000u;

QImage White(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(kWhite);
    return img;
}

// The picture as rows of '#' (black) and '.' (anything else).
std::string Ascii(const QImage& img) {
    std::string s;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) s += img.pixel(x, y) == kBlack ? '#' : '.';
        s += '\n';
    }
    return s;
}

// Radial points to Qt's angles: counter-clockwise from the first radial line to the second; on
// an ellipse the angle is the parametric one of the point where the radial line meets it.
TEST(GdiDc, RadialPointsGiveCounterClockwiseQtAngles) {
    struct Case {
        QRectF box;
        QPointF a, b;
        int start16, span16;
    } cases[] = {
        {{0, 0, 100, 100}, {100, 50}, {50, 0}, 0, 90 * 16},          // right to top: a quarter
        {{0, 0, 100, 100}, {50, 0}, {100, 50}, 90 * 16, 270 * 16},   // top to right: three quarters
        {{0, 0, 100, 100}, {50, 100}, {0, 50}, 270 * 16, 270 * 16},  // bottom round past right to left
        {{0, 0, 100, 100}, {90, 10}, {180, -80}, 45 * 16, 360 * 16}, // the same direction: whole
        {{0, 0, 200, 100}, {200, 0}, {0, 50}, 45 * 16, 135 * 16},    // 2:1 ellipse: parametric 45
        {QRectF(QPointF(200, 100), QPointF(0, 0)), {0, 100}, {200, 50}, 225 * 16, 135 * 16}, // swapped corners
    };
    for (const Case& c : cases) {
        const ArcAngles a = RadialToQtAngles(c.box, c.a, c.b);
        EXPECT_EQ(a.start16, c.start16) << c.a.x() << "," << c.a.y();
        EXPECT_EQ(a.span16, c.span16) << c.a.x() << "," << c.a.y();
    }
}

// LineTo leaves out its last pixel in every direction, and moves the current position; figure
// boxes leave out their right and bottom edges, swapped corners are put in order, a null pen
// fills one pixel less, and an inside-frame pen stays inside the box.
TEST(GdiDc, EndPixelAndExclusiveEdges) {
    QImage img = White(12, 8);
    {
        GdiDc dc(&img);
        dc.MoveToEx(0, 0);
        dc.LineTo(5, 0);   // right
        dc.MoveToEx(11, 1);
        dc.LineTo(7, 1);   // left
        dc.MoveToEx(0, 2);
        dc.LineTo(4, 6);   // diagonal down
        dc.MoveToEx(9, 7);
        dc.LineTo(9, 3);   // up
        EXPECT_EQ(dc.GetCurrentPosition(), QPoint(9, 3));
    }
    EXPECT_EQ(Ascii(img),
              "#####.......\n"
              "........####\n"
              "#...........\n"
              ".#..........\n"
              "..#......#..\n"
              "...#.....#..\n"
              ".........#..\n"
              ".........#..\n");

    img = White(14, 7);
    {
        GdiDc dc(&img);
        dc.SelectBrush(NullBrush());
        dc.Rectangle(1, 1, 6, 5);           // outline 1..5 x 1..4
        dc.SelectPen(CreatePen(PS_NULL, 1, kBlack));
        dc.SelectBrush(CreateSolidBrush(kBlack));
        dc.Rectangle(13, 6, 8, 1);          // swapped: fills 8..11 x 1..4 less one: 8..11 x 1..4
    }
    EXPECT_EQ(Ascii(img),
              "..............\n"
              ".#####..####..\n"
              ".#...#..####..\n"
              ".#...#..####..\n"
              ".#####..####..\n"
              "..............\n"
              "..............\n");

    img = White(24, 24);
    {
        GdiDc dc(&img);
        dc.SelectBrush(NullBrush());
        dc.SelectPen(ExtCreatePen(PS_GEOMETRIC | PS_INSIDEFRAME | PS_ENDCAP_FLAT | PS_JOIN_MITER, 5, kBlack));
        dc.Rectangle(2, 2, 20, 20);
    }
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x) {
            const bool inside = x >= 2 && x < 20 && y >= 2 && y < 20;
            const bool frame = inside && (x < 7 || x >= 15 || y < 7 || y >= 15);
            ASSERT_EQ(img.pixel(x, y) == kBlack, frame) << x << "," << y;
        }
}

// A pie runs counter-clockwise from its first radial point: right to top is the upper right
// quarter. PolyBezierTo with four points draws the three-point segment and keeps the fourth
// point as the current position.
TEST(GdiDc, PieDirectionAndPolyBezierTo) {
    QImage img = White(41, 41);
    {
        GdiDc dc(&img);
        dc.SelectPen(CreatePen(PS_NULL, 1, kBlack));
        dc.SelectBrush(CreateSolidBrush(kBlack));
        dc.Pie(0, 0, 41, 41, 40, 20, 20, 0);
    }
    EXPECT_EQ(img.pixel(30, 10), kBlack);
    EXPECT_EQ(img.pixel(10, 10), kWhite);
    EXPECT_EQ(img.pixel(10, 30), kWhite);
    EXPECT_EQ(img.pixel(30, 30), kWhite);

    img = White(24, 12);
    {
        GdiDc dc(&img);
        dc.MoveToEx(0, 5);
        const QPoint pts[4] = {{3, 5}, {6, 5}, {9, 5}, {20, 11}};
        EXPECT_TRUE(dc.PolyBezierTo(pts, 4));
        EXPECT_EQ(dc.GetCurrentPosition(), QPoint(20, 11));
    }
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 24; ++x) ASSERT_EQ(img.pixel(x, y) == kBlack, y == 5 && x <= 9) << x << "," << y;
}

// Clipped opaque text: the rectangle takes the background colour and nothing outside it changes,
// whatever the font draws.
TEST(GdiDc, ClippedOpaqueTextStaysInItsRectangle) {
    QImage img = White(60, 30);
    const QRect box(10, 8, 20, 10);
    {
        GdiDc dc(&img);
        dc.SetBkColor(0xFF0000FFu);
        dc.SetTextColor(0xFFFFFF00u);
        dc.ExtTextOut(12, 6, ETO_OPAQUE | ETO_CLIPPED, &box, QStringLiteral("WWWWWWWWWWWWWWWW"));
        EXPECT_TRUE(box.contains(dc.Touched()) || dc.Touched() == box);
    }
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 60; ++x)
            if (!box.contains(x, y)) {
                ASSERT_EQ(img.pixel(x, y), kWhite) << x << "," << y;
            }
    EXPECT_EQ(img.pixel(box.left(), box.bottom()), 0xFF0000FFu);
}

// Text turned a quarter counter-clockwise runs upwards from its corner with its cell to the right:
// the opaque cell covers x..x+height, y-width..y of the turned text, and nothing outside it changes.
TEST(GdiDc, TurnedTextRunsUpwardsFromItsCorner) {
    QImage img = White(60, 80);
    const QString text = QStringLiteral("WWW");
    QRect cell;
    {
        GdiDc dc(&img);
        dc.SetBkColor(0xFF0000FFu);
        const TextMetrics m = dc.GetTextMetrics();
        const QSize extent = dc.GetTextExtent(text);
        cell = QRect(20, 70 - extent.width(), m.height, extent.width());
        ASSERT_TRUE(dc.TextOutTurned(20, 70, 900, text));
        EXPECT_TRUE(dc.Touched().contains(cell.adjusted(1, 1, -1, -1)));
    }
    const QRect margin = cell.adjusted(-1, -1, 1, 1);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (!margin.contains(x, y)) {
                ASSERT_EQ(img.pixel(x, y), kWhite) << x << "," << y;
            }
    EXPECT_EQ(img.pixel(cell.left() + 1, cell.bottom() - 1), 0xFF0000FFu);
    EXPECT_EQ(img.pixel(cell.right() - 1, cell.top() + 1), 0xFF0000FFu);
}

// The animation's path: a figure drawn in colour into a monochrome picture comes out black and
// white by luminance, and that picture blitted into a colour picture takes the colour context's
// background colour for white and its text colour for black.
TEST(GdiDc, MonochromePictureIntoColour) {
    QImage scratch = White(10, 10);
    {
        GdiDc mono(&scratch, nullptr, true);
        EXPECT_TRUE(mono.PatBlt(0, 0, 10, 10, WHITENESS));
        mono.SelectPen(CreatePen(PS_NULL, 1, 0));
        mono.SelectBrush(CreateSolidBrush(0xFFC00000u));  // dark red: black
        mono.Rectangle(2, 2, 6, 6);
        mono.SelectBrush(CreateSolidBrush(0xFFFFFF80u));  // light yellow: white
        mono.Rectangle(2, 2, 4, 4);
    }
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
            const QRgb v = scratch.pixel(x, y);
            ASSERT_TRUE(v == kWhite || v == kBlack) << x << "," << y;
        }
    EXPECT_EQ(scratch.pixel(4, 4), kBlack);
    EXPECT_EQ(scratch.pixel(2, 2), kWhite);

    QImage window(10, 10, QImage::Format_RGB32);
    window.fill(0xFF522E33u);
    {
        GdiDc dc(&window);
        dc.SetBkColor(0xFFFF0000u);
        dc.SetTextColor(0xFF00FF00u);
        EXPECT_TRUE(dc.BitBlt(0, 0, 10, 10, scratch, 0, 0, SRCCOPY, true));
    }
    EXPECT_EQ(window.pixel(4, 4), 0xFF00FF00u);  // black: text colour
    EXPECT_EQ(window.pixel(0, 0), 0xFFFF0000u);  // white: background colour
}

// Scrolling the picture moves every pixel by the offset and fills what is uncovered, whichever
// way it goes.
TEST(GdiDc, ScrollImageMovesAndFills) {
    QImage before(9, 7, QImage::Format_RGB32);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) before.setPixel(x, y, qRgb(x * 20, y * 30, 7));
    const QRgb fill = 0xFF0000FFu;
    const QPoint moves[] = {{0, -2}, {0, 3}, {2, 0}, {-3, 0}, {1, -1}, {-2, 2}, {9, 0}, {0, -7}};
    for (const QPoint m : moves) {
        QImage img = before;
        {
            GdiDc dc(&img);
            ASSERT_TRUE(dc.ScrollImage(m.x(), m.y(), fill));
        }
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 9; ++x) {
                const QPoint from(x - m.x(), y - m.y());
                const QRgb want = before.rect().contains(from) ? before.pixel(from) : fill;
                ASSERT_EQ(img.pixel(x, y), want) << m.x() << "," << m.y() << " at " << x << "," << y;
            }
    }
}

}  // namespace

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }

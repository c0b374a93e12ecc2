// The raster-operation engine against a bit-by-bit reference: every code, masked blits, the
// monochrome rules and overlapping blits.
#include <gtest/gtest.h>

#include <QImage>
#include <cstdint>
#include <random>

#include "shared/gdi/rop.h"

namespace {

using gdi::BlitSource;
using gdi::BlitTarget;
using gdi::Pattern;

// The definition of a code: result bit = bit (P << 2 | S << 1 | D) of the code, for each of the
// 24 colour bits on its own.
uint32_t Reference(uint8_t code, uint32_t p, uint32_t s, uint32_t d) {
    uint32_t r = 0;
    for (int b = 0; b < 24; ++b) {
        const unsigned index = ((p >> b) & 1) << 2 | ((s >> b) & 1) << 1 | ((d >> b) & 1);
        r |= uint32_t((code >> index) & 1) << b;
    }
    return r | 0xFF000000u;
}

QImage RandomImage(int w, int h, std::mt19937& rng) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<uint32_t*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) line[x] = rng() | 0xFF000000u;
    }
    return img;
}

Pattern RandomPattern(std::mt19937& rng) {
    uint32_t cells[64];
    for (uint32_t& c : cells) c = rng();
    return Pattern::Cells(cells);
}

uint32_t Px(const QImage& img, int x, int y) { return reinterpret_cast<const uint32_t*>(img.constScanLine(y))[x]; }

// Every code, through the blit engine (a row longer than its working chunk, a rectangle off the
// origin so the pattern's alignment to the destination shows, a hatched and a solid pattern) and
// through the one-pixel function, against the reference; pixels outside the rectangle are kept.
TEST(GdiRop, EveryCodeMatchesTheBitwiseDefinition) {
    std::mt19937 rng(1234);
    const QImage src = RandomImage(300, 7, rng);
    const QRect rect(3, 2, 290, 4);  // source read from (5, 1)
    const QPoint sp(5, 1);
    for (int solid = 0; solid < 2; ++solid) {
        for (int c = 0; c < 256; ++c) {
            const uint8_t code = uint8_t(c);
            const QImage before = RandomImage(300, 7, rng);
            QImage dst = before;
            BlitTarget t;
            t.image = &dst;
            t.pattern = solid ? Pattern::Solid(rng()) : RandomPattern(rng);
            const BlitSource s{&src, false, 0xFFFFFFFFu};
            ASSERT_TRUE(gdi::BitBlt(t, rect, &s, sp, gdi::RopFromCode(code)));
            for (int y = 0; y < dst.height(); ++y) {
                for (int x = 0; x < dst.width(); ++x) {
                    uint32_t want = Px(before, x, y);
                    if (rect.contains(x, y)) {
                        const uint32_t p = t.pattern.px[(y & 7) * 8 + (x & 7)];
                        const uint32_t sv = Px(src, x - rect.left() + sp.x(), y - rect.top() + sp.y());
                        want = Reference(code, p, sv, Px(before, x, y));
                        ASSERT_EQ(gdi::Rop3(code, p, sv, Px(before, x, y)), want) << "code " << c;
                    }
                    ASSERT_EQ(Px(dst, x, y), want) << "code " << c << " at " << x << "," << y << " solid " << solid;
                }
            }
        }
    }
    // The named codes are the operations their names say.
    const uint32_t p = 0xFF123456u, s = 0xFF89ABCDu, d = 0xFFF0F00Fu;
    struct Named {
        uint32_t rop;
        uint32_t want;
    } named[] = {
        {gdi::SRCCOPY, s}, {gdi::SRCPAINT, s | d}, {gdi::SRCAND, s & d}, {gdi::SRCINVERT, s ^ d},
        {gdi::SRCERASE, s & ~d}, {gdi::NOTSRCCOPY, ~s}, {gdi::NOTSRCERASE, ~(s | d)}, {gdi::MERGECOPY, p & s},
        {gdi::MERGEPAINT, ~s | d}, {gdi::PATCOPY, p}, {gdi::PATPAINT, p | ~s | d}, {gdi::PATINVERT, p ^ d},
        {gdi::DSTINVERT, ~d}, {gdi::BLACKNESS, 0}, {gdi::WHITENESS, ~0u},
    };
    for (const Named& n : named) EXPECT_EQ(gdi::Rop3(gdi::RopCode(n.rop), p, s, d), n.want | 0xFF000000u) << n.rop;
}

// Mask bit 1 takes the foreground operation, 0 the background one, for packed masks (high bit
// first, low bit first, and a colour table with its light entry first) and for a black-and-white
// RGB32 mask, read from an origin off a byte boundary along rows longer than the engine's working
// chunk, for pairs of the special-effects test's operations with a hatched pattern; the blit is no
// larger than what the mask holds from its origin.
TEST(GdiRop, MaskBltPicksTheOperationByMaskBit) {
    std::mt19937 rng(99);
    const QImage src = RandomImage(330, 12, rng);
    const QImage before = RandomImage(330, 12, rng);
    QImage bits(310, 8, QImage::Format_Mono);
    bits.setColorTable({0xFF000000u, 0xFFFFFFFFu});
    for (int y = 0; y < bits.height(); ++y)
        for (int x = 0; x < bits.width(); ++x) bits.setPixel(x, y, rng() & 1);
    QImage light_first = bits;
    light_first.invertPixels();
    light_first.setColorTable({0xFFFFFFFFu, 0xFF000000u});
    const QImage masks[] = {bits, bits.convertToFormat(QImage::Format_MonoLSB), light_first,
                            bits.convertToFormat(QImage::Format_RGB32)};
    const QPoint mp(3, 1);  // the mask covers 307 x 7 from here
    const QRect rect(1, 2, 320, 9);
    const QRect done(rect.topLeft(), QSize(307, 7));
    const uint32_t pairs[][2] = {{gdi::SRCCOPY, gdi::PATINVERT}, {gdi::SRCINVERT, gdi::SRCAND},
                                 {gdi::MERGECOPY, gdi::DSTINVERT}, {gdi::PATCOPY, gdi::NOTSRCERASE}};
    for (const auto& pair : pairs) {
        const uint32_t fore = pair[0], back = pair[1];
        for (int m = 0; m < 4; ++m) {
            QImage dst = before;
            BlitTarget t;
            t.image = &dst;
            t.pattern = Pattern::Hatch(gdi::HS_DIAGCROSS, rng(), rng());
            const BlitSource s{&src, false, 0xFFFFFFFFu};
            ASSERT_TRUE(gdi::MaskBlt(t, rect, &s, QPoint(0, 0), &masks[m], mp, gdi::MAKEROP4(fore, back)));
            for (int y = 0; y < dst.height(); ++y) {
                for (int x = 0; x < dst.width(); ++x) {
                    uint32_t want = Px(before, x, y);
                    if (done.contains(x, y)) {
                        const bool bit = bits.pixelIndex(x - rect.left() + mp.x(), y - rect.top() + mp.y()) == 1;
                        const uint32_t p = t.pattern.px[(y & 7) * 8 + (x & 7)];
                        const uint32_t sv = Px(src, x - rect.left(), y - rect.top());
                        want = Reference(gdi::RopCode(bit ? fore : back), p, sv, want);
                    }
                    ASSERT_EQ(Px(dst, x, y), want) << x << "," << y << " mask " << m << " rop " << fore;
                }
            }
        }
    }
    EXPECT_EQ(gdi::ForegroundCode(gdi::MAKEROP4(gdi::SRCCOPY, gdi::PATINVERT)), gdi::code::SRCCOPY);
    EXPECT_EQ(gdi::BackgroundCode(gdi::MAKEROP4(gdi::SRCCOPY, gdi::PATINVERT)), gdi::code::PATINVERT);
}

// The exclusive-or operations undo themselves: the animation's erase-by-redraw rests on this.
TEST(GdiRop, ExclusiveOrTwiceRestores) {
    std::mt19937 rng(7);
    const QImage src = RandomImage(33, 9, rng);
    const QImage before = RandomImage(33, 9, rng);
    for (uint32_t rop : {gdi::SRCINVERT, gdi::PATINVERT, gdi::DSTINVERT}) {
        QImage dst = before;
        BlitTarget t;
        t.image = &dst;
        t.pattern = Pattern::Hatch(gdi::HS_DIAGCROSS, 0xFF336699u, 0xFFCC0000u);
        const BlitSource s{&src, false, 0xFFFFFFFFu};
        ASSERT_TRUE(gdi::BitBlt(t, QRect(2, 1, 29, 7), &s, QPoint(1, 1), rop));
        EXPECT_NE(dst, before) << rop;
        ASSERT_TRUE(gdi::BitBlt(t, QRect(2, 1, 29, 7), &s, QPoint(1, 1), rop));
        EXPECT_EQ(dst, before) << rop;
    }
}

// A monochrome source into colour: 0 bits take the destination's text colour, 1 bits its
// background colour (an RGB32 black-and-white picture and a packed one alike). A colour source
// into monochrome: the source's background colour becomes white, all else black; the pattern on
// a monochrome destination goes by luminance.
TEST(GdiRop, MonochromeRules) {
    QImage mono_rgb(4, 1, QImage::Format_RGB32);
    const uint32_t bw[4] = {0xFF000000u, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFF000000u};
    for (int x = 0; x < 4; ++x) mono_rgb.setPixel(x, 0, bw[x]);
    QImage mono_packed(4, 1, QImage::Format_Mono);
    mono_packed.setColor(0, 0xFFFFFFFFu);  // index 0 white: the bit is the colour's, not the index
    mono_packed.setColor(1, 0xFF000000u);
    for (int x = 0; x < 4; ++x) mono_packed.setPixel(x, 0, bw[x] == 0xFFFFFFFFu ? 0 : 1);
    const QRgb text = 0xFF00FF00u, bk = 0xFFFF0000u;
    for (const BlitSource s : {BlitSource{&mono_rgb, true, 0}, BlitSource{&mono_packed, false, 0}}) {
        QImage dst(4, 1, QImage::Format_RGB32);
        dst.fill(0xFF123456u);
        BlitTarget t;
        t.image = &dst;
        t.text_colour = text;
        t.background_colour = bk;
        ASSERT_TRUE(gdi::BitBlt(t, QRect(0, 0, 4, 1), &s, QPoint(0, 0), gdi::SRCCOPY));
        for (int x = 0; x < 4; ++x) EXPECT_EQ(Px(dst, x, 0), bw[x] == 0xFFFFFFFFu ? bk : text) << x;
    }

    QImage colour(4, 1, QImage::Format_RGB32);
    const uint32_t cs[4] = {0xFF808080u, 0xFF102030u, 0xFFFFFFFFu, 0xFF808081u};
    for (int x = 0; x < 4; ++x) colour.setPixel(x, 0, cs[x]);
    QImage mono_dst(4, 1, QImage::Format_RGB32);
    mono_dst.fill(0xFF000000u);
    BlitTarget t;
    t.image = &mono_dst;
    t.mono = true;
    const BlitSource s{&colour, false, 0xFF808080u};
    ASSERT_TRUE(gdi::BitBlt(t, QRect(0, 0, 4, 1), &s, QPoint(0, 0), gdi::SRCCOPY));
    const uint32_t want[4] = {0xFFFFFFFFu, 0xFF000000u, 0xFF000000u, 0xFF000000u};
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Px(mono_dst, x, 0), want[x]) << x;

    t.pattern = Pattern::Solid(0xFFFFFF00u);  // yellow: light
    ASSERT_TRUE(gdi::PatBlt(t, QRect(0, 0, 2, 1), gdi::PATCOPY));
    t.pattern = Pattern::Solid(0xFF0000FFu);  // blue: dark
    ASSERT_TRUE(gdi::PatBlt(t, QRect(2, 0, 2, 1), gdi::PATCOPY));
    EXPECT_EQ(Px(mono_dst, 1, 0), 0xFFFFFFFFu);
    EXPECT_EQ(Px(mono_dst, 2, 0), 0xFF000000u);
}

// A blit within one picture whose source and destination overlap reads the source as it was;
// rectangles are clipped to both pictures; a code that reads a missing source fails.
TEST(GdiRop, OverlapClipAndMissingSource) {
    std::mt19937 rng(5);
    const QImage before = RandomImage(16, 16, rng);
    QImage img = before;
    BlitTarget t;
    t.image = &img;
    const BlitSource s{&img, false, 0xFFFFFFFFu};
    // Scroll the picture up by 3 rows and right by 2, from beyond its corner.
    ASSERT_TRUE(gdi::BitBlt(t, QRect(2, -3, 16, 16), &s, QPoint(0, 0), gdi::SRCCOPY));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const bool moved = x >= 2 && y <= 12;
            ASSERT_EQ(Px(img, x, y), moved ? Px(before, x - 2, y + 3) : Px(before, x, y)) << x << "," << y;
        }
    EXPECT_FALSE(gdi::BitBlt(t, QRect(0, 0, 4, 4), nullptr, QPoint(), gdi::SRCCOPY));
    EXPECT_FALSE(gdi::PatBlt(t, QRect(0, 0, 4, 4), gdi::SRCINVERT));
    EXPECT_TRUE(gdi::PatBlt(t, QRect(0, 0, 4, 4), gdi::BLACKNESS));
    EXPECT_EQ(Px(img, 3, 3), 0xFF000000u);
}

}  // namespace

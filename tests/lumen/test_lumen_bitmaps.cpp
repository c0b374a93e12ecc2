// The program's bitmap resources: every name the video tests load exists with its size and
// depth, is a well-formed BMP file (our reader and Qt's agree on every pixel), and shows a
// picture (not one colour).
#include <gtest/gtest.h>

#include <QImage>
#include <QSet>

#include "lumen/bitmaps/bitmaps.h"

namespace lumen {
namespace {

struct Expected {
    const char* name;
    int width, height, bits;
};

// Sizes and depths as the tests use them.
const Expected kExpected[] = {
    {"KESTREL", 33, 35, 8},         {"GALLERY", 354, 446, 8},        {"ARCHES", 123, 160, 4},
    {"RIVETS", 32, 32, 4},          {"WINNT", 425, 337, 8},          {"varden", 512, 384, 24},
    {"vardensmall", 400, 300, 24},  {"varden2", 512, 384, 8},        {"varden2small", 400, 300, 8},
    {"pentium", 512, 384, 8},       {"pentiumsmall", 400, 300, 8},   {"vardenmask", 512, 384, 1},
    {"vardenmasksmall", 400, 300, 1}, {"bmp256mask", 512, 384, 1},   {"bmp256masksmall", 400, 300, 1},
    {"mandlemask", 575, 574, 1},    {"mandlemasksmall", 400, 399, 1}, {"kes", 256, 220, 8},
    {"mandlebrot", 575, 574, 8},    {"mandlebrotsmall", 400, 399, 8}, {"opening", 470, 186, 8},
    {"openingsmall", 400, 158, 8},  {"newkes", 512, 385, 8},         {"newkessmall", 400, 301, 8},
};

TEST(LumenBitmaps, EveryResourceHasItsSizeDepthAndAPicture) {
    EXPECT_EQ(kBitmapResourceCount, int(std::size(kExpected)));
    for (const Expected& e : kExpected) {
        SCOPED_TRACE(e.name);
        const auto file = FindBitmapResource(e.name);
        ASSERT_FALSE(file.empty());
        std::optional<gdi::Dib> dib = LoadDIBResource(e.name);
        ASSERT_TRUE(dib);
        EXPECT_EQ(dib->Width(), e.width);
        EXPECT_EQ(dib->Height(), e.height);
        EXPECT_EQ(dib->BitCount(), e.bits);
        // The 8-bit pictures have full 256-colour tables (the fades walk 256 entries).
        if (e.bits == 8) {
            EXPECT_EQ(gdi::GetNumColors(dib->header()), 256u);
        }
        const QImage qt = QImage::fromData(file.data(), int(file.size()), "BMP");
        ASSERT_EQ(qt.size(), QSize(e.width, e.height));
        const QImage ours = LoadBitmapResource(e.name);
        ASSERT_EQ(ours.size(), qt.size());
        QSet<QRgb> colours;
        for (int y = 0; y < qt.height(); ++y) {
            for (int x = 0; x < qt.width(); ++x) {
                ASSERT_EQ(ours.pixel(x, y), qt.pixel(x, y) | 0xFF000000u) << x << "," << y;
                colours.insert(ours.pixel(x, y));
            }
        }
        EXPECT_GE(colours.size(), e.bits == 1 ? 2 : e.bits == 4 ? 4 : 8);
    }
    EXPECT_TRUE(FindBitmapResource("kestrel").empty());  // names are exact
    EXPECT_FALSE(LoadDIBResource("nosuchbitmap"));
}

}  // namespace
}  // namespace lumen

// Packed DIBs: the size rules on every depth, top-down and bottom-up; pixels through our writer,
// our reader and Qt's own BMP reader; headers built by hand byte by byte; the checks that refuse
// malformed headers; the colour-table routines and the conversions.
#include <gtest/gtest.h>

#include <QImage>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/msgbox.h"
#include "shared/gdi/dc.h"
#include "shared/gdi/dib.h"
#include "tests/support/data_size_limit.h"

namespace gdi {
namespace {

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// A 40-byte header written by hand (no code of the module involved).
std::vector<uint8_t> HandHeader(int32_t w, int32_t h, uint16_t bits, uint32_t compression, uint32_t clr_used = 0) {
    std::vector<uint8_t> b(40, 0);
    Put32(b, 0, 40);
    Put32(b, 4, uint32_t(w));
    Put32(b, 8, uint32_t(h));
    b[12] = 1;
    b[14] = uint8_t(bits);
    Put32(b, 16, compression);
    Put32(b, 32, clr_used);
    return b;
}

struct DepthCase {
    int bits;
    bool top_down;
    bool bitfields;
    int stride;          // for a width of 13
    uint64_t table;      // GetClrTableSize
    uint32_t colours;    // GetNumColors
    uint32_t entries;    // GetNumColors2
};

class DibDepth : public testing::TestWithParam<DepthCase> {};

std::vector<RGBQUAD> TableFor(int bits) {
    std::vector<RGBQUAD> t;
    if (bits > 8) return t;
    for (int i = 0; i < (1 << bits); ++i) t.push_back({uint8_t(i * 3), uint8_t(255 - i), uint8_t(i * 7), 0});
    return t;
}

uint32_t RawFor(int bits, int x, int y) {
    const uint32_t v = uint32_t(x * 37 + y * 101 + x * y * 13);
    switch (bits) {
        case 1: return v & 1u;
        case 4: return v & 0xFu;
        case 8: return v & 0xFFu;
        case 16: return (v * 2654435761u) & 0x7FFFu;
        case 24: return (v * 2654435761u) & 0xFFFFFFu;
        default: return (v * 2654435761u) & 0xFFFFFFu;
    }
}

TEST_P(DibDepth, SizesTablesAndPixelsRoundTrip) {
    const DepthCase c = GetParam();
    const int w = 13, h = 7;
    std::optional<Dib::Masks> masks;
    if (c.bitfields) masks = c.bits == 16 ? Dib::Masks{0xF800, 0x07E0, 0x001F} : Dib::Masks{0xFF0000, 0xFF00, 0xFF};
    std::optional<Dib> made = Dib::Make(w, h, c.bits, c.top_down, TableFor(c.bits), masks);
    ASSERT_TRUE(made);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) made->SetRawPixel(x, y, RawFor(c.bits, x, y));
    }
    const BITMAPINFOHEADER& hd = made->header();
    EXPECT_EQ(hd.biHeight, c.top_down ? -h : h);
    EXPECT_EQ(made->Stride(), c.stride);
    EXPECT_EQ(GetDIBImageSize(hd), uint64_t(c.stride) * h);
    EXPECT_EQ(GetClrTableSize(hd), c.table);
    EXPECT_EQ(GetNumColors(hd), c.colours);
    EXPECT_EQ(GetNumColors2(hd), c.entries);
    EXPECT_EQ(made->ColorTable().size(), c.entries);
    EXPECT_EQ(made->BitsOffset(), 40 + c.table);
    EXPECT_EQ(GetDIBSize(hd), 40 + c.table + uint64_t(c.stride) * h);
    EXPECT_EQ(made->Bytes().size(), GetDIBSize(hd));
    // The first stored row is the top one exactly when the picture is top-down.
    const int stored_first = c.top_down ? 0 : h - 1;
    std::optional<Dib> row_probe = Dib::FromPacked(made->Bytes());
    ASSERT_TRUE(row_probe);
    row_probe->SetRawPixel(0, stored_first, RawFor(c.bits, 0, stored_first) ^ 1u);
    EXPECT_NE(std::memcmp(row_probe->GetDIBImagePtr(), made->GetDIBImagePtr(), 1), 0);

    // Through the file and back.
    const std::vector<uint8_t> file = made->ToBmpFile();
    std::string why;
    std::optional<Dib> read = Dib::FromBmpFile(file, &why);
    ASSERT_TRUE(read) << why;
    EXPECT_EQ(read->Bytes(), made->Bytes());
    // Qt's own reader sees the same picture.
    const QImage qt = QImage::fromData(file.data(), int(file.size()), "BMP");
    ASSERT_FALSE(qt.isNull());
    ASSERT_EQ(qt.size(), QSize(w, h));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            ASSERT_EQ(read->RawPixel(x, y), RawFor(c.bits, x, y)) << x << "," << y;
            const QRgb ours = read->Pixel(x, y), theirs = qt.pixel(x, y);
            const int tolerance = c.bits == 16 ? 8 : 0;  // 5- and 6-bit channels are widened differently
            ASSERT_NEAR(qRed(ours), qRed(theirs), tolerance) << x << "," << y;
            ASSERT_NEAR(qGreen(ours), qGreen(theirs), tolerance) << x << "," << y;
            ASSERT_NEAR(qBlue(ours), qBlue(theirs), tolerance) << x << "," << y;
        }
    }
    // The conversions give the same colours.
    const QImage ddb = DIBtoDDB(*read);
    ASSERT_EQ(ddb.format(), QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) ASSERT_EQ(ddb.pixel(x, y), read->Pixel(x, y));
    }
    std::optional<Dib> back = DDBtoDIB(c.bits <= 8 ? DIBtoImage(*read) : ddb, c.bits, c.top_down);
    ASSERT_TRUE(back);
    // (16 bits come back as 5-5-5: a 6-bit green channel loses its lowest bit.)
    const int back_tolerance = c.bits == 16 ? 8 : 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            ASSERT_NEAR(qGreen(back->Pixel(x, y)), qGreen(read->Pixel(x, y)), back_tolerance) << x << "," << y;
            ASSERT_EQ(back->Pixel(x, y) & 0xFFFF00FFu, read->Pixel(x, y) & 0xFFFF00FFu) << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryDepth, DibDepth,
    testing::Values(DepthCase{1, false, false, 4, 8, 2, 2}, DepthCase{1, true, false, 4, 8, 2, 2},
                    DepthCase{4, false, false, 8, 64, 16, 16}, DepthCase{4, true, false, 8, 64, 16, 16},
                    DepthCase{8, false, false, 16, 1024, 256, 256}, DepthCase{8, true, false, 16, 1024, 256, 256},
                    DepthCase{16, false, false, 28, 0, 65536, 0}, DepthCase{16, true, false, 28, 0, 65536, 0},
                    DepthCase{16, false, true, 28, 12, 65536, 0}, DepthCase{24, false, false, 40, 0, 65536, 0},
                    DepthCase{24, true, false, 40, 0, 65536, 0}, DepthCase{32, false, false, 52, 0, 0, 0},
                    DepthCase{32, true, false, 52, 0, 0, 0}, DepthCase{32, true, true, 52, 12, 0, 0}));

// Headers built byte by byte: where the pixels start follows the compression (masks only for
// BI_BITFIELDS), and a top-down picture has the positive size of its rows.
TEST(Dib, HandBuiltHeadersPlaceThePixelsByTheirCompression) {
    struct Case {
        uint16_t bits;
        uint32_t compression;
        int32_t height;
        size_t bits_at;
        uint32_t first_word;  // stored at bits_at
        QRgb first_pixel;     // top left
    };
    const Case cases[] = {
        {16, BI_RGB, 1, 40, 0x7C00, qRgb(255, 0, 0)},          // 5-5-5 red, no masks
        {32, BI_RGB, 1, 40, 0x0000FF00, qRgb(0, 255, 0)},       // x-R-G-B, no masks
        {16, BI_BITFIELDS, 1, 52, 0x001F, qRgb(0, 0, 255)},     // masks 5-6-5 follow the header
        {32, BI_BITFIELDS, -1, 52, 0x00FF0000, qRgb(255, 0, 0)},
        {24, BI_RGB, -2, 40, 0x00FF0000, qRgb(255, 0, 0)},      // top-down: first stored row is the top
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> b = HandHeader(1, c.height, c.bits, c.compression);
        if (c.compression == BI_BITFIELDS) {
            b.resize(52);
            if (c.bits == 16) {
                Put32(b, 40, 0xF800);
                Put32(b, 44, 0x07E0);
                Put32(b, 48, 0x001F);
            } else {
                Put32(b, 40, 0xFF0000);
                Put32(b, 44, 0xFF00);
                Put32(b, 48, 0xFF);
            }
        }
        const size_t rows = size_t(c.height < 0 ? -c.height : c.height);
        b.resize(c.bits_at + 4 * rows, 0);
        Put32(b, c.bits_at, c.first_word);
        SCOPED_TRACE(testing::Message() << c.bits << " bits, compression " << c.compression);
        std::string why;
        std::optional<Dib> dib = Dib::FromPacked(b, &why);
        ASSERT_TRUE(dib) << why;
        EXPECT_EQ(dib->BitsOffset(), c.bits_at);
        EXPECT_EQ(GetDIBImageSize(dib->header()), 4 * rows);
        EXPECT_EQ(GetDIBSize(dib->header()), b.size());
        EXPECT_EQ(dib->Pixel(0, 0), c.first_pixel);
    }
}

// 16- and 24-bit pictures have no colour table: the table routines give nothing (a 65536-entry
// table would be read far past the block); a short table gives only its own entries.
TEST(Dib, ColourTableRoutinesReadOnlyTheEntriesPresent) {
    for (uint16_t bits : {uint16_t(16), uint16_t(24)}) {
        std::vector<uint8_t> b = HandHeader(2, 2, bits, BI_RGB);
        b.resize(40 + 2 * 8, 0x5A);
        std::optional<Dib> dib = Dib::FromPacked(b);
        ASSERT_TRUE(dib);
        EXPECT_EQ(GetNumColors(dib->header()), 65536u);
        EXPECT_TRUE(CopyColorTable(*dib, PC_RESERVED).empty()) << bits;
        EXPECT_TRUE(PaletteFromDIB(*dib, 0).empty()) << bits;
    }
    std::vector<uint8_t> b = HandHeader(4, 1, 8, BI_RGB, 3);
    b.resize(40 + 12 + 4, 0);
    const uint8_t table[12] = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0};
    std::memcpy(b.data() + 40, table, 12);
    std::optional<Dib> dib = Dib::FromPacked(b);
    ASSERT_TRUE(dib);
    const std::vector<PALETTEENTRY> pal = PaletteFromDIB(*dib, PC_RESERVED);
    ASSERT_EQ(pal.size(), 3u);
    EXPECT_EQ(pal[2], (PALETTEENTRY{9, 8, 7, PC_RESERVED}));
}

TEST(Dib, MalformedHeadersAreRefused) {
    auto with = [](std::vector<uint8_t> b, size_t extra) {
        b.resize(b.size() + extra, 0);
        return b;
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<uint8_t> short_header = HandHeader(2, 2, 8, BI_RGB);
    Put32(short_header, 0, 12);
    std::vector<uint8_t> long_header = HandHeader(2, 2, 8, BI_RGB);
    Put32(long_header, 0, 4000);
    const std::vector<Case> cases = {
        {"fewer bytes than a header", std::vector<uint8_t>(39, 0)},
        {"header size 12", with(short_header, 1024 + 8)},
        {"header longer than the block", with(long_header, 1024 + 8)},
        {"3 bits per pixel", with(HandHeader(2, 2, 3, BI_RGB), 64)},
        {"width 0", with(HandHeader(0, 2, 8, BI_RGB), 1024 + 8)},
        {"negative width", with(HandHeader(-2, 2, 8, BI_RGB), 1024 + 8)},
        {"height 0", with(HandHeader(2, 0, 8, BI_RGB), 1024 + 8)},
        {"run-length compression", with(HandHeader(2, 2, 8, BI_RLE8), 1024 + 8)},
        {"masks on 24 bits", with(HandHeader(2, 2, 24, BI_BITFIELDS), 12 + 16)},
        {"300 colours on 8 bits", with(HandHeader(2, 2, 8, BI_RGB, 300), 1200 + 8)},
        {"table beyond the block", with(HandHeader(2, 2, 8, BI_RGB), 1000)},
        {"last row cut short", with(HandHeader(2, 2, 8, BI_RGB), 1024 + 7)},
        {"top-down rows cut short", with(HandHeader(2, -2, 8, BI_RGB), 1024 + 7)},
        {"rows beyond 64-bit sizes", with(HandHeader(0x7FFFFFFF, 0x7FFFFFFF, 32, BI_RGB), 16)},
    };
    for (const Case& c : cases) {
        std::string why;
        EXPECT_FALSE(Dib::FromPacked(c.bytes, &why)) << c.what;
        EXPECT_FALSE(why.empty()) << c.what;
    }
    // And the smallest good one of the same family is taken.
    EXPECT_TRUE(Dib::FromPacked(with(HandHeader(2, 2, 8, BI_RGB), 1024 + 8)));
    EXPECT_TRUE(Dib::FromPacked(with(HandHeader(2, -2, 8, BI_RGB), 1024 + 8)));
    // A file whose pixel offset does not follow the colour table.
    std::vector<uint8_t> file = Dib::Make(2, 2, 8, false, TableFor(8))->ToBmpFile();
    Put32(file, 10, 14 + 40);
    EXPECT_FALSE(Dib::FromBmpFile(file));
}

TEST(Dib, IndexTablesMonochromePicturesAndTransparentBlits) {
    std::optional<Dib> dib = Dib::Make(4, 2, 8, false, TableFor(8));
    ASSERT_TRUE(dib);
    std::vector<uint16_t> indices;
    ASSERT_TRUE(SetDIBColorUsage(*dib, {}, DIB_PAL_COLORS, &indices));
    ASSERT_EQ(indices.size(), 256u);
    EXPECT_EQ(indices[0], 0);
    EXPECT_EQ(indices[255], 255);
    std::vector<PALETTEENTRY> pal(256, PALETTEENTRY{10, 20, 30, PC_RESERVED});
    ASSERT_TRUE(SetDIBColorUsage(*dib, pal, DIB_RGB_COLORS));
    EXPECT_EQ(dib->ColorTable()[7], (RGBQUAD{30, 20, 10, 0}));
    // Any other depth fails with its box, for either usage.
    kp::BoxRecorder boxes;
    for (int bits : {1, 4, 16, 24, 32}) {
        std::optional<Dib> other = Dib::Make(4, 2, bits, false, TableFor(bits));
        ASSERT_TRUE(other) << bits;
        for (int usage : {DIB_PAL_COLORS, DIB_RGB_COLORS}) {
            boxes.Clear();
            EXPECT_FALSE(SetDIBColorUsage(*other, pal, usage, &indices)) << bits;
            ASSERT_EQ(boxes.boxes().size(), 1u) << bits;
            EXPECT_EQ(boxes.boxes()[0].text, "An unknown bitmapping error has occured.");
            EXPECT_EQ(boxes.boxes()[0].caption, "VideoKestrel 1.21 Exception");
            EXPECT_EQ(boxes.boxes()[0].icon, kp::Icon::Stop);
        }
    }

    // Monochrome: light colours are 1.
    std::optional<Dib> two = Dib::Make(2, 1, 1, false, {{0, 0, 0, 0}, {255, 255, 255, 0}});
    two->SetRawPixel(1, 0, 1);
    const QImage mono = DIBtoMonoDDB(*two);
    EXPECT_EQ(mono.format(), QImage::Format_Mono);
    EXPECT_EQ(mono.pixelIndex(0, 0), 0);
    EXPECT_EQ(mono.pixelIndex(1, 0), 1);

    // A transparent blit keeps the destination where the picture has the key colour.
    QImage picture(3, 1, QImage::Format_RGB32);
    picture.setPixel(0, 0, qRgb(255, 0, 255));
    picture.setPixel(1, 0, qRgb(10, 20, 30));
    picture.setPixel(2, 0, qRgb(255, 0, 255));
    QImage target(3, 1, QImage::Format_RGB32);
    target.fill(qRgb(1, 2, 3));
    {
        GdiDc dc(&target);
        EXPECT_TRUE(ClearBlt(dc, 0, 0, picture, qRgb(255, 0, 255)));
    }
    EXPECT_EQ(target.pixel(0, 0), qRgb(1, 2, 3));
    EXPECT_EQ(target.pixel(1, 0), qRgb(10, 20, 30));
    EXPECT_EQ(target.pixel(2, 0), qRgb(1, 2, 3));
}

// A picture whose image cannot be allocated (here a data limit below the image's size, the DIB
// itself being eight or two times smaller) gives no image, as a bad header gives no DIB.
TEST(Dib, AConversionWithoutMemoryForTheImageGivesNoImage) {
    struct Case {
        int width, height, bits;
    };
    // 1 bit: an 8 MiB DIB, a 64 MiB indexed image; 16 bits: a 32 MiB DIB, a 64 MiB RGB32 image.
    for (const Case& c : {Case{8192, 8192, 1}, Case{4096, 4096, 16}}) {
        SCOPED_TRACE(c.bits);
        const std::vector<RGBQUAD> table = c.bits == 1 ? std::vector<RGBQUAD>{{0, 0, 0, 0}, {255, 255, 255, 0}}
                                                        : std::vector<RGBQUAD>{};
        std::optional<Dib> dib = Dib::Make(c.width, c.height, c.bits, false, table);
        ASSERT_TRUE(dib.has_value());
        const kt::DataSizeLimit limit(rlim_t(32) << 20);
        EXPECT_TRUE(DIBtoImage(*dib).isNull());
        EXPECT_TRUE(DIBtoDDB(*dib).isNull());
    }
}

}  // namespace
}  // namespace gdi

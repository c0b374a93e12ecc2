// Packed device-independent bitmaps (DIBs): one block holding a 40-byte (or longer) info header,
// the colour table (and, for BI_BITFIELDS, three 32-bit channel masks before it) and the pixel
// rows, each row padded to 32 bits; rows run bottom-up for a positive height and top-down for a
// negative one. A BMP file is a 14-byte file header followed by a packed DIB.
//
// Every header read from outside bytes is validated before any size or offset is taken from it
// (Dib::FromPacked): the header length, the bit count (1, 4, 8, 16, 24, 32), the compression
// (BI_RGB, or BI_BITFIELDS for 16 and 32 bits), a non-zero size, a colour table no longer than
// the depth allows, and header + table + pixel rows within the bytes given.
//
// The size rules, on a header:
// - GetNumColors: biClrUsed when non-zero, else 2, 16, 256 for 1, 4, 8 bits, 65536 for 16 and
//   24 bits (the number of colours the picture can show), 0 for 32 bits.
// - GetNumColors2: the entries the colour table holds: biClrUsed when non-zero, else 2, 16, 256
//   for 1, 4, 8 bits, else 0 (a 16- or 24-bit picture without biClrUsed has no table).
// - GetClrTableSize: the three channel masks (12 bytes) only when the compression is
//   BI_BITFIELDS and the header is the 40-byte one (longer headers hold the masks themselves),
//   plus 4 x GetNumColors2.
// - GetDIBImageSize: the padded row length x the absolute height (a top-down picture has the
//   same positive size as a bottom-up one).
// - GetDIBSize: header + table + pixel rows (biSizeImage when the compression is not BI_RGB and
//   it is given).
// Colour-table routines (CopyColorTable, PaletteFromDIB) read only the entries the table holds.
#pragma once

#include <QImage>
#include <QRgb>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace gdi {

class GdiDc;

inline constexpr uint32_t BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3;
inline constexpr uint8_t PC_RESERVED = 0x01;
inline constexpr int DIB_RGB_COLORS = 0, DIB_PAL_COLORS = 1;
inline constexpr size_t kBmpFileHeaderSize = 14;
inline constexpr uint32_t kInfoHeaderSize = 40;

struct BITMAPINFOHEADER {
    uint32_t biSize = kInfoHeaderSize;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 0;
    uint32_t biCompression = BI_RGB;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};

struct RGBQUAD {
    uint8_t rgbBlue = 0, rgbGreen = 0, rgbRed = 0, rgbReserved = 0;
    bool operator==(const RGBQUAD&) const = default;
};

struct PALETTEENTRY {
    uint8_t peRed = 0, peGreen = 0, peBlue = 0, peFlags = 0;
    bool operator==(const PALETTEENTRY&) const = default;
};

// The size rules (see the header comment). No memory beyond the header is read.
uint32_t GetNumColors(const BITMAPINFOHEADER& h);
uint32_t GetNumColors2(const BITMAPINFOHEADER& h);
uint64_t GetClrTableSize(const BITMAPINFOHEADER& h);
uint64_t GetDIBRowSize(const BITMAPINFOHEADER& h);
uint64_t GetDIBImageSize(const BITMAPINFOHEADER& h);
uint64_t GetDIBSize(const BITMAPINFOHEADER& h);

// The header read from the start of a block (little-endian), or nullopt when fewer than 40 bytes.
std::optional<BITMAPINFOHEADER> ReadInfoHeader(std::span<const uint8_t> bytes);
// What is wrong with a header for a block of `length` bytes, or an empty string.
std::string CheckHeader(const BITMAPINFOHEADER& h, uint64_t length);

// A validated packed DIB in a block of its own, of exactly GetDIBSize bytes.
class Dib {
public:
    // A copy of the packed DIB at the start of `bytes` (what follows it is ignored); nullopt, with
    // the reason in `error`, when its header fails the checks.
    static std::optional<Dib> FromPacked(std::span<const uint8_t> bytes, std::string* error = nullptr);
    // The same from a BMP file's bytes (the "BM" file header is checked and skipped).
    static std::optional<Dib> FromBmpFile(std::span<const uint8_t> bytes, std::string* error = nullptr);

    // A new picture, every pixel 0. bits 1, 4, 8 take `table` (at most 2^bits entries; it may be
    // shorter, biClrUsed says so); 16 and 32 bits with masks are BI_BITFIELDS (16 bits without
    // masks is 5-5-5, 32 bits is 8-8-8 in the low three bytes). nullopt on a bad combination.
    struct Masks {
        uint32_t red = 0, green = 0, blue = 0;
    };
    static std::optional<Dib> Make(int width, int height, int bits, bool top_down,
                                   const std::vector<RGBQUAD>& table = {}, std::optional<Masks> masks = {});

    const BITMAPINFOHEADER& header() const { return header_; }
    int Width() const { return header_.biWidth; }
    int Height() const { return header_.biHeight < 0 ? -header_.biHeight : header_.biHeight; }
    bool TopDown() const { return header_.biHeight < 0; }
    int BitCount() const { return header_.biBitCount; }
    // The colour table's entries (only those it holds).
    std::vector<RGBQUAD> ColorTable() const;
    void SetColorTableEntry(int i, RGBQUAD c);
    // The channel masks of a 16- or 32-bit picture (the defaults for BI_RGB).
    Masks ChannelMasks() const;

    // The packed block: header, table, bits.
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    // The pixel bits (GetDIBImagePtr) and the padded row length.
    const uint8_t* GetDIBImagePtr() const { return bytes_.data() + bits_offset_; }
    uint8_t* GetDIBImagePtr() { return bytes_.data() + bits_offset_; }
    size_t BitsOffset() const { return bits_offset_; }
    int Stride() const { return int(GetDIBRowSize(header_)); }

    // Pixels by picture row (y = 0 is the top row, whatever the storage order). Raw values are
    // the table index (1, 4, 8 bits) or the stored word (16, 24, 32 bits).
    uint32_t RawPixel(int x, int y) const;
    void SetRawPixel(int x, int y, uint32_t value);
    // The pixel's colour (through the table or the masks), opaque.
    QRgb Pixel(int x, int y) const;

    // The BMP file of this picture (file header + packed block).
    std::vector<uint8_t> ToBmpFile() const;

private:
    Dib() = default;
    const uint8_t* Row(int y) const;
    uint8_t* Row(int y);

    BITMAPINFOHEADER header_;
    std::vector<uint8_t> bytes_;
    size_t bits_offset_ = 0;
};

// The colour table as palette entries (red, green, blue, flags); empty when there is none.
std::vector<PALETTEENTRY> CopyColorTable(const Dib& dib, uint8_t flags);
// A logical palette from the picture's colour table (one entry per colour the table holds);
// empty when the picture has no table (16, 24, 32 bits).
std::vector<PALETTEENTRY> PaletteFromDIB(const Dib& dib, uint8_t flags);
// 8-bit pictures only. DIB_PAL_COLORS: `indices` gets the 16-bit index table 0 .. n - 1 (n =
// GetNumColors2). DIB_RGB_COLORS: the palette's first n entries are written into the colour
// table (reserved byte 0). False for another depth (after the box "An unknown bitmapping error
// has occured.") or usage, and when there is no memory for the colours (after the box "We
// couldn't allocate RGB Colors").
bool SetDIBColorUsage(Dib& dib, const std::vector<PALETTEENTRY>& palette, int usage,
                      std::vector<uint16_t>* indices = nullptr);

// Conversions. A picture whose image cannot be allocated gives a null image (as a bad header
// gives no DIB), and DIBBlt then draws nothing and fails.
// The picture as an indexed image (1, 4, 8 bits: Format_Indexed8 with the table as its colour
// table; with `palette` given, its entries replace the table's colours) or as Format_RGB32
// (16, 24, 32 bits).
QImage DIBtoImage(const Dib& dib, const std::vector<PALETTEENTRY>* palette = nullptr);
// The picture in the display's form (Format_RGB32).
QImage DIBtoDDB(const Dib& dib, const std::vector<PALETTEENTRY>* palette = nullptr);
// A 1-bit picture of the DIB's size (Format_Mono, table black/white): light colours (by the
// monochrome luminance rule) are 1.
QImage DIBtoMonoDDB(const Dib& dib);
// A packed DIB of `bits` per pixel from a picture: 1, 4, 8 bits take the colour table of an
// indexed picture (a Format_Mono picture gives black/white); 16 (5-5-5), 24 and 32 bits take
// the colours. nullopt when the picture has no table for an indexed depth, or a bad depth.
std::optional<Dib> DDBtoDIB(const QImage& image, int bits, bool top_down = false);

// Draws the picture into a context at (x, y) with a raster operation; width and height 0 mean
// the picture's own.
bool DIBBlt(GdiDc& dc, const std::vector<PALETTEENTRY>* palette, int x, int y, int width, int height,
            const Dib& dib, int sx, int sy, uint32_t rop);

// A 1-bit picture of `image`'s size whose pixels are 1 where `image` has `colour`, else 0.
QImage CreateMask(const QImage& image, QRgb colour);
// Transparent blit: `image` at (x, y) where it differs from `colour`; the destination is kept
// where it has that colour (masked blit 0xCCAA0029 with the CreateMask mask).
bool ClearBlt(GdiDc& dc, int x, int y, const QImage& image, QRgb colour);
inline constexpr uint32_t kClearBltRop = 0xCCAA0029u;

}  // namespace gdi

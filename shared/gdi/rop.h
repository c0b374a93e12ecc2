// The raster-operation engine: ternary raster operations over a pattern (the brush), a source
// picture and the destination, on 32-bit pixels, and the blits built on it.
//
// A raster-operation code is one byte: bit (P << 2 | S << 1 | D) of the code is the result for
// pattern bit P, source bit S and destination bit D, so every one of the 256 codes is a boolean
// function of the three operands, applied to each of the 24 colour bits of a pixel independently.
// Results always carry alpha 0xFF. The blits take the 32-bit forms of the codes (the code in bits
// 16..23, as the named constants below have it).
//
// Pictures are QImages. A destination is Format_RGB32 (or ARGB32, treated alike). Monochrome
// pictures are either RGB32 images holding only black (bit 0) and white (bit 1) pixels, marked
// monochrome by their owner (a BlitTarget or BlitSource says so), or QImage::Format_Mono /
// Format_MonoLSB images (a bit is 1 where its colour-table entry is light, grey level >= 128).
//
// Monochrome rules:
// - A monochrome source blitted into a colour destination: 0 bits take the destination's text
//   colour, 1 bits its background colour.
// - A colour source blitted into a monochrome destination: pixels equal to the source's
//   background colour become 1 (white), all others 0 (black).
// - A pattern used on a monochrome destination, and every colour drawn into a monochrome picture
//   by the drawing context, is taken by luminance: grey level >= 128 is 1 (white), else 0.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRgb>
#include <cstdint>

namespace gdi {

// The 8-bit codes of the named operations.
namespace code {
inline constexpr uint8_t SRCCOPY = 0xCC;      // S
inline constexpr uint8_t SRCPAINT = 0xEE;     // S | D
inline constexpr uint8_t SRCAND = 0x88;       // S & D
inline constexpr uint8_t SRCINVERT = 0x66;    // S ^ D
inline constexpr uint8_t SRCERASE = 0x44;     // S & ~D
inline constexpr uint8_t NOTSRCCOPY = 0x33;   // ~S
inline constexpr uint8_t NOTSRCERASE = 0x11;  // ~(S | D)
inline constexpr uint8_t MERGECOPY = 0xC0;    // P & S
inline constexpr uint8_t MERGEPAINT = 0xBB;   // ~S | D
inline constexpr uint8_t PATCOPY = 0xF0;      // P
inline constexpr uint8_t PATPAINT = 0xFB;     // P | ~S | D
inline constexpr uint8_t PATINVERT = 0x5A;    // P ^ D
inline constexpr uint8_t DSTINVERT = 0x55;    // ~D
inline constexpr uint8_t BLACKNESS = 0x00;    // 0
inline constexpr uint8_t WHITENESS = 0xFF;    // 1
}  // namespace code

// The 32-bit forms (the code in bits 16..23; the low word is the customary operation encoding).
inline constexpr uint32_t SRCCOPY = 0x00CC0020;
inline constexpr uint32_t SRCPAINT = 0x00EE0086;
inline constexpr uint32_t SRCAND = 0x008800C6;
inline constexpr uint32_t SRCINVERT = 0x00660046;
inline constexpr uint32_t SRCERASE = 0x00440328;
inline constexpr uint32_t NOTSRCCOPY = 0x00330008;
inline constexpr uint32_t NOTSRCERASE = 0x001100A6;
inline constexpr uint32_t MERGECOPY = 0x00C000CA;
inline constexpr uint32_t MERGEPAINT = 0x00BB0226;
inline constexpr uint32_t PATCOPY = 0x00F00021;
inline constexpr uint32_t PATPAINT = 0x00FB0A09;
inline constexpr uint32_t PATINVERT = 0x005A0049;
inline constexpr uint32_t DSTINVERT = 0x00550009;
inline constexpr uint32_t BLACKNESS = 0x00000042;
inline constexpr uint32_t WHITENESS = 0x00FF0062;

// The 8-bit code of a 32-bit form, and a 32-bit form for any code (low word 0).
constexpr uint8_t RopCode(uint32_t rop) { return uint8_t((rop >> 16) & 0xFF); }
constexpr uint32_t RopFromCode(uint8_t c) { return uint32_t(c) << 16; }

// The pair of operations of a masked blit: the foreground code in bits 16..23 and the background
// code in bits 24..31.
constexpr uint32_t MAKEROP4(uint32_t fore, uint32_t back) { return ((back << 8) & 0xFF000000u) | fore; }
constexpr uint8_t ForegroundCode(uint32_t rop4) { return uint8_t((rop4 >> 16) & 0xFF); }
constexpr uint8_t BackgroundCode(uint32_t rop4) { return uint8_t((rop4 >> 24) & 0xFF); }

// Whether a code reads the pattern, the source or the destination.
constexpr bool UsesPattern(uint8_t c) { return ((c >> 4) & 0x0F) != (c & 0x0F); }
constexpr bool UsesSource(uint8_t c) { return ((c >> 2) & 0x33) != (c & 0x33); }
constexpr bool UsesDestination(uint8_t c) { return ((c >> 1) & 0x55) != (c & 0x55); }

// One operation on one pixel: the RGB bits by the code, alpha 0xFF.
uint32_t Rop3(uint8_t c, uint32_t p, uint32_t s, uint32_t d);

// Hatch styles of hatched brushes.
inline constexpr int HS_HORIZONTAL = 0;  // -----
inline constexpr int HS_VERTICAL = 1;    // |||||
inline constexpr int HS_FDIAGONAL = 2;   // \\\\\ (top left to bottom right)
inline constexpr int HS_BDIAGONAL = 3;   // ///// (bottom left to top right)
inline constexpr int HS_CROSS = 4;       // +++++
inline constexpr int HS_DIAGCROSS = 5;   // xxxxx

// Whether pixel (x, y) of a hatch's 8x8 cell is drawn in the brush colour.
bool HatchBit(int hatch, int x, int y);

// An 8x8 pattern (the brush of a blit), repeated from the destination's origin: pixel (x, y) of
// the destination meets entry (y & 7) * 8 + (x & 7).
struct Pattern {
    uint32_t px[64];
    bool solid = true;  // every entry equal

    static Pattern Solid(QRgb colour);
    // The hatch lines in the brush colour over the background colour.
    static Pattern Hatch(int hatch, QRgb colour, QRgb background);
    // Any 8x8 cell (row-major).
    static Pattern Cells(const uint32_t (&cells)[64]);
};

// The destination of a blit, with what the monochrome rules and the pattern read from its
// drawing context.
struct BlitTarget {
    QImage* image = nullptr;
    bool mono = false;                    // an RGB32 picture of black and white only
    QRgb text_colour = 0xFF000000u;       // mono source 0 bits
    QRgb background_colour = 0xFFFFFFFFu; // mono source 1 bits
    Pattern pattern = Pattern::Solid(0xFFFFFFFFu);
};

// The source of a blit.
struct BlitSource {
    const QImage* image = nullptr;
    bool mono = false;                    // RGB32 black-and-white picture (Mono formats always are)
    QRgb background_colour = 0xFFFFFFFFu; // colour -> monochrome: this colour becomes 1
};

// The blits. Rectangles are clipped to the destination and to the source (or mask) picture.
// Source and destination may be the same picture, overlapping. A code that reads the source
// without one given fails (false); so does a missing or empty destination.
bool BitBlt(const BlitTarget& dst, const QRect& rect, const BlitSource* src, QPoint src_pos, uint32_t rop);
bool PatBlt(const BlitTarget& dst, const QRect& rect, uint32_t rop);
// Per pixel, mask bit 1 applies the foreground code of rop4 and 0 the background code. The mask
// is monochrome (an RGB32 mask: grey level >= 128 is 1); the blit's size is the least of the
// rectangle and what the mask holds from mask_pos. Without a mask it is a BitBlt with the
// foreground code.
bool MaskBlt(const BlitTarget& dst, const QRect& rect, const BlitSource* src, QPoint src_pos,
             const QImage* mask, QPoint mask_pos, uint32_t rop4);

// The monochrome value of a colour (luminance rule above): 0xFFFFFFFF or 0xFF000000.
constexpr QRgb MonoOf(QRgb c) {
    return (qRed(c) * 11 + qGreen(c) * 16 + qBlue(c) * 5) / 32 >= 128 ? 0xFFFFFFFFu : 0xFF000000u;
}

}  // namespace gdi

// The drawing layer's blits beside plain loops doing the same work on the same rectangle:
// SRCCOPY beside memcpy of each row, PATINVERT (solid brush) beside a hand XOR with a constant,
// SRCINVERT beside a hand XOR of two pictures, PATINVERT with a hatched brush beside a hand
// XOR with an 8x8 cell, and masked blits (a packed one-bit mask choosing per pixel between two
// operations, as the special-effects test draws them) beside plain loops that read the mask bit
// and apply the same two operations to each pixel.
#include <QImage>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "bench/spread.h"
#include "shared/gdi/rop.h"

namespace {

constexpr int kW = 1024, kH = 768, kBlitsPerRound = 40, kRounds = 15;

QImage Filled(uint32_t seed) {
    QImage img(kW, kH, QImage::Format_RGB32);
    uint32_t v = seed;
    for (int y = 0; y < kH; ++y) {
        auto* line = reinterpret_cast<uint32_t*>(img.scanLine(y));
        for (int x = 0; x < kW; ++x) {
            v = v * 1664525u + 1013904223u;
            line[x] = v | 0xFF000000u;
        }
    }
    return img;
}

// Milliseconds per blit over the rounds.
Spread Time(const std::function<void()>& blit) {
    blit();  // warm
    std::vector<double> ms;
    for (int r = 0; r < kRounds; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < kBlitsPerRound; ++i) blit();
        const auto t1 = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count() / kBlitsPerRound);
    }
    return Of(ms);
}

void Print(const char* what, const Spread& s) {
    std::printf("%-34s min %7.3f  median %7.3f  max %7.3f ms per %dx%d blit\n", what, s.min, s.median, s.max, kW, kH);
}

uint64_t Sum(const QImage& img) {
    uint64_t sum = 0;
    for (int y = 0; y < kH; ++y) {
        const auto* line = reinterpret_cast<const uint32_t*>(img.constScanLine(y));
        for (int x = 0; x < kW; ++x) sum += line[x];
    }
    return sum;
}

// Masked blits of the special-effects test's size (a 512x384 picture through a packed mask of
// the same size) beside plain loops over the same pixels: each reads the pixel's mask bit and
// takes the foreground operation where it is 1 and the background one where it is 0 (a mask byte
// for eight pixels, the choice written as a bit mask without a branch, so that the compiler can
// vectorise the loop). Three
// pairs of the test's tables: a source copy over a hatched pattern, source XOR over source AND
// (solid brush), pattern AND source over an inverted destination (hatched).
constexpr int kMaskW = 512, kMaskH = 384;

QImage MaskPicture() {
    QImage mask(kMaskW, kMaskH, QImage::Format_Mono);
    mask.setColorTable({0xFF000000u, 0xFFFFFFFFu});
    for (int y = 0; y < kMaskH; ++y)
        for (int x = 0; x < kMaskW; ++x) {
            const int cx = x - kMaskW / 2, cy = y - kMaskH / 2;
            const bool disc = cx * cx + cy * cy < 150 * 150;
            mask.setPixel(x, y, (disc != (((x / 37) + (y / 23)) % 2 == 0)) ? 1 : 0);
        }
    return mask;
}

template <class Op>
void PlainMasked(QImage& dst, const QImage& src, const QImage& mask, const gdi::Pattern& pat, Op op) {
    const qsizetype bpl = dst.bytesPerLine(), sbpl = src.bytesPerLine();
    uchar* const dbits = dst.bits();
    const uchar* const sbits = src.constBits();
    for (int y = 0; y < kMaskH; ++y) {
        auto* d = reinterpret_cast<uint32_t*>(dbits + y * bpl);
        const auto* s = reinterpret_cast<const uint32_t*>(sbits + y * sbpl);
        const uchar* m = mask.constScanLine(y);
        const uint32_t* p = pat.px + (y & 7) * 8;
        for (int x8 = 0; x8 < kMaskW; x8 += 8) {
            const uint32_t bits = m[x8 >> 3];
            for (int i = 0; i < 8; ++i) {
                const int x = x8 + i;
                d[x] = op(0u - ((bits >> (7 - i)) & 1), p[i], s[x], d[x]) | 0xFF000000u;
            }
        }
    }
}

void MaskedBlits() {
    const QImage src = Filled(3).copy(0, 0, kMaskW, kMaskH);
    QImage dst = Filled(4).copy(0, 0, kMaskW, kMaskH);
    const QImage mask = MaskPicture();
    const QRect rect(0, 0, kMaskW, kMaskH);
    gdi::BlitTarget t;
    t.image = &dst;
    const gdi::BlitSource s{&src, false, 0xFFFFFFFFu};
    const gdi::Pattern hatched = gdi::Pattern::Hatch(gdi::HS_VERTICAL, 0xFF00FFFFu, 0xFFFFFFFFu);
    const gdi::Pattern solid = gdi::Pattern::Solid(0xFF007FFFu);
    std::printf("Masked blits, %dx%d through a packed mask (ms per blit; engine / plain of the medians)\n", kMaskW,
                kMaskH);
    auto row = [&](const char* what, const gdi::Pattern& pat, uint32_t rop4, auto op) {
        t.pattern = pat;
        const Spread e = Time([&] { gdi::MaskBlt(t, rect, &s, QPoint(0, 0), &mask, QPoint(0, 0), rop4); });
        const Spread p = Time([&] { PlainMasked(dst, src, mask, pat, op); });
        std::printf("  %-28s engine %7.3f / %7.3f / %7.3f   plain %7.3f / %7.3f / %7.3f   ratio %.2f\n", what, e.min,
                    e.median, e.max, p.min, p.median, p.max, e.median / p.median);
    };
    row("SRCCOPY over PATCOPY", hatched, gdi::MAKEROP4(gdi::SRCCOPY, gdi::PATCOPY),
        [](uint32_t m, uint32_t p, uint32_t s, uint32_t) { return (s & m) | (p & ~m); });
    row("SRCINVERT over SRCAND", solid, gdi::MAKEROP4(gdi::SRCINVERT, gdi::SRCAND),
        [](uint32_t m, uint32_t, uint32_t s, uint32_t d) { return ((s ^ d) & m) | (s & d & ~m); });
    row("MERGECOPY over DSTINVERT", hatched, gdi::MAKEROP4(gdi::MERGECOPY, gdi::DSTINVERT),
        [](uint32_t m, uint32_t p, uint32_t s, uint32_t d) { return (p & s & m) | (~d & ~m); });
}

}  // namespace

int main() {
    std::printf("Raster-operation blits (SRCCOPY, PATINVERT solid and hatched, SRCINVERT) beside memcpy and hand "
                "XOR loops over the same %dx%d RGB32 rectangle, %d rounds of %d blits\n",
                kW, kH, kRounds, kBlitsPerRound);
    QImage src = Filled(1), dst = Filled(2);
    const QRect rect(0, 0, kW, kH);
    gdi::BlitTarget t;
    t.image = &dst;
    const gdi::BlitSource s{&src, false, 0xFFFFFFFFu};
    const qsizetype bpl = dst.bytesPerLine();
    uchar* const dbits = dst.bits();
    const uchar* const sbits = src.constBits();

    Print("BitBlt SRCCOPY", Time([&] { gdi::BitBlt(t, rect, &s, QPoint(0, 0), gdi::SRCCOPY); }));
    Print("memcpy per row", Time([&] {
              for (int y = 0; y < kH; ++y) std::memcpy(dbits + y * bpl, sbits + y * bpl, size_t(kW) * 4);
          }));

    const uint32_t colour = 0xFF3366CCu;
    t.pattern = gdi::Pattern::Solid(colour);
    Print("PatBlt PATINVERT (solid)", Time([&] { gdi::PatBlt(t, rect, gdi::PATINVERT); }));
    Print("hand XOR with a constant", Time([&] {
              for (int y = 0; y < kH; ++y) {
                  auto* d = reinterpret_cast<uint32_t*>(dbits + y * bpl);
                  for (int x = 0; x < kW; ++x) d[x] = (d[x] ^ colour) | 0xFF000000u;
              }
          }));

    t.pattern = gdi::Pattern::Hatch(gdi::HS_DIAGCROSS, colour, 0xFFFFFFFFu);
    Print("PatBlt PATINVERT (hatched)", Time([&] { gdi::PatBlt(t, rect, gdi::PATINVERT); }));
    const gdi::Pattern cell = t.pattern;
    Print("hand XOR with an 8x8 cell", Time([&] {
              for (int y = 0; y < kH; ++y) {
                  auto* d = reinterpret_cast<uint32_t*>(dbits + y * bpl);
                  const uint32_t* row = cell.px + (y & 7) * 8;
                  for (int x = 0; x < kW; ++x) d[x] = (d[x] ^ row[x & 7]) | 0xFF000000u;
              }
          }));

    t.pattern = gdi::Pattern::Solid(colour);
    Print("BitBlt SRCINVERT", Time([&] { gdi::BitBlt(t, rect, &s, QPoint(0, 0), gdi::SRCINVERT); }));
    Print("hand XOR of two pictures", Time([&] {
              for (int y = 0; y < kH; ++y) {
                  auto* d = reinterpret_cast<uint32_t*>(dbits + y * bpl);
                  const auto* sr = reinterpret_cast<const uint32_t*>(sbits + y * bpl);
                  for (int x = 0; x < kW; ++x) d[x] = (d[x] ^ sr[x]) | 0xFF000000u;
              }
          }));
    MaskedBlits();
    std::printf("(checksum %llx)\n", static_cast<unsigned long long>(Sum(dst)));
    return 0;
}

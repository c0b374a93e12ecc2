// The drawing layer's blits beside plain loops doing the same work on the same rectangle:
// SRCCOPY beside memcpy of each row, PATINVERT (solid brush) beside a hand XOR with a constant,
// SRCINVERT beside a hand XOR of two pictures, and PATINVERT with a hatched brush beside a hand
// XOR with an 8x8 cell.
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
    std::printf("(checksum %llx)\n", static_cast<unsigned long long>(Sum(dst)));
    return 0;
}

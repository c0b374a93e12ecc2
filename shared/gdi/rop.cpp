#include "shared/gdi/rop.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

namespace gdi {

namespace {

constexpr uint32_t kAlpha = 0xFF000000u;
constexpr uint32_t kWhite = 0xFFFFFFFFu;
constexpr uint32_t kBlack = 0xFF000000u;

// The code as a sum (exclusive or) of products of the operands: bit m of the result is set when
// the product of the operands in m (bit 2 P, bit 1 S, bit 0 D; m = 0 the constant 1) is a term.
// Evaluating this form costs one AND per product and one XOR per term, whatever the code.
constexpr unsigned AlgebraicForm(unsigned c) {
    unsigned a[8] = {};
    for (int i = 0; i < 8; ++i) a[i] = (c >> i) & 1;
    for (int k = 1; k < 8; k <<= 1)
        for (int i = 0; i < 8; ++i)
            if (i & k) a[i] ^= a[i ^ k];
    unsigned form = 0;
    for (int i = 0; i < 8; ++i) form |= a[i] << i;
    return form;
}

template <unsigned A>
inline uint32_t Eval(uint32_t p, uint32_t s, uint32_t d) {
    uint32_t r = 0;
    if constexpr ((A & 0x01) != 0) r ^= ~0u;
    if constexpr ((A & 0x02) != 0) r ^= d;
    if constexpr ((A & 0x04) != 0) r ^= s;
    if constexpr ((A & 0x08) != 0) r ^= s & d;
    if constexpr ((A & 0x10) != 0) r ^= p;
    if constexpr ((A & 0x20) != 0) r ^= p & d;
    if constexpr ((A & 0x40) != 0) r ^= p & s;
    if constexpr ((A & 0x80) != 0) r ^= p & s & d;
    return r | kAlpha;
}

// One row: d[i] = op(p, s[i], d[i]). A solid pattern reads p[0]; a row pattern p[i]. Sources
// and patterns are read only when the code uses them.
using RowFn = void (*)(uint32_t* __restrict d, const uint32_t* __restrict s, const uint32_t* __restrict p, int n);

template <unsigned C, bool Solid>
void Row(uint32_t* __restrict d, const uint32_t* __restrict s, const uint32_t* __restrict p, int n) {
    constexpr unsigned A = AlgebraicForm(C);
    constexpr bool kP = (A & 0xF0) != 0;
    constexpr bool kS = (A & 0xCC) != 0;
    if constexpr (Solid || !kP) {
        const uint32_t pv = kP ? p[0] : 0;
        for (int i = 0; i < n; ++i) d[i] = Eval<A>(pv, kS ? s[i] : 0, d[i]);
    } else {
        for (int i = 0; i < n; ++i) d[i] = Eval<A>(p[i], kS ? s[i] : 0, d[i]);
    }
}

template <unsigned... C>
constexpr std::array<RowFn, 512> MakeTable(std::integer_sequence<unsigned, C...>) {
    std::array<RowFn, 512> t{};
    ((t[C * 2] = &Row<C, false>, t[C * 2 + 1] = &Row<C, true>), ...);
    return t;
}

constexpr std::array<RowFn, 512> kRows = MakeTable(std::make_integer_sequence<unsigned, 256>{});

RowFn RowFor(uint8_t c, bool solid) { return kRows[c * 2 + (solid ? 1 : 0)]; }

// Pixels are converted and patterns laid out in chunks of this many (a multiple of 8, so a
// pattern row's phase is the same in every chunk).
constexpr int kChunk = 256;

bool IsMonoFormat(const QImage& img) {
    return img.format() == QImage::Format_Mono || img.format() == QImage::Format_MonoLSB;
}

// The selection words of the eight pixels of a packed mask byte (all ones for a 1 bit), first
// pixel first: the high bit first in Format_Mono, the low bit first in Format_MonoLSB.
using ByteSelect = std::array<std::array<uint32_t, 8>, 256>;
constexpr ByteSelect MakeByteSelect(bool lsb) {
    ByteSelect t{};
    for (unsigned b = 0; b < 256; ++b)
        for (int k = 0; k < 8; ++k) t[b][size_t(k)] = ((b >> (lsb ? k : 7 - k)) & 1u) != 0 ? ~0u : 0u;
    return t;
}
alignas(64) constexpr ByteSelect kSelectMsb = MakeByteSelect(false);
alignas(64) constexpr ByteSelect kSelectLsb = MakeByteSelect(true);

// The 1 bit of a monochrome source pixel, as white or black.
struct MonoReader {
    const QImage* img;
    bool packed;  // Format_Mono / MonoLSB
    uint32_t one_of_index[2] = {kBlack, kBlack};

    explicit MonoReader(const QImage* i) : img(i), packed(IsMonoFormat(*i)) {
        if (packed) {
            for (int k = 0; k < 2; ++k) {
                const QRgb c = k < img->colorCount() ? img->color(k) : (k ? kWhite : kBlack);
                one_of_index[k] = qGray(c) >= 128 ? kWhite : kBlack;
            }
        }
    }
    // Writes n pixels of row y from x as selection words: all ones for a 1 bit, 0 for a 0 bit.
    // A packed row is read a byte (eight pixels) at a time between its first and last bytes.
    void ReadSelect(int x, int y, int n, uint32_t* __restrict out) const {
        if (!packed) {
            const uint32_t* line = reinterpret_cast<const uint32_t*>(img->constScanLine(y)) + x;
            for (int i = 0; i < n; ++i) out[i] = qGray(line[i]) >= 128 ? ~0u : 0u;
            return;
        }
        const uchar* line = img->constScanLine(y);
        const bool lsb = img->format() == QImage::Format_MonoLSB;
        const uint32_t sel[2] = {one_of_index[0] == kWhite ? ~0u : 0u, one_of_index[1] == kWhite ? ~0u : 0u};
        // Index 1 of the colour table is light in every mask the programs make; a table the other
        // way round inverts the bits.
        const uint32_t flip = sel[1] != 0 ? 0u : ~0u;
        const bool constant = sel[0] == sel[1];
        int i = 0;
        auto bit = [&](int xx) { return lsb ? (line[xx >> 3] >> (xx & 7)) & 1 : (line[xx >> 3] >> (7 - (xx & 7))) & 1; };
        if (constant) {
            for (; i < n; ++i) out[i] = sel[0];
            return;
        }
        for (; i < n && ((x + i) & 7) != 0; ++i) out[i] = (0u - uint32_t(bit(x + i))) ^ flip;
        const ByteSelect& words = lsb ? kSelectLsb : kSelectMsb;
        for (; i + 8 <= n; i += 8) {
            const uint32_t* w = words[line[(x + i) >> 3] ^ (flip & 0xFFu)].data();
            for (int k = 0; k < 8; ++k) out[i + k] = w[k];
        }
        for (; i < n; ++i) out[i] = (0u - uint32_t(bit(x + i))) ^ flip;
    }
    // Writes n pixels of row y from x as black/white.
    void Read(int x, int y, int n, uint32_t* out) const {
        if (packed) {
            const uchar* line = img->constScanLine(y);
            const bool lsb = img->format() == QImage::Format_MonoLSB;
            for (int i = 0; i < n; ++i) {
                const int xx = x + i;
                const int bit = lsb ? (line[xx >> 3] >> (xx & 7)) & 1 : (line[xx >> 3] >> (7 - (xx & 7))) & 1;
                out[i] = one_of_index[bit];
            }
        } else {
            const uint32_t* line = reinterpret_cast<const uint32_t*>(img->constScanLine(y)) + x;
            for (int i = 0; i < n; ++i) out[i] = qGray(line[i]) >= 128 ? kWhite : kBlack;
        }
    }
};

// What a blit reads from its source, row by row, already in the destination's terms.
class SourceRows {
public:
    SourceRows(const BlitTarget& dst, const BlitSource* src) : src_(src) {
        if (src == nullptr || src->image == nullptr) return;
        const bool src_mono = src->mono || IsMonoFormat(*src->image);
        if (src_mono) {
            mode_ = dst.mono ? Mode::MonoToMono : Mode::MonoToColour;
            zero_ = dst.mono ? kBlack : (dst.text_colour | kAlpha);
            one_ = dst.mono ? kWhite : (dst.background_colour | kAlpha);
            reader_.emplace(src->image);
        } else if (dst.mono) {
            mode_ = Mode::ColourToMono;
            key_ = src->background_colour & 0x00FFFFFFu;
        } else {
            mode_ = Mode::Direct;
        }
    }
    // The source pixels for n destination pixels from source (x, y); `scratch` holds kChunk.
    const uint32_t* Get(int x, int y, int n, uint32_t* scratch) const {
        switch (mode_) {
            case Mode::None: return nullptr;
            case Mode::Direct: return reinterpret_cast<const uint32_t*>(src_->image->constScanLine(y)) + x;
            case Mode::ColourToMono: {
                const uint32_t* line = reinterpret_cast<const uint32_t*>(src_->image->constScanLine(y)) + x;
                for (int i = 0; i < n; ++i) scratch[i] = (line[i] & 0x00FFFFFFu) == key_ ? kWhite : kBlack;
                return scratch;
            }
            case Mode::MonoToMono:
            case Mode::MonoToColour:
                reader_->Read(x, y, n, scratch);
                if (mode_ == Mode::MonoToColour)
                    for (int i = 0; i < n; ++i) scratch[i] = scratch[i] == kWhite ? one_ : zero_;
                return scratch;
        }
        return nullptr;
    }

private:
    enum class Mode { None, Direct, ColourToMono, MonoToMono, MonoToColour };
    const BlitSource* src_;
    Mode mode_ = Mode::None;
    uint32_t zero_ = 0, one_ = 0, key_ = 0;
    std::optional<MonoReader> reader_;
};

// The pattern laid out along the rows of a blit starting at destination column x0: row (y & 7)
// holds kChunk pixels from x0's phase.
class PatternRows {
public:
    PatternRows(const BlitTarget& dst, int x0, int w, bool needed) {
        const Pattern& pat = dst.pattern;
        solid_ = pat.solid || !needed;
        if (solid_) {
            solid_value_ = dst.mono ? MonoOf(pat.px[0]) : (pat.px[0] | kAlpha);
            return;
        }
        width_ = std::min(w, kChunk);
        rows_.resize(size_t(8) * size_t(width_));
        for (int r = 0; r < 8; ++r)
            for (int i = 0; i < width_; ++i) {
                const uint32_t c = pat.px[r * 8 + ((x0 + i) & 7)];
                rows_[size_t(r) * size_t(width_) + size_t(i)] = dst.mono ? MonoOf(c) : (c | kAlpha);
            }
    }
    bool Solid() const { return solid_; }
    const uint32_t* Row(int y) const { return solid_ ? &solid_value_ : rows_.data() + size_t(y & 7) * size_t(width_); }

private:
    bool solid_ = true;
    uint32_t solid_value_ = 0;
    int width_ = 0;
    std::vector<uint32_t> rows_;
};

// Clips the destination rectangle to the destination, the source and the mask, moving the source
// and mask origins along.
bool Clip(const QImage& dst, QRect& r, const QImage* src, QPoint& sp, const QImage* mask, QPoint& mp) {
    r = r.normalized();
    auto cut = [&](int dl, int dt) {
        r.setLeft(r.left() + dl);
        r.setTop(r.top() + dt);
        sp += QPoint(dl, dt);
        mp += QPoint(dl, dt);
    };
    // Destination.
    cut(std::max(0, -r.left()), std::max(0, -r.top()));
    r &= dst.rect();
    auto against = [&](const QImage* img, QPoint& origin) {
        if (img == nullptr) return;
        const int dl = std::max(0, -origin.x()), dt = std::max(0, -origin.y());
        cut(dl, dt);
        r.setWidth(std::min(r.width(), img->width() - origin.x()));
        r.setHeight(std::min(r.height(), img->height() - origin.y()));
    };
    against(src, sp);
    against(mask, mp);
    return r.width() > 0 && r.height() > 0;
}

bool Run(const BlitTarget& dst, const QRect& rect, const BlitSource* src, QPoint sp, const QImage* mask, QPoint mp,
         uint8_t fore, uint8_t back) {
    if (dst.image == nullptr || dst.image->isNull()) return false;
    const bool has_mask = mask != nullptr && !mask->isNull();
    const bool masked = has_mask && fore != back;
    const bool needs_source = UsesSource(fore) || (masked && UsesSource(back));
    const bool has_source = src != nullptr && src->image != nullptr && !src->image->isNull();
    if (needs_source && !has_source) return false;
    const bool needs_pattern = UsesPattern(fore) || (masked && UsesPattern(back));
    QImage& img = *dst.image;
    if (img.depth() != 32) return false;

    QRect r = rect;
    const QImage* src_img = needs_source ? src->image : nullptr;
    if (!Clip(img, r, src_img, sp, has_mask ? mask : nullptr, mp)) return true;

    // A source that is the destination itself and overlaps it is read from a copy.
    BlitSource copy_src;
    QImage copy;
    if (src_img != nullptr && src_img->constBits() == img.constBits() &&
        QRect(sp, r.size()).intersects(r)) {
        copy = src_img->copy(QRect(sp, r.size()));
        copy_src = *src;
        copy_src.image = &copy;
        src = &copy_src;
        sp = QPoint(0, 0);
    }
    uchar* bits = img.bits();  // detaches once, before any row is written
    const qsizetype bpl = img.bytesPerLine();

    const SourceRows sources(dst, needs_source ? src : nullptr);
    const PatternRows patterns(dst, r.left(), r.width(), needs_pattern);
    const RowFn fore_fn = RowFor(fore, patterns.Solid());
    const RowFn back_fn = masked ? RowFor(back, patterns.Solid()) : nullptr;
    std::optional<MonoReader> mask_reader;
    if (masked) mask_reader.emplace(mask);

    alignas(64) uint32_t sbuf[kChunk];
    alignas(64) uint32_t fbuf[kChunk];
    alignas(64) uint32_t mbuf[kChunk];
    for (int y = 0; y < r.height(); ++y) {
        uint32_t* drow = reinterpret_cast<uint32_t*>(bits + (r.top() + y) * bpl) + r.left();
        const uint32_t* prow = patterns.Row(r.top() + y);
        for (int x = 0; x < r.width(); x += kChunk) {
            const int n = std::min(kChunk, r.width() - x);
            const uint32_t* srow = needs_source ? sources.Get(sp.x() + x, sp.y() + y, n, sbuf) : nullptr;
            uint32_t* d = drow + x;
            if (!masked) {
                fore_fn(d, srow, prow, n);
                continue;
            }
            // Both operations on copies of the destination, then the mask picks per pixel.
            std::memcpy(fbuf, d, size_t(n) * 4);
            fore_fn(fbuf, srow, prow, n);
            mask_reader->ReadSelect(mp.x() + x, mp.y() + y, n, mbuf);
            back_fn(d, srow, prow, n);
            for (int i = 0; i < n; ++i) d[i] = (fbuf[i] & mbuf[i]) | (d[i] & ~mbuf[i]);
        }
    }
    return true;
}

}  // namespace

uint32_t Rop3(uint8_t c, uint32_t p, uint32_t s, uint32_t d) {
    RowFor(c, true)(&d, &s, &p, 1);
    return d;
}

bool HatchBit(int hatch, int x, int y) {
    x &= 7;
    y &= 7;
    switch (hatch) {
        case HS_HORIZONTAL: return y == 3;
        case HS_VERTICAL: return x == 3;
        case HS_FDIAGONAL: return x == y;
        case HS_BDIAGONAL: return x + y == 7;
        case HS_CROSS: return x == 3 || y == 3;
        case HS_DIAGCROSS: return x == y || x + y == 7;
        default: return false;
    }
}

Pattern Pattern::Solid(QRgb colour) {
    Pattern p;
    std::fill(std::begin(p.px), std::end(p.px), colour | kAlpha);
    p.solid = true;
    return p;
}

Pattern Pattern::Hatch(int hatch, QRgb colour, QRgb background) {
    Pattern p;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) p.px[y * 8 + x] = (HatchBit(hatch, x, y) ? colour : background) | kAlpha;
    p.solid = false;
    return p;
}

Pattern Pattern::Cells(const uint32_t (&cells)[64]) {
    Pattern p;
    for (int i = 0; i < 64; ++i) p.px[i] = cells[i] | kAlpha;
    p.solid = std::all_of(std::begin(p.px), std::end(p.px), [&](uint32_t v) { return v == p.px[0]; });
    return p;
}

bool BitBlt(const BlitTarget& dst, const QRect& rect, const BlitSource* src, QPoint src_pos, uint32_t rop) {
    return Run(dst, rect, src, src_pos, nullptr, QPoint(), RopCode(rop), RopCode(rop));
}

bool PatBlt(const BlitTarget& dst, const QRect& rect, uint32_t rop) {
    if (UsesSource(RopCode(rop))) return false;
    return Run(dst, rect, nullptr, QPoint(), nullptr, QPoint(), RopCode(rop), RopCode(rop));
}

bool MaskBlt(const BlitTarget& dst, const QRect& rect, const BlitSource* src, QPoint src_pos, const QImage* mask,
             QPoint mask_pos, uint32_t rop4) {
    return Run(dst, rect, src, src_pos, mask, mask_pos, ForegroundCode(rop4), BackgroundCode(rop4));
}

}  // namespace gdi

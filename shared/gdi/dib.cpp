#include "shared/gdi/dib.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>

#include "platform/msgbox.h"
#include "shared/gdi/dc.h"
#include "shared/gdi/rop.h"

namespace gdi {
namespace {

// The DIB routines are the video test program's: their boxes carry its captions.
constexpr const char* kDibCaption = "VideoKestrel 1.21 Exception";
constexpr const char* kDibMemoryCaption = "VideoKestrel 1.21 Memory Exception";

uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
void Put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void WriteInfoHeader(uint8_t* p, const BITMAPINFOHEADER& h) {
    Put32(p + 0, h.biSize);
    Put32(p + 4, uint32_t(h.biWidth));
    Put32(p + 8, uint32_t(h.biHeight));
    Put16(p + 12, h.biPlanes);
    Put16(p + 14, h.biBitCount);
    Put32(p + 16, h.biCompression);
    Put32(p + 20, h.biSizeImage);
    Put32(p + 24, uint32_t(h.biXPelsPerMeter));
    Put32(p + 28, uint32_t(h.biYPelsPerMeter));
    Put32(p + 32, h.biClrUsed);
    Put32(p + 36, h.biClrImportant);
}

bool ValidDepth(int bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32; }

uint64_t AbsHeight(const BITMAPINFOHEADER& h) {
    return h.biHeight < 0 ? uint64_t(-int64_t(h.biHeight)) : uint64_t(h.biHeight);
}

// A channel value scaled to 8 bits.
int Channel(uint32_t v, uint32_t mask) {
    if (mask == 0) return 0;
    const int shift = std::countr_zero(mask);
    const uint32_t m = mask >> shift;
    const uint32_t c = (v & mask) >> shift;
    return int((uint64_t(c) * 255u + m / 2) / m);
}

uint32_t Unscale(int c8, uint32_t mask) {
    if (mask == 0) return 0;
    const int shift = std::countr_zero(mask);
    const uint32_t m = mask >> shift;
    return (uint32_t((uint64_t(c8) * m + 127u) / 255u) << shift) & mask;
}

}  // namespace

uint32_t GetNumColors(const BITMAPINFOHEADER& h) {
    if (h.biClrUsed != 0) return h.biClrUsed;
    switch (h.biBitCount) {
        case 1: return 2;
        case 4: return 16;
        case 8: return 256;
        case 16:
        case 24: return 0x10000;
        default: return 0;
    }
}

uint32_t GetNumColors2(const BITMAPINFOHEADER& h) {
    if (h.biClrUsed != 0) return h.biClrUsed;
    switch (h.biBitCount) {
        case 1: return 2;
        case 4: return 16;
        case 8: return 256;
        default: return 0;
    }
}

uint64_t GetClrTableSize(const BITMAPINFOHEADER& h) {
    const uint64_t masks = h.biCompression == BI_BITFIELDS && h.biSize == kInfoHeaderSize ? 12 : 0;
    return masks + 4ull * GetNumColors2(h);
}

uint64_t GetDIBRowSize(const BITMAPINFOHEADER& h) {
    const uint64_t width = h.biWidth < 0 ? 0 : uint64_t(h.biWidth);
    return (uint64_t(h.biBitCount) * width + 31) / 32 * 4;
}

uint64_t GetDIBImageSize(const BITMAPINFOHEADER& h) { return GetDIBRowSize(h) * AbsHeight(h); }

uint64_t GetDIBSize(const BITMAPINFOHEADER& h) {
    const uint64_t image = h.biCompression == BI_RGB || h.biSizeImage == 0 ? GetDIBImageSize(h) : h.biSizeImage;
    return uint64_t(h.biSize) + GetClrTableSize(h) + image;
}

std::optional<BITMAPINFOHEADER> ReadInfoHeader(std::span<const uint8_t> bytes) {
    if (bytes.size() < kInfoHeaderSize) return std::nullopt;
    const uint8_t* p = bytes.data();
    BITMAPINFOHEADER h;
    h.biSize = Le32(p + 0);
    h.biWidth = int32_t(Le32(p + 4));
    h.biHeight = int32_t(Le32(p + 8));
    h.biPlanes = Le16(p + 12);
    h.biBitCount = Le16(p + 14);
    h.biCompression = Le32(p + 16);
    h.biSizeImage = Le32(p + 20);
    h.biXPelsPerMeter = int32_t(Le32(p + 24));
    h.biYPelsPerMeter = int32_t(Le32(p + 28));
    h.biClrUsed = Le32(p + 32);
    h.biClrImportant = Le32(p + 36);
    return h;
}

std::string CheckHeader(const BITMAPINFOHEADER& h, uint64_t length) {
    if (h.biSize < kInfoHeaderSize) return "header shorter than 40 bytes";
    if (h.biSize > length) return "header longer than the bitmap";
    if (!ValidDepth(h.biBitCount)) return "unsupported bit count";
    if (h.biCompression != BI_RGB &&
        !(h.biCompression == BI_BITFIELDS && (h.biBitCount == 16 || h.biBitCount == 32))) {
        return "unsupported compression";
    }
    if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == std::numeric_limits<int32_t>::min()) {
        return "empty or invalid size";
    }
    const uint64_t max_colours = h.biBitCount <= 8 ? (1ull << h.biBitCount) : 256;
    if (h.biClrUsed > max_colours) return "colour table too long";
    if (h.biCompression == BI_BITFIELDS && h.biSize > kInfoHeaderSize && h.biSize < kInfoHeaderSize + 12) {
        return "header too short for its masks";
    }
    const uint64_t before_bits = uint64_t(h.biSize) + GetClrTableSize(h);
    if (before_bits > length) return "colour table beyond the bitmap";
    const uint64_t row = GetDIBRowSize(h);
    if (row == 0 || AbsHeight(h) > (length - before_bits) / row) return "pixel rows beyond the bitmap";
    if (h.biCompression != BI_RGB && h.biSizeImage != 0) {
        if (h.biSizeImage < GetDIBImageSize(h)) return "image size smaller than its rows";
        if (h.biSizeImage > length - before_bits) return "image size beyond the bitmap";
    }
    return {};
}

std::optional<Dib> Dib::FromPacked(std::span<const uint8_t> bytes, std::string* error) {
    const std::optional<BITMAPINFOHEADER> h = ReadInfoHeader(bytes);
    std::string why = h ? CheckHeader(*h, bytes.size()) : std::string("shorter than a header");
    if (!why.empty()) {
        if (error != nullptr) *error = why;
        return std::nullopt;
    }
    Dib dib;
    dib.header_ = *h;
    const uint64_t size = GetDIBSize(*h);
    dib.bytes_.assign(bytes.begin(), bytes.begin() + ptrdiff_t(size));
    dib.bits_offset_ = size_t(h->biSize + GetClrTableSize(*h));
    return dib;
}

std::optional<Dib> Dib::FromBmpFile(std::span<const uint8_t> bytes, std::string* error) {
    auto fail = [&](const char* why) -> std::optional<Dib> {
        if (error != nullptr) *error = why;
        return std::nullopt;
    };
    if (bytes.size() < kBmpFileHeaderSize || bytes[0] != 'B' || bytes[1] != 'M') return fail("not a BMP file");
    std::optional<Dib> dib = FromPacked(bytes.subspan(kBmpFileHeaderSize), error);
    if (!dib) return dib;
    if (Le32(bytes.data() + 10) != kBmpFileHeaderSize + dib->bits_offset_) {
        return fail("the pixel offset does not follow the colour table");
    }
    return dib;
}

std::optional<Dib> Dib::Make(int width, int height, int bits, bool top_down, const std::vector<RGBQUAD>& table,
                             std::optional<Masks> masks) {
    if (width <= 0 || height <= 0 || !ValidDepth(bits)) return std::nullopt;
    if (bits <= 8 && (table.empty() || table.size() > (size_t(1) << bits))) return std::nullopt;
    if (bits > 8 && !table.empty()) return std::nullopt;
    if (masks && bits != 16 && bits != 32) return std::nullopt;
    Dib dib;
    BITMAPINFOHEADER& h = dib.header_;
    h.biWidth = width;
    h.biHeight = top_down ? -height : height;
    h.biBitCount = uint16_t(bits);
    h.biCompression = masks ? BI_BITFIELDS : BI_RGB;
    h.biSizeImage = uint32_t(GetDIBImageSize(h));
    h.biXPelsPerMeter = h.biYPelsPerMeter = 2835;
    h.biClrUsed = bits <= 8 && table.size() < (size_t(1) << bits) ? uint32_t(table.size()) : 0;
    dib.bits_offset_ = size_t(h.biSize + GetClrTableSize(h));
    dib.bytes_.assign(size_t(GetDIBSize(h)), 0);
    WriteInfoHeader(dib.bytes_.data(), h);
    uint8_t* p = dib.bytes_.data() + h.biSize;
    if (masks) {
        Put32(p, masks->red);
        Put32(p + 4, masks->green);
        Put32(p + 8, masks->blue);
    }
    for (size_t i = 0; i < table.size(); ++i) dib.SetColorTableEntry(int(i), table[i]);
    return dib;
}

std::vector<RGBQUAD> Dib::ColorTable() const {
    std::vector<RGBQUAD> table(GetNumColors2(header_));
    const uint8_t* p = bytes_.data() + bits_offset_ - 4 * table.size();
    for (size_t i = 0; i < table.size(); ++i) table[i] = {p[4 * i], p[4 * i + 1], p[4 * i + 2], p[4 * i + 3]};
    return table;
}

void Dib::SetColorTableEntry(int i, RGBQUAD c) {
    const uint32_t n = GetNumColors2(header_);
    if (i < 0 || uint32_t(i) >= n) return;
    uint8_t* p = bytes_.data() + bits_offset_ - 4 * size_t(n) + 4 * size_t(i);
    p[0] = c.rgbBlue;
    p[1] = c.rgbGreen;
    p[2] = c.rgbRed;
    p[3] = c.rgbReserved;
}

Dib::Masks Dib::ChannelMasks() const {
    if (header_.biCompression == BI_BITFIELDS) {
        const uint8_t* p = bytes_.data() + kInfoHeaderSize;
        return {Le32(p), Le32(p + 4), Le32(p + 8)};
    }
    if (header_.biBitCount == 16) return {0x7C00, 0x03E0, 0x001F};
    return {0xFF0000, 0x00FF00, 0x0000FF};
}

const uint8_t* Dib::Row(int y) const {
    const int row = TopDown() ? y : Height() - 1 - y;
    return GetDIBImagePtr() + size_t(row) * size_t(Stride());
}

uint8_t* Dib::Row(int y) { return const_cast<uint8_t*>(std::as_const(*this).Row(y)); }

uint32_t Dib::RawPixel(int x, int y) const {
    const uint8_t* r = Row(y);
    switch (header_.biBitCount) {
        case 1: return (r[x >> 3] >> (7 - (x & 7))) & 1u;
        case 4: return (x & 1) != 0 ? r[x >> 1] & 0x0Fu : r[x >> 1] >> 4;
        case 8: return r[x];
        case 16: return Le16(r + 2 * x);
        case 24: return uint32_t(r[3 * x]) | uint32_t(r[3 * x + 1]) << 8 | uint32_t(r[3 * x + 2]) << 16;
        default: return Le32(r + 4 * x);
    }
}

void Dib::SetRawPixel(int x, int y, uint32_t v) {
    uint8_t* r = Row(y);
    switch (header_.biBitCount) {
        case 1: {
            const uint8_t bit = uint8_t(0x80u >> (x & 7));
            r[x >> 3] = uint8_t((v & 1u) != 0 ? r[x >> 3] | bit : r[x >> 3] & ~bit);
            break;
        }
        case 4:
            r[x >> 1] = (x & 1) != 0 ? uint8_t((r[x >> 1] & 0xF0) | (v & 0x0F)) : uint8_t((r[x >> 1] & 0x0F) | (v & 0x0F) << 4);
            break;
        case 8: r[x] = uint8_t(v); break;
        case 16: Put16(r + 2 * x, uint16_t(v)); break;
        case 24:
            r[3 * x] = uint8_t(v);
            r[3 * x + 1] = uint8_t(v >> 8);
            r[3 * x + 2] = uint8_t(v >> 16);
            break;
        default: Put32(r + 4 * x, v); break;
    }
}

QRgb Dib::Pixel(int x, int y) const {
    const uint32_t v = RawPixel(x, y);
    if (header_.biBitCount <= 8) {
        const uint32_t n = GetNumColors2(header_);
        if (v >= n) return qRgb(0, 0, 0);
        const uint8_t* p = bytes_.data() + bits_offset_ - 4 * size_t(n) + 4 * size_t(v);
        return qRgb(p[2], p[1], p[0]);
    }
    if (header_.biBitCount == 24) return qRgb(int(v >> 16) & 0xFF, int(v >> 8) & 0xFF, int(v) & 0xFF);
    const Masks m = ChannelMasks();
    return qRgb(Channel(v, m.red), Channel(v, m.green), Channel(v, m.blue));
}

std::vector<uint8_t> Dib::ToBmpFile() const {
    std::vector<uint8_t> file(kBmpFileHeaderSize + bytes_.size());
    file[0] = 'B';
    file[1] = 'M';
    Put32(file.data() + 2, uint32_t(file.size()));
    Put32(file.data() + 10, uint32_t(kBmpFileHeaderSize + bits_offset_));
    std::memcpy(file.data() + kBmpFileHeaderSize, bytes_.data(), bytes_.size());
    return file;
}

std::vector<PALETTEENTRY> CopyColorTable(const Dib& dib, uint8_t flags) {
    std::vector<PALETTEENTRY> out;
    for (const RGBQUAD& q : dib.ColorTable()) out.push_back({q.rgbRed, q.rgbGreen, q.rgbBlue, flags});
    return out;
}

std::vector<PALETTEENTRY> PaletteFromDIB(const Dib& dib, uint8_t flags) { return CopyColorTable(dib, flags); }

bool SetDIBColorUsage(Dib& dib, const std::vector<PALETTEENTRY>& palette, int usage, std::vector<uint16_t>* indices) {
    if (dib.BitCount() != 8) {
        kp::MessageBox(kp::Owner::Main, "An unknown bitmapping error has occured.", kDibCaption, kp::Icon::Stop);
        return false;
    }
    const uint32_t n = GetNumColors2(dib.header());
    if (usage == DIB_PAL_COLORS) {
        if (indices != nullptr) {
            indices->resize(n);
            for (uint32_t i = 0; i < n; ++i) (*indices)[i] = uint16_t(i);
        }
        return true;
    }
    if (usage != DIB_RGB_COLORS) return false;
    // The palette's colours are taken in a copy first: without memory for it the table stays.
    std::vector<RGBQUAD> colours;
    try {
        colours.reserve(std::min<size_t>(n, palette.size()));
    } catch (const std::bad_alloc&) {
        kp::MessageBox(kp::Owner::Main, "We couldn't allocate RGB Colors", kDibMemoryCaption, kp::Icon::Stop);
        return false;
    }
    for (uint32_t i = 0; i < n && i < palette.size(); ++i) {
        colours.push_back({palette[i].peBlue, palette[i].peGreen, palette[i].peRed, 0});
    }
    for (size_t i = 0; i < colours.size(); ++i) dib.SetColorTableEntry(int(i), colours[i]);
    return true;
}

QImage DIBtoImage(const Dib& dib, const std::vector<PALETTEENTRY>* palette) {
    const int w = dib.Width();
    const int h = dib.Height();
    if (dib.BitCount() <= 8) {
        QImage image(w, h, QImage::Format_Indexed8);
        if (image.isNull()) return QImage();  // no memory for it
        QList<QRgb> table(1 << dib.BitCount(), qRgb(0, 0, 0));
        const std::vector<RGBQUAD> own = dib.ColorTable();
        for (size_t i = 0; i < own.size() && i < size_t(table.size()); ++i) {
            table[qsizetype(i)] = qRgb(own[i].rgbRed, own[i].rgbGreen, own[i].rgbBlue);
        }
        if (palette != nullptr) {
            for (size_t i = 0; i < palette->size() && i < size_t(table.size()); ++i) {
                const PALETTEENTRY& e = (*palette)[i];
                table[qsizetype(i)] = qRgb(e.peRed, e.peGreen, e.peBlue);
            }
        }
        image.setColorTable(table);
        for (int y = 0; y < h; ++y) {
            uchar* line = image.scanLine(y);
            if (dib.BitCount() == 8) {
                const int row = dib.TopDown() ? y : h - 1 - y;
                std::memcpy(line, dib.GetDIBImagePtr() + size_t(row) * size_t(dib.Stride()), size_t(w));
            } else {
                for (int x = 0; x < w; ++x) line[x] = uchar(dib.RawPixel(x, y));
            }
        }
        return image;
    }
    QImage image(w, h, QImage::Format_RGB32);
    if (image.isNull()) return QImage();
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) line[x] = dib.Pixel(x, y);
    }
    return image;
}

QImage DIBtoDDB(const Dib& dib, const std::vector<PALETTEENTRY>* palette) {
    QImage image = DIBtoImage(dib, palette);
    if (image.isNull()) return image;
    return image.format() == QImage::Format_RGB32 ? image : image.convertToFormat(QImage::Format_RGB32);
}

QImage DIBtoMonoDDB(const Dib& dib) {
    QImage mono(dib.Width(), dib.Height(), QImage::Format_Mono);
    if (mono.isNull()) return QImage();
    mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int y = 0; y < dib.Height(); ++y) {
        for (int x = 0; x < dib.Width(); ++x) mono.setPixel(x, y, MonoOf(dib.Pixel(x, y)) == 0xFFFFFFFFu ? 1 : 0);
    }
    return mono;
}

std::optional<Dib> DDBtoDIB(const QImage& image, int bits, bool top_down) {
    if (image.isNull() || !ValidDepth(bits)) return std::nullopt;
    std::optional<Dib> dib;
    if (bits <= 8) {
        const QList<QRgb> colours = image.colorTable();
        if (colours.isEmpty() || colours.size() > (1 << bits)) return std::nullopt;
        std::vector<RGBQUAD> table;
        for (QRgb c : colours) table.push_back({uint8_t(qBlue(c)), uint8_t(qGreen(c)), uint8_t(qRed(c)), 0});
        dib = Dib::Make(image.width(), image.height(), bits, top_down, table);
        if (!dib) return dib;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) dib->SetRawPixel(x, y, uint32_t(image.pixelIndex(x, y)));
        }
        return dib;
    }
    dib = Dib::Make(image.width(), image.height(), bits, top_down);
    if (!dib) return dib;
    const Dib::Masks m = dib->ChannelMasks();
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb c = line[x];
            uint32_t v = 0;
            if (bits == 24) {
                v = uint32_t(qRed(c)) << 16 | uint32_t(qGreen(c)) << 8 | uint32_t(qBlue(c));
            } else {
                v = Unscale(qRed(c), m.red) | Unscale(qGreen(c), m.green) | Unscale(qBlue(c), m.blue);
            }
            dib->SetRawPixel(x, y, v);
        }
    }
    return dib;
}

bool DIBBlt(GdiDc& dc, const std::vector<PALETTEENTRY>* palette, int x, int y, int width, int height, const Dib& dib,
            int sx, int sy, uint32_t rop) {
    const QImage ddb = DIBtoDDB(dib, palette);
    if (ddb.isNull()) return false;
    return dc.BitBlt(x, y, width != 0 ? width : dib.Width(), height != 0 ? height : dib.Height(), ddb, sx, sy, rop);
}

QImage CreateMask(const QImage& image, QRgb colour) {
    QImage mask(image.size(), QImage::Format_Mono);
    mask.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    mask.fill(0);
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            if ((line[x] & 0xFFFFFFu) == (colour & 0xFFFFFFu)) mask.setPixel(x, y, 1);
        }
    }
    return mask;
}

bool ClearBlt(GdiDc& dc, int x, int y, const QImage& image, QRgb colour) {
    const QImage mask = CreateMask(image, colour);
    return dc.MaskBlt(x, y, image.width(), image.height(), image, 0, 0, mask, 0, 0, kClearBltRop);
}

}  // namespace gdi

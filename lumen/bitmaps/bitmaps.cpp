#include "lumen/bitmaps/bitmaps.h"

namespace lumen {

std::span<const unsigned char> FindBitmapResource(std::string_view name) {
    for (int i = 0; i < kBitmapResourceCount; ++i) {
        if (name == kBitmapResources[i].name) return {kBitmapResources[i].data, kBitmapResources[i].size};
    }
    return {};
}

std::optional<gdi::Dib> LoadDIBResource(std::string_view name) {
    const std::span<const unsigned char> file = FindBitmapResource(name);
    if (file.empty()) return std::nullopt;
    return gdi::Dib::FromBmpFile(file);
}

std::optional<gdi::Dib> LoadDIBResource2(Window*, std::string_view name) { return LoadDIBResource(name); }

QImage LoadBitmapResource(std::string_view name) {
    const std::optional<gdi::Dib> dib = LoadDIBResource(name);
    return dib ? gdi::DIBtoDDB(*dib) : QImage();
}

}  // namespace lumen

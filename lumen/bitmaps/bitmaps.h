// The program's bitmap resources: BMP files made at build time (make_bitmaps.cpp) and embedded
// in the program, looked up by name. A resource is loaded as a packed DIB (the file header
// stripped, copied into a block of its own of the computed size) or as a picture in the
// display's form.
#pragma once

#include <QImage>

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "shared/gdi/dib.h"

namespace lumen {

class Window;

struct BitmapResource {
    const char* name;
    const unsigned char* data;  // the BMP file
    size_t size;
};
extern const BitmapResource kBitmapResources[];
extern const int kBitmapResourceCount;

// The BMP file of a resource (names are exact), or an empty span.
std::span<const unsigned char> FindBitmapResource(std::string_view name);
// The resource as a packed DIB; nullopt when it is missing (or fails the DIB checks).
std::optional<gdi::Dib> LoadDIBResource(std::string_view name);
// The same through a window (the resources are the program's, whichever window asks).
std::optional<gdi::Dib> LoadDIBResource2(Window* window, std::string_view name);
// The resource as a picture in the display's form (Format_RGB32); a null image when missing.
QImage LoadBitmapResource(std::string_view name);

}  // namespace lumen

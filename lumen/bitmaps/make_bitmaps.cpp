// Build-time generator of the video tests' bitmap resources: plain synthetic pictures (gradients,
// tiles, rivets, arches, a chip, a garden, the Mandelbrot set) of the names, sizes and depths the
// tests draw, written as BMP files into <out-dir> and embedded, file by file, into
// <out-dir>/bitmap_data.cpp for the program's resource table (lumen/bitmaps/bitmaps.h).
//
//   make_bitmaps <out-dir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "shared/gdi/dib.h"

namespace {

using gdi::Dib;
using gdi::RGBQUAD;

struct Rgb {
    int r = 0, g = 0, b = 0;
};

int Clamp8(double v) { return v < 0.0 ? 0 : v > 255.0 ? 255 : int(v); }
Rgb Mix(Rgb a, Rgb b, double t) {
    return {Clamp8(a.r + (b.r - a.r) * t), Clamp8(a.g + (b.g - a.g) * t), Clamp8(a.b + (b.b - a.b) * t)};
}

// A picture: the colour at (u, v) in [0, 1) x [0, 1) (v = 0 at the top).
using Picture = std::function<Rgb(double u, double v, int w, int h)>;
// An indexed picture: the palette entry at (u, v).
using IndexPicture = std::function<int(double u, double v, int w, int h)>;

// The garden: a sky gradient with a sun, rolling hills, rows of flowers.
Rgb Garden(double u, double v, int, int) {
    const double hill = 0.55 + 0.08 * std::sin(u * 9.0) + 0.04 * std::sin(u * 23.0 + 1.0);
    if (v < hill) {
        const double du = u - 0.78, dv = v - 0.2;
        if (du * du + dv * dv < 0.006) return {255, 220, 60};
        return Mix({70, 120, 220}, {200, 225, 250}, v / hill);
    }
    const double t = (v - hill) / (1.0 - hill);
    const int row = int(t * 6.0);
    const double phase = std::fmod(u * 24.0 + row * 0.5, 1.0);
    if (phase < 0.3 && std::fmod(t * 6.0, 1.0) < 0.35) {
        static const Rgb kFlowers[] = {{220, 40, 60}, {250, 200, 40}, {180, 60, 200}, {250, 250, 250}};
        return kFlowers[row % 4];
    }
    return Mix({60, 160, 50}, {20, 80, 20}, t);
}

int Mandel(double cr, double ci, int limit) {
    double zr = cr, zi = ci;
    for (int k = 1; k <= limit; ++k) {
        const double r2 = zr * zr, i2 = zi * zi;
        if (r2 + i2 > 4.0) return k;
        zi = 2.0 * zr * zi + ci;
        zr = r2 - i2 + cr;
    }
    return limit + 1;
}

// Palettes of 256 entries.
std::vector<RGBQUAD> Palette(const std::function<Rgb(int)>& f, int n = 256) {
    std::vector<RGBQUAD> p;
    for (int i = 0; i < n; ++i) {
        const Rgb c = f(i);
        p.push_back({uint8_t(c.b), uint8_t(c.g), uint8_t(c.r), 0});
    }
    return p;
}
Rgb Rainbow(int i) {
    const double t = i / 255.0 * 6.283185307179586;
    return {Clamp8(128 + 127 * std::sin(t)), Clamp8(128 + 127 * std::sin(t + 2.094)), Clamp8(128 + 127 * std::sin(t + 4.189))};
}
// 3-3-2 colour cube.
Rgb Cube(int i) { return {(i >> 5) * 255 / 7, ((i >> 2) & 7) * 255 / 7, (i & 3) * 255 / 3}; }
int CubeIndex(Rgb c) { return (c.r * 7 + 127) / 255 << 5 | (c.g * 7 + 127) / 255 << 2 | (c.b * 3 + 127) / 255; }

// The 16 colours of the 4-bit pictures.
const Rgb k16[16] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0}, {0, 0, 128},   {128, 0, 128},
                     {0, 128, 128},   {192, 192, 192}, {128, 128, 128}, {255, 0, 0}, {0, 255, 0}, {255, 255, 0},
                     {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

struct Resource {
    std::string name;
    Dib dib;
};

Dib Indexed(int w, int h, int bits, const std::vector<RGBQUAD>& table, const IndexPicture& f) {
    Dib d = *Dib::Make(w, h, bits, false, table);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) d.SetRawPixel(x, y, uint32_t(f((x + 0.5) / w, (y + 0.5) / h, w, h)));
    }
    return d;
}

Dib TrueColour(int w, int h, const Picture& f) {
    Dib d = *Dib::Make(w, h, 24, false);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const Rgb c = f((x + 0.5) / w, (y + 0.5) / h, w, h);
            d.SetRawPixel(x, y, uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | uint32_t(c.b));
        }
    }
    return d;
}

Dib Mask(int w, int h, const std::function<bool(double, double)>& f) {
    Dib d = *Dib::Make(w, h, 1, false, {{0, 0, 0, 0}, {255, 255, 255, 0}});
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) d.SetRawPixel(x, y, f((x + 0.5) / w, (y + 0.5) / h) ? 1u : 0u);
    }
    return d;
}

// ---- the pictures -----------------------------------------------------------------------------

// A bird's head in profile on a sky gradient (the program's emblem).
int KestrelEmblem(double u, double v, int, int) {
    const double du = u - 0.45, dv = v - 0.45;
    if (du * du + dv * dv < 0.09) {
        if ((u - 0.55) * (u - 0.55) + (v - 0.35) * (v - 0.35) < 0.005) return 0;  // eye
        return 200 + int(v * 40);
    }
    if (u > 0.7 && u < 0.95 && std::fabs(v - 0.5) < (0.95 - u) * 0.5) return 250;  // beak
    return int(v * 120);
}

// Framed pictures on a wall.
int GalleryWall(double u, double v, int, int) {
    const int col = int(u * 3.0), row = int(v * 4.0);
    const double fu = u * 3.0 - col, fv = v * 4.0 - row;
    const bool frame = fu > 0.12 && fu < 0.88 && fv > 0.12 && fv < 0.88;
    const bool inner = fu > 0.18 && fu < 0.82 && fv > 0.18 && fv < 0.82;
    if (inner) return 64 + ((col * 4 + row) * 13 + int(fu * 40 + fv * 20)) % 192;
    if (frame) return 40;
    return 8 + int(v * 24);
}

// Arches on columns, 16 colours.
int Arches(double u, double v, int, int) {
    const double cell = u * 3.0;
    const double fu = cell - int(cell);
    const double cx = fu - 0.5, cy = v - 0.35;
    if (v < 0.12) return 7;                                  // lintel
    if (fu < 0.12 || fu > 0.88) return (int(v * 16) % 2) ? 8 : 7;  // columns
    if (cy < 0.0 && cx * cx + cy * cy > 0.38 * 0.38) return 7;  // arch spandrel
    if (v > 0.9) return 3;                                    // floor
    return 12 - int(v * 2.0);                                 // sky through the arch
}

// A steel plate with four rivets.
int Rivets(double u, double v, int, int) {
    const double cu = u < 0.5 ? 0.25 : 0.75, cv = v < 0.5 ? 0.25 : 0.75;
    const double du = u - cu, dv = v - cv;
    const double d2 = du * du + dv * dv;
    if (d2 < 0.008) return (du + dv < -0.05) ? 15 : 7;
    if (d2 < 0.016) return 0;
    return ((int(u * 8) + int(v * 8)) % 2) ? 8 : 7;
}

// Four window panes, each with a gradient, on a dark frame.
int FourPanes(double u, double v, int, int) {
    if (std::fabs(u - 0.5) < 0.02 || std::fabs(v - 0.5) < 0.02 || u < 0.03 || u > 0.97 || v < 0.03 || v > 0.97) return 0;
    const int pane = (u < 0.5 ? 0 : 1) + (v < 0.5 ? 0 : 2);
    const double t = u < 0.5 ? u * 2 : (u - 0.5) * 2;
    return 1 + pane * 63 + int(t * 62);
}
Rgb FourPanesPalette(int i) {
    if (i == 0) return {20, 20, 20};
    static const Rgb kBase[4] = {{230, 40, 30}, {40, 180, 40}, {40, 80, 230}, {250, 200, 30}};
    const int pane = std::min((i - 1) / 63, 3);
    return Mix(kBase[pane], {255, 255, 255}, ((i - 1) % 63) / 90.0);
}

// A chip: a grey package with gold pins and a grid of cells on the die.
int Chip(double u, double v, int, int) {
    const bool pin_x = (u < 0.12 || u > 0.88) && std::fmod(v * 20.0, 1.0) < 0.5 && v > 0.15 && v < 0.85;
    const bool pin_y = (v < 0.12 || v > 0.88) && std::fmod(u * 24.0, 1.0) < 0.5 && u > 0.15 && u < 0.85;
    if (pin_x || pin_y) return 250;
    if (u < 0.12 || u > 0.88 || v < 0.12 || v > 0.88) return 10;
    if (u > 0.3 && u < 0.7 && v > 0.3 && v < 0.7) {
        const int cell = int((u - 0.3) * 40) ^ int((v - 0.3) * 40);
        return 128 + (cell * 7) % 100;
    }
    return 60 + int((u + v) * 20);
}
Rgb ChipPalette(int i) {
    if (i >= 240) return Mix({180, 140, 30}, {255, 215, 80}, (i - 240) / 15.0);
    if (i >= 128) return Mix({20, 60, 120}, {120, 200, 255}, (i - 128) / 112.0);
    return {i, i, i + 20 > 255 ? 255 : i + 20};
}

// Concentric rings.
int Rings(double u, double v, int, int) {
    const double du = u - 0.5, dv = v - 0.5;
    return int(std::sqrt(du * du + dv * dv) * 700.0) % 256;
}

// The Mandelbrot set.
int MandelIndex(double u, double v, int, int) {
    const int m = Mandel(-2.0 + u * 3.0, 1.5 - v * 3.0, 200);
    return m > 200 ? 0 : 1 + (m * 9) % 255;
}

// Curtains opening on a stage.
int Curtains(double u, double v, int, int) {
    const double open = 0.18 + 0.12 * v;
    if (u < 0.5 - open || u > 0.5 + open) return 128 + int(64 + 60 * std::sin(u * 60.0));
    if (v > 0.85) return 40;
    return int((1.0 - v) * 100);
}
Rgb CurtainsPalette(int i) {
    if (i >= 128) return Mix({90, 0, 10}, {240, 40, 60}, (i - 128) / 127.0);
    return Mix({10, 10, 30}, {250, 230, 160}, i / 127.0);
}

// Plasma of sines.
int Plasma(double u, double v, int, int) {
    const double s = std::sin(u * 13.0) + std::sin(v * 11.0 + u * 3.0) + std::sin((u + v) * 9.0) + 3.0;
    return int(s / 6.0 * 255.0) & 0xFF;
}

std::vector<Resource> MakeAll() {
    std::vector<Resource> out;
    auto add = [&](const char* name, Dib d) { out.push_back({name, std::move(d)}); };
    const auto grey = Palette([](int i) { return Rgb{i, i, std::min(255, i + 30)}; });
    const auto rainbow = Palette(Rainbow);
    const auto cube = Palette(Cube);
    std::vector<RGBQUAD> sixteen;
    for (const Rgb& c : k16) sixteen.push_back({uint8_t(c.b), uint8_t(c.g), uint8_t(c.r), 0});
    const auto garden8 = [](double u, double v, int w, int h) { return CubeIndex(Garden(u, v, w, h)); };

    // The bitmap test.
    add("KESTREL", Indexed(33, 35, 8, Palette([](int i) {
                               if (i >= 250) return Rgb{250, 170, 20};
                               if (i >= 200) return Mix({150, 80, 40}, {220, 150, 90}, (i - 200) / 49.0);
                               return Mix({120, 170, 240}, {230, 240, 255}, i / 199.0);
                           }),
                           KestrelEmblem));
    add("GALLERY", Indexed(354, 446, 8, Palette([](int i) {
                               if (i < 40) return Mix({150, 120, 90}, {200, 180, 150}, i / 39.0);
                               if (i < 64) return Rgb{140, 100, 30};
                               return Rainbow(i);
                           }),
                           GalleryWall));
    add("ARCHES", Indexed(123, 160, 4, sixteen, Arches));
    add("RIVETS", Indexed(32, 32, 4, sixteen, Rivets));
    add("WINNT", Indexed(425, 337, 8, Palette(FourPanesPalette), FourPanes));

    // The special effects test: sources, masks and fade pictures.
    add("varden", TrueColour(512, 384, Garden));
    add("vardensmall", TrueColour(400, 300, Garden));
    add("varden2", Indexed(512, 384, 8, cube, garden8));
    add("varden2small", Indexed(400, 300, 8, cube, garden8));
    add("pentium", Indexed(512, 384, 8, Palette(ChipPalette), Chip));
    add("pentiumsmall", Indexed(400, 300, 8, Palette(ChipPalette), Chip));
    const auto oval = [](double u, double v) { return (u - 0.5) * (u - 0.5) / 0.2 + (v - 0.5) * (v - 0.5) / 0.16 < 1.0; };
    const auto stripes = [](double u, double v) { return std::fmod((u + v) * 12.0, 1.0) < 0.5; };
    const auto mandel = [](double u, double v) { return Mandel(-2.0 + u * 3.0, 1.5 - v * 3.0, 40) > 8; };
    add("vardenmask", Mask(512, 384, oval));
    add("vardenmasksmall", Mask(400, 300, oval));
    add("bmp256mask", Mask(512, 384, stripes));
    add("bmp256masksmall", Mask(400, 300, stripes));
    add("mandlemask", Mask(575, 574, mandel));
    add("mandlemasksmall", Mask(400, 399, mandel));
    add("kes", Indexed(256, 220, 8, rainbow, Rings));
    add("mandlebrot", Indexed(575, 574, 8, rainbow, MandelIndex));
    add("mandlebrotsmall", Indexed(400, 399, 8, rainbow, MandelIndex));
    add("opening", Indexed(470, 186, 8, Palette(CurtainsPalette), Curtains));
    add("openingsmall", Indexed(400, 158, 8, Palette(CurtainsPalette), Curtains));
    add("newkes", Indexed(512, 385, 8, grey, Plasma));
    add("newkessmall", Indexed(400, 301, 8, grey, Plasma));
    return out;
}

// Bytes as a string literal (octal escapes for all but plain letters and digits).
void WriteLiteral(std::ofstream& out, const std::vector<uint8_t>& bytes) {
    std::string line;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const uint8_t c = bytes[i];
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ' ' || c == '_') {
            line += char(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\%03o", c);
            line += esc;
        }
        if (line.size() >= 160 || i + 1 == bytes.size()) {
            out << "    \"" << line << "\"\n";
            line.clear();
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_bitmaps <out-dir>\n");
        return 2;
    }
    const std::string dir = argv[1];
    const std::vector<Resource> all = MakeAll();
    std::ofstream src(dir + "/bitmap_data.cpp", std::ios::binary);
    src << "// Generated by lumen/bitmaps/make_bitmaps.cpp: the BMP files of the bitmap resources.\n"
           "#include \"lumen/bitmaps/bitmaps.h\"\n\nnamespace lumen {\nnamespace {\n\n";
    for (size_t i = 0; i < all.size(); ++i) {
        const std::vector<uint8_t> file = all[i].dib.ToBmpFile();
        std::ofstream bmp(dir + "/" + all[i].name + ".bmp", std::ios::binary);
        bmp.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
        if (!bmp) return 1;
        src << "alignas(4) const char kBitmap" << i << "[] =\n";
        WriteLiteral(src, file);
        src << ";\n\n";
    }
    src << "}  // namespace\n\nconst BitmapResource kBitmapResources[] = {\n";
    for (size_t i = 0; i < all.size(); ++i) {
        src << "    {\"" << all[i].name << "\", reinterpret_cast<const unsigned char*>(kBitmap" << i
            << "), sizeof kBitmap" << i << " - 1},\n";
    }
    src << "};\nconst int kBitmapResourceCount = " << all.size() << ";\n\n}  // namespace lumen\n";
    return src ? 0 : 1;
}

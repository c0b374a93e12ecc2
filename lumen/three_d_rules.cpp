#include "lumen/three_d_rules.h"

#include <cmath>

namespace lumen {

long ObjectsPerSecond(long objects, double ms) {
    // A time that is not positive (or not a number) has no rate.
    if (!(ms > 0.0)) return 0;
    return long(double(objects) / (ms * 0.001));
}

long MeanRate(long triangles_per_sec, long quads_per_sec) { return (quads_per_sec + triangles_per_sec) / 2; }

std::vector<int> DoRotateAngles() {
    std::vector<int> angles;
    int angle = 0;
    int step = kAngleStep;
    for (;;) {
        angle += step;
        bool last = false;
        if (angle >= 180) step = -kAngleStep;
        if (angle <= 0) {
            step = kAngleStep;
            last = true;
        }
        angles.push_back(angle);
        if (last) break;
    }
    return angles;
}

bool DoRotate2Ends(int mode, int angle) {
    switch (mode) {
        case 1: return angle > 10;
        case 2: return angle > 24;
        case 3: return angle >= 180;
        default: return angle > 30;
    }
}

std::vector<int> DoRotate2Angles(int mode) {
    std::vector<int> angles;
    int angle = 0;
    do {
        angle += kAngleStep;
        angles.push_back(angle);
    } while (!DoRotate2Ends(mode, angle));
    return angles;
}

int PlaceGrid::Count() const {
    auto n = [](int a, int b) { return b < a ? 0 : (b - a) / 3 + 1; };
    return n(x0, x1) * n(y0, y1) * n(z0, z1);
}

PlaceGrid PlacesOf(int mode, int knumber) {
    switch (mode) {
        case 1: return {-9, 9, -6, 6, -knumber, knumber};
        case 2: return {-3, 3, -3, 3, -24, 24};
        default: return {-9, 9, -6, 6, -24, 24};
    }
}

float FieldScale(Generator& g) {
    const float first = float(g.Next() % 10) * 0.1f;
    if (first < 0.2f) return 0.2f;
    return float(g.Next() % 10) * 0.1f;
}

float DepthScale(Generator& g) {
    if (g.Next() % 180 < 10) return 10.0f;
    return float(g.Next() % 180);
}

float solve(float a, float b, float z, float x) { return b * std::cos(x / a) + b * std::cos(z / a); }

void CalculateVectorNormal(const float p0[3], const float p1[3], const float p2[3], float* nx, float* ny,
                           float* nz) {
    const float ax = p2[0] - p0[0], ay = p2[1] - p0[1], az = p2[2] - p0[2];
    const float bx = p1[0] - p0[0], by = p1[1] - p0[1], bz = p1[2] - p0[2];
    *nx = ay * bz - az * by;
    *ny = az * bx - ax * bz;
    *nz = ax * by - ay * bx;
}

int ColourBitsOf(int bits_per_pixel) {
    if (bits_per_pixel <= 8) return 8;
    if (bits_per_pixel <= 16) return 16;
    return 24;
}

QSurfaceFormat SurfaceFormatOf(const PixelFormat& f) {
    QSurfaceFormat s;
    s.setRenderableType(QSurfaceFormat::OpenGL);
    if (f.colour_bits >= 24) {
        s.setRedBufferSize(8);
        s.setGreenBufferSize(8);
        s.setBlueBufferSize(8);
    } else if (f.colour_bits >= 16) {
        s.setRedBufferSize(5);
        s.setGreenBufferSize(6);
        s.setBlueBufferSize(5);
    } else {
        s.setRedBufferSize(3);
        s.setGreenBufferSize(3);
        s.setBlueBufferSize(2);
    }
    s.setDepthBufferSize(f.depth_bits);
    s.setSwapBehavior(f.double_buffer ? QSurfaceFormat::DoubleBuffer : QSurfaceFormat::SingleBuffer);
    return s;
}

uint8_t ComponentFromIndex(int index, int bits, int shift) {
    static const uint8_t oneto8[2] = {0, 255};
    static const uint8_t twoto8[4] = {0, 85, 170, 255};
    static const uint8_t threeto8[8] = {0, 36, 73, 109, 146, 182, 219, 255};
    const int value = (index >> shift) & ((1 << bits) - 1);
    switch (bits) {
        case 1: return oneto8[value];
        case 2: return twoto8[value];
        case 3: return threeto8[value];
        default: return 0;
    }
}

std::vector<PaletteColour> CreateRGBPalette(int colour_bits, int red_bits, int red_shift, int green_bits,
                                            int green_shift, int blue_bits, int blue_shift) {
    static const int defaultOverride[13] = {0, 3, 24, 27, 64, 67, 88, 173, 181, 236, 247, 164, 91};
    static const PaletteColour defaultPalEntry[13] = {
        {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
        {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
        {255, 251, 240}, {160, 160, 164}, {128, 128, 128}};
    const int n = 1 << colour_bits;
    std::vector<PaletteColour> palette(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        palette[size_t(i)] = {ComponentFromIndex(i, red_bits, red_shift), ComponentFromIndex(i, green_bits, green_shift),
                              ComponentFromIndex(i, blue_bits, blue_shift)};
    }
    if (colour_bits == 8 && red_bits == 3 && red_shift == 0 && green_bits == 3 && green_shift == 3 &&
        blue_bits == 2 && blue_shift == 6) {
        for (int i = 1; i <= 12; ++i) palette[size_t(defaultOverride[i])] = defaultPalEntry[i];
    }
    return palette;
}

}  // namespace lumen

// The arithmetic of the 3-D render test that needs no GL: the rates, the frame sequences of the
// animated scenes, the pyramid fields' places, the wave surface's height and normals, the colour
// depth of a pixel format and its surface format, and the palette rules of an 8-bit display.
#pragma once

#include <QSurfaceFormat>

#include <array>
#include <cstdint>
#include <vector>

#include "lumen/generator.h"

namespace lumen {

// ---- rates ---------------------------------------------------------------------------------------

// Objects per second, truncated toward zero; 0 when the time is not positive (a clock that
// failed or did not advance).
long ObjectsPerSecond(long objects, double ms);
// The stored quadrangle figure: the mean of the two rates, truncated.
long MeanRate(long triangles_per_sec, long quads_per_sec);

// ---- frames --------------------------------------------------------------------------------------

// The angles of the rotating solids' frames: 2, 4, ..., 180, 178, ..., 0.
std::vector<int> DoRotateAngles();
// Whether the pyramid field of `mode` (1 .. 5) ends after the frame at `angle`.
bool DoRotate2Ends(int mode, int angle);
// The angles of the frames of a pyramid field.
std::vector<int> DoRotate2Angles(int mode);
inline constexpr int kAngleStep = 2;

// The places of one frame of a pyramid field: x, y and z ranges (inclusive, step 3).
struct PlaceGrid {
    int x0, x1, y0, y1, z0, z1;
    int Count() const;
};
PlaceGrid PlacesOf(int mode, int knumber);
// knumber of the first field: 9 at its start, + 36 after each frame.
inline constexpr int kFirstKnumber = 9;
inline constexpr int kKnumberStep = 36;

// One scale factor of the random-sized fields (modes 3 to 5): a first draw mod 10 times 0.1;
// below 0.2 it is 0.2, otherwise a second draw mod 10 times 0.1.
float FieldScale(Generator& g);
// The depth scale of mode 2: 10 when a first draw mod 180 is below 10, else a second draw mod 180.
float DepthScale(Generator& g);

// ---- the wave surface ----------------------------------------------------------------------------

// The height of the surface at (z, x): b cos(x / a) + b cos(z / a).
float solve(float a, float b, float z, float x);
// The normal of the plane through three points: (p2 - p0) x (p1 - p0).
void CalculateVectorNormal(const float p0[3], const float p1[3], const float p2[3], float* nx, float* ny,
                           float* nz);

// ---- pixel formats -------------------------------------------------------------------------------

// The colour bits a format asks for on a display of `bits_per_pixel`: 8 up to 8, 16 up to 16,
// else 24.
int ColourBitsOf(int bits_per_pixel);

struct PixelFormat {
    int colour_bits = 24;
    int depth_bits = 32;
    bool double_buffer = false;
};
// The surface format asked of Qt: red/green/blue 8/8/8 for 24 bits, 5/6/5 for 16, 3/3/2 for 8; the
// depth as asked; single or double buffering.
QSurfaceFormat SurfaceFormatOf(const PixelFormat& f);

// ---- palettes (8-bit displays) -------------------------------------------------------------------

// A component of palette entry `index`: (index >> shift) masked to `bits`, widened to 0..255
// through the 1-, 2- and 3-bit tables (other widths give 0).
uint8_t ComponentFromIndex(int index, int bits, int shift);

struct PaletteColour {
    uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const PaletteColour&) const = default;
};
// The wave scene's palette of 2^colour_bits entries for the given channel bits and shifts; a
// 3-3-2 format (red 3 at 0, green 3 at 3, blue 2 at 6) takes the twelve system colours at their
// fixed entries.
std::vector<PaletteColour> CreateRGBPalette(int colour_bits, int red_bits, int red_shift, int green_bits,
                                            int green_shift, int blue_bits, int blue_shift);

}  // namespace lumen

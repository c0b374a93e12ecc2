// Reference results of the video tests: one reference machine's times (ms) or rates per test
// index 0..9, by screen mode and colour depth, the work of each test over which a rate is shown,
// and the quadrangle rates of the 3-D test. These figures were measured on another platform.
#pragma once

// Full 1024 x 768 mode.
inline constexpr double bindex_24bit_nt40[10] = {1591, 57328, 29469, 4310, 18766, 6.04, 33547, 49578, 58188, 310172};
inline constexpr double bindex_16bit_nt40[10] = {1812, 55796, 29219, 4340, 16469, 7.41, 18968, 46203, 23125, 270000};
inline constexpr double bindex_8bit_nt40[10] = {1866, 55406, 28141, 4270, 15109, 7.87, 28375, 52157, 53656, 278343};
// 800 x 600 laptop mode (bindexlow2: 16 bits on a screen at least 1024 wide).
inline constexpr double bindexlow_24bit_nt40[10] = {1866, 47781, 17984, 4960, 16157, 7.44, 36125, 37016, 42438, 205313};
inline constexpr double bindexlow_16bit_nt40[10] = {2035, 47516, 17688, 5020, 14422, 11.6, 19203, 37578, 21938, 86657};
inline constexpr double bindexlow2_16bit_nt40[10] = {1984, 48187, 17547, 5020, 14359, 11.59, 19422, 37406, 22641, 183125};
inline constexpr double bindexlow_8bit_nt40[10] = {1960, 48031, 18750, 4810, 13156, 12.77, 29922, 38124, 39688, 187937};

// The work of each test (animations, screens, bitmaps, windows, fractals, renders, frames).
inline constexpr double pixels[10] = {1250, 26, 42.1, 420, 2000, 3.3, 200, 5200, 326, 287};
// Frames of the Animation test.
inline constexpr float framesnt = 400.0f;

// Quadrangles per second of the 3-D test, for 8, 16 and 24/32 bits.
inline constexpr int quads_per_sec_score_nt40[3] = {587, 1323, 624};
inline constexpr int quads_per_sec_lowres_score_nt40[3] = {909, 1367, 823};
inline constexpr int quads_per_sec_lowresinhighpixel_score_nt40[3] = {909, 1316, 823};

// The reference machine's total.
inline constexpr float kVideoTotalScore = 100.0f;

struct VideoReference {
    const double* table = nullptr;  // null: the depth is not scored
    int quads = 0;
};

// The reference of a run: laptop mode or full, the screen's width (narrow below 1024) and its
// colour depth. 8 and 16 bits have their own tables; 24 and 32 bits share one; any other depth
// (15 bits, 30-bit deep colour) has no reference and is not scored.
inline VideoReference ChooseVideoReference(bool laptop, int screen_width, int depth) {
    const bool narrow = screen_width < 1024;
    if (depth == 8) {
        return laptop ? VideoReference{bindexlow_8bit_nt40, quads_per_sec_lowres_score_nt40[0]}
                      : VideoReference{bindex_8bit_nt40, quads_per_sec_score_nt40[0]};
    }
    if (depth == 16) {
        if (!laptop) return {bindex_16bit_nt40, quads_per_sec_score_nt40[1]};
        return narrow ? VideoReference{bindexlow_16bit_nt40, quads_per_sec_lowres_score_nt40[1]}
                      : VideoReference{bindexlow2_16bit_nt40, quads_per_sec_lowresinhighpixel_score_nt40[1]};
    }
    if (depth == 24 || depth == 32) {
        return laptop ? VideoReference{bindexlow_24bit_nt40, quads_per_sec_lowres_score_nt40[2]}
                      : VideoReference{bindex_24bit_nt40, quads_per_sec_score_nt40[2]};
    }
    return {};
}

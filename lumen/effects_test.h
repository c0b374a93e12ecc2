// The special effects test: four windows in the quadrants of the main window and four threads:
// three repeat masked blits of a picture through every pair of a foreground and a background
// raster operation with solid and hatched brushes, the fourth fades seven 256-colour pictures to
// black and back through their colour tables (an indexed picture whose table each step changes,
// shown after each step). The test ends when the thread of window 2 has done its one pass of 312
// blits; the effects drawn (blits and fades) are counted in num_effects_rendered.
#pragma once

#include <QImage>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "lumen/lumen_state.h"
#include "shared/gdi/dc.h"
#include "shared/gdi/dib.h"

namespace lumen {

// The tables the blit loops walk.
extern const uint32_t sources[16];
extern const int WROPLIST[8];
extern const QRgb brushes[11];
extern const int hatches[6];
inline constexpr int kStyleHatched = 2;  // index of BS_HATCHED in the style table
inline constexpr int kStyleSolid = 6;    // index of BS_SOLID

// Per effect window (slot = window number).
extern Window* mask_windows[4];
extern QImage hbmSource[4];  // the picture in the display's form
extern QImage hbmMask[4];    // its 1-bit mask
extern uint32_t current[4];
extern uint32_t background_rop[4];
extern int brush_style[4], brush_color[4], brush_hatch[4];
extern std::optional<gdi::Brush> hb1[4];
// Fade pictures (slots 0..6 used) and their palettes.
extern std::optional<gdi::Dib> pDIBCurrent[9];
extern std::vector<gdi::PALETTEENTRY> hpalDIB[9];
extern std::atomic<int> terminated;
// Effects drawn in the current run, in all and per window.
extern std::atomic<long> effects_rendered;
extern std::atomic<long> effects_by_window[4];
// The count of each run of the last test (one run, or three with the repeat flag).
extern long effects_of_run[3];

// The resource names of a window's picture and mask, by the display's depth and laptop mode.
const char* SourceName(int window, int bits, int laptop);
const char* MaskName(int window, int laptop);
const char* FadeName(int slot, int laptop);

// The brush of the next blit: style kStyleSolid or kStyleHatched, colour and hatch indices.
gdi::Brush GetBrush(int style, int color, int hatch, int slot);
inline uint32_t GetROPCode(uint32_t code) { return code; }
// The pair of raster operations of window m's next blit.
uint32_t BlitRop4(int m);

// The blits one pass of a mask thread makes: the brush style and hatch per colour and k, in the
// thread's order. Mode 2's pass is 3 x 8 x 13 = 312 blits.
struct BrushChoice {
    int color, style, hatch;
};
BrushChoice ModeBrush(int mode, int c, int k);

// ---- palette fades -----------------------------------------------------------------------------

// The number of steps of a fade of n colours: i = 0, step, 2 step, ... while i < n - 95.
int FadeSteps(int n, int step);
// The step of this mode: 2 in the file exchange mode, else 16.
int FadeStep();
// Every channel minus step, not below 0.
void FadeOnce(std::vector<gdi::PALETTEENTRY>& colours, int step);
// Every channel plus step, not above the target.
void BrightenOnce(std::vector<gdi::PALETTEENTRY>& colours, const std::vector<gdi::PALETTEENTRY>& target, int step);

// What a fade draws with: the picture's indices under the colours given, at (x, y).
using FadeDraw = std::function<void(const std::vector<gdi::PALETTEENTRY>& colours)>;
// The fades: `draw` is called once per step; FadeIn ends with the target colours in `final_out`.
int FadeOut(const gdi::Dib& picture, const FadeDraw& draw);
int FadeIn(const gdi::Dib& picture, const FadeDraw& draw, std::vector<gdi::PALETTEENTRY>* final_out = nullptr);

// ---- the test ------------------------------------------------------------------------------------

void DoFadeStart(Window* window, int slot);
int DoFade(Window* window, int mode, int slot);
void LoadResSource(Window* window, int slot);
void LoadResMask(Window* window, int slot);
int DoMaskBlt(Window* window, int slot);
// Releases the pictures, masks, brushes and palettes (the windows stay).
void ReleaseEffectResources();
void PaintMasks(int m);
void DoFadeRoutine(int m);

double DoSpecEffect();

}  // namespace lumen

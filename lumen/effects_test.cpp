#include "lumen/effects_test.h"

#include <QSize>

#include <malloc.h>

#include <algorithm>
#include <string>

#include "lumen/bitmaps/bitmaps.h"
#include "lumen/frame.h"
#include "lumen/timing.h"
#include "lumen/windows.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "platform/workers.h"
#include "shared/gdi/present.h"

namespace lumen {

const uint32_t sources[16] = {gdi::BLACKNESS, gdi::NOTSRCERASE, gdi::NOTSRCCOPY, gdi::SRCERASE,
                              gdi::DSTINVERT, gdi::PATINVERT,   gdi::SRCINVERT,  gdi::SRCAND,
                              gdi::MERGEPAINT, gdi::MERGECOPY,  gdi::SRCCOPY,    gdi::SRCPAINT,
                              gdi::PATCOPY,   gdi::PATPAINT,    0x00AA0029u,     gdi::WHITENESS};
const int WROPLIST[8] = {1, 3, 4, 5, 7, 8, 9, 12};
// The colours as 0x00BBGGRR values name them.
const QRgb brushes[11] = {gdi::RGB(0, 0, 0),     gdi::RGB(0x52, 0x2E, 0x33), gdi::RGB(0, 0, 255),
                          gdi::RGB(0, 255, 0),   gdi::RGB(0, 255, 255),      gdi::RGB(0x7F, 0x7F, 0x7F),
                          gdi::RGB(255, 0, 255), gdi::RGB(255, 0, 0),        gdi::RGB(255, 0x7F, 0),
                          gdi::RGB(255, 255, 0), gdi::RGB(255, 255, 255)};
const int hatches[6] = {gdi::HS_BDIAGONAL, gdi::HS_CROSS, gdi::HS_DIAGCROSS, gdi::HS_FDIAGONAL, gdi::HS_HORIZONTAL,
                        gdi::HS_VERTICAL};

Window* mask_windows[4] = {};
QImage hbmSource[4];
QImage hbmMask[4];
uint32_t current[4] = {};
uint32_t background_rop[4] = {};
int brush_style[4] = {}, brush_color[4] = {}, brush_hatch[4] = {};
std::optional<gdi::Brush> hb1[4];
std::optional<gdi::Dib> pDIBCurrent[9];
std::vector<gdi::PALETTEENTRY> hpalDIB[9];
std::atomic<int> terminated{0};
std::atomic<long> effects_rendered{0};
std::atomic<long> effects_by_window[4] = {};
long effects_of_run[3] = {};

namespace {

std::string Caption(const char* kind) { return std::string(kProgramName) + " " + kVersion + " " + kind; }

// The fade pictures as indexed images sharing the pictures' indices (their tables change per step).
QImage g_fade_image[9];

struct WindowPlace {
    const char* caption;
    int col, row;
};
const WindowPlace kPlaces[4] = {
    {"Filter Mask", 0, 0}, {"Blur to Darkness, Lighten", 1, 0}, {"Halftone Unsharpen", 0, 1}, {"Blurred Mask", 1, 1}};

void CountEffect(int m) {
    effects_rendered.fetch_add(1, std::memory_order_relaxed);
    effects_by_window[m].fetch_add(1, std::memory_order_relaxed);
}

// The picture's indices shown under `colours`, centred in the window, and shown at once.
FadeDraw DrawerFor(Window* window, int slot, int x, int y) {
    return [window, slot, x, y](const std::vector<gdi::PALETTEENTRY>& colours) {
        QImage& image = g_fade_image[slot];
        QList<QRgb> table = image.colorTable();
        for (size_t i = 0; i < colours.size() && i < size_t(table.size()); ++i) {
            table[qsizetype(i)] = qRgb(colours[i].peRed, colours[i].peGreen, colours[i].peBlue);
        }
        image.setColorTable(table);
        OneCall(window, [&](gdi::GdiDc& dc) { dc.SetDIBitsToDevice(x, y, image); });
        window->Update();
    };
}

}  // namespace

const char* SourceName(int window, int bits, int laptop) {
    switch (window) {
        case 0:
            if (bits > 8) return laptop != 0 ? "vardensmall" : "varden";
            return laptop != 0 ? "varden2small" : "varden2";
        case 2: return "GALLERY";
        case 3: return laptop != 0 ? "pentiumsmall" : "pentium";
        default: return "";
    }
}

const char* MaskName(int window, int laptop) {
    switch (window) {
        case 0: return laptop != 0 ? "vardenmasksmall" : "vardenmask";
        case 2: return laptop != 0 ? "bmp256masksmall" : "bmp256mask";
        case 3: return laptop != 0 ? "mandlemasksmall" : "mandlemask";
        default: return "";
    }
}

const char* FadeName(int slot, int laptop) {
    static const char* const kBig[7] = {"kes", "GALLERY", "pentium", "WINNT", "mandlebrot", "opening", "newkes"};
    static const char* const kSmall[7] = {"kes", "GALLERY", "pentiumsmall", "WINNT", "mandlebrotsmall", "openingsmall",
                                          "newkessmall"};
    if (slot < 0 || slot > 6) return "";
    return laptop != 0 ? kSmall[slot] : kBig[slot];
}

gdi::Brush GetBrush(int style, int color, int hatch, int slot) {
    hb1[slot].reset();
    const gdi::Brush b = style == kStyleHatched ? gdi::CreateHatchBrush(hatches[hatch], brushes[color])
                                                : gdi::CreateSolidBrush(brushes[color]);
    hb1[slot] = b;
    return b;
}

uint32_t BlitRop4(int m) { return gdi::MAKEROP4(GetROPCode(current[m]), GetROPCode(background_rop[m])); }

BrushChoice ModeBrush(int mode, int c, int k) {
    switch (mode) {
        case 0:
            if (k % c < 2) return {c, kStyleHatched, k % 6};
            return {c, kStyleSolid, 0};
        case 2:
            if (c == 8) return {c, kStyleSolid, 0};
            return {c, kStyleHatched, 5};
        default:
            if (c < 8) return {c, kStyleHatched, 5};
            return {c, kStyleSolid, 0};
    }
}

// ---- palette fades -----------------------------------------------------------------------------

int FadeSteps(int n, int step) {
    int steps = 0;
    for (int i = 0; i < n - 95; i += step) ++steps;
    return steps;
}

int FadeStep() { return WIN95_SUPPORT_ON != 0 ? 2 : 16; }

void FadeOnce(std::vector<gdi::PALETTEENTRY>& colours, int step) {
    for (gdi::PALETTEENTRY& e : colours) {
        e.peRed = uint8_t(std::max(0, e.peRed - step));
        e.peGreen = uint8_t(std::max(0, e.peGreen - step));
        e.peBlue = uint8_t(std::max(0, e.peBlue - step));
    }
}

void BrightenOnce(std::vector<gdi::PALETTEENTRY>& colours, const std::vector<gdi::PALETTEENTRY>& target, int step) {
    for (size_t i = 0; i < colours.size() && i < target.size(); ++i) {
        gdi::PALETTEENTRY& e = colours[i];
        e.peRed = uint8_t(std::min<int>(target[i].peRed, e.peRed + step));
        e.peGreen = uint8_t(std::min<int>(target[i].peGreen, e.peGreen + step));
        e.peBlue = uint8_t(std::min<int>(target[i].peBlue, e.peBlue + step));
    }
}

int FadeOut(const gdi::Dib& picture, const FadeDraw& draw) {
    std::vector<gdi::PALETTEENTRY> working = gdi::CopyColorTable(picture, gdi::PC_RESERVED);
    const int n = int(gdi::GetNumColors(picture.header()));
    const int step = FadeStep();
    for (int i = 0; i < n - 95; i += step) {
        FadeOnce(working, step);
        draw(working);
    }
    return 1;
}

int FadeIn(const gdi::Dib& picture, const FadeDraw& draw, std::vector<gdi::PALETTEENTRY>* final_out) {
    const std::vector<gdi::PALETTEENTRY> ppeFinal = gdi::CopyColorTable(picture, gdi::PC_RESERVED);
    std::vector<gdi::PALETTEENTRY> working(ppeFinal.size(), gdi::PALETTEENTRY{0, 0, 0, gdi::PC_RESERVED});
    const int n = int(gdi::GetNumColors(picture.header()));
    const int step = FadeStep();
    for (int i = 0; i < n - 95; i += step) {
        BrightenOnce(working, ppeFinal, step);
        draw(working);
    }
    // The palette ends with the picture's own colours.
    if (final_out != nullptr) *final_out = ppeFinal;
    return 1;
}

// ---- the test ------------------------------------------------------------------------------------

void DoFadeStart(Window* window, int slot) {
    std::optional<gdi::Dib> dib = LoadDIBResource2(window, FadeName(slot, laptop_mode_on));
    if (!dib) {
        kp::MessageBox(kp::Owner::Main, "Couldn't Load the BMP", Caption("Exception"), kp::Icon::Exclamation);
        return;
    }
    pDIBCurrent[slot] = std::move(dib);
    hpalDIB[slot] = gdi::PaletteFromDIB(*pDIBCurrent[slot], 0);
    g_fade_image[slot] = gdi::DIBtoImage(*pDIBCurrent[slot]);
    window->InvalidateAndUpdate();
}

int DoFade(Window* window, int mode, int slot) {
    if (!pDIBCurrent[slot]) {
        kp::MessageBox(kp::Owner::Main, "NO bitmap info available", Caption("Exception"), kp::Icon::Exclamation);
        return 0;
    }
    const gdi::Dib& picture = *pDIBCurrent[slot];
    const std::vector<gdi::PALETTEENTRY> palette = gdi::PaletteFromDIB(picture, gdi::PC_RESERVED);
    if (palette.empty()) return 0;
    const QSize client = window->ClientSize();
    const int x = client.width() / 2 - picture.Width() / 2;
    const int y = client.height() / 2 - picture.Height() / 2;
    const FadeDraw draw = DrawerFor(window, slot, x, y);
    int result = 0;
    if (mode == 110) {
        std::vector<gdi::PALETTEENTRY> final_colours;
        result = FadeIn(picture, draw, &final_colours);
        // The final colours go into the palette; nothing more is drawn.
        QImage& image = g_fade_image[slot];
        QList<QRgb> table = image.colorTable();
        for (size_t i = 0; i < final_colours.size() && i < size_t(table.size()); ++i) {
            table[qsizetype(i)] = qRgb(final_colours[i].peRed, final_colours[i].peGreen, final_colours[i].peBlue);
        }
        image.setColorTable(table);
    } else {
        OneCall(window, [&](gdi::GdiDc& dc) { dc.PatBlt(0, 0, client.width(), client.height(), gdi::BLACKNESS); });
        draw(palette);
        result = FadeOut(picture, draw);
    }
    if (result == 0) {
        kp::MessageBox(kp::Owner::Main, "Cannot perform palette animation", "Error", kp::Icon::Stop);
    }
    return result;
}

void LoadResSource(Window* window, int slot) {
    const QImage picture = LoadBitmapResource(SourceName(slot, bits_per_pixel, laptop_mode_on));
    if (!picture.isNull()) hbmSource[slot] = picture;
    window->InvalidateAndUpdate();
}

void LoadResMask(Window* window, int slot) {
    const std::optional<gdi::Dib> mask = LoadDIBResource2(window, MaskName(slot, laptop_mode_on));
    if (mask) hbmMask[slot] = gdi::DIBtoMonoDDB(*mask);
    window->InvalidateAndUpdate();
}

int DoMaskBlt(Window* window, int m) {
    const int w = std::min(hbmSource[m].width(), hbmMask[m].width());
    const int h = std::min(hbmSource[m].height(), hbmMask[m].height());
    const uint32_t rop4 = BlitRop4(m);
    const gdi::Brush brush = GetBrush(brush_style[m], brush_color[m], brush_hatch[m], m);
    OneCall(window, [&](gdi::GdiDc& dc) { dc.SelectBrush(brush); });
    if (WIN95_SUPPORT_ON == 0) {
        OneCall(window, [&](gdi::GdiDc& dc) { dc.MaskBlt(0, 0, w, h, hbmSource[m], 0, 0, hbmMask[m], 0, 0, rop4); });
    } else {
        for (int i = 0; i < 12; ++i) {
            OneCall(window, [&](gdi::GdiDc& dc) { dc.BitBlt(0, 0, w, h, hbmSource[m], 0, 0, current[m]); });
            OneCall(window, [&](gdi::GdiDc& dc) { dc.BitBlt(0, 0, w, h, hbmMask[m], 0, 0, background_rop[m]); });
        }
        if (times.bits_per_pixel <= 8) kp::Sleep(100);
    }
    return 1;
}

void ReleaseEffectResources() {
    for (int i = 0; i < 4; ++i) {
        hbmSource[i] = QImage();
        hbmMask[i] = QImage();
        hb1[i].reset();
    }
    for (int i = 0; i < 9; ++i) {
        pDIBCurrent[i].reset();
        hpalDIB[i].clear();
        g_fade_image[i] = QImage();
    }
    malloc_trim(0);
}

void PaintMasks(int m) {
    auto blit = [m](int c, int k, int j, int mode) {
        const BrushChoice b = ModeBrush(mode, c, k);
        brush_color[m] = b.color;
        brush_style[m] = b.style;
        brush_hatch[m] = b.hatch;
        background_rop[m] = sources[WROPLIST[k]];
        current[m] = sources[j];
        DoMaskBlt(mask_windows[m], m);
        CountEffect(m);
    };
    switch (m) {
        case 0:
            while (terminated == 0) {
                for (int c = 4; c <= 9; ++c) {
                    for (int k = 0; k < 8; ++k) {
                        for (int j = 0; j < 13; ++j) {
                            if (terminated != 0) break;
                            blit(c, k, j, 0);
                        }
                    }
                }
            }
            break;
        case 2:
            for (int c : {9, 8, 7}) {
                for (int k = 0; k < 8; ++k) {
                    for (int j = 0; j < 13; ++j) blit(c, k, j, 2);
                }
            }
            terminated = 1;
            break;
        case 3:
            while (terminated == 0) {
                for (int c = 9; c >= 5; --c) {
                    for (int k = 0; k < 8; ++k) {
                        for (int j = 0; j < 13; ++j) {
                            if (terminated != 0) break;
                            blit(c, k, j, 3);
                        }
                    }
                }
            }
            break;
        default: break;
    }
}

void DoFadeRoutine(int m) {
    Window* window = mask_windows[m];
    while (terminated == 0) {
        for (int s = 0; s < 7; ++s) {
            if (terminated != 0) break;
            DoFade(window, 120, s);
            CountEffect(m);
            if (terminated != 0) break;
            DoFade(window, 110, s);
            CountEffect(m);
        }
    }
}

double DoSpecEffect() {
    terminated = 0;
    const QSize client = hwndParent->ClientSize();
    const int W = client.width();
    const int H = client.height();
    long* counts = effects_of_run;
    for (int r = 0; r < 3; ++r) counts[r] = 0;
    const TimedRuns t = RunTimed(count, [&](int run) {
        effects_rendered = 0;
        for (auto& e : effects_by_window) e = 0;
        for (int i = 0; i < 4; ++i) {
            if (mask_windows[i] != nullptr) continue;
            const int x = kPlaces[i].col * (W / 2);
            const int y = kPlaces[i].row * (H / 2);
            mask_windows[i] = CreateWindowOf(WindowClass::SpecEffect3, kPlaces[i].caption, Rect{x, y, x + W / 2, y + H / 2},
                                             hwndParent);
            if (mask_windows[i] == nullptr) {
                kp::MessageBox(kp::Owner::Main, "Error Creating Windows", Caption("Exception"), kp::Icon::Stop);
                return -1.0;
            }
            mask_windows[i]->Show();
        }
        for (int s = 0; s < 7; ++s) DoFadeStart(mask_windows[1], s);
        kp::WorkerTeam team(4);
        int p = 1;
        for (int i = 0; i < 4; ++i) {
            if (i != 1) {
                LoadResSource(mask_windows[i], i);
                LoadResMask(mask_windows[i], i);
            }
            auto work = i == 1 ? std::function<void()>([i] { DoFadeRoutine(i); }) : std::function<void()>([i] { PaintMasks(i); });
            if (!team.Create(i, std::move(work), tpriority)) {
                // The threads made so far end unrun (the team joins them); the windows stay.
                kp::MessageBox(kp::Owner::Main, "Thread Allocation Error!", Caption("Exception"), kp::Icon::Stop);
                return -1.0;
            }
            SetThreadToProcessor(team.worker(i), p);
            p = NextProcessor(p);
        }
        Stopwatch watch(Caption("Timer Exception"));
        if (!watch.Start()) return -1.0;
        team.ReleaseAll();
        team.Join();
        gdi::PresentAll();
        const double ms = watch.Stop();
        const bool last = count == 0 || run == 2;
        if (last) {
            AtTestEnd();
            ReleaseEffectResources();
            for (auto& w : mask_windows) DestroyWindow(w);
        } else {
            ReleaseEffectResources();
        }
        terminated = 0;
        counts[run] = effects_rendered.load();
        return ms;
    });
    if (t.ms >= 0.0) num_effects_rendered = counts[t.run];
    terminated = 0;
    hwndParent->InvalidateAndUpdate();
    if (times.bits_per_pixel == 8) {
        malloc_trim(0);
        kp::Sleep(500);
    }
    return t.ms;
}

}  // namespace lumen

// The font scrolling test and the bitmap test. The font test writes the text lines into a text
// window (class "GL1") with a font made and dropped for every line; each line repaints the list
// at once, scrolling the window's picture up a line at a time once the list passes its bottom.
// Its timed body runs on the user-interface thread. The bitmap test copies five pictures into
// the main window in growing sheared parallelograms.
#pragma once

#include <QFont>
#include <QImage>

#include <optional>
#include <string>

#include "lumen/font_bitmap_rules.h"
#include "lumen/lumen_state.h"

namespace lumen {

// The font the text window paints with (none between lines).
extern std::optional<QFont> hFont;
// The text window's horizontal scroll state.
extern int nHPos, nHMax, nHInc;

// The text window's painting of the list: every stored line at ((1 - nHPos) nXChar,
// (k - nVPos - 1) nYChar), clipped to the band (with what scrolling uncovered since the last
// painting), in one random text colour on white; a line below the client bottom first scrolls the
// picture up by a line. User-interface thread.
void gl1_Paint(Window* window, const Rect& band);

// The bitmap `name` as the bitmap test draws it (RGB32); a null image when it cannot be loaded.
QImage LoadTestBitmap(const std::string& name);

// The tests: the time in milliseconds, -1.0 on a clock failure; the font test gives 0.0 when its
// text window cannot be made.
double FontScrollDraw();
double BMPDraw();

}  // namespace lumen

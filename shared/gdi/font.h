// Fonts from logical-font records and back: the report font, the viewer and the video tests
// share these.
#pragma once

#include <QFont>
#include <QStringList>

#include "shared/logfont.h"

// The report's fixed-pitch family: DejaVu Sans Mono, which scripts/deps installs, so that the
// report looks and measures the same on every machine.
inline constexpr const char* kFixedPitchFamily = "DejaVu Sans Mono";
// The fixed-pitch font for the installed families: that family where it is installed, else the
// system's fixed font.
QFont DefaultFixedFont(const QStringList& installed);
// ... for the families installed here.
QFont DefaultFixedFont();

// The installed family for a face name of the old system fonts ("Helv", "Tms Rmn", "Courier New",
// "Arial", "MS Sans Serif", ...) when that face itself is not installed: DejaVu Sans, DejaVu Serif
// or DejaVu Sans Mono (which scripts/deps installs) where the one of its kind is installed. Any
// other face, an installed one, or one whose substitute is missing is given back as it is.
QString SubstituteFace(const QString& face, const QStringList& installed);

// The font a record names. An empty face of the modern family is the default fixed-pitch font;
// a record without a height is the fallback font. The face goes through SubstituteFace; a width
// (the average character width in pixels) stretches the font from its own average width at that
// height to the one asked for.
QFont FontFromLogFont(const LogFont& lf, const QFont& fallback);
// ... with the families given as the installed ones.
QFont FontFromLogFont(const LogFont& lf, const QFont& fallback, const QStringList& installed);
// The font with its characters narrowed or widened so that their average width is `width` pixels
// (the width field of a font record; 0 keeps the font's own width).
QFont WithAverageCharWidth(QFont font, int width);
// The record of a font (height as the negative character height in pixels).
LogFont LogFontFromFont(const QFont& font);

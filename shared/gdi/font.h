// Fonts from logical-font records and back: the report font, the viewer and the video tests
// share these.
#pragma once

#include <QFont>
#include <QStringList>
#include <vector>

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

// A style of a face as the font dialog lists it ("Book", "Oblique", "Bold Italic", ...).
struct FaceStyle {
    QString name;
    int weight = 400;
    bool sloped = false;  // italic or oblique
};
// The style that shows a font of `weight` and slant `sloped`: among the face's styles of that
// slant (any, when it has none) the nearest weight; of equals the one in use (the style the
// font resolves to), else the first listed. Empty for an empty list.
QString StyleFor(int weight, bool sloped, const std::vector<FaceStyle>& styles, const QString& inUse);
// The font as the font dialog is to open on it: the family in use, with the style name its face
// lists for the font's weight and slant (the dialog otherwise takes the face's first style).
QFont ForFontDialog(QFont font);

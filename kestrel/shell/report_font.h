// The report font: the stored logical-font record turned into a QFont and back.
#pragma once

#include <QFont>

#include "kestrel/engine/settings.h"

// The font a record names. An empty face of the modern family is the system's fixed-pitch font;
// a record without a height is the fallback font.
QFont FontFromLogFont(const LogFont& lf, const QFont& fallback);
// The record of a font (height as the negative character height in pixels).
LogFont LogFontFromFont(const QFont& font);

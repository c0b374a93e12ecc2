// The font dialog over a stored font record, for kestrel's report font and the viewer's font.
#pragma once

#include <QFont>
#include <optional>

#include "shared/logfont.h"

class QWidget;

// Opens the font dialog on `shown` (the font the record `stored` gives on the screen) with its
// family, size, weight and slant selected. The record of the font chosen, the stored record
// itself when OK is pressed with nothing changed, nothing on Cancel.
std::optional<LogFont> ChooseFontRecord(const LogFont& stored, const QFont& shown, QWidget* parent);

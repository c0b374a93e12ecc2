#include "shared/gdi/font_dialog.h"

#include <QFontDialog>

#include "shared/gdi/font.h"

std::optional<LogFont> ChooseFontRecord(const LogFont& stored, const QFont& shown, QWidget* parent) {
    QFontDialog dialog(ForFontDialog(shown), parent);
    // What the dialog makes of the font: its sizes are whole points.
    const QFont opening = dialog.currentFont();
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QFont chosen = dialog.selectedFont();
    if (chosen == opening) return stored;
    return LogFontFromFont(chosen);
}

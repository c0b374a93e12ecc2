// Text drawn raised on a pane of the button face colour: black two pixels down and right, the shade
// one pixel down and right, white on top; all black on a white face.
#pragma once

#include <QColor>
#include <QString>

class QPainter;

void DrawRaisedText(QPainter& p, int x, int y, const QString& text, const QColor& face, const QColor& shade);

// The program's own pictures, drawn at start-up: the button bar's bitmaps, the splash and About
// pictures and the program icon.
#pragma once

#include <QIcon>
#include <QPixmap>

// The bitmap of bar button k (0 to 9).
QPixmap ButtonPicture(int k);
// The splash picture (kind 0), or the About picture for the screen width (kind 1): larger on
// wider screens.
QPixmap OpeningPicture(int kind, int screen_width);
QIcon ProgramIcon();
// The picture beside the text of every tab of the settings frames ("KESTAB"), 32 by 32.
QPixmap TabPicture();
